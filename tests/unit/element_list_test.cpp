// Tests of the image's core: the choice of reader by extension, the element
// operations, the names, and the growth of the element list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/image.h"
#include "image_util.h"
#include "load_util.h"

namespace {

using testutil::ByteRun;
using testutil::ElementsOf;
using testutil::MakeImage;
using testutil::TempDir;

// ---------------------------------------------------------------------------
// Which reader a path selects: a one-byte record in either format, written
// under the path; the image holds that byte only when the right reader ran.

struct PathCase {
    const char* path;
    bool srec_loads;  // the S-record content loads under this path
    bool hex_loads;   // the Intel HEX content loads under this path
};

class ReaderByExtension : public testing::TestWithParam<PathCase> {};

TEST_P(ReaderByExtension, SelectsTheReaderOfTheExtension) {
    const PathCase& c = GetParam();
    TempDir dir;
    testutil::fs::create_directories(dir.path() / "dir.1");
    const std::string path = dir / c.path;
    const std::vector<ByteRun> one_byte{{0x10, {0x11}}};

    testutil::WriteFile(path, "S104001011DA\n");
    testing::internal::CaptureStderr();  // the other reader rejects the text
    CImage srec(0, path.c_str(), false, nullptr);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(srec.IsLoaded(), c.srec_loads);
    if (c.srec_loads) {
        EXPECT_EQ(ElementsOf(srec), one_byte);
    }

    testutil::WriteFile(path, ":01001000AB44\n");
    testing::internal::CaptureStderr();
    CImage hex(0, path.c_str(), false, nullptr);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(hex.IsLoaded(), c.hex_loads);
}

INSTANTIATE_TEST_SUITE_P(Paths, ReaderByExtension,
                         testing::Values(PathCase{"fw.srec", true, false}, PathCase{"fw.Srec", true, false},
                                         PathCase{"fw.SREC", true, false}, PathCase{"fw.hex", false, true},
                                         PathCase{"fw.Hex", false, true}, PathCase{"a.b.hex", false, true},
                                         PathCase{"dir.1/fw.HEX", false, true}, PathCase{"fw.s19", false, false},
                                         PathCase{"fw.ihex", false, false}, PathCase{"fw", false, false},
                                         PathCase{"fw.hex.bak", false, false}, PathCase{"dir.1/fw", false, false}));

TEST(ReaderByExtension, BackslashAndDriveEndTheDirectory) {
    EXPECT_EQ(ReaderExtension("C:\\build.1\\fw.hex"), ".HEX");
    EXPECT_EQ(ReaderExtension("dir.1\\fw"), "");
    EXPECT_EQ(ReaderExtension("C:fw.srec"), ".SREC");
    EXPECT_EQ(ReaderExtension("dir.v2/fw"), "");
    EXPECT_EQ(ReaderExtension(".hex"), ".HEX");
}

// ---------------------------------------------------------------------------
// Element operations

const ByteRun kA{0x100, {1, 2}};
const ByteRun kB{0x200, {3, 4, 5}};

ImageElement Record(const ByteRun& run) {
    return ImageElement{run.address, static_cast<uint32_t>(run.bytes.size()), const_cast<uint8_t*>(run.bytes.data())};
}

TEST(PutElement, InsertsAtTheCountAndAtTheFront) {
    TempDir dir;
    auto image = MakeImage(dir, {kA, kB});
    const ByteRun fresh{0x50, {9}};
    EXPECT_TRUE(image->PutElement(0, true, Record(fresh)));
    EXPECT_EQ(ElementsOf(*image), (std::vector<ByteRun>{fresh, kA, kB}));
    EXPECT_FALSE(image->PutElement(4, true, Record(fresh)));  // count + 1
    EXPECT_EQ(image->GetNbElements(), 3);
}

TEST(PutElement, ReplacesAnExistingElement) {
    TempDir dir;
    auto image = MakeImage(dir, {kA, kB});
    const ByteRun bigger{0x300, {7, 7, 7, 7, 7}};
    EXPECT_TRUE(image->PutElement(0, false, Record(bigger)));
    EXPECT_EQ(ElementsOf(*image), (std::vector<ByteRun>{bigger, kB}));
    // Replacing needs an element to replace.
    EXPECT_FALSE(image->PutElement(2, false, Record(bigger)));
    EXPECT_EQ(image->GetNbElements(), 2);
}

TEST(PutElement, CopiesTheCallersBytes) {
    TempDir dir;
    auto image = MakeImage(dir, {});
    std::vector<uint8_t> bytes{1, 2, 3};
    ASSERT_TRUE(image->PutElement(0, true, ImageElement{0, 3, bytes.data()}));
    bytes[0] = 0xEE;
    EXPECT_EQ(ElementsOf(*image), (std::vector<ByteRun>{{0, {1, 2, 3}}}));
}

TEST(PutElement, RefusedByAnImageThatIsNotLoaded) {
    CImage image(0, "not-an-image.bin", false, nullptr);
    EXPECT_FALSE(image.PutElement(0, true, Record(kA)));
    EXPECT_EQ(image.GetNbElements(), 0);
}

TEST(GetElement, AddressAndSizeOnlyWithoutABuffer) {
    TempDir dir;
    auto image = MakeImage(dir, {kA, kB});
    ImageElement element{0, 0, nullptr};
    ASSERT_TRUE(image->GetElement(1, &element));
    EXPECT_EQ(element.address, 0x200u);
    EXPECT_EQ(element.size, 3u);
    EXPECT_EQ(element.data, nullptr);

    std::vector<uint8_t> buffer(3, 0);
    element.data = buffer.data();
    ASSERT_TRUE(image->GetElement(1, &element));
    EXPECT_EQ(buffer, (std::vector<uint8_t>{3, 4, 5}));

    EXPECT_FALSE(image->GetElement(2, &element));  // index == count
    EXPECT_FALSE(image->GetElement(-1, &element));
    EXPECT_FALSE(image->GetElement(0, nullptr));
}

TEST(ElementList, HoldsManyMoreThanThirtyTwoElements) {
    TempDir dir;
    std::string text;
    // 100 one-byte records with gaps between them: 100 elements.
    for (int i = 0; i < 100; ++i) {
        const int address = i * 2;
        const int sum = 1 + (address >> 8) + (address & 0xFF) + 0x5A;
        char line[32];
        std::snprintf(line, sizeof line, ":01%04X005A%02X\n", address, (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    }
    const testutil::Loaded loaded = testutil::LoadText(text, "many.hex");
    EXPECT_TRUE(loaded.loaded);
    ASSERT_EQ(loaded.elements.size(), 100u);
    EXPECT_EQ(loaded.elements[99], (ByteRun{198, {0x5A}}));
}

// ---------------------------------------------------------------------------
// Names

TEST(Name, UnnamedImageLeavesTheBufferAlone) {
    CImage image(7, "x.bin", false, "ignored");
    char buffer[8] = "keep";
    EXPECT_FALSE(image.GetName(buffer));
    EXPECT_STREQ(buffer, "keep");
    EXPECT_EQ(image.GetAlternate(), 7);
}

TEST(Name, SetNameThenGetName) {
    CImage image(0, "x.bin", false, nullptr);
    image.SetName("ST...");
    char buffer[CImage::kMaxNameLength + 1] = {};
    EXPECT_TRUE(image.GetName(buffer));
    EXPECT_STREQ(buffer, "ST...");
}

TEST(Name, LongNamesAreCutTo255Characters) {
    const std::string long_name(300, 'n');
    CImage image(0, "x.bin", true, long_name.c_str());
    std::vector<char> buffer(512, 'x');
    ASSERT_TRUE(image.GetName(buffer.data()));
    EXPECT_EQ(std::strlen(buffer.data()), 255u);

    image.SetName(std::string(256, 'm').c_str());
    ASSERT_TRUE(image.GetName(buffer.data()));
    EXPECT_EQ(std::string(buffer.data()), std::string(255, 'm'));
}

}  // namespace

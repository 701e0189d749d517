// Tests of the image's queries and edits over its elements, of saving by the
// output path's extension, and of the two free helpers of the image module.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/image.h"
#include "image_util.h"
#include "line_end.h"
#include "test_util.h"

namespace {

using testutil::ByteRun;

// An image that is not loaded: its extension names no known format.
std::unique_ptr<CImage> MakeUnloadedImage(const testutil::TempDir& dir) {
    const std::string path = dir / "image.bin";
    auto image = std::make_unique<CImage>(0, path.c_str(), false, nullptr);
    EXPECT_FALSE(image->IsLoaded());
    return image;
}

// An image whose reader stopped at an error after one good record: not
// loaded, but holding the element read before the error.
std::unique_ptr<CImage> MakePartlyReadImage(const testutil::TempDir& dir) {
    const std::string path = dir / "broken.hex";
    testutil::WriteFile(path, ":0400000001020304F2\nx\n");
    auto image = std::make_unique<CImage>(0, path.c_str(), false, nullptr);
    EXPECT_FALSE(image->IsLoaded());
    EXPECT_EQ(image->GetNbElements(), 1);
    return image;
}

// ---------------------------------------------------------------------------
// RemoveElement

TEST(RemoveElement, MiddleOfThreeLeavesTheOthersInOrder) {
    testutil::TempDir dir;
    const ByteRun first{0x300, {0x01}}, middle{0x100, {0x02, 0x03}}, last{0x200, {0x04}};
    auto image = testutil::MakeImage(dir, {first, middle, last});
    ASSERT_TRUE(image->RemoveElement(1));
    EXPECT_EQ(testutil::ElementsOf(*image), (std::vector<ByteRun>{first, last}));
}

TEST(RemoveElement, OnlyElementLeavesAnEmptyImageThatTakesNewElements) {
    testutil::TempDir dir;
    auto image = testutil::MakeImage(dir, {{0x100, {0x01}}});
    ASSERT_TRUE(image->RemoveElement(0));
    EXPECT_EQ(image->GetNbElements(), 0);
    uint8_t byte = 0x42;
    EXPECT_TRUE(image->PutElement(0, true, ImageElement{0x10, 1, &byte}));
    EXPECT_EQ(testutil::ElementsOf(*image), (std::vector<ByteRun>{{0x10, {0x42}}}));
}

TEST(RemoveElement, RefusesAnIndexOutOfRange) {
    testutil::TempDir dir;
    const std::vector<ByteRun> elements{{0x100, {0x01}}, {0x200, {0x02}}};
    auto image = testutil::MakeImage(dir, elements);
    EXPECT_FALSE(image->RemoveElement(2));
    EXPECT_FALSE(image->RemoveElement(-1));
    EXPECT_EQ(testutil::ElementsOf(*image), elements);
}

TEST(RemoveElement, RefusesWhenTheImageIsNotLoaded) {
    testutil::TempDir dir;
    auto image = MakePartlyReadImage(dir);
    EXPECT_FALSE(image->RemoveElement(0));
    EXPECT_EQ(image->GetNbElements(), 1);
}

// ---------------------------------------------------------------------------
// HasElementAt and GetTotalSize

TEST(HasElementAt, FindsAnElementByItsExactStartOnly) {
    testutil::TempDir dir;
    auto image = testutil::MakeImage(dir, {{0x1000, {1, 2, 3, 4}}, {0x80000000, {5}}});
    EXPECT_TRUE(image->HasElementAt(0x1000));
    EXPECT_TRUE(image->HasElementAt(0x80000000));
    EXPECT_FALSE(image->HasElementAt(0x1001));
    EXPECT_FALSE(image->HasElementAt(0x0FFF));
    EXPECT_FALSE(image->HasElementAt(0));
}

TEST(HasElementAt, FindsNothingInAnEmptyImage) {
    testutil::TempDir dir;
    auto image = testutil::MakeEmptyImage(dir);
    EXPECT_FALSE(image->HasElementAt(0));
}

TEST(GetTotalSize, AddsTheSizesOfAllElements) {
    testutil::TempDir dir;
    EXPECT_EQ(testutil::MakeEmptyImage(dir)->GetTotalSize(), 0u);
    auto image = testutil::MakeImage(
        dir, {{0x1000, std::vector<uint8_t>(300)}, {0x10, {}}, {0xFFFFFFF0, std::vector<uint8_t>(16)}});
    EXPECT_EQ(image->GetTotalSize(), 316u);
}

TEST(NotLoadedImage, StillReportsTheElementsItHolds) {
    testutil::TempDir dir;
    auto image = MakePartlyReadImage(dir);
    EXPECT_TRUE(image->HasElementAt(0));
    EXPECT_EQ(image->GetTotalSize(), 4u);
}

TEST(NotLoadedImage, WritersCalledDirectlyWriteNoElement) {
    testutil::TempDir dir;
    auto image = MakePartlyReadImage(dir);
    ASSERT_TRUE(image->SaveSRec((dir / "out.srec").c_str()));
    EXPECT_EQ(testutil::ReadFile(dir / "out.srec"), testutil::WithLineEnds("S9030000FC\n"));
    ASSERT_TRUE(image->SaveHex((dir / "out.hex").c_str()));
    EXPECT_EQ(testutil::ReadFile(dir / "out.hex"), "");
}

// ---------------------------------------------------------------------------
// ReadRange

// In list order: the first two overlap at 0x1002..0x1003, the third runs
// across 0x80000000, the fourth ends at the top of the address space.
const std::vector<ByteRun> kRangeImage{{0x1000, {0x10, 0x11, 0x12, 0x13}},
                                       {0x1002, {0xA0, 0xA1, 0xA2, 0xA3}},
                                       {0x7FFFFFFE, {0xC0, 0xC1, 0xC2, 0xC3}},
                                       {0xFFFFFFFC, {0xD0, 0xD1, 0xD2, 0xD3}}};

struct RangeCase {
    const char* name;
    uint32_t start;
    std::vector<uint8_t> expected;  // its size is the length read
    bool found;
};

void PrintTo(const RangeCase& c, std::ostream* out) { *out << c.name; }

class ReadRangeOf : public ::testing::TestWithParam<RangeCase> {};

TEST_P(ReadRangeOf, GivesTheImageBytesWithFFInTheGaps) {
    testutil::TempDir dir;
    auto image = testutil::MakeImage(dir, kRangeImage);
    const RangeCase& c = GetParam();
    // A guard byte behind the range shows a write past its end.
    std::vector<uint8_t> buffer(c.expected.size() + 1, 0x5A);
    EXPECT_EQ(image->ReadRange(c.start, static_cast<uint32_t>(c.expected.size()), buffer.data()), c.found);
    EXPECT_EQ(buffer.back(), 0x5A);
    buffer.pop_back();
    EXPECT_EQ(buffer, c.expected);
}

const RangeCase kRangeCases[] = {
    {"NoElementLeavesTheBufferAlone", 0x2000, {0x5A, 0x5A, 0x5A, 0x5A}, false},
    {"RangeEndingWhereAnElementStarts", 0x0FFC, {0x5A, 0x5A, 0x5A, 0x5A}, false},
    {"RangeStartingWhereAnElementEnds", 0x1006, {0x5A, 0x5A}, false},
    {"EmptyRange", 0x1000, {}, false},
    {"ElementCoversTheStartOfTheRange", 0x1005, {0xA3, 0xFF, 0xFF}, true},
    {"ElementCoversTheEndOfTheRange", 0x0FFE, {0xFF, 0xFF, 0x10, 0x11}, true},
    {"ElementCoversTheWholeRange", 0x1001, {0x11}, true},
    {"EarlierElementPrevailsWhereTwoOverlap", 0x0FFF, {0xFF, 0x10, 0x11, 0x12, 0x13, 0xA2, 0xA3, 0xFF}, true},
    {"ElementAcross80000000", 0x7FFFFFFF, {0xC1, 0xC2}, true},
    {"RangeAcross80000000", 0x7FFFFFFC, {0xFF, 0xFF, 0xC0, 0xC1, 0xC2, 0xC3, 0xFF, 0xFF}, true},
    {"RangeWhollyAbove80000000", 0x80000001, {0xC3}, true},
    {"RangeEndingAtTheTop", 0xFFFFFFFA, {0xFF, 0xFF, 0xD0, 0xD1, 0xD2, 0xD3}, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, ReadRangeOf, ::testing::ValuesIn(kRangeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadRange, EmptyElementSuppliesNoByte) {
    testutil::TempDir dir;
    auto image = testutil::MakeImage(dir, {{0x1001, {}}});
    std::vector<uint8_t> buffer(4, 0x5A);
    image->ReadRange(0x1000, 4, buffer.data());
    for (uint8_t byte : buffer) EXPECT_TRUE(byte == 0xFF || byte == 0x5A);
}

TEST(ReadRange, RefusesWhenTheImageIsNotLoaded) {
    testutil::TempDir dir;
    auto image = MakePartlyReadImage(dir);
    std::vector<uint8_t> buffer(4, 0x5A);
    EXPECT_FALSE(image->ReadRange(0, 4, buffer.data()));
    EXPECT_EQ(buffer, std::vector<uint8_t>(4, 0x5A));
}

// ---------------------------------------------------------------------------
// SaveToFile

const std::vector<ByteRun> kSaveImage{{0x08000000, {0x01, 0x02, 0x03, 0x04}}};
const char kSaveImageSRec[] = "S3090800000001020304E4\nS70500000000FA\n";
const char kSaveImageHex[] = ":020000040800F2\n:0400000001020304F2\n";

struct SaveCase {
    const char* file_name;
    const char* expected;  // null: refused, no file
};

void PrintTo(const SaveCase& c, std::ostream* out) { *out << c.file_name; }

class SaveToFileNamed : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SaveToFileNamed, ChoosesTheFormatByTheExtension) {
    testutil::TempDir dir;
    std::filesystem::create_directory(dir.path() / "build.hex");
    auto image = testutil::MakeImage(dir, kSaveImage);
    const std::string path = dir / GetParam().file_name;
    const bool expect_written = GetParam().expected != nullptr;
    EXPECT_EQ(image->SaveToFile(path.c_str()), expect_written);
    if (expect_written) {
        EXPECT_EQ(testutil::ReadFile(path), testutil::WithLineEnds(GetParam().expected));
    } else {
        EXPECT_FALSE(testutil::FileExists(path));
    }
}

const SaveCase kSaveCases[] = {
    {"out.srec", kSaveImageSRec},
    {"OUT.SREC", kSaveImageSRec},
    {"out.Hex", kSaveImageHex},
    {"out.hex", kSaveImageHex},
    {"fw.hex.srec", kSaveImageSRec},
    {"out.bin", nullptr},
    {"out", nullptr},
    {"out.s", nullptr},
    {"build.hex/out", nullptr},
    {"missing/out.hex", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Cases, SaveToFileNamed, ::testing::ValuesIn(kSaveCases));

TEST(SaveToFile, RefusesAnImageThatIsNotLoaded) {
    testutil::TempDir dir;
    auto unloaded = MakeUnloadedImage(dir);
    auto partly_read = MakePartlyReadImage(dir);
    for (const CImage* image : {unloaded.get(), partly_read.get()}) {
        EXPECT_FALSE(image->SaveToFile((dir / "out.srec").c_str()));
        EXPECT_FALSE(image->SaveToFile((dir / "out.hex").c_str()));
    }
    EXPECT_FALSE(testutil::FileExists(dir / "out.srec"));
    EXPECT_FALSE(testutil::FileExists(dir / "out.hex"));
}

// ---------------------------------------------------------------------------
// SplitFileName

struct SplitCase {
    std::string source;
    std::string name;
    std::string extension;
    bool has_dot;
};

void PrintTo(const SplitCase& c, std::ostream* out) { *out << '"' << c.source << '"'; }

class SplitFileNameOf : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitFileNameOf, SplitsAtTheFirstDot) {
    const SplitCase& c = GetParam();
    // Buffers of exactly the size the function may need, guard byte behind.
    std::vector<char> name(c.source.size() + 2, '#');
    std::vector<char> extension(c.source.size() + 2, '#');
    EXPECT_EQ(SplitFileName(c.source.c_str(), name.data(), extension.data()), c.has_dot);
    EXPECT_EQ(std::string(name.data()), c.name);
    EXPECT_EQ(std::string(extension.data()), c.extension);
    EXPECT_EQ(name.back(), '#');
    EXPECT_EQ(extension.back(), '#');
}

const SplitCase kSplitCases[] = {
    {"fw.hex", "fw", "HEX", true},
    {"a.b.c", "a", "BC", true},
    {"noext", "noext", "", false},
    {"", "", "", false},
    {".hidden", "", "HIDDEN", true},
    {"x.", "x", "", true},
    {"dir/Fw.HeX1z", "dir/Fw", "HEX1Z", true},
    {"ab.c-d_e", "ab", "C-D_E", true},
    {std::string(300, 'n') + ".srec", std::string(300, 'n'), "SREC", true},
    {std::string(250, 'n') + "." + std::string(20, 'e'), std::string(250, 'n'), std::string(20, 'E'), true},
    {std::string(400, 'q'), std::string(400, 'q'), "", false},
};

INSTANTIATE_TEST_SUITE_P(Cases, SplitFileNameOf, ::testing::ValuesIn(kSplitCases));

// ---------------------------------------------------------------------------
// CompareElementAddress

struct CompareCase {
    uint32_t first;
    uint32_t second;
    int expected;
};

void PrintTo(const CompareCase& c, std::ostream* out) { *out << std::hex << "0x" << c.first << " vs 0x" << c.second; }

class CompareElementAddressOf : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CompareElementAddressOf, OrdersByUnsignedStartAddress) {
    ImageElement a{GetParam().first, 0, nullptr};
    ImageElement b{GetParam().second, 0, nullptr};
    const ImageElement* pa = &a;
    const ImageElement* pb = &b;
    EXPECT_EQ(CompareElementAddress(&pa, &pb), GetParam().expected);
}

const CompareCase kCompareCases[] = {
    {0x10, 0x10, 0},
    {1, 2, -1},
    {2, 1, 1},
    {0, 0x80000000, -1},
    {0x80000000, 0, 1},
    {0x7FFFFFFF, 0x80000000, -1},
    {0, 0xFFFFFFFF, -1},
    {0xFFFFFFFF, 0, 1},
    {0x10, 0x90000010, -1},
    {0xFFFFFFFF, 0xFFFFFFFF, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, CompareElementAddressOf, ::testing::ValuesIn(kCompareCases));

TEST(CompareElementAddress, SortsElementsFarApart) {
    ImageElement elements[] = {{0xF0000000, 0, nullptr},
                               {0x10, 0, nullptr},
                               {0x80000000, 0, nullptr},
                               {0, 0, nullptr},
                               {0x7FFFFFFF, 0, nullptr}};
    ImageElement* order[5];
    for (int i = 0; i < 5; ++i) order[i] = &elements[i];
    std::qsort(order, 5, sizeof order[0], CompareElementAddress);
    const uint32_t expected[] = {0, 0x10, 0x7FFFFFFF, 0x80000000, 0xF0000000};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(order[i]->address, expected[i]) << "position " << i;
}

}  // namespace

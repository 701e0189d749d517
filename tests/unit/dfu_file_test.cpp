// Tests of the DfuSe file builder: the byte layout of prefix, targets, element
// records and suffix, the suffix CRC, and how the output file is written,
// refused or removed.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dfuse/dfu_file.h"
#include "image/image.h"
#include "test_util.h"

#if !defined(_WIN32)
#include <sys/resource.h>

#include <csignal>

#include "process_util.h"
#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

uint32_t Le32(const Bytes& bytes, std::size_t offset) {
    return uint32_t{bytes.at(offset)} | (uint32_t{bytes.at(offset + 1)} << 8) | (uint32_t{bytes.at(offset + 2)} << 16) |
           (uint32_t{bytes.at(offset + 3)} << 24);
}

Bytes Slice(const Bytes& bytes, std::size_t offset, std::size_t size) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

// The suffix CRC is the common CRC-32 with its final inversion undone.
uint32_t ExpectedCrc(const Bytes& file) { return testutil::Crc32Bitwise(file.data(), file.size() - 4) ^ 0xFFFFFFFFu; }

const Bytes kSuffixStart = {0x00, 0x00, 0x00, 0x00, 0x83, 0x04, 0x1A, 0x01, 0x55, 0x46, 0x44, 0x10};

// The end of a well-formed file: the suffix for vendor 0x0483 with a CRC
// that covers everything before it.
void ExpectSuffix(const Bytes& file) {
    ASSERT_GE(file.size(), 16u);
    EXPECT_EQ(Slice(file, file.size() - 16, 12), kSuffixStart);
    EXPECT_EQ(Le32(file, file.size() - 4), ExpectedCrc(file));
}

class DfuFileTest : public ::testing::Test {
protected:
    // A loaded image without elements: an empty Intel HEX file.
    void MakeImage(const char* name = nullptr, uint8_t alternate = 0) {
        const std::string path = dir_ / "empty.hex";
        testutil::WriteFile(path, "");
        image_ = std::make_unique<CImage>(alternate, path.c_str(), name != nullptr, name);
        ASSERT_TRUE(image_->IsLoaded()) << "an empty Intel HEX file should load";
    }
    void Put(uint32_t address, Bytes data) {
        ASSERT_TRUE(image_->PutElement(image_->GetNbElements(), true,
                                       ImageElement{address, static_cast<uint32_t>(data.size()), data.data()}));
    }
    std::string Out() const { return dir_ / "out.dfu"; }

    testutil::TempDir dir_;
    std::unique_ptr<CImage> image_;
};

TEST(DfuCrcTest, CheckValueOfTheNineDigits) {
    const char* digits = "123456789";
    EXPECT_EQ(DfuCrc(reinterpret_cast<const uint8_t*>(digits), 9), 0x340BC6D9u);
    EXPECT_EQ(DfuCrc(nullptr, 0), 0xFFFFFFFFu);
}

TEST(DfuCrcTest, AgreesWithBitwiseCrcForEveryLengthAndAlignment) {
    Bytes data(300);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
    for (std::size_t start = 0; start < 8; ++start) {
        for (std::size_t size = 0; size + start <= data.size(); size += 7) {
            EXPECT_EQ(DfuCrc(data.data() + start, size),
                      testutil::Crc32Bitwise(data.data() + start, size) ^ 0xFFFFFFFFu)
                << "start " << start << " size " << size;
        }
    }
}

TEST_F(DfuFileTest, BuilderWithoutTargetsWrites27Bytes) {
    // CRC worked out with a second, independent implementation.
    const Bytes expected = {0x44, 0x66, 0x75, 0x53, 0x65, 0x01, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x83, 0x04, 0x1A, 0x01, 0x55, 0x46, 0x44, 0x10, 0x18, 0xBC, 0xFE, 0xDF};
    {
        CDFUFile file(Out().c_str(), 0x0483, 0, 0);
        EXPECT_EQ(file.GetStatus(), STATUS_SUCCESS);
        EXPECT_TRUE(testutil::FileExists(Out())) << "the output is created at once";
        EXPECT_EQ(file.GetBuffer(), expected);
    }
    EXPECT_EQ(testutil::ReadBytes(Out()), expected) << "the destructor writes the file";
}

TEST_F(DfuFileTest, SuffixCarriesDeviceProductAndVendorLowByteFirst) {
    CDFUFile file(Out().c_str(), 0xA1B2, 0xC3D4, 0xE5F6);
    const Bytes& bytes = file.GetBuffer();
    EXPECT_EQ(Slice(bytes, 11, 12), (Bytes{0xF6, 0xE5, 0xD4, 0xC3, 0xB2, 0xA1, 0x1A, 0x01, 0x55, 0x46, 0x44, 0x10}));
    EXPECT_EQ(Le32(bytes, 23), ExpectedCrc(bytes));
}

TEST_F(DfuFileTest, ImageWithoutElementsGives301Bytes) {
    ASSERT_NO_FATAL_FAILURE(MakeImage(nullptr, 7));
    CDFUFile file(Out().c_str(), 0x0483, 0, 0);
    ASSERT_EQ(file.AddTarget(*image_), STATUS_SUCCESS);
    const Bytes& bytes = file.GetBuffer();
    ASSERT_EQ(bytes.size(), 301u);
    EXPECT_EQ(Slice(bytes, 0, 6), (Bytes{'D', 'f', 'u', 'S', 'e', 1}));
    EXPECT_EQ(Le32(bytes, 6), 285u);
    EXPECT_EQ(bytes[10], 1);
    EXPECT_EQ(Slice(bytes, 11, 7), (Bytes{'T', 'a', 'r', 'g', 'e', 't', 7}));
    EXPECT_EQ(Le32(bytes, 18), 0u) << "named flag";
    EXPECT_EQ(Slice(bytes, 22, 255), Bytes(255, 0)) << "name field";
    EXPECT_EQ(Le32(bytes, 277), 0u) << "target size";
    EXPECT_EQ(Le32(bytes, 281), 0u) << "element count";
    ExpectSuffix(bytes);
}

TEST_F(DfuFileTest, OneElementOfFourBytesGives313Bytes) {
    ASSERT_NO_FATAL_FAILURE(MakeImage("ST..."));
    ASSERT_NO_FATAL_FAILURE(Put(0x08000000, {0xDE, 0xAD, 0xBE, 0xEF}));
    CDFUFile file(Out().c_str(), 0x0483, 0, 0);
    ASSERT_EQ(file.AddTarget(*image_), STATUS_SUCCESS);
    const Bytes& bytes = file.GetBuffer();
    ASSERT_EQ(bytes.size(), 313u);
    EXPECT_EQ(Le32(bytes, 6), 297u);
    EXPECT_EQ(Le32(bytes, 18), 1u) << "named flag";
    Bytes name(255, 0);
    std::memcpy(name.data(), "ST...", 5);
    EXPECT_EQ(Slice(bytes, 22, 255), name);
    EXPECT_EQ(Le32(bytes, 277), 12u) << "target size";
    EXPECT_EQ(Le32(bytes, 281), 1u) << "element count";
    EXPECT_EQ(Slice(bytes, 285, 12), (Bytes{0x00, 0x00, 0x00, 0x08, 0x04, 0x00, 0x00, 0x00, 0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(Slice(bytes, 297, 12), kSuffixStart);
    ExpectSuffix(bytes);
}

TEST_F(DfuFileTest, NameOf255CharactersFillsTheFieldWithoutTerminator) {
    const std::string name(255, 'N');
    ASSERT_NO_FATAL_FAILURE(MakeImage(name.c_str()));
    ASSERT_NO_FATAL_FAILURE(Put(0x100, {0x55}));
    CDFUFile file(Out().c_str(), 0x0483, 0, 0);
    ASSERT_EQ(file.AddTarget(*image_), STATUS_SUCCESS);
    const Bytes& bytes = file.GetBuffer();
    EXPECT_EQ(Slice(bytes, 22, 255), Bytes(255, 'N'));
    EXPECT_EQ(Le32(bytes, 277), 9u) << "target size";
    EXPECT_EQ(Le32(bytes, 281), 1u) << "element count";
}

TEST_F(DfuFileTest, ElementOfSizeZeroIsAnEightByteRecord) {
    ASSERT_NO_FATAL_FAILURE(MakeImage());
    ASSERT_NO_FATAL_FAILURE(Put(0x20000000, {}));
    ASSERT_NO_FATAL_FAILURE(Put(0x30000000, {0x01, 0x02}));
    CDFUFile file(Out().c_str(), 0x0483, 0, 0);
    ASSERT_EQ(file.AddTarget(*image_), STATUS_SUCCESS);
    const Bytes& bytes = file.GetBuffer();
    ASSERT_EQ(bytes.size(), 285u + 8 + 10 + 16);
    EXPECT_EQ(Le32(bytes, 277), 18u);
    EXPECT_EQ(Le32(bytes, 281), 2u);
    EXPECT_EQ(Slice(bytes, 285, 18), (Bytes{0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30,
                                            0x02, 0x00, 0x00, 0x00, 0x01, 0x02}));
    ExpectSuffix(bytes);
}

TEST_F(DfuFileTest, TwoTargetsFollowEachOtherWithOneSuffix) {
    ASSERT_NO_FATAL_FAILURE(MakeImage("first"));
    ASSERT_NO_FATAL_FAILURE(Put(0x1000, {0xAA, 0xBB, 0xCC, 0xDD}));
    const std::string path = dir_ / "second.hex";
    testutil::WriteFile(path, "");
    CImage second(1, path.c_str(), false, nullptr);
    CDFUFile file(Out().c_str(), 0x0483, 0, 0);
    ASSERT_EQ(file.AddTarget(*image_), STATUS_SUCCESS);
    ASSERT_EQ(file.AddTarget(second), STATUS_SUCCESS);
    const Bytes& bytes = file.GetBuffer();
    ASSERT_EQ(bytes.size(), 11u + 274 + 12 + 274 + 16);
    EXPECT_EQ(bytes[10], 2);
    EXPECT_EQ(Le32(bytes, 6), 11u + 274 + 12 + 274);
    EXPECT_EQ(Slice(bytes, 297, 7), (Bytes{'T', 'a', 'r', 'g', 'e', 't', 1}));
    EXPECT_EQ(Le32(bytes, 297 + 266), 0u);
    ExpectSuffix(bytes);
}

TEST_F(DfuFileTest, ImageThatDidNotLoadGivesNoElementRecords) {
    // A reader keeps the elements placed before the line it fails on.
    const std::string path = dir_ / "broken.hex";
    testutil::WriteFile(path, ":0400000001020304F2\nnot a record\n");
    CImage broken(0, path.c_str(), false, nullptr);
    ASSERT_FALSE(broken.IsLoaded());
    ASSERT_EQ(broken.GetNbElements(), 1) << "the good record before the bad line stays";
    CDFUFile file(Out().c_str(), 0x0483, 0, 0);
    ASSERT_EQ(file.AddTarget(broken), STATUS_SUCCESS);
    const Bytes& bytes = file.GetBuffer();
    ASSERT_EQ(bytes.size(), 301u);
    EXPECT_EQ(Le32(bytes, 277), 0u) << "target size";
    EXPECT_EQ(Le32(bytes, 281), 0u) << "element count";
    ExpectSuffix(bytes);
}

TEST_F(DfuFileTest, Target256IsRefusedAndLeavesTheFileAlone) {
    CImage image(0, "not-loaded.bin", false, nullptr);
    CDFUFile file(Out().c_str(), 0x0483, 0, 0);
    for (int i = 0; i < 255; ++i) ASSERT_EQ(file.AddTarget(image), STATUS_SUCCESS) << i;
    const Bytes before = file.GetBuffer();
    EXPECT_EQ(before[10], 255);
    EXPECT_EQ(file.AddTarget(image), STATUS_TARGET_REFUSED);
    EXPECT_EQ(file.GetStatus(), STATUS_SUCCESS);
    EXPECT_EQ(file.GetBuffer(), before);
    EXPECT_EQ(file.Close(), STATUS_SUCCESS);
    EXPECT_EQ(testutil::ReadBytes(Out()), before);
}

TEST_F(DfuFileTest, UnopenablePathAnswersOpenErrorAndCreatesNothing) {
    const std::string path = dir_ / "missing/out.dfu";
    CImage image(0, "not-loaded.bin", false, nullptr);
    {
        CDFUFile file(path.c_str(), 0x0483, 0, 0);
        EXPECT_EQ(file.GetStatus(), 0x1234600du);
        EXPECT_EQ(file.AddTarget(image), 0x1234600du);
        EXPECT_TRUE(file.GetBuffer().empty());
        EXPECT_EQ(file.Close(), STATUS_FILE_OPEN_ERROR);
    }
    EXPECT_FALSE(testutil::FileExists(dir_ / "missing"));
}

TEST_F(DfuFileTest, ConstructionEmptiesAnExistingOutputAtOnce) {
    testutil::WriteFile(Out(), std::string(4096, 'x'));
    CDFUFile file(Out().c_str(), 0x0483, 0, 0);
    ASSERT_EQ(file.GetStatus(), STATUS_SUCCESS);
    // The old bytes are gone before any target is added; at most room for
    // the prefix has been written.
    EXPECT_LE(testutil::ReadBytes(Out()).size(), 11u);
    EXPECT_EQ(file.Close(), STATUS_SUCCESS);
    EXPECT_EQ(testutil::ReadBytes(Out()).size(), 27u);
}

TEST_F(DfuFileTest, CloseWritesOnceAndRefusesLaterTargets) {
    CImage image(0, "not-loaded.bin", false, nullptr);
    CDFUFile file(Out().c_str(), 0x0483, 0, 0);
    EXPECT_EQ(file.Close(), STATUS_SUCCESS);
    EXPECT_EQ(testutil::ReadBytes(Out()).size(), 27u);
    EXPECT_EQ(file.AddTarget(image), STATUS_TARGET_REFUSED);
    EXPECT_EQ(file.Close(), STATUS_SUCCESS);
    EXPECT_EQ(testutil::ReadBytes(Out()).size(), 27u);
}

TEST_F(DfuFileTest, DiscardRemovesTheOutputAndWritesNothing) {
    {
        CDFUFile file(Out().c_str(), 0x0483, 0, 0);
        ASSERT_TRUE(testutil::FileExists(Out()));
        file.Discard();
        EXPECT_FALSE(testutil::FileExists(Out()));
    }
    EXPECT_FALSE(testutil::FileExists(Out())) << "the destructor must not write after Discard";
}

#if !defined(_WIN32)

TEST_F(DfuFileTest, WriteFailureOnADeviceLeavesTheDeviceAlone) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string link = dir_ / "full.dfu";
    fs::create_symlink("/dev/full", link);
    for (const std::string& path : {std::string("/dev/full"), link}) {
        CDFUFile file(path.c_str(), 0x0483, 0, 0);
        ASSERT_EQ(file.GetStatus(), STATUS_SUCCESS) << path;
        EXPECT_EQ(file.Close(), STATUS_FILE_WRITE_ERROR) << path;
        EXPECT_EQ(file.Close(), STATUS_FILE_WRITE_ERROR) << "a second call repeats the result";
        EXPECT_TRUE(fs::is_character_file("/dev/full"));
    }
    EXPECT_TRUE(fs::is_symlink(link));
}

// Caps the size of files this process may write, so that a write fails half
// way as on a full disk; restores the limit and the signal on the way out.
class FileSizeCap {
public:
    explicit FileSizeCap(rlim_t bytes) {
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        if (getrlimit(RLIMIT_FSIZE, &old_) != 0) return;
        rlimit capped = old_;
        capped.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &capped) == 0;
    }
    ~FileSizeCap() {
        if (ok_) setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_handler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    void (*old_handler_)(int) = nullptr;
    bool ok_ = false;
};

TEST_F(DfuFileTest, FailedWriteRemovesAPlainFileAndEmptiesALinkedOne) {
    const std::string target = dir_ / "real.dfu";
    const std::string link = dir_ / "link.dfu";
    fs::create_symlink(target, link);
    uint32_t plain_result = 0;
    uint32_t linked_result = 0;
    {
        CDFUFile plain(Out().c_str(), 0x0483, 0, 0);
        CDFUFile linked(link.c_str(), 0x0483, 0, 0);
        FileSizeCap cap(10);
        if (!cap.ok()) GTEST_SKIP() << "cannot cap the file size";
        plain_result = plain.Close();
        linked_result = linked.Close();
    }
    EXPECT_EQ(plain_result, STATUS_FILE_WRITE_ERROR);
    EXPECT_FALSE(testutil::FileExists(Out()));
    EXPECT_EQ(linked_result, STATUS_FILE_WRITE_ERROR);
    EXPECT_TRUE(fs::is_symlink(link)) << "the link is not ours to remove";
    ASSERT_TRUE(fs::is_regular_file(target));
    EXPECT_EQ(fs::file_size(target), 0u);
}

TEST_F(DfuFileTest, WrittenFileIsAcceptedByDfuSuffix) {
    if (!testutil::HaveTool("dfu-suffix")) GTEST_SKIP() << "dfu-suffix not installed";
    ASSERT_NO_FATAL_FAILURE(MakeImage("ST..."));
    ASSERT_NO_FATAL_FAILURE(Put(0x08000000, Bytes(1000, 0x5A)));
    {
        CDFUFile file(Out().c_str(), 0x0483, 0, 0);
        ASSERT_EQ(file.AddTarget(*image_), STATUS_SUCCESS);
        ASSERT_EQ(file.Close(), STATUS_SUCCESS);
    }
    const testutil::RunResult result = testutil::Run("dfu-suffix -c " + testutil::ShellQuote(Out()));
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("0483"), std::string::npos) << result.out;
}

TEST_F(DfuFileTest, WrittenFileParsesAsDfuSe) {
    if (!testutil::HaveTool("fwupdtool")) GTEST_SKIP() << "fwupdtool not installed";
    ASSERT_NO_FATAL_FAILURE(MakeImage("ST..."));
    ASSERT_NO_FATAL_FAILURE(Put(0x08000000, {0x01, 0x02, 0x03, 0x04}));
    ASSERT_NO_FATAL_FAILURE(Put(0x08001000, {0x05, 0x06}));
    {
        CDFUFile file(Out().c_str(), 0x0483, 0, 0);
        ASSERT_EQ(file.AddTarget(*image_), STATUS_SUCCESS);
        ASSERT_EQ(file.Close(), STATUS_SUCCESS);
    }
    const testutil::RunResult result =
        testutil::Run("fwupdtool firmware-parse " + testutil::ShellQuote(Out()) + " dfuse");
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    for (const char* text : {"<id>ST...</id>", "<addr>0x8000000</addr>", "<data size=\"0x4\"", "<addr>0x8001000</addr>",
                             "<data size=\"0x2\""}) {
        EXPECT_NE(result.out.find(text), std::string::npos) << text << "\n" << result.out;
    }
}

#endif  // !_WIN32

}  // namespace

// End-to-end tests of the converter: each test runs the built program in a
// fresh directory and checks the files it leaves behind, its messages, its exit
// status and the bytes of the DfuSe file, which come from a layout written out
// here by hand or from independent tools that read these formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "dfu_layout.h"
#include "fwpack_run.h"
#include "process_util.h"
#include "target_platform.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using testutil::FileExists;
using testutil::HaveTool;
using testutil::ReadBytes;
using testutil::ReadFile;
using testutil::RunResult;
using testutil::ShellQuote;
using testutil::TempDir;
using testutil::WriteFile;

using fwpack_e2e::Fwpack;
using fwpack_e2e::kTarget;
using fwpack_e2e::Line;
using fwpack_e2e::Tree;

using Bytes = std::vector<uint8_t>;

std::string Normal(const std::string& path) { return fs::path(path).lexically_normal().generic_string(); }

// ---------------------------------------------------------------------------
// Inputs and the DfuSe files they must give

using Element = testutil::LayoutElement;

// Three records that continue one another under an extended linear address.
const char kHexOneElement[] =
    ":020000040800F2\n"
    ":040000000011223396\n"
    ":040004004455667782\n"
    ":020008008899D5\n"
    ":00000001FF\n";
const std::vector<Element> kHexOneElementImage = {
    {0x08000000, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99}}};

// A record below the first starts a new element, and so does one that would
// continue the first element but not the last: nothing is sorted.
const char kHexThreeElements[] =
    ":020000040800F2\n"
    ":04100000DEADBEEFB4\n"
    ":020000000102FB\n"
    ":021004000102E7\n"
    ":00000001FF\n";
const std::vector<Element> kHexThreeElementsImage = {
    {0x08001000, {0xDE, 0xAD, 0xBE, 0xEF}}, {0x08000000, {0x01, 0x02}}, {0x08001004, {0x01, 0x02}}};

const char kHexNoData[] = ":00000001FF\n";

// One S1 record of four bytes between a header and a termination record.
const char kSrecFourBytes[] =
    "S005000066771D\n"
    "S1071000CAFEF00D23\n"
    "S9031000EC\n";
const std::vector<Element> kSrecFourBytesImage = {{0x1000, {0xCA, 0xFE, 0xF0, 0x0D}}};

// Two S3 records merged into one element, an S2 record elsewhere, a record
// count and a termination record.
const char kSrecTwoElements[] =
    "S005000066771D\n"
    "S30808000000A1A2A309\n"
    "S30A08000003B1B2B3B4B56B\n"
    "S206020000C1C274\n"
    "S5030003F9\n"
    "S70508000000F2\n";
const std::vector<Element> kSrecTwoElementsImage = {{0x08000000, {0xA1, 0xA2, 0xA3, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5}},
                                                    {0x00020000, {0xC1, 0xC2}}};

uint32_t GetLe32(const Bytes& in, std::size_t at) {
    return uint32_t{in[at]} | (uint32_t{in[at + 1]} << 8) | (uint32_t{in[at + 2]} << 16) | (uint32_t{in[at + 3]} << 24);
}

const Bytes kSuffixStart = {0x00, 0x00, 0x00, 0x00, 0x83, 0x04, 0x1A, 0x01, 0x55, 0x46, 0x44, 0x10};

// The whole file the converter must write for an image with these elements:
// one target, alternate 0, named "ST...", vendor 0x0483, product and device 0.
Bytes ExpectedDfuFile(const std::vector<Element>& elements) {
    return testutil::DfuLayout({{0, "ST...", elements}}, 0x0483, 0, 0);
}

// Reads a DfuSe file as a loader would and checks every field that the
// converter sets; on success `elements` holds the one target's elements.
::testing::AssertionResult ParseDfuFile(const Bytes& file, std::vector<Element>& elements) {
    using ::testing::AssertionFailure;
    elements.clear();
    const std::size_t size = file.size();
    if (size < 11 + 274 + 16) return AssertionFailure() << "only " << size << " bytes";
    if (std::string(file.begin(), file.begin() + 5) != "DfuSe" || file[5] != 1)
        return AssertionFailure() << "no DfuSe prefix of version 1";
    if (GetLe32(file, 6) != size - 16) return AssertionFailure() << "image size " << GetLe32(file, 6);
    if (file[10] != 1) return AssertionFailure() << "target count " << int{file[10]};
    if (std::string(file.begin() + 11, file.begin() + 17) != "Target" || file[17] != 0)
        return AssertionFailure() << "no target prefix with alternate 0";
    if (GetLe32(file, 18) != 1) return AssertionFailure() << "target not named";
    const Bytes name(file.begin() + 22, file.begin() + 22 + 255);
    Bytes expected_name(255, 0);
    for (std::size_t i = 0; i < 5; ++i) expected_name[i] = static_cast<uint8_t>("ST..."[i]);
    if (name != expected_name) return AssertionFailure() << "name field is not ST... and zeros";
    const uint32_t target_size = GetLe32(file, 277);
    const uint32_t count = GetLe32(file, 281);
    const std::size_t end = size - 16;
    if (285 + uint64_t{target_size} != end)
        return AssertionFailure() << "target size " << target_size << " for " << end - 285 << " bytes";
    std::size_t at = 285;
    for (uint32_t i = 0; i < count; ++i) {
        if (end - at < 8) return AssertionFailure() << "element " << i << " header cut off";
        const uint32_t address = GetLe32(file, at);
        const uint32_t length = GetLe32(file, at + 4);
        at += 8;
        if (end - at < length) return AssertionFailure() << "element " << i << " data cut off";
        elements.push_back({address, Bytes(file.begin() + at, file.begin() + at + length)});
        at += length;
    }
    if (at != end) return AssertionFailure() << end - at << " bytes after the last element";
    if (!std::equal(kSuffixStart.begin(), kSuffixStart.end(), file.begin() + end))
        return AssertionFailure() << "suffix fields differ";
    const uint32_t crc = testutil::Crc32Bitwise(file.data(), size - 4) ^ 0xFFFFFFFFu;
    if (GetLe32(file, size - 4) != crc) return AssertionFailure() << "suffix CRC differs";
    return ::testing::AssertionSuccess();
}

// An independent reader of DFU suffixes checks every file the converter
// writes, where it is installed.
void ExpectSuffixAcceptedByDfuSuffix(const std::string& path) {
    if (!HaveTool("dfu-suffix")) return;
    const RunResult check = testutil::Run("dfu-suffix -c " + ShellQuote(path));
    EXPECT_EQ(check.status, 0) << path << "\n" << check.out << check.err;
}

// ---------------------------------------------------------------------------
// Output names

struct NameCase {
    std::string label;
    std::vector<std::string> dirs;  // made before the run
    std::string input;
    std::optional<std::string> output_arg;
    std::string expected_output;
    bool needs_ordinary_backslash = false;
    bool needs_backslash_separator = false;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

std::vector<NameCase> NameCases() {
    // Deeper than one component, since a single name may not exceed 255 bytes.
    const std::string d1(99, 'd'), d2(99, 'e');
    const std::string long_output = d1 + "/" + d2 + "/" + std::string(100, 'f');
    const std::string i1(150, 'g'), i2(150, 'h');
    return {
        {"input_alone", {}, "fw.hex", std::nullopt, "fw.dfu"},
        {"input_alone_with_dot_slash", {}, "./fw.hex", std::nullopt, "./fw.dfu"},
        {"input_alone_in_dotted_directory", {"dir.v2"}, "dir.v2/fw.hex", std::nullopt, "dir.v2/fw.dfu"},
        {"input_alone_of_308_characters",
         {i1, i1 + "/" + i2},
         i1 + "/" + i2 + "/fw.hex",
         std::nullopt,
         i1 + "/" + i2 + "/fw.dfu"},
        {"output_same_as_input", {}, "fw.hex", "fw.hex", "fw.dfu"},
        {"output_with_dot_slash", {}, "fw.hex", "./fw.hex", "./fw.dfu"},
        {"output_with_backslashes_and_drive", {}, "fw.hex", "C:\\build.1\\fw.hex", "C:\\build.1\\fw.dfu", true},
        {"output_without_extension_in_dotted_directory", {"dir.v2"}, "fw.hex", "dir.v2/fw", "dir.v2/fw.dfu"},
        {"output_with_two_extensions", {}, "fw.hex", "a.b.hex", "a.dfu"},
        {"output_with_other_extension", {}, "fw.hex", "out.bin", "out.dfu"},
        {"output_without_extension", {}, "fw.hex", "out", "out.dfu"},
        {"output_empty", {}, "fw.hex", "", ".dfu"},
        {"output_in_dotted_directory_with_two_extensions", {"sub.d"}, "fw.hex", "sub.d/x.y.z", "sub.d/x.dfu"},
        {"output_of_300_characters_without_dot", {d1, d1 + "/" + d2}, "fw.hex", long_output, long_output + ".dfu"},
        {"output_with_backslash_separators", {"sub.d"}, "fw.hex", "sub.d\\x.y.z", "sub.d/x.dfu", false, true},
        {"output_without_extension_behind_backslash", {"dir.v2"}, "fw.hex", "dir.v2\\fw", "dir.v2/fw.dfu", false, true},
        {"output_with_both_separators", {"a.d", "a.d/b.d"}, "fw.hex", "a.d\\b.d/c", "a.d/b.d/c.dfu", false, true},
    };
}

class FwpackOutputName : public ::testing::TestWithParam<NameCase> {};

TEST_P(FwpackOutputName, WritesExactlyTheDerivedFile) {
    const NameCase& c = GetParam();
    if (c.needs_ordinary_backslash && !kTarget.backslash_is_ordinary) {
        GTEST_SKIP() << "\"\\\" separates directories on this platform";
    }
    if (c.needs_backslash_separator && kTarget.backslash_is_ordinary) {
        GTEST_SKIP() << "\"\\\" is an ordinary character in file names on this platform";
    }
    TempDir dir;
    std::set<std::string> expected_tree;
    for (const auto& sub : c.dirs) {
        ASSERT_TRUE(fs::create_directory(dir.path() / sub)) << sub;
        expected_tree.insert(Normal(sub));
    }
    WriteFile(dir / c.input, kHexOneElement);
    expected_tree.insert(Normal(c.input));
    expected_tree.insert(Normal(c.expected_output));

    std::vector<std::string> args = {c.input};
    if (c.output_arg) args.push_back(*c.output_arg);
    const RunResult run = Fwpack(dir, args);

    EXPECT_EQ(run.status, kTarget.success_status);
    EXPECT_EQ(run.err, Line("fwpack success for [" + c.input + "] !"));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Tree(dir), expected_tree);
    EXPECT_EQ(ReadBytes(dir / c.expected_output), ExpectedDfuFile(kHexOneElementImage));
}

INSTANTIATE_TEST_SUITE_P(Table, FwpackOutputName, ::testing::ValuesIn(NameCases()),
                         [](const auto& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// Messages and exit statuses

TEST(FwpackMessages, NoArgumentPrintsTheUsageAndTouchesNothing) {
    TempDir dir;
    WriteFile(dir / "fw.hex", kHexOneElement);
    const RunResult run = Fwpack(dir, {});
    EXPECT_EQ(run.status, kTarget.error_status);
    EXPECT_EQ(run.err, Line("fwpack [original file] [output file] !"));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Tree(dir), std::set<std::string>{"fw.hex"});
}

struct UnloadableCase {
    std::string label;
    std::string input;
    std::optional<std::string> content;  // none: the file does not exist
    std::string reader_lines;            // what the reader says first
};

void PrintTo(const UnloadableCase& c, std::ostream* os) { *os << c.label; }

class FwpackUnloadableInput : public ::testing::TestWithParam<UnloadableCase> {};

// Whatever keeps the input from loading, the output is neither created nor
// truncated: an earlier good file of that name survives.
TEST_P(FwpackUnloadableInput, ReportsTheInputAndLeavesEveryFileAlone) {
    const UnloadableCase& c = GetParam();
    const std::string expected_err =
        c.reader_lines + Line("fwpack Unable to create image from this file [" + c.input + "] !");
    const std::string previous = "an earlier output\n";
    for (bool output_given : {false, true}) {
        SCOPED_TRACE(output_given ? "with an output argument" : "input alone");
        TempDir dir;
        if (c.content) WriteFile(dir / c.input, *c.content);
        WriteFile(dir / "fw.dfu", previous);
        const std::set<std::string> before = Tree(dir);

        std::vector<std::string> args = {c.input};
        if (output_given) args.push_back("new.bin");
        const RunResult run = Fwpack(dir, args);

        EXPECT_EQ(run.status, kTarget.error_status);
        EXPECT_EQ(run.err, expected_err);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(Tree(dir), before);
        EXPECT_EQ(ReadFile(dir / "fw.dfu"), previous);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FwpackUnloadableInput,
    ::testing::Values(UnloadableCase{"other_extension", "fw.s19", std::string(kSrecFourBytes), ""},
                      UnloadableCase{"no_extension", "fw", std::string(kHexOneElement), ""},
                      UnloadableCase{"extension_after_hex", "fw.hex.bak", std::string(kHexOneElement), ""},
                      UnloadableCase{"missing_file", "fw.hex", std::nullopt, ""},
                      UnloadableCase{"hex_checksum_error", "fw.hex",
                                     std::string(":020000040800F2\r\n:040000000011223395\r\n:00000001FF\r\n"),
                                     Line("FILE : line 2: Bad hexadecimal checksum!")},
                      UnloadableCase{"srec_format_error", "fw.srec",
                                     std::string("S005000066771D\nS1071000CAFEF00D23\nX123\n"),
                                     Line("FILE : line 3: Not in Motorola SREC format!")}),
    [](const auto& info) { return info.param.label; });

TEST(FwpackMessages, OutputInMissingDirectoryIsNamedAsTyped) {
    TempDir dir;
    WriteFile(dir / "fw.hex", kHexOneElement);
    const RunResult run = Fwpack(dir, {"fw.hex", "missing.d/out.bin"});
    EXPECT_EQ(run.status, kTarget.error_status);
    EXPECT_EQ(run.err, Line("fwpack output file error [missing.d/out.bin] !"));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Tree(dir), std::set<std::string>{"fw.hex"});
}

TEST(FwpackMessages, DerivedOutputThatCannotBeOpenedIsNamedByTheDerivedName) {
    TempDir dir;
    WriteFile(dir / "fw.v1.hex", kHexOneElement);
    ASSERT_TRUE(fs::create_directory(dir.path() / "fw.dfu"));
    const RunResult run = Fwpack(dir, {"fw.v1.hex"});
    EXPECT_EQ(run.status, kTarget.error_status);
    EXPECT_EQ(run.err, Line("fwpack output file error [fw.dfu] !"));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Tree(dir), (std::set<std::string>{"fw.v1.hex", "fw.dfu"}));
    EXPECT_TRUE(fs::is_directory(dir.path() / "fw.dfu"));
}

// The output opens, but the final write fails: this is an error, and the
// device the link points at is left as it is.
TEST(FwpackMessages, FailedFinalWriteIsAnOutputError) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no device that refuses every write";
    if (testutil::TargetIsWindows()) {
        // Its write errors reach the program's own write calls, but not
        // through the C streams, which take a character device for a console.
        GTEST_SKIP() << "a Windows program under wine sees /dev/full as a console-like device";
    }
    struct Case {
        std::vector<std::string> args;
        std::string shown;
    };
    for (const Case& c : {Case{{"fw.hex", "out.bin"}, "out.bin"}, Case{{"out.hex"}, "out.dfu"}}) {
        SCOPED_TRACE(c.shown);
        TempDir dir;
        WriteFile(dir / "fw.hex", kHexOneElement);
        WriteFile(dir / "out.hex", kHexOneElement);
        fs::create_symlink("/dev/full", dir.path() / "out.dfu");
        const std::set<std::string> before = Tree(dir);

        const RunResult run = Fwpack(dir, c.args);
        EXPECT_EQ(run.status, kTarget.error_status);
        EXPECT_EQ(run.err, Line("fwpack output file error [" + c.shown + "] !"));
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(Tree(dir), before);
        ASSERT_TRUE(fs::is_symlink(dir.path() / "out.dfu"));
        EXPECT_EQ(fs::read_symlink(dir.path() / "out.dfu"), fs::path("/dev/full"));
    }
}

// Full Windows paths: a drive, backslashes and dotted directories. The
// output name is derived in the last component only.
TEST(FwpackWindowsPaths, DrivePathsKeepTheirDirectories) {
    if (!testutil::TargetIsWindows()) GTEST_SKIP() << "paths with drives are Windows paths";
    struct Case {
        std::string input;
        std::optional<std::string> output_arg;
        std::string expected_output;
    };
    for (const Case& c : {Case{"in.v1/fw.hex", std::nullopt, "in.v1/fw.dfu"},
                          Case{"in.v1/fw.hex", std::string("out.v2/a.b.hex"), "out.v2/a.dfu"}}) {
        SCOPED_TRACE(c.expected_output);
        TempDir dir;
        const std::string root = fs::canonical(dir.path()).string();
        ASSERT_TRUE(fs::create_directory(dir.path() / "in.v1"));
        ASSERT_TRUE(fs::create_directory(dir.path() / "out.v2"));
        WriteFile(dir / c.input, kHexOneElement);
        const std::string input = testutil::WinePath(root + "/" + c.input);
        std::vector<std::string> args = {input};
        if (c.output_arg) args.push_back(testutil::WinePath(root + "/" + *c.output_arg));

        const RunResult run = Fwpack(dir, args);
        EXPECT_EQ(run.status, kTarget.success_status);
        EXPECT_EQ(run.err, Line("fwpack success for [" + input + "] !"));
        EXPECT_EQ(Tree(dir), (std::set<std::string>{"in.v1", "out.v2", c.input, c.expected_output}));
        EXPECT_EQ(ReadBytes(dir / c.expected_output), ExpectedDfuFile(kHexOneElementImage));
    }
}

TEST(FwpackMessages, ArgumentsAfterTheSecondAreIgnored) {
    TempDir dir;
    WriteFile(dir / "fw.hex", kHexOneElement);
    WriteFile(dir / "extra.srec", kSrecFourBytes);
    const RunResult run = Fwpack(dir, {"fw.hex", "out.bin", "extra.srec", "more.hex"});
    EXPECT_EQ(run.status, kTarget.success_status);
    EXPECT_EQ(run.err, Line("fwpack success for [fw.hex] !"));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Tree(dir), (std::set<std::string>{"fw.hex", "extra.srec", "out.dfu"}));
    EXPECT_EQ(ReadBytes(dir / "out.dfu"), ExpectedDfuFile(kHexOneElementImage));
}

struct SuccessCase {
    std::string label;
    std::string input;
    std::string content;
    std::string output;
    std::vector<Element> image;
};

void PrintTo(const SuccessCase& c, std::ostream* os) { *os << c.label; }

class FwpackSuccess : public ::testing::TestWithParam<SuccessCase> {};

// A longer earlier file of the output name is replaced in full.
TEST_P(FwpackSuccess, ReportsOnStandardErrorOnlyAndReplacesTheOutput) {
    const SuccessCase& c = GetParam();
    TempDir dir;
    WriteFile(dir / c.input, c.content);
    WriteFile(dir / c.output, std::string(2000, 'x'));
    const RunResult run = Fwpack(dir, {c.input});
    EXPECT_EQ(run.status, kTarget.success_status);
    EXPECT_EQ(run.err, Line("fwpack success for [" + c.input + "] !"));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Tree(dir), (std::set<std::string>{c.input, c.output}));
    EXPECT_EQ(ReadBytes(dir / c.output), ExpectedDfuFile(c.image));
    ExpectSuffixAcceptedByDfuSuffix(dir / c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FwpackSuccess,
    ::testing::Values(SuccessCase{"hex_lower_case", "fw.hex", kHexOneElement, "fw.dfu", kHexOneElementImage},
                      SuccessCase{"srec_upper_case", "FW.SREC", kSrecFourBytes, "FW.dfu", kSrecFourBytesImage},
                      SuccessCase{"hex_mixed_case", "Fw.HeX", kHexThreeElements, "Fw.dfu", kHexThreeElementsImage}),
    [](const auto& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// Output bytes against a layout written out here

struct BytesCase {
    std::string label;
    std::string input;
    std::string content;
    std::vector<Element> image;
};

void PrintTo(const BytesCase& c, std::ostream* os) { *os << c.label; }

std::vector<BytesCase> BytesCases() {
    return {
        {"hex_one_element_from_three_records", "in.hex", kHexOneElement, kHexOneElementImage},
        {"hex_three_elements_in_file_order", "in.hex", kHexThreeElements, kHexThreeElementsImage},
        {"hex_without_data", "in.hex", kHexNoData, {}},
        {"srec_four_bytes", "in.srec", kSrecFourBytes, kSrecFourBytesImage},
        {"srec_two_elements_one_merged", "in.srec", kSrecTwoElements, kSrecTwoElementsImage},
    };
}

// Converts the case's input in a fresh directory and returns the output.
Bytes Convert(const TempDir& dir, const BytesCase& c) {
    WriteFile(dir / c.input, c.content);
    const RunResult run = Fwpack(dir, {c.input, "out"});
    EXPECT_EQ(run.status, kTarget.success_status) << run.err;
    return ReadBytes(dir / "out.dfu");
}

class FwpackOutputBytes : public ::testing::TestWithParam<BytesCase> {};

TEST_P(FwpackOutputBytes, EqualTheLayoutWrittenOutByHand) {
    TempDir dir;
    EXPECT_EQ(Convert(dir, GetParam()), ExpectedDfuFile(GetParam().image));
}

INSTANTIATE_TEST_SUITE_P(Inputs, FwpackOutputBytes, ::testing::ValuesIn(BytesCases()),
                         [](const auto& info) { return info.param.label; });

// Sizes from a worked example: one element of four bytes gives 313 bytes, an
// image without elements 301.
TEST(FwpackOutputBytesSizes, MatchTheWorkedExamples) {
    const auto cases = BytesCases();
    TempDir four;
    const Bytes file = Convert(four, cases[3]);
    ASSERT_EQ(file.size(), 313u);
    EXPECT_EQ(GetLe32(file, 6), 297u);
    EXPECT_EQ(GetLe32(file, 277), 12u);
    EXPECT_EQ(GetLe32(file, 285), 0x1000u);
    TempDir none;
    EXPECT_EQ(Convert(none, cases[2]).size(), 301u);
}

// ---------------------------------------------------------------------------
// Independent tools as oracles

class FwpackDfuSuffixOracle : public ::testing::TestWithParam<BytesCase> {};

TEST_P(FwpackDfuSuffixOracle, AcceptsTheSuffix) {
    if (!HaveTool("dfu-suffix")) GTEST_SKIP() << "dfu-suffix is not installed";
    TempDir dir;
    Convert(dir, GetParam());
    const RunResult check = testutil::Run("dfu-suffix -c out.dfu", dir.path().string());
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("Vendor ID:\t0x0483"), std::string::npos) << check.out;
}

INSTANTIATE_TEST_SUITE_P(Inputs, FwpackDfuSuffixOracle, ::testing::ValuesIn(BytesCases()),
                         [](const auto& info) { return info.param.label; });

// That parser refuses a target without data, which the format allows, so it
// sees only the inputs that carry some.
std::vector<BytesCase> CasesWithData() {
    std::vector<BytesCase> cases;
    for (const auto& c : BytesCases())
        if (!c.image.empty()) cases.push_back(c);
    return cases;
}

class FwpackLoaderOracle : public ::testing::TestWithParam<BytesCase> {};

TEST_P(FwpackLoaderOracle, ReadsEveryElement) {
    if (!HaveTool("fwupdtool")) GTEST_SKIP() << "fwupdtool is not installed";
    TempDir dir;
    Convert(dir, GetParam());
    const RunResult parse = testutil::Run("fwupdtool firmware-parse out.dfu dfuse", dir.path().string());
    ASSERT_EQ(parse.status, 0) << parse.out << parse.err;
    EXPECT_NE(parse.out.find("<id>ST...</id>"), std::string::npos) << parse.out;
    for (const auto& element : GetParam().image) {
        char addr[40];
        std::snprintf(addr, sizeof addr, "<addr>0x%x</addr>", static_cast<unsigned>(element.address));
        EXPECT_NE(parse.out.find(addr), std::string::npos) << addr << "\n" << parse.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, FwpackLoaderOracle, ::testing::ValuesIn(CasesWithData()),
                         [](const auto& info) { return info.param.label; });

struct Range {
    uint32_t low;
    uint32_t high;  // one past the last byte
};

struct GeneratedCase {
    std::string label;
    std::string input;   // in.hex or in.srec
    std::string format;  // srec_cat's format option for it, empty for S-records
    // Record size and address length; for Intel HEX an address length of 3
    // asks for segment (type 02) records, 4 for linear (type 04) ones.
    std::string output_options;
    std::vector<Range> ranges;  // in ascending order, apart from one another
};

void PrintTo(const GeneratedCase& c, std::ostream* os) { *os << c.label; }

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

class FwpackGeneratedInput : public ::testing::TestWithParam<GeneratedCase> {};

// srec_cat writes random data in records of many shapes; the elements of the
// converter's file, laid out over 0xFF, must give the same memory as srec_cat
// itself (and objcopy) make of the input.
TEST_P(FwpackGeneratedInput, ElementsHoldTheSameMemoryAsTheInput) {
    if (!HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
    const GeneratedCase& c = GetParam();
    TempDir dir;
    const std::string cwd = dir.path().string();

    std::string generate = "srec_cat";
    for (const Range& r : c.ranges) generate += " -generate " + Hex(r.low) + " " + Hex(r.high) + " -random";
    generate += " -o " + c.input + " " + c.format + " " + c.output_options;
    const RunResult made = testutil::Run(generate, cwd);
    ASSERT_EQ(made.status, 0) << generate << "\n" << made.err;

    const RunResult run = Fwpack(dir, {c.input});
    ASSERT_EQ(run.status, kTarget.success_status) << run.err;
    const std::string output = dir / "in.dfu";
    ExpectSuffixAcceptedByDfuSuffix(output);

    std::vector<Element> elements;
    ASSERT_TRUE(ParseDfuFile(ReadBytes(output), elements));
    // Each range comes out as one element, however many records carry it.
    ASSERT_EQ(elements.size(), c.ranges.size());
    for (std::size_t i = 0; i < elements.size(); ++i) {
        EXPECT_EQ(elements[i].address, c.ranges[i].low) << i;
        EXPECT_EQ(elements[i].data.size(), c.ranges[i].high - c.ranges[i].low) << i;
    }
    const uint32_t low = c.ranges.front().low;
    const uint32_t high = c.ranges.back().high;
    Bytes memory(high - low, 0xFF);
    for (const auto& element : elements) {
        ASSERT_GE(element.address, low);
        ASSERT_LE(element.address - low + uint64_t{element.data.size()}, memory.size());
        std::copy(element.data.begin(), element.data.end(), memory.begin() + (element.address - low));
    }

    const std::string reference = "srec_cat " + c.input + " " + c.format + " -fill 0xFF " + Hex(low) + " " + Hex(high) +
                                  " -offset -" + Hex(low) + " -o ref.bin -binary";
    const RunResult ref = testutil::Run(reference, cwd);
    ASSERT_EQ(ref.status, 0) << reference << "\n" << ref.err;
    EXPECT_TRUE(ReadBytes(dir / "ref.bin") == memory) << "differs from srec_cat's reading";

    if (HaveTool("objcopy")) {
        const std::string bfd = c.format.empty() ? "srec" : "ihex";
        const RunResult copy =
            testutil::Run("objcopy -I " + bfd + " -O binary --gap-fill 0xFF " + c.input + " ref2.bin", cwd);
        ASSERT_EQ(copy.status, 0) << copy.err;
        EXPECT_TRUE(ReadBytes(dir / "ref2.bin") == memory) << "differs from objcopy's reading";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, FwpackGeneratedInput,
    ::testing::Values(
        GeneratedCase{
            "hex_16_byte_records", "in.hex", "-intel", "-obs=16 -address-length=4", {{0x08000000, 0x08004321}}},
        GeneratedCase{
            "hex_32_byte_records", "in.hex", "-intel", "-obs=32 -address-length=4", {{0x08000000, 0x08001001}}},
        GeneratedCase{
            "hex_255_byte_records", "in.hex", "-intel", "-obs=255 -address-length=4", {{0x20000000, 0x20002345}}},
        GeneratedCase{
            "hex_linear_bases_across_64k", "in.hex", "-intel", "-obs=16 -address-length=4", {{0x0800F000, 0x08031000}}},
        GeneratedCase{"hex_segment_bases_across_64k",
                      "in.hex",
                      "-intel",
                      "-obs=32 -address-length=3",
                      {{0x0000FF00, 0x0002F123}}},
        GeneratedCase{"hex_two_ranges",
                      "in.hex",
                      "-intel",
                      "-obs=16 -address-length=4",
                      {{0x08000000, 0x08000800}, {0x08010000, 0x08010123}}},
        GeneratedCase{"srec_s1_records", "in.srec", "", "-obs=16 -address-length=2", {{0x1000, 0x3456}}},
        GeneratedCase{"srec_s2_records", "in.srec", "", "-obs=32 -address-length=3", {{0x010000, 0x01A0F3}}},
        GeneratedCase{"srec_s3_records", "in.srec", "", "-obs=64 -address-length=4", {{0x08000000, 0x08012345}}},
        GeneratedCase{"srec_two_ranges",
                      "in.srec",
                      "",
                      "-obs=16 -address-length=4",
                      {{0x08000000, 0x08000800}, {0x08010000, 0x08010123}}}),
    [](const auto& info) { return info.param.label; });

}  // namespace

// End-to-end tests of the converter's options: device identity, target
// settings, several inputs and targets, raw binary and DfuSe inputs, the
// output formats, --info, and every refusal of a command line. Expected
// DfuSe files are laid out by hand (dfu_layout.h); independent tools check
// what is written where they are installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "dfu_layout.h"
#include "fwpack_run.h"

namespace {

using fwpack_e2e::Fwpack;
using fwpack_e2e::kTarget;
using fwpack_e2e::Line;
using fwpack_e2e::Tree;
using testutil::DfuLayout;
using testutil::HaveTool;
using testutil::LayoutTarget;
using testutil::RunResult;
using testutil::ShellQuote;
using testutil::TempDir;
using Bytes = std::vector<uint8_t>;
using Files = std::map<std::string, std::string>;

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The suffix CRC of `file` as a bitwise CRC-32 gives it: the complement.
uint32_t BitwiseDfuCrc(const Bytes& file) { return testutil::Crc32Bitwise(file.data(), file.size() - 4) ^ 0xFFFFFFFFu; }

std::string Hex8(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// `file` with its suffix CRC made right again.
Bytes WithCrc(Bytes file) {
    const uint32_t crc = BitwiseDfuCrc(file);
    for (int i = 0; i < 4; ++i) file[file.size() - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
    return file;
}

// Checksums below worked out by hand.
// Element 0x08000000: 01 02 03 04.
const char kFwHex[] = ":020000040800F2\n:0400000001020304F2\n:00000001FF\n";
// Below the first: 0x07FFFFFE: AA BB.
const char kLowHex[] = ":0200000407FFF4\n:02FFFE00AABB9C\n:00000001FF\n";
// Overlaps the first at 0x08000002.
const char kOverlapHex[] = ":020000040800F2\n:020002000909EA\n:00000001FF\n";
const char kFwSrec[] = "S3090800000001020304E4\nS70500000000FA\n";

const LayoutTarget kFwTarget = {0, "ST...", {{0x08000000, {1, 2, 3, 4}}}};
const Bytes kTwoTargetDfu =
    DfuLayout({{0, "Flash", {{0x08000000, {1, 2, 3, 4}}}}, {1, std::nullopt, {{0x1FFFF800, {0xAA, 0x55}}}}}, 0x0483,
              0x5AF1, 0x0200);

void ExpectAcceptedByOracles(const std::string& path) {
    if (HaveTool("dfu-suffix")) {
        const RunResult check = testutil::Run("dfu-suffix -c " + ShellQuote(path));
        EXPECT_EQ(check.status, 0) << path << "\n" << check.out << check.err;
    }
    if (HaveTool("fwupdtool")) {
        const RunResult parse = testutil::Run("fwupdtool firmware-parse " + ShellQuote(path) + " dfuse");
        EXPECT_EQ(parse.status, 0) << path << "\n" << parse.err;
    }
}

// ---------------------------------------------------------------------------
// Conversions that succeed

struct ConversionCase {
    std::string label;
    Files files;
    std::vector<std::string> args;
    std::string first_input;  // named by the success line
    std::string output;
    Bytes expected;
};

void PrintTo(const ConversionCase& c, std::ostream* os) { *os << c.label; }

std::vector<ConversionCase> ConversionCases() {
    const Bytes raw = {0xDE, 0xAD, 0xBE, 0xEF, 0x00};
    const std::string raw_text(raw.begin(), raw.end());
    return {
        {"device_and_release",
         {{"fw.hex", kFwHex}},
         {"-d", "1209:5af0", "-r", "0100", "fw.hex"},
         "fw.hex",
         "fw.dfu",
         DfuLayout({kFwTarget}, 0x1209, 0x5AF0, 0x0100)},
        {"options_after_the_input_with_0x",
         {{"fw.hex", kFwHex}},
         {"fw.hex", "-d", "0x1209:0X5AF0"},
         "fw.hex",
         "fw.dfu",
         DfuLayout({kFwTarget}, 0x1209, 0x5AF0, 0)},
        {"long_forms_with_equals_and_attached_short_values",
         {{"fw.srec", kFwSrec}},
         {"--device=ffff:1", "--release=9", "--alt=3", "-nFlash", "fw.srec", "out.x"},
         "fw.srec",
         "out.dfu",
         DfuLayout({{3, "Flash", {{0x08000000, {1, 2, 3, 4}}}}}, 0xFFFF, 0x0001, 0x0009)},
        {"added_inputs_in_address_order",
         {{"fw.hex", kFwHex}, {"low.hex", kLowHex}},
         {"fw.hex", "--add", "low.hex", "both.dfu"},
         "fw.hex",
         "both.dfu",
         DfuLayout({{0, "ST...", {{0x07FFFFFE, {0xAA, 0xBB}}, {0x08000000, {1, 2, 3, 4}}}}}, 0x0483, 0, 0)},
        {"several_targets",
         {{"fw.hex", kFwHex}, {"low.hex", kLowHex}},
         {"-n", "A", "fw.hex", "--target", "low.hex", "-n", "B", "-t", "fw.hex", "-a", "7", "m.dfu"},
         "fw.hex",
         "m.dfu",
         DfuLayout({{0, "A", {{0x08000000, {1, 2, 3, 4}}}},
                    {1, "B", {{0x07FFFFFE, {0xAA, 0xBB}}}},
                    {7, "ST...", {{0x08000000, {1, 2, 3, 4}}}}},
                   0x0483, 0, 0)},
        {"raw_binaries_at_their_bases",
         {{"a.bin", raw_text}, {"b.BIN", "\x01"}},
         {"a.bin", "-b", "0x08000000", "--add", "b.BIN", "-b", "20000000"},
         "a.bin",
         "a.dfu",
         DfuLayout({{0, "ST...", {{0x08000000, raw}, {0x20000000, {0x01}}}}}, 0x0483, 0, 0)},
        {"dfu_rewritten_with_new_identity",
         {{"old.dfu", Text(kTwoTargetDfu)}},
         {"-d", "1209:5af0", "old.dfu", "new.dfu"},
         "old.dfu",
         "new.dfu",
         DfuLayout({{0, "Flash", {{0x08000000, {1, 2, 3, 4}}}}, {1, std::nullopt, {{0x1FFFF800, {0xAA, 0x55}}}}},
                   0x1209, 0x5AF0, 0x0200)},
        {"dfu_target_chosen_and_named",
         {{"old.dfu", Text(kTwoTargetDfu)}},
         {"-a", "1", "-n", "Option bytes", "old.dfu", "one.dfu"},
         "old.dfu",
         "one.dfu",
         DfuLayout({{1, "Option bytes", {{0x1FFFF800, {0xAA, 0x55}}}}}, 0x0483, 0x5AF1, 0x0200)},
        {"file_named_like_an_option_after_double_dash",
         {{"-x.hex", kFwHex}},
         {"--", "-x.hex"},
         "-x.hex",
         "-x.dfu",
         DfuLayout({kFwTarget}, 0x0483, 0, 0)},
    };
}

class FwpackConversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(FwpackConversion, WritesTheFileLaidOutByHand) {
    const ConversionCase& c = GetParam();
    TempDir dir;
    std::set<std::string> tree;
    for (const auto& [name, content] : c.files) {
        testutil::WriteFile(dir / name, content);
        tree.insert(name);
    }
    tree.insert(c.output);
    const RunResult run = Fwpack(dir, c.args);
    EXPECT_EQ(run.status, kTarget.success_status);
    EXPECT_EQ(run.err, Line("fwpack success for [" + c.first_input + "] !"));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Tree(dir), tree);
    EXPECT_EQ(testutil::ReadBytes(dir / c.output), c.expected);
    ExpectAcceptedByOracles(dir / c.output);
}

INSTANTIATE_TEST_SUITE_P(Table, FwpackConversion, ::testing::ValuesIn(ConversionCases()),
                         [](const auto& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// Text output and round trips

struct TextCase {
    std::string label;
    std::vector<std::string> args;  // run in a directory that holds fw.dfu (the two-target file)
    std::string output;
    std::string expected;  // with "\n" for the platform's line end
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.label; }

class FwpackTextOutput : public ::testing::TestWithParam<TextCase> {};

TEST_P(FwpackTextOutput, WritesTheChosenTargetAsRecords) {
    const TextCase& c = GetParam();
    TempDir dir;
    testutil::WriteFile(dir / "fw.dfu", Text(kTwoTargetDfu));
    const RunResult run = Fwpack(dir, c.args);
    EXPECT_EQ(run.status, kTarget.success_status) << run.err;
    std::string expected;
    for (char ch : c.expected) expected += ch == '\n' ? std::string(kTarget.line_end) : std::string(1, ch);
    EXPECT_EQ(testutil::ReadFile(dir / c.output), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, FwpackTextOutput,
                         ::testing::Values(TextCase{"hex_of_the_first_target",
                                                    {"-f", "hex", "-a", "0", "fw.dfu"},
                                                    "fw.hex",
                                                    ":020000040800F2\n:0400000001020304F2\n:00000001FF\n"},
                                           TextCase{"srec_of_the_second_target_named_by_the_output",
                                                    {"fw.dfu", "-a1", "--format=srec", "ob.bin"},
                                                    "ob.srec",
                                                    "S3071FFFF800AA55E3\nS70500000000FA\n"}),
                         [](const auto& info) { return info.param.label; });

// Intel HEX text without its start address record.
std::string WithoutStartAddress(const std::string& text) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
        if (text.compare(at, 9, ":04000005") != 0) out += text.substr(at, end - at);
        at = end;
    }
    return out;
}

// Converting to a DfuSe file and back gives the same memory, as an
// independent reader sees both files (start addresses aside: the DfuSe file
// holds none).
TEST(FwpackRoundTrip, TextToDfuAndBackKeepsEveryByte) {
    if (!HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat is not installed";
    TempDir dir;
    const RunResult generate = testutil::Run(
        "srec_cat -generate 0x0800FFF0 0x08010123 -random -generate 0x20000000 0x20000010 -random "
        "-o fw.hex -intel -obs=16 && srec_cat fw.hex -intel -o fw.srec -motorola -address-length=4",
        dir.path().string());
    ASSERT_EQ(generate.status, 0) << generate.err;
    for (const std::string format : {"hex", "srec"}) {
        ASSERT_EQ(Fwpack(dir, {"fw." + format, "mid.dfu"}).status, 0);
        ASSERT_EQ(Fwpack(dir, {"-f", format, "mid.dfu", "back." + format}).status, 0);
        const std::string type = format == "hex" ? " -intel" : " -motorola";
        const RunResult a = testutil::Run("srec_cat fw." + format + type + " -o - -intel -obs=16", dir.path().string());
        const RunResult b =
            testutil::Run("srec_cat back." + format + type + " -o - -intel -obs=16", dir.path().string());
        EXPECT_EQ(b.status, 0) << b.err;
        EXPECT_NE(a.out.find(":10FFF000"), std::string::npos) << "the independent reader read nothing";
        if (format == "hex") {
            EXPECT_EQ(b.err, "") << "the reader has a remark on back.hex";
        }
        EXPECT_EQ(WithoutStartAddress(a.out), WithoutStartAddress(b.out)) << format;
    }
}

// ---------------------------------------------------------------------------
// Refusals: one line that says what is wrong, exit status 1, nothing written

struct RefusalCase {
    std::string label;
    Files files;
    std::vector<std::string> args;
    std::vector<std::string> err_lines;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.label; }

const std::string kHint = "Try 'fwpack --help' for more information.";

std::vector<RefusalCase> RefusalCases() {
    const Files fw = {{"fw.hex", kFwHex}};
    Bytes bad_crc = kTwoTargetDfu;
    bad_crc[300] ^= 1;
    const std::size_t n = bad_crc.size();
    const uint32_t stored = uint32_t{bad_crc[n - 4]} | (uint32_t{bad_crc[n - 3]} << 8) |
                            (uint32_t{bad_crc[n - 2]} << 16) | (uint32_t{bad_crc[n - 1]} << 24);
    return {
        {"unknown_option", fw, {"fw.hex", "-x"}, {"fwpack: unknown option '-x'", kHint}},
        {"unknown_long_option", fw, {"--devices=1:2", "fw.hex"}, {"fwpack: unknown option '--devices' (did you mean '--device'?)", kHint}},
        {"missing_value", fw, {"fw.hex", "-d"}, {"fwpack: option '-d' needs a value", kHint}},
        {"value_given_to_a_flag", fw, {"--help=x"}, {"fwpack: option '--help' takes no value", kHint}},
        {"bad_device",
         fw,
         {"-d", "12345:1", "fw.hex"},
         {"fwpack: -d: '12345:1' is not VID:PID (1 to 4 hexadecimal digits each, as in 1209:5af0)", kHint}},
        {"bad_release",
         fw,
         {"--release", "0x", "fw.hex"},
         {"fwpack: --release: '0x' is not a release number (1 to 4 hexadecimal digits, as in 0100)", kHint}},
        {"bad_alternate",
         fw,
         {"-a", "256", "fw.hex"},
         {"fwpack: -a: '256' is not an alternate setting (0 to 255)", kHint}},
        {"name_too_long",
         fw,
         {"-n", std::string(256, 'n'), "fw.hex"},
         {"fwpack: -n: a target name has 1 to 255 bytes; this one has 256", kHint}},
        {"bad_format",
         fw,
         {"-f", "elf", "fw.hex"},
         {"fwpack: -f: 'elf' is not an output format (dfu, dfu-plain, bin, uf2, hex or srec)", kHint}},
        {"bad_base",
         {{"a.bin", "x"}},
         {"-b", "100000000", "a.bin"},
         {"fwpack: -b: '100000000' is not an address (1 to 8 hexadecimal digits, as in 0x08000000)", kHint}},
        {"no_input", fw, {"-d", "1:2"}, {"fwpack: no input file", kHint}},
        {"binary_without_base",
         {{"a.bin", "x"}},
         {"a.bin"},
         {"fwpack: a.bin: a raw binary input needs its load address (-b ADDR)", kHint}},
        {"base_without_binary",
         fw,
         {"fw.hex", "-b", "0x100"},
         {"fwpack: -b 0x100: no raw binary (.bin) input of its target takes this load address", kHint}},
        {"text_format_with_several_targets",
         fw,
         {"-f", "hex", "fw.hex", "-t", "fw.hex", "o.hex"},
         {"fwpack: -f hex writes one target, but --target asks for 2", kHint}},
        {"one_alternate_for_two_targets",
         fw,
         {"fw.hex", "-a", "1", "--target", "fw.hex", "-a1"},
         {"fwpack: two targets have alternate setting 1; each needs its own (-a)", kHint}},
        {"dfu_input_with_another",
         {{"fw.hex", kFwHex}, {"old.dfu", Text(kTwoTargetDfu)}},
         {"old.dfu", "--add", "fw.hex", "x.dfu"},
         {"fwpack: the DfuSe input old.dfu stands alone: it takes no --add or --target", kHint}},
        {"info_with_an_output",
         fw,
         {"--info", "fw.hex", "out.dfu"},
         {"fwpack: --info reads one file and writes nothing: 'out.dfu' does not go with it", kHint}},
        {"output_replacing_the_input",
         fw,
         {"-f", "hex", "fw.hex"},
         {"fwpack: the output fw.hex is the input fw.hex; writing it would destroy the input"}},
        {"overlapping_inputs",
         {{"fw.hex", kFwHex}, {"over.hex", kOverlapHex}},
         {"fw.hex", "--add", "over.hex", "o.dfu"},
         {"fwpack: fw.hex and over.hex both define the byte at 0x08000002"}},
        {"binary_past_the_address_space",
         {{"a.bin", "xyz"}},
         {"-b", "0xFFFFFFFE", "a.bin"},
         {"fwpack: a.bin: its 3 bytes from 0xFFFFFFFE run past address 0xFFFFFFFF",
          "fwpack Unable to create image from this file [a.bin] !"}},
        {"dfu_with_several_targets_to_text",
         {{"old.dfu", Text(kTwoTargetDfu)}},
         {"-f", "srec", "old.dfu"},
         {"fwpack: old.dfu holds 2 targets (alternate settings 0, 1); choose one with -a"}},
        {"dfu_without_the_chosen_target",
         {{"old.dfu", Text(kTwoTargetDfu)}},
         {"-a", "5", "old.dfu", "x.dfu"},
         {"fwpack: old.dfu has no target with alternate setting 5 (it has 0, 1)"}},
        {"dfu_with_a_wrong_crc",
         {{"old.dfu", Text(bad_crc)}},
         {"old.dfu", "x.dfu"},
         {"fwpack: old.dfu: the suffix CRC is 0x" + Hex8(stored) + ", but the file's bytes give 0x" +
              Hex8(BitwiseDfuCrc(bad_crc)),
          "fwpack Unable to create image from this file [old.dfu] !"}},
    };
}

class FwpackRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(FwpackRefusal, SaysWhyAndWritesNothing) {
    const RefusalCase& c = GetParam();
    TempDir dir;
    std::set<std::string> tree;
    for (const auto& [name, content] : c.files) {
        testutil::WriteFile(dir / name, content);
        tree.insert(name);
    }
    const RunResult run = Fwpack(dir, c.args);
    EXPECT_EQ(run.status, kTarget.error_status);
    std::string expected;
    for (const auto& line : c.err_lines) expected += Line(line);
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Tree(dir), tree);
    for (const auto& [name, content] : c.files) EXPECT_EQ(testutil::ReadFile(dir / name), content) << name;
}

INSTANTIATE_TEST_SUITE_P(Table, FwpackRefusal, ::testing::ValuesIn(RefusalCases()),
                         [](const auto& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// --info, --help, --version

TEST(FwpackInfo, ListsEveryTargetAndElementOfASoundDfuFile) {
    TempDir dir;
    testutil::WriteFile(dir / "fw.dfu", Text(kTwoTargetDfu));
    const RunResult run = Fwpack(dir, {"--info", "fw.dfu"});
    EXPECT_EQ(run.status, kTarget.success_status);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              Line("fw.dfu: DfuSe file of 597 bytes") +
                  Line("suffix: vendor 0x0483, product 0x5AF1, release 0x0200, DFU version 0x011A, length 16, CRC 0x" +
                       Hex8(BitwiseDfuCrc(kTwoTargetDfu)) + " (agrees)") +
                  Line("prefix: format version 1, image size 581 (agrees), 2 targets") +
                  Line("target 0: alternate setting 0, name \"Flash\", 1 element, 4 bytes, target size 12 (agrees)") +
                  Line("  element 0: 0x08000000-0x08000003, 4 bytes") +
                  Line("target 1: alternate setting 1, no name, 1 element, 2 bytes, target size 10 (agrees)") +
                  Line("  element 0: 0x1FFFF800-0x1FFFF801, 2 bytes") + Line("total: 2 targets, 2 elements, 6 bytes"));
}

TEST(FwpackInfo, ListsTheElementsOfARecordFile) {
    TempDir dir;
    testutil::WriteFile(dir / "fw.hex", kFwHex);
    const RunResult run = Fwpack(dir, {"--info", "fw.hex"});
    EXPECT_EQ(run.status, kTarget.success_status);
    EXPECT_EQ(run.out, Line("fw.hex: Intel HEX file") + Line("target 0: 1 element, 4 bytes") +
                           Line("  element 0: 0x08000000-0x08000003, 4 bytes") +
                           Line("total: 1 target, 1 element, 4 bytes"));
}

TEST(FwpackInfo, NamesTheFirstProblemAndFails) {
    TempDir dir;
    Bytes wrong = kTwoTargetDfu;
    wrong[6] = 0;  // the image size field: 0x245 becomes 0x200
    testutil::WriteFile(dir / "fw.dfu", Text(WithCrc(wrong)));
    const RunResult run = Fwpack(dir, {"--info", "fw.dfu"});
    EXPECT_EQ(run.status, kTarget.error_status);
    EXPECT_EQ(run.err, Line("fwpack: fw.dfu: the image size field says 512 bytes, but the file holds 581 before "
                            "its suffix"));
    EXPECT_NE(run.out.find(Line("prefix: format version 1, image size 512 (the file holds 581), 2 targets")),
              std::string::npos)
        << run.out;
}

// DfuSe files that other tools wrote: a converter's, and a suffix added by a
// suffix tool to a body laid out by hand.
TEST(FwpackInfo, AcceptsDfuFilesOfOtherTools) {
    TempDir dir;
    testutil::WriteFile(dir / "fw.hex", kFwHex);
    const Bytes body(kTwoTargetDfu.begin(), kTwoTargetDfu.end() - 16);
    testutil::WriteFile(dir / "suffixed.dfu", Text(body));
    const struct {
        const char* tool;
        std::string command;
        const char* file;
    } makers[] = {
        {"fwupdtool", "fwupdtool firmware-convert fw.hex converted.dfu ihex dfuse", "converted.dfu"},
        {"dfu-suffix", "dfu-suffix -a suffixed.dfu -v 1209 -p 5af0 -d 0100 -S 0x011a", "suffixed.dfu"},
    };
    for (const auto& maker : makers) {
        if (!HaveTool(maker.tool)) continue;
        const RunResult made = testutil::Run(maker.command, dir.path().string());
        ASSERT_EQ(made.status, 0) << maker.command << "\n" << made.err;
        const RunResult run = Fwpack(dir, {"--info", maker.file});
        EXPECT_EQ(run.status, kTarget.success_status) << maker.file << "\n" << run.out << run.err;
        EXPECT_EQ(run.err, "");
    }
}

TEST(FwpackHelp, HelpAndVersionGoToStandardOutput) {
    TempDir dir;
    const RunResult help = Fwpack(dir, {"fw.hex", "--help"});
    EXPECT_EQ(help.status, kTarget.success_status);
    EXPECT_EQ(help.out.rfind("Usage: fwpack [options] <input> [<output>]", 0), 0u);
    EXPECT_NE(help.out.find("--target FILE"), std::string::npos);
    EXPECT_EQ(help.err, "");
    const RunResult version = Fwpack(dir, {"-V"});
    EXPECT_EQ(version.status, kTarget.success_status);
    EXPECT_EQ(version.out.rfind("fwpack 1.", 0), 0u) << version.out;
    EXPECT_EQ(Tree(dir), std::set<std::string>{});
}

}  // namespace

// End-to-end tests of the converter at its limits: elements at the top of
// the address space, text outputs replaced only when complete (and what
// happens when the writing is stopped part-way), and inputs that never end,
// read under a memory limit.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "dfu_layout.h"
#include "fwpack_run.h"

namespace {

namespace fs = std::filesystem;
using fwpack_e2e::Fwpack;
using fwpack_e2e::kTarget;
using fwpack_e2e::Line;
using fwpack_e2e::Tree;
using testutil::ReadFile;
using testutil::RunResult;
using testutil::TempDir;
using testutil::kAddressSanitizer;
using testutil::WriteFile;

std::vector<uint8_t> Counting(int n) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(i));
    return bytes;
}

// Text with "\n" turned into the platform's line end, as the text writers give it.
std::string Text(const std::string& lines) {
    std::string out;
    for (char c : lines) out += c == '\n' ? std::string(kTarget.line_end) : std::string(1, c);
    return out;
}

// ---------------------------------------------------------------------------
// An element that runs past 0xFFFFFFFF: 32 bytes 00..1F from 0xFFFFFFF0.
// Checksums worked out by hand.

struct TopCase {
    std::string label;
    std::string input;
    std::string content;
};

void PrintTo(const TopCase& c, std::ostream* os) { *os << c.label; }

std::vector<TopCase> TopCases() {
    const std::vector<uint8_t> dfu = testutil::DfuLayout({{0, "ST...", {{0xFFFFFFF0, Counting(32)}}}}, 0x0483, 0, 0);
    return {
        {"hex", "top.hex",
         ":02000004FFFFFC\n"
         ":20FFF000000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F01\n"
         ":00000001FF\n"},
        {"srec", "top.srec",
         "S325FFFFFFF0000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1FFD\n"
         "S70500000000FA\n"},
        {"dfu", "top.dfu", std::string(dfu.begin(), dfu.end())},
    };
}

class FwpackPastTheTop : public ::testing::TestWithParam<TopCase> {};

// Neither text output is written (an earlier one stays as it was), and
// --info names the element as a problem after listing it.
TEST_P(FwpackPastTheTop, RefusesTextOutputAndInfoNamesIt) {
    const TopCase& c = GetParam();
    const std::string element = "the element at 0xFFFFFFF0 of 32 bytes runs past address 0xFFFFFFFF";
    for (const std::string format : {"hex", "srec"}) {
        SCOPED_TRACE(format);
        TempDir dir;
        WriteFile(dir / c.input, c.content);
        WriteFile(dir / ("out." + format), "an earlier output\n");
        const RunResult run = Fwpack(dir, {"-f", format, c.input, "out"});
        EXPECT_EQ(run.status, kTarget.error_status);
        EXPECT_EQ(run.err, Line("fwpack: " + c.input + ": " + element + ", so -f " + format + " cannot write it"));
        EXPECT_EQ(Tree(dir), (std::set<std::string>{c.input, "out." + format}));
        EXPECT_EQ(ReadFile(dir / ("out." + format)), "an earlier output\n");
    }
    TempDir dir;
    WriteFile(dir / c.input, c.content);
    const RunResult info = Fwpack(dir, {"--info", c.input});
    EXPECT_EQ(info.status, kTarget.error_status);
    EXPECT_NE(info.out.find(Line("  element 0: 0xFFFFFFF0-0x10000000F, 32 bytes")), std::string::npos) << info.out;
    EXPECT_EQ(info.err, Line("fwpack: " + c.input + ": " + element));
}

INSTANTIATE_TEST_SUITE_P(Inputs, FwpackPastTheTop, ::testing::ValuesIn(TopCases()),
                         [](const auto& info) { return info.param.label; });

// The last byte of the address space has an address: 16 bytes from
// 0xFFFFFFF0 are written.
TEST(FwpackPastTheTop, ElementEndingAtTheTopIsWritten) {
    TempDir dir;
    WriteFile(dir / "top.hex", ":02000004FFFFFC\n:10FFF000000102030405060708090A0B0C0D0E0F89\n:00000001FF\n");
    const RunResult run = Fwpack(dir, {"-f", "srec", "top.hex"});
    EXPECT_EQ(run.status, kTarget.success_status) << run.err;
    EXPECT_EQ(ReadFile(dir / "top.srec"), Text("S315FFFFFFF0000102030405060708090A0B0C0D0E0F85\nS70500000000FA\n"));
}

// ---------------------------------------------------------------------------
// Where a text output is written: beside the output and moved over it, or in place

const char kFwHex[] = ":020000040800F2\n:0400000001020304F2\n:00000001FF\n";

struct PlaceCase {
    std::string label;
    std::function<void(const TempDir&)> setup;  // makes out.hex (and what goes with it) in "d"
    std::set<std::string> tree;                 // afterwards, below the test directory
    bool replaced;                              // out.hex is a new file, not the old one rewritten
    std::string also_written;                   // another name that must show the new content
};

void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.label; }

ino_t Inode(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

std::vector<PlaceCase> PlaceCases() {
    const std::set<std::string> base = {"fw.hex", "d", "d/out.hex"};
    auto with = [&](std::set<std::string> more) {
        more.insert(base.begin(), base.end());
        return more;
    };
    return {
        {"plain_file_replaced_keeping_its_permissions",
         [](const TempDir& dir) {
             WriteFile(dir / "d/out.hex", "old\n");
             fs::permissions(dir / "d/out.hex", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
         },
         base, true, ""},
        // The other name keeps the old file, whole.
        {"file_with_two_names_replaced",
         [](const TempDir& dir) {
             WriteFile(dir / "d/out.hex", "old\n");
             fs::create_hard_link(dir / "d/out.hex", dir / "d/other.hex");
         },
         with({"d/other.hex"}), true, ""},
        // The link stays; the file it leads to is replaced.
        {"link_kept_and_its_target_replaced",
         [](const TempDir& dir) {
             WriteFile(dir / "d/target.hex", "old\n");
             fs::create_symlink("target.hex", dir / "d/out.hex");
         },
         with({"d/target.hex"}), true, "d/target.hex"},
        {"folder_that_takes_no_new_file",
         [](const TempDir& dir) {
             WriteFile(dir / "d/out.hex", "old\n");
             fs::permissions(dir / "d", fs::perms::owner_read | fs::perms::owner_exec);
         },
         base, false, ""},
    };
}

class FwpackTextOutputPlace : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(FwpackTextOutputPlace, LeavesOnlyTheCompleteOutput) {
    if (testutil::TargetIsWindows()) GTEST_SKIP() << "permission bits, links and folders of POSIX systems";
    const PlaceCase& c = GetParam();
    TempDir dir;
    WriteFile(dir / "fw.hex", kFwHex);
    fs::create_directory(dir.path() / "d");
    c.setup(dir);
    if (c.label == "folder_that_takes_no_new_file") {
        WriteFile(dir / "d/probe", "");
        if (testutil::FileExists(dir / "d/probe")) GTEST_SKIP() << "this user may write to any folder";
    }
    const auto mode_before = fs::status(dir / "d/out.hex").permissions();
    const ino_t inode_before = Inode(dir / "d/out.hex");

    const RunResult run = Fwpack(dir, {"-f", "hex", "fw.hex", "d/out.hex"});
    EXPECT_EQ(run.status, kTarget.success_status) << run.err;
    fs::permissions(dir / "d", fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(Tree(dir), c.tree);
    EXPECT_EQ(ReadFile(dir / "d/out.hex"), kFwHex);
    EXPECT_EQ(fs::status(dir / "d/out.hex").permissions(), mode_before);
    EXPECT_EQ(Inode(dir / "d/out.hex") != inode_before, c.replaced);
    if (!c.also_written.empty()) {
        EXPECT_EQ(ReadFile(dir / c.also_written), kFwHex);
    }
    if (c.label == "file_with_two_names_replaced") {
        EXPECT_EQ(ReadFile(dir / "d/other.hex"), "old\n");
    }
    if (c.label == "link_kept_and_its_target_replaced") {
        EXPECT_TRUE(fs::is_symlink(dir.path() / "d/out.hex"));
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, FwpackTextOutputPlace, ::testing::ValuesIn(PlaceCases()),
                         [](const auto& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// A text output stopped part-way by a file size limit: the write fails,
// whether or not the shell ignores the limit's signal (the converter does).

struct StopCase {
    std::string label;
    std::string shell;  // run before the converter, after the limit is set
    int status;
    std::string err;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.label; }

class FwpackStoppedTextOutput : public ::testing::TestWithParam<StopCase> {};

TEST_P(FwpackStoppedTextOutput, LeavesTheOldFileAndNoOther) {
    if (testutil::TargetIsWindows()) GTEST_SKIP() << "file size limits and their signal are POSIX ones";
    const StopCase& c = GetParam();
    TempDir dir;
    // 256 KiB from address 0: some 600 KB of Intel HEX.
    WriteFile(dir / "big.bin", std::string(256 * 1024, 'x'));
    WriteFile(dir / "big.hex", "an earlier output\n");
    // The limit (in blocks of 512 or 1024 bytes) stops the writing in its first 64 KiB.
    const RunResult run = testutil::Run(
        "(ulimit -f 64; " + c.shell + "exec " + fwpack_e2e::FwpackCommand({"-f", "hex", "-b", "0", "big.bin"}) + ")",
        dir.path().string());
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(Tree(dir), (std::set<std::string>{"big.bin", "big.hex"}));
    EXPECT_EQ(ReadFile(dir / "big.hex"), "an earlier output\n");
}

INSTANTIATE_TEST_SUITE_P(Stops, FwpackStoppedTextOutput,
                         ::testing::Values(StopCase{"by_the_signal", "", 1, "fwpack output file error [big.hex] !\n"},
                                           StopCase{"by_a_failed_write", "trap '' XFSZ; ", 1,
                                                    "fwpack output file error [big.hex] !\n"}),
                         [](const auto& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// Inputs that never end, under a memory limit: one line that names the
// input, never an abort.

struct EndlessCase {
    std::string label;
    std::string pipe;  // what feeds standard input, if anything
    std::vector<std::string> args;
    std::vector<std::string> err_lines;
};

void PrintTo(const EndlessCase& c, std::ostream* os) { *os << c.label; }

const std::string kUnloadable = "fwpack Unable to create image from this file [";

std::vector<EndlessCase> EndlessCases() {
    return {
        {"dfu_converted",
         "",
         {"zero.dfu", "out"},
         {"fwpack: zero.dfu: memory ran out while reading it", kUnloadable + "zero.dfu] !"}},
        {"dfu_listed", "", {"--info", "zero.dfu"}, {"fwpack: zero.dfu: memory ran out while reading it"}},
        // One byte at address 0, again and again: each record a new element.
        {"hex_records",
         "yes :0100000000FF | ",
         {"stdin.hex"},
         {"fwpack: stdin.hex: memory ran out while reading it", kUnloadable + "stdin.hex] !"}},
        {"binary_past_the_top",
         "",
         {"-b", "0xFF000000", "zero.bin"},
         {"fwpack: zero.bin: its bytes from 0xFF000000 run past address 0xFFFFFFFF after the first 16777216",
          kUnloadable + "zero.bin] !"}},
    };
}

class FwpackEndlessInput : public ::testing::TestWithParam<EndlessCase> {};

TEST_P(FwpackEndlessInput, EndsWithALineUnderAMemoryLimit) {
    if (testutil::TargetIsWindows()) GTEST_SKIP() << "memory limits of POSIX shells";
    if (kAddressSanitizer) GTEST_SKIP() << "the address sanitizer needs more address space than the limit";
    const EndlessCase& c = GetParam();
    TempDir dir;
    fs::create_symlink("/dev/zero", dir.path() / "zero.dfu");
    fs::create_symlink("/dev/zero", dir.path() / "zero.bin");
    fs::create_symlink("/dev/stdin", dir.path() / "stdin.hex");
    const RunResult run =
        testutil::Run("(ulimit -v 262144; " + c.pipe + fwpack_e2e::FwpackCommand(c.args) + ")", dir.path().string());
    EXPECT_EQ(run.status, kTarget.error_status);
    std::string expected;
    for (const auto& line : c.err_lines) expected += Line(line);
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Tree(dir), (std::set<std::string>{"zero.dfu", "zero.bin", "stdin.hex"}));
}

INSTANTIATE_TEST_SUITE_P(Inputs, FwpackEndlessInput, ::testing::ValuesIn(EndlessCases()),
                         [](const auto& info) { return info.param.label; });

}  // namespace

// End-to-end tests of the converter where a wrong file or a silent failure
// threatens: inputs of 4 GiB that no element can hold, standard output that
// cannot be written, outputs reached through links or in a sticky folder,
// file size limits, and two runs that write one output at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dfu_layout.h"
#include "fwpack_run.h"

namespace {

namespace fs = std::filesystem;
using fwpack_e2e::FwpackCommand;
using fwpack_e2e::kTarget;
using fwpack_e2e::Line;
using fwpack_e2e::Tree;
using testutil::ReadFile;
using testutil::RunResult;
using testutil::TempDir;
using testutil::kAddressSanitizer;
using testutil::WriteFile;

// 4 bytes at 0x08000000, with the checksums worked out by hand, and the
// DfuSe file that holds them.
const char kFwHex[] = ":020000040800F2\n:0400000001020304F2\n:00000001FF\n";
const std::vector<uint8_t> kFwDfu = testutil::DfuLayout({{0, "ST...", {{0x08000000, {1, 2, 3, 4}}}}}, 0x0483, 0, 0);

using Segments = std::vector<std::pair<uint64_t, uint64_t>>;  // address, size

// A 64-bit little-endian ELF executable whose loadable segments lie one after
// another from offset 4096, made sparse: their bytes are never written.
bool WriteSparseElf(const std::string& path, const Segments& segments) {
    std::string head(4096, '\0');
    const auto put = [&](std::size_t at, uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) head[at + i] = static_cast<char>(value >> (8 * i));
    };
    // Magic number, 64-bit, little-endian, version; an executable; the program
    // headers (56 bytes each) right after this header of 64.
    put(0, 0x010102464C457F, 7);
    put(16, 2, 2);
    put(32, 64, 8);
    put(52, 64, 2);
    put(54, 56, 2);
    put(56, segments.size(), 2);
    uint64_t offset = head.size();
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const std::size_t entry = 64 + 56 * i;
        put(entry, 1, 4);  // loadable
        put(entry + 8, offset, 8);
        put(entry + 24, segments[i].first, 8);  // the physical address
        put(entry + 32, segments[i].second, 8);
        offset += segments[i].second;
    }
    WriteFile(path, head);
    std::error_code error;
    fs::resize_file(path, offset, error);
    return !error;
}

// ---------------------------------------------------------------------------
// 4 GiB of input: the address space holds them from address 0, an element's
// 32-bit size does not. Refused from the headers or the file's size, under a
// memory limit that reading them would break.

struct HugeCase {
    std::string label;
    std::string input;
    std::vector<std::string> options;  // before the input
    Segments segments;                 // of an ELF input; a raw binary holds 4 GiB
    std::string problem;
};

void PrintTo(const HugeCase& c, std::ostream* os) { *os << c.label; }

const uint64_t k4GiB = uint64_t{1} << 32;

class FwpackHugeInput : public ::testing::TestWithParam<HugeCase> {};

TEST_P(FwpackHugeInput, IsRefusedBeforeItIsRead) {
    const HugeCase& c = GetParam();
    TempDir dir;
    std::error_code error;
    if (c.segments.empty()) {
        WriteFile(dir / c.input, "");
        fs::resize_file(dir / c.input, k4GiB, error);
    }
    if (error || (!c.segments.empty() && !WriteSparseElf(dir / c.input, c.segments))) {
        GTEST_SKIP() << "no sparse file of 4 GiB here";
    }
    // Reading the input would take 4 GiB of memory: the limit shows it is not read.
    const bool limited = !testutil::TargetIsWindows() && !kAddressSanitizer;
    const std::string limit = limited ? "ulimit -v 262144; " : "";
    std::vector<std::string> convert = c.options;
    convert.insert(convert.end(), {c.input, "-o", "out.dfu"});
    const RunResult run = testutil::Run("(" + limit + FwpackCommand(convert) + ")", dir.path().string());
    EXPECT_EQ(run.status, kTarget.error_status);
    EXPECT_EQ(run.err, Line("fwpack: " + c.input + ": " + c.problem) +
                           Line("fwpack Unable to create image from this file [" + c.input + "] !"));
    EXPECT_EQ(Tree(dir), std::set<std::string>{c.input});

    std::vector<std::string> info = {"--info", c.input};
    info.insert(info.end(), c.options.begin(), c.options.end());
    const RunResult listed = testutil::Run("(" + limit + FwpackCommand(info) + ")", dir.path().string());
    EXPECT_EQ(listed.status, kTarget.error_status);
    EXPECT_EQ(listed.err.find(Line("fwpack: " + c.input + ": " + c.problem)), 0u) << listed.err;
    EXPECT_EQ(listed.out.find("0 bytes"), std::string::npos) << listed.out;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, FwpackHugeInput,
    ::testing::Values(
        HugeCase{"elf_segment",
                 "h.elf",
                 {},
                 {{0, k4GiB}},
                 "segment 0 of 4294967296 bytes is larger than an element can hold (at most 4294967295 bytes)"},
        HugeCase{"elf_segments_in_a_row",
                 "h.elf",
                 {},
                 {{0, k4GiB / 2}, {k4GiB / 2, k4GiB / 2}},
                 "segments 0 to 1 load 4294967296 bytes in a row, more than an element can hold (at most "
                 "4294967295 bytes)"},
        HugeCase{"bin_from_address_0",
                 "z.bin",
                 {"-b", "0"},
                 {},
                 "its 4294967296 bytes are more than an element can hold (at most 4294967295 bytes)"}),
    [](const auto& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// Standard output that takes no bytes: a full device, or closed.

struct StdoutCase {
    std::string label;
    std::vector<std::string> args;
};

void PrintTo(const StdoutCase& c, std::ostream* os) { *os << c.label; }

struct Sink {
    const char* label;
    const char* redirection;
    int error;  // what the system says
};

void PrintTo(const Sink& s, std::ostream* os) { *os << s.label; }

class FwpackStandardOutput : public ::testing::TestWithParam<std::tuple<StdoutCase, Sink>> {};

TEST_P(FwpackStandardOutput, FailureIsReported) {
    const auto& [c, sink] = GetParam();
    TempDir dir;
    WriteFile(dir / "fw.hex", kFwHex);
    // The redirection inside the braces wins over the capture's own.
    const RunResult run =
        testutil::Run("{ " + FwpackCommand(c.args) + " " + sink.redirection + "; }", dir.path().string());
    EXPECT_EQ(run.status, kTarget.error_status);
    const std::string prefix = "fwpack: cannot write to the standard output: ";
    if (testutil::TargetIsWindows()) {
        EXPECT_EQ(run.err.rfind(prefix, 0), 0u) << run.err;
    } else {
        EXPECT_EQ(run.err, Line(prefix + std::strerror(sink.error)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, FwpackStandardOutput,
    ::testing::Combine(::testing::Values(StdoutCase{"info", {"--info", "fw.hex"}},
                                         StdoutCase{"json", {"--info", "fw.hex", "--json"}},
                                         StdoutCase{"help", {"--help"}}, StdoutCase{"version", {"--version"}}),
                       ::testing::Values(Sink{"full", ">/dev/full", ENOSPC}, Sink{"closed", ">&-", EBADF})),
    [](const auto& info) { return std::get<0>(info.param).label + "_" + std::get<1>(info.param).label; });

// ---------------------------------------------------------------------------
// A file size limit stops the writing: the run fails with the output error,
// and no name shows a cut file. A DfuSe output was emptied when the run
// began, so it is removed; a text output leaves the old file everywhere.

struct LimitCase {
    std::string label;
    std::vector<std::string> args;
    std::string shown;                          // the output as the error names it
    std::function<void(const TempDir&)> setup;  // what stands there before
    std::set<std::string> tree;                 // afterwards
    std::vector<std::string> old_names;         // names that still hold "old\n"
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.label; }

std::vector<LimitCase> LimitCases() {
    const auto old = [](const TempDir& dir) { WriteFile(dir / "out.dfu", "old\n"); };
    const auto link = [](const TempDir& dir) {
        fs::create_directory(dir.path() / "d");
        WriteFile(dir / "d/target.hex", "old\n");
        fs::create_symlink("d/target.hex", dir.path() / "out.hex");
    };
    const auto names = [](const TempDir& dir) {
        WriteFile(dir / "out.hex", "old\n");
        fs::create_hard_link(dir / "out.hex", dir / "other.hex");
    };
    return {
        {"dfu_over_an_older_file", {"-b", "0", "big.bin", "-o", "out.dfu"}, "out.dfu", old, {"big.bin"}, {}},
        {"hex_through_a_link",
         {"-f", "hex", "-b", "0", "big.bin", "-o", "out.hex"},
         "out.hex",
         link,
         {"big.bin", "d", "d/target.hex", "out.hex"},
         {"out.hex", "d/target.hex"}},
        {"hex_of_two_names",
         {"-f", "hex", "-b", "0", "big.bin", "-o", "out.hex"},
         "out.hex",
         names,
         {"big.bin", "out.hex", "other.hex"},
         {"out.hex", "other.hex"}},
    };
}

class FwpackFileSizeLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(FwpackFileSizeLimit, FailsWithTheOutputErrorAndLeavesNoCutFile) {
    if (testutil::TargetIsWindows()) GTEST_SKIP() << "file size limits are POSIX ones";
    const LimitCase& c = GetParam();
    TempDir dir;
    WriteFile(dir / "big.bin", std::string(256 * 1024, 'x'));
    c.setup(dir);
    // The limit (in blocks of 512 or 1024 bytes) stops the writing in its first 64 KiB.
    const RunResult run = testutil::Run("(ulimit -f 64; exec " + FwpackCommand(c.args) + ")", dir.path().string());
    EXPECT_EQ(run.status, kTarget.error_status);
    EXPECT_EQ(run.err, "fwpack output file error [" + c.shown + "] !\n");
    EXPECT_EQ(Tree(dir), c.tree);
    for (const auto& name : c.old_names) EXPECT_EQ(ReadFile(dir / name), "old\n") << name;
    if (c.label == "hex_through_a_link") {
        EXPECT_TRUE(fs::is_symlink(dir.path() / "out.hex"));
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, FwpackFileSizeLimit, ::testing::ValuesIn(LimitCases()),
                         [](const auto& info) { return info.param.label; });

// ---------------------------------------------------------------------------
// A sticky folder, where another user's file may be written but not replaced.

// The command that runs `command` as the unprivileged user `nobody`; empty
// when this cannot be done here.
std::string AsAnotherUser(const std::string& command) {
    if (geteuid() != 0) return "";
    if (testutil::HaveTool("setpriv")) {
        return "setpriv --reuid=65534 --regid=65534 --clear-groups -- /bin/sh -c " + testutil::ShellQuote(command);
    }
    if (testutil::HaveTool("runuser")) return "runuser -u nobody -- /bin/sh -c " + testutil::ShellQuote(command);
    return "";
}

TEST(FwpackStickyFolder, AnotherUsersWritableFileIsWrittenInPlace) {
    if (testutil::TargetIsWindows()) GTEST_SKIP() << "sticky folders are POSIX ones";
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directory(dir.path() / "shared");
    fs::permissions(dir.path() / "shared", fs::perms::all | fs::perms::sticky_bit);
    WriteFile(dir / "fw.hex", kFwHex);
    fs::permissions(dir / "fw.hex",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    // This user's files, writable by all.
    const auto writable = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                          fs::perms::group_write | fs::perms::others_read | fs::perms::others_write;
    WriteFile(dir / "shared/out.hex", "old\n");
    fs::permissions(dir / "shared/out.hex", writable);
    const std::string command = AsAnotherUser(FwpackCommand({"-f", "hex", "fw.hex", "-o", "shared/out.hex"}));
    if (command.empty()) GTEST_SKIP() << "needs root and setpriv or runuser to run as another user";
    const RunResult run = testutil::Run(command, dir.path().string());
    if (run.status == 126 || run.status == 127) GTEST_SKIP() << "the other user cannot run the program: " << run.err;
    EXPECT_EQ(run.err, "fwpack success for [fw.hex] !\n");
    EXPECT_EQ(ReadFile(dir / "shared/out.hex"), kFwHex);
    // Still this user's file, and nothing left beside it.
    EXPECT_EQ(fs::status(dir / "shared/out.hex").permissions(), writable);
    EXPECT_EQ(Tree(dir), (std::set<std::string>{"fw.hex", "shared", "shared/out.hex"}));
}

// ---------------------------------------------------------------------------
// Two runs that write one output: the second waits for the first's lock.

TEST(FwpackOutputLock, AConversionWaitsForTheLockOnItsOutput) {
    for (const std::string format : {"dfu", "hex"}) {
        SCOPED_TRACE(format);
        TempDir dir;
        WriteFile(dir / "fw.hex", kFwHex);
        const std::string out = dir / ("out." + format);
        WriteFile(out, "held\n");
        const int fd = open(out.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        // Wine takes the locks of Windows programs as POSIX record locks.
        ASSERT_EQ(testutil::TargetIsWindows() ? lockf(fd, F_LOCK, 0) : flock(fd, LOCK_EX), 0);
        // In the background, its status written once it ends.
        const std::string command = "(" + FwpackCommand({"-f", format, "fw.hex", "-o", "out." + format}) +
                                    " 2>err; echo $? >status) </dev/null >/dev/null &";
        ASSERT_EQ(std::system(("cd " + testutil::ShellQuote(dir.path().string()) + " && " + command).c_str()), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_FALSE(testutil::FileExists(dir / "status")) << "it did not wait for the lock";
        EXPECT_EQ(ReadFile(out), "held\n");
        close(fd);
        for (int i = 0; i < 600 && ReadFile(dir / "status").empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_EQ(ReadFile(dir / "status"), "0\n") << ReadFile(dir / "err");
        std::string text;
        for (const char c : std::string(kFwHex)) text += c == '\n' ? kTarget.line_end : std::string(1, c);
        EXPECT_EQ(ReadFile(out), format == "hex" ? text : std::string(kFwDfu.begin(), kFwDfu.end()));
    }
}

}  // namespace

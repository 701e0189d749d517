// End-to-end tests of the launcher: each test copies the built launcher into a
// fresh directory beside a stand-in companion that records what it was given,
// runs it with a controlled environment and checks its output, the file it
// wrote, what the companion saw and the exit status. With TARGET_PLATFORM=windows
// they drive the Windows build under wine, beside a stand-in built for Windows.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "process_util.h"
#include "target_platform.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using testutil::ReadFile;
using testutil::RunResult;
using testutil::ShellQuote;
using testutil::TempDir;

// What the launcher's platform decides; TARGET_PLATFORM switches these (see
// target_platform.h).
struct TargetPlatform {
    const char* launcher_name;
    const char* line_end;  // in env_vars.txt and on standard output
    char separator;        // between the directory and env_vars.txt
    int failure_status;    // how the launcher's -1 arrives here
    bool windows;
};
constexpr TargetPlatform kPosix = {"envlaunch", "\n", '/', 255, false};
// The launcher's -1 is the Windows status 0xFFFFFFFF, of which wine passes
// on the low byte.
constexpr TargetPlatform kWindows = {"envlaunch.exe", "\r\n", '\\', 255, true};
const TargetPlatform& kTarget = testutil::TargetIsWindows() ? kWindows : kPosix;

// A companion status that stands for a companion that did not end on its
// own: killed by a signal on POSIX systems; on Windows ended with the status
// of an access violation, as a crashed program is.
constexpr int kKilledBySignal = -1;
constexpr const char* kCrashStatusWindows = "0xC0000005";

// A path of this machine as the launcher under test shows it.
std::string Shown(const std::string& path) { return kTarget.windows ? testutil::WinePath(path) : path; }

// Characters that a Windows file name cannot hold.
bool NameFitsWindows(const std::string& name) { return name.find_first_of("\"\\\n*?<>|:") == std::string::npos; }

// The companion records into its own directory of the test, never beside
// itself, so that a read-only launcher directory does not stop it recording.
std::string CompanionScript(const std::string& record_dir, const std::string& launcher_dir, int status) {
    const std::string rec = ShellQuote(record_dir);
    std::string script = "#!/bin/sh\n";
    script += "pwd -P > " + rec + "/cwd\n";
    script += "echo $# > " + rec + "/argc\n";
    script += "printf '%s' \"${QX_INI_PATH-unset}\" > " + rec + "/inherited\n";
    script += "f=" + ShellQuote(launcher_dir + "/env_vars.txt") + "\n";
    script += "if [ -f \"$f\" ]; then cat \"$f\" > " + rec + "/env_vars; fi\n";
    // The signals it was started with ignored, as a mask (Linux).
    script += "sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status > " + rec + "/ignored 2>/dev/null\n";
    if (status == kKilledBySignal) script += "kill -9 $$\n";
    script += "exit " + std::to_string(status < 0 ? 0 : status) + "\n";
    return script;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + kTarget.line_end;
    return text;
}

using Environment = std::vector<std::pair<std::string, std::string>>;

const Environment kAllFour = {
    {"VELDRIN_HOME", "/opt/veldrin"},
    {"QXPL_HOME", "/opt/qx pl"},
    {"TOOLCHAIN_DIR", "/usr/tool=chain"},
    {"QX_INI_PATH", "C:\\qx\\qx.ini"},
};

Environment Without(const Environment& env, const std::set<std::string>& names) {
    Environment out;
    for (const auto& entry : env)
        if (names.count(entry.first) == 0) out.push_back(entry);
    return out;
}

class Launcher : public ::testing::Test {
protected:
    // Places the launcher in a directory named `dir_name` and a companion that
    // ends with `companion_status` (kKilledBySignal: it kills itself).
    void Prepare(const std::string& dir_name = "tools", std::optional<int> companion_status = 0) {
        const char* exe = std::getenv("ENVLAUNCH_EXE");
        ASSERT_NE(exe, nullptr) << "ENVLAUNCH_EXE is not set";
        const char* standin = std::getenv("FAKE_COMPANION_EXE");
        if (kTarget.windows) {
            ASSERT_NE(standin, nullptr) << "FAKE_COMPANION_EXE is not set";
        }
        fs::create_directory(root_.path() / "rec");
        fs::create_directory(root_.path() / "run");
        // The launcher reports its directory as the system resolves it.
        dir_ = fs::canonical(root_.path()).string() + "/" + dir_name;
        ASSERT_TRUE(fs::create_directories(dir_));
        record_ = root_ / "rec";
        launcher_ = dir_ + "/" + kTarget.launcher_name;
        fs::copy_file(exe, launcher_);
        fs::permissions(launcher_, fs::perms::owner_all);
        if (companion_status) {
            std::string companion = dir_ + "/qxini_core.exe";
            if (kTarget.windows) {
                // It learns where to record and how to end from the environment.
                fs::copy_file(standin, companion);
                companion_status_ =
                    *companion_status == kKilledBySignal ? kCrashStatusWindows : std::to_string(*companion_status);
            } else {
                testutil::WriteFile(companion, CompanionScript(record_, dir_, *companion_status));
            }
            fs::permissions(companion, fs::perms::owner_all);
        }
    }

    void TearDown() override {
        std::error_code ec;
        if (!dir_.empty()) fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    }

    RunResult Launch(const Environment& env, const std::string& args = "") {
        std::string command = "env -i PATH=/usr/bin:/bin";
        std::string emulator;
        if (kTarget.windows) {
            // What wine itself needs, and the stand-in's instructions. Wine
            // reads the build machine's file names as UTF-8 only in a UTF-8 locale.
            for (const char* name : {"HOME", "WINEPREFIX", "WINEDEBUG", "WINESERVER", "WINELOADER"}) {
                if (const char* value = std::getenv(name)) {
                    command += " " + ShellQuote(std::string(name) + "=" + value);
                }
            }
            command += " LANG=C.UTF-8";
            command += " " + ShellQuote("STANDIN_RECORD_DIR=" + testutil::WinePath(record_));
            command += " " + ShellQuote("STANDIN_STATUS=" + companion_status_);
            const char* wine = std::getenv("WINE");
            emulator = ShellQuote(wine != nullptr && *wine != '\0' ? wine : "wine") + " ";
        }
        for (const auto& [name, value] : env) command += " " + ShellQuote(name + "=" + value);
        // Through a shell, since env would take a path with "=" for one more variable.
        command += " /bin/sh -c '" + before_exec_ + "exec \"$0\" \"$@\"' " + emulator + ShellQuote(launcher_) + args;
        return testutil::Run(command, root_ / "run");
    }

    std::string PathLine() const { return Shown(dir_) + kTarget.separator + "env_vars.txt" + kTarget.line_end; }
    std::string Recorded(const std::string& name) const { return ReadFile(record_ + "/" + name); }
    bool CompanionRan() const { return testutil::FileExists(record_ + "/cwd"); }
    std::string WrittenFile() const { return ReadFile(dir_ + "/env_vars.txt"); }

    // With env_vars.txt out of reach: the path line, the complaint, and the
    // companion started all the same.
    void ExpectCompanionStartedWithoutTheFile() {
        RunResult result = Launch(kAllFour);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, PathLine() + "cannot open env_vars.txt" + kTarget.line_end);
        EXPECT_EQ(Recorded("cwd"), Shown(dir_) + "\n");
    }

    std::set<std::string> Listing(const std::string& dir) const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
        return names;
    }

    TempDir root_;
    std::string dir_;
    std::string record_;
    std::string launcher_;
    std::string companion_status_ = "0";  // for the Windows stand-in
    // Shell commands run just before the launcher starts (no single quotes).
    std::string before_exec_;
};

// --- the two forms of env_vars.txt -----------------------------------------

struct FileCase {
    const char* name;
    Environment env;
    std::vector<std::string> lines;
};

class LauncherFile : public Launcher, public ::testing::WithParamInterface<FileCase> {};

TEST_P(LauncherFile, WritesTheFileBeforeStartingTheCompanion) {
    Prepare();
    RunResult result = Launch(GetParam().env);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, PathLine());
    EXPECT_EQ(result.err, "");
    const std::string expected = Lines(GetParam().lines);
    EXPECT_EQ(WrittenFile(), expected);
    // The companion found the file complete when it started.
    EXPECT_EQ(Recorded("env_vars"), expected);
    EXPECT_EQ(Recorded("cwd"), Shown(dir_) + "\n");
    EXPECT_EQ(Recorded("argc"), "0\n");
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LauncherFile,
    ::testing::Values(
        FileCase{"AllFourBareInOrder", kAllFour, {"/opt/veldrin", "/opt/qx pl", "/usr/tool=chain", "C:\\qx\\qx.ini"}},
        FileCase{"FirstAbsentUnderItsOtherLabel",
                 Without(kAllFour, {"VELDRIN_HOME"}),
                 {"ERROR", "QX_HOME=(null)", "QXPL_HOME=/opt/qx pl", "TOOLCHAIN_DIR=/usr/tool=chain",
                  "QX_INI_PATH=C:\\qx\\qx.ini"}},
        FileCase{"SecondAbsent",
                 Without(kAllFour, {"QXPL_HOME"}),
                 {"ERROR", "QX_HOME=/opt/veldrin", "QXPL_HOME=(null)", "TOOLCHAIN_DIR=/usr/tool=chain",
                  "QX_INI_PATH=C:\\qx\\qx.ini"}},
        FileCase{"ThirdAbsent",
                 Without(kAllFour, {"TOOLCHAIN_DIR"}),
                 {"ERROR", "QX_HOME=/opt/veldrin", "QXPL_HOME=/opt/qx pl", "TOOLCHAIN_DIR=(null)",
                  "QX_INI_PATH=C:\\qx\\qx.ini"}},
        FileCase{"FourthAbsent",
                 Without(kAllFour, {"QX_INI_PATH"}),
                 {"ERROR", "QX_HOME=/opt/veldrin", "QXPL_HOME=/opt/qx pl", "TOOLCHAIN_DIR=/usr/tool=chain",
                  "QX_INI_PATH=(null)"}},
        FileCase{"AllAbsent",
                 {},
                 {"ERROR", "QX_HOME=(null)", "QXPL_HOME=(null)", "TOOLCHAIN_DIR=(null)", "QX_INI_PATH=(null)"}},
        FileCase{"EmptyValuesArePresent",
                 {{"VELDRIN_HOME", ""}, {"QXPL_HOME", ""}, {"TOOLCHAIN_DIR", ""}, {"QX_INI_PATH", ""}},
                 {"", "", "", ""}},
        FileCase{"EmptyBesideAbsent",
                 {{"QXPL_HOME", ""}, {"QX_INI_PATH", "x"}},
                 {"ERROR", "QX_HOME=(null)", "QXPL_HOME=", "TOOLCHAIN_DIR=(null)", "QX_INI_PATH=x"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- exit status -------------------------------------------------------------

struct StatusCase {
    const char* name;
    int companion_status;
    bool launcher_fails;
    bool windows_only = false;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class LauncherStatus : public Launcher, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(LauncherStatus, IsZeroOnlyWhenTheCompanionEndsWithZero) {
    if (GetParam().windows_only && !kTarget.windows) {
        GTEST_SKIP() << "exit statuses are 8 bits wide on this platform";
    }
    Prepare("tools", GetParam().companion_status);
    RunResult result = Launch(kAllFour);
    EXPECT_EQ(result.status, GetParam().launcher_fails ? kTarget.failure_status : 0);
    EXPECT_EQ(result.out, PathLine());
    EXPECT_TRUE(CompanionRan());
}

// A status of 256 has a low byte of zero: only the whole status tells it
// from success.
INSTANTIATE_TEST_SUITE_P(Companion, LauncherStatus,
                         ::testing::Values(StatusCase{"EndsWithZero", 0, false}, StatusCase{"EndsWithThree", 3, true},
                                           StatusCase{"EndsWithOne", 1, true}, StatusCase{"EndsWith255", 255, true},
                                           StatusCase{"EndsWith256", 256, true, true},
                                           StatusCase{"IsKilled", kKilledBySignal, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Launcher, FailsWhenTheCompanionIsMissingButStillWritesTheFile) {
    Prepare("tools", std::nullopt);
    RunResult result = Launch(kAllFour);
    EXPECT_EQ(result.status, kTarget.failure_status);
    EXPECT_EQ(result.out, PathLine());
    EXPECT_EQ(WrittenFile(), Lines({"/opt/veldrin", "/opt/qx pl", "/usr/tool=chain", "C:\\qx\\qx.ini"}));
}

// --- directory names ---------------------------------------------------------

class LauncherDirectory : public Launcher, public ::testing::WithParamInterface<const char*> {};

TEST_P(LauncherDirectory, StartsOnlyTheCompanionWhateverTheDirectoryIsCalled) {
    if (kTarget.windows && !NameFitsWindows(GetParam())) {
        GTEST_SKIP() << "a Windows file name cannot hold this name's characters";
    }
    Prepare(GetParam());
    RunResult result = Launch(kAllFour);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, PathLine());
    EXPECT_EQ(Recorded("cwd"), Shown(dir_) + "\n");
    EXPECT_EQ(Recorded("inherited"), "C:\\qx\\qx.ini");
    EXPECT_EQ(Recorded("env_vars"), Lines({"/opt/veldrin", "/opt/qx pl", "/usr/tool=chain", "C:\\qx\\qx.ini"}));
    // A name taken as command text would have created files here or beside the
    // launcher.
    EXPECT_EQ(Listing(dir_), (std::set<std::string>{kTarget.launcher_name, "qxini_core.exe", "env_vars.txt"}));
    EXPECT_TRUE(Listing(root_ / "run").empty());
    EXPECT_EQ(Listing(root_.path().string()), (std::set<std::string>{"rec", "run", GetParam()}));
}

// The first names carry what /bin/sh acts on, then what cmd.exe acts on:
// parentheses, &, ^, @, ! and the separators ; , =. The last ones hold
// letters of several scripts and a character outside the Basic Multilingual
// Plane, which no ANSI code page holds all of.
INSTANTIATE_TEST_SUITE_P(Names, LauncherDirectory,
                         ::testing::Values("dir with  spaces", "a $(touch pwned) b", "a `touch pwned` b",
                                           "a;touch pwned", "q\"uote\" & (x)", "back\\\\slash\\", "$HOME",
                                           "it's \\\"$(touch pwned)\\\"", "new\nline", "Program Files (x86)",
                                           "x & copy nul pwned & (y)", "@echo off ^& caret ^^", "a!b!c; d, e=f",
                                           "目录 é", "папка", "Ελληνικά (x86)", "Crème brûlée", "😀 fw"),
                         [](const auto& info) { return "Name" + std::to_string(info.index); });

// --- other conditions ----------------------------------------------------------

TEST_F(Launcher, StillStartsTheCompanionWhenTheFileCannotBeOpened) {
    Prepare();
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    {
        // Privileged users write into read-only directories all the same.
        std::FILE* probe = std::fopen((dir_ + "/probe").c_str(), "w");
        if (probe != nullptr) {
            std::fclose(probe);
            GTEST_SKIP() << "the directory stays writable for this user";
        }
    }
    ExpectCompanionStartedWithoutTheFile();
    EXPECT_FALSE(testutil::FileExists(dir_ + "/env_vars.txt"));
}

TEST_F(Launcher, StillStartsTheCompanionWhenTheFileNameIsTakenByADirectory) {
    // A directory in the file's place cannot be opened for writing by anyone,
    // privileged users included.
    Prepare();
    fs::create_directory(dir_ + "/env_vars.txt");
    ExpectCompanionStartedWithoutTheFile();
    EXPECT_TRUE(fs::is_directory(dir_ + "/env_vars.txt"));
}

// A file that cannot be written in full is reported and taken away, so that
// the companion, started all the same, never reads a cut file.
struct WriteFailureCase {
    const char* name;
    bool (*provoke)(const std::string& dir, std::string& before_exec);
    bool file_remains;  // what stands in the file's place is not ours to remove
};

const WriteFailureCase kWriteFailures[] = {
    {"FileSizeLimit",
     [](const std::string&, std::string& before_exec) {
         // One block of 512 bytes, and the limit's signal ignored, so that
         // the write fails rather than ending the process.
         before_exec = "trap \"\" XFSZ; ulimit -f 1; ";
         return true;
     },
     false},
    {"LinkToAFullDevice",
     [](const std::string& dir, std::string&) {
         // Wine lets writes to this device pass as if they had succeeded.
         if (kTarget.windows || !fs::exists("/dev/full")) return false;
         fs::create_symlink("/dev/full", dir + "/env_vars.txt");
         return true;
     },
     true},
};

void PrintTo(const WriteFailureCase& c, std::ostream* os) { *os << c.name; }

class LauncherWriteFailure : public Launcher, public ::testing::WithParamInterface<WriteFailureCase> {};

TEST_P(LauncherWriteFailure, ReportsTheFileAndStartsTheCompanionWithoutIt) {
    Prepare();
    if (!GetParam().provoke(dir_, before_exec_)) GTEST_SKIP() << "this platform cannot provoke it";
    // Values long enough that the file cannot fit in the limit.
    Environment env;
    for (const auto& [name, value] : kAllFour) env.emplace_back(name, value + std::string(1000, 'v'));
    RunResult result = Launch(env);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, PathLine() + "cannot write env_vars.txt" + kTarget.line_end);
    EXPECT_TRUE(CompanionRan());
    EXPECT_EQ(Recorded("env_vars"), "") << "the companion found a cut file";
    EXPECT_EQ(testutil::FileExists(dir_ + "/env_vars.txt"), GetParam().file_remains);
}

INSTANTIATE_TEST_SUITE_P(Failures, LauncherWriteFailure, ::testing::ValuesIn(kWriteFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// Under a file size limit whose signal nobody ignores, the launcher is not
// ended by it: the cut file is reported and removed, and the companion
// starts with the signal's usual action, not an ignored one.
TEST_F(Launcher, OutlivesTheFileSizeLimitAndGivesItsSignalBack) {
    if (kTarget.windows) GTEST_SKIP() << "file size limits and their signal are POSIX ones";
    Prepare();
    before_exec_ = "ulimit -f 1; ";
    // Together more than the limit's 512 bytes, each less, for what the companion records.
    Environment env;
    for (const auto& [name, value] : kAllFour) env.emplace_back(name, value + std::string(200, 'v'));
    RunResult result = Launch(env);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, PathLine() + "cannot write env_vars.txt" + kTarget.line_end);
    EXPECT_FALSE(testutil::FileExists(dir_ + "/env_vars.txt"));
    ASSERT_TRUE(CompanionRan());
    const std::string ignored = Recorded("ignored");
    if (ignored.empty()) GTEST_SKIP() << "no mask of ignored signals here";
    // Signal n is bit n - 1 of the mask.
    const unsigned long long mask = std::stoull(ignored, nullptr, 16);
    EXPECT_EQ(mask & (1ull << (SIGXFSZ - 1)), 0u) << "the companion started with the file size signal ignored";
}

TEST_F(Launcher, IgnoresItsArgumentsAndPassesNoneOn) {
    Prepare();
    RunResult result = Launch(Without(kAllFour, {"QXPL_HOME"}), " one 'two words' --help");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, PathLine());
    EXPECT_EQ(Recorded("argc"), "0\n");
    EXPECT_EQ(WrittenFile(), Lines({"ERROR", "QX_HOME=/opt/veldrin", "QXPL_HOME=(null)",
                                    "TOOLCHAIN_DIR=/usr/tool=chain", "QX_INI_PATH=C:\\qx\\qx.ini"}));
}

TEST_F(Launcher, FindsItsDirectoryWhateverTheLengthOfItsPath) {
    // Over 260 characters, the last name in Cyrillic (within 255 bytes of UTF-8).
    std::string name;
    for (int i = 0; i < 20; ++i) name += "папка-";
    Prepare(std::string(200, 'd') + "/" + name);
    RunResult result = Launch(kAllFour);
    EXPECT_EQ(result.out, PathLine());
    EXPECT_EQ(WrittenFile(), Lines({"/opt/veldrin", "/opt/qx pl", "/usr/tool=chain", "C:\\qx\\qx.ini"}));
    if (kTarget.windows && !CompanionRan()) {
        // cmd.exe starts no program whose path is longer than 259 characters;
        // the launcher reports that as any other failure to start.
        EXPECT_EQ(result.status, kTarget.failure_status);
        return;
    }
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(Recorded("cwd"), Shown(dir_) + "\n");
}

TEST_F(Launcher, ReplacesAnOlderFile) {
    Prepare();
    testutil::WriteFile(dir_ + "/env_vars.txt", std::string(200, 'x'));
    RunResult result =
        Launch({{"VELDRIN_HOME", "a"}, {"QXPL_HOME", "b"}, {"TOOLCHAIN_DIR", "c"}, {"QX_INI_PATH", "d"}});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(WrittenFile(), Lines({"a", "b", "c", "d"}));
}

}  // namespace

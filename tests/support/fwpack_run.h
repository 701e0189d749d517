// Running the converter from the end-to-end tests, and what depends on the
// platform it was built for; TARGET_PLATFORM switches these (see
// target_platform.h).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "process_util.h"
#include "target_platform.h"
#include "test_util.h"

namespace fwpack_e2e {

struct TargetPlatform {
    int success_status;
    int error_status;
    const char* line_end;  // of the lines on standard output and standard error
    // Whether "\" is an ordinary character in a file name there, so that a
    // name such as C:\build.1\fw.dfu is one file in the current directory;
    // else it separates directories as "/" does.
    bool backslash_is_ordinary;
};
constexpr TargetPlatform kPosix = {0, 1, "\n", true};
// Standard error is a text stream there, so its lines end in CR LF.
constexpr TargetPlatform kWindows = {0, 1, "\r\n", false};
inline const TargetPlatform& kTarget = testutil::TargetIsWindows() ? kWindows : kPosix;

inline std::string Line(const std::string& text) { return text + kTarget.line_end; }

// The shell command that runs the converter with `args`. The program may be
// several words (an emulator and the program), so it is passed on as it is.
inline std::string FwpackCommand(const std::vector<std::string>& args) {
    const char* command = std::getenv("FWPACK_CMD");
    if (command == nullptr || *command == '\0') {
        ADD_FAILURE() << "FWPACK_CMD does not name the program to test";
        return "false";
    }
    std::string line = command;
    for (const auto& arg : args) line += " " + testutil::ShellQuote(arg);
    return line;
}

// Runs the converter in `dir` with `args`.
inline testutil::RunResult Fwpack(const testutil::TempDir& dir, const std::vector<std::string>& args) {
    return testutil::Run(FwpackCommand(args), dir.path().string());
}

// Every entry below `dir` (files, directories, links), relative and normalised.
inline std::set<std::string> Tree(const testutil::TempDir& dir) {
    namespace fs = std::filesystem;
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        entries.insert(entry.path().lexically_relative(dir.path()).generic_string());
    }
    return entries;
}

}  // namespace fwpack_e2e

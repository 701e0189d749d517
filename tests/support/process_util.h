// Running a program from the end-to-end tests: through /bin/sh, with its
// exit status and output captured. POSIX only; the tests that use it run on
// the build machine and may drive programs of any platform.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "test_util.h"

namespace testutil {

// Quotes a word for /bin/sh.
inline std::string ShellQuote(const std::string& word) {
    std::string out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

struct RunResult {
    int status = -1;  // the exit status, or -1 when the command did not exit
    std::string out;
    std::string err;
};

// Runs `command` through /bin/sh in `dir` with no standard input and returns
// its exit status and everything it wrote.
inline RunResult Run(const std::string& command, const std::string& dir = ".") {
    TempDir capture;
    std::string out = capture / "stdout";
    std::string err = capture / "stderr";
    std::string line =
        "cd " + ShellQuote(dir) + " && " + command + " </dev/null >" + ShellQuote(out) + " 2>" + ShellQuote(err);
    int raw = std::system(line.c_str());
    RunResult result;
    if (raw != -1 && WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

// Whether a program can be found on the PATH.
inline bool HaveTool(const std::string& name) {
    std::string line = "command -v " + ShellQuote(name) + " >/dev/null 2>&1";
    return std::system(line.c_str()) == 0;
}

}  // namespace testutil

// The launcher's platform layer for POSIX systems: the own path from
// /proc/self/exe, the companion run through /bin/sh, and text files written
// through the C library.
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform.h"

namespace envlaunch {

PathChar PathSeparator() { return '/'; }

Path OwnExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return {};
        // readlink cuts silently; a full buffer may be a cut path, so grow and ask again.
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

Path CompanionCommandLine(const Path& dir) {
    // Inside double quotes the shell still acts on these four; escaped, a
    // directory name can never run a command of its own.
    std::string line = "\"";
    for (char c : dir + "/qxini_core.exe") {
        if (c == '$' || c == '`' || c == '"' || c == '\\') line += '\\';
        line += c;
    }
    return line + "\"";
}

bool RunCommandLine(const Path& line) {
    int status = std::system(line.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {

WriteOutcome WriteThroughStream(const Path& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return WriteOutcome::kCannotOpen;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    // The close flushes the last bytes, so its failure counts as much as the write's.
    const bool closed = std::fclose(file) == 0;
    return written && closed ? WriteOutcome::kWritten : WriteOutcome::kCannotWrite;
}

}  // namespace

WriteOutcome WriteTextFile(const Path& path, const std::string& text) {
    // A write past the file size limit fails rather than ending the launcher
    // by its signal, so that the cut file is reported and the companion still
    // starts. The signal's former action comes back before the companion
    // starts, which would otherwise inherit it ignored.
    struct sigaction ignore {};
    struct sigaction former {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    const bool changed = sigaction(SIGXFSZ, &ignore, &former) == 0;
    const WriteOutcome outcome = WriteThroughStream(path, text);
    if (changed) sigaction(SIGXFSZ, &former, nullptr);
    return outcome;
}

bool ChangeDirectory(const Path& dir) {
    // A launcher in the root directory has an empty directory name.
    return chdir(dir.empty() ? "/" : dir.c_str()) == 0;
}

// Paths are bytes here, printed as they are.
void PrintPathLine(const Path& path) {
    std::fwrite(path.data(), 1, path.size(), stdout);
    std::fputc('\n', stdout);
}

}  // namespace envlaunch

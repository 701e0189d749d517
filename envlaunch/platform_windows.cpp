// The launcher's platform layer for Windows: the own path from the module
// file name and the companion run through cmd.exe.
#include <windows.h>

#include <cstdlib>

#include "platform.h"

namespace envlaunch {

namespace {
// Far above the longest path Windows knows (32767 characters); only a bound
// that ends the loop should the system misbehave.
constexpr std::size_t kLargestPathBuffer = 1u << 20;
}  // namespace

char PathSeparator() { return '\\'; }

std::string OwnExecutablePath() {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        // A cut name fills the whole buffer, so only a shorter one is complete.
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() >= kLargestPathBuffer) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string CompanionCommandLine(const std::string& dir) {
    return "\"" + dir + "\\qxini_core.exe\"";
}

bool RunCommandLine(const std::string& line) {
    // cmd.exe /c strips the first and the last quote of a line that starts
    // with one; the extra pair keeps the line's own quotes, so a directory
    // with parentheses, &, ^ or @ still names the companion.
    std::string wrapped = "\"" + line + "\"";
    return std::system(wrapped.c_str()) == 0;
}

bool ChangeDirectory(const std::string& dir) {
    // "C:" alone would mean the drive's current directory, not its root.
    std::string target = dir;
    if (!target.empty() && target.back() == ':') target += '\\';
    return SetCurrentDirectoryA(target.c_str()) != 0;
}

}  // namespace envlaunch

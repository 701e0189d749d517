// The launcher's platform layer for Windows: the own path from the module
// file name, the companion run through cmd.exe, and text files written
// through the system's file handles.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform.h"

namespace envlaunch {

namespace {
// Far above the longest path Windows knows (32767 characters); only a bound
// that ends the loop should the system misbehave.
constexpr std::size_t kLargestPathBuffer = 1u << 20;
// `path` in the system's wide form. A long absolute path gets the prefix that
// lifts the classic limit of 260 characters; the launcher's paths are built
// from its own full path, so they need none of the normalising it turns off.
std::wstring WidePath(const std::string& path) {
    const int length = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
    if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
    if (wide.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + wide.substr(2);
    if (wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\') return L"\\\\?\\" + wide;
    return wide;
}

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

std::string CompanionCommandLine(const std::string& dir) { return "\"" + dir + "\\qxini_core.exe\""; }

bool RunCommandLine(const std::string& line) {
    // cmd.exe /c strips the first and the last quote of a line that starts
    // with one; the extra pair keeps the line's own quotes, so a directory
    // with parentheses, &, ^ or @ still names the companion.
    std::string wrapped = "\"" + line + "\"";
    return std::system(wrapped.c_str()) == 0;
}

WriteOutcome WriteTextFile(const std::string& path, const std::string& text) {
    // Created or truncated as fopen(path, "w") does, with the same sharing.
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return WriteOutcome::kCannotOpen;
    // Written through the system rather than the C library's text mode, whose
    // stream has been seen to report a short write as complete.
    std::string lines;
    lines.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (c == '\n') lines += '\r';
        lines += c;
    }
    bool written = true;
    for (std::size_t done = 0; written && done < lines.size();) {
        DWORD count = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(lines.size() - done, 1u << 20));
        written = WriteFile(file, lines.data() + done, chunk, &count, nullptr) != 0 && count != 0;
        done += count;
    }
    const bool closed = CloseHandle(file) != 0;
    return written && closed ? WriteOutcome::kWritten : WriteOutcome::kCannotWrite;
}

bool ChangeDirectory(const std::string& dir) {
    // "C:" alone would mean the drive's current directory, not its root.
    std::string target = dir;
    if (!target.empty() && target.back() == ':') target += '\\';
    return SetCurrentDirectoryA(target.c_str()) != 0;
}

}  // namespace envlaunch

// The launcher's platform layer for Windows: the own path from the module
// file name, the companion run through cmd.exe, and text files written
// through the system's file handles. Paths stay in UTF-16 from the module
// file name to every file call, so a folder's name reaches the system as it
// came, whatever its characters; only the printed line is converted.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform.h"

namespace envlaunch {

namespace {
// Far above the longest path Windows knows (32767 characters); only a bound
// that ends the loop should the system misbehave.
constexpr std::size_t kLargestPathBuffer = 1u << 20;

// `path` as the file calls take it. A long absolute path gets the prefix that
// lifts the classic limit of 260 characters; the launcher's paths are built
// from its own full path, so they need none of the normalising it turns off.
std::wstring LongPath(const std::wstring& path) {
    if (path.size() < MAX_PATH - 12 || path.rfind(L"\\\\?\\", 0) == 0) return path;
    if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
    return path;
}

// `text` in UTF-8. A lone surrogate, which no UTF-8 can hold, becomes U+FFFD.
std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(std::max(length, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

}  // namespace

PathChar PathSeparator() { return L'\\'; }

Path OwnExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
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

Path CompanionCommandLine(const Path& dir) { return L"\"" + dir + L"\\qxini_core.exe\""; }

bool RunCommandLine(const Path& line) {
    // cmd.exe /c strips the first and the last quote of a line that starts
    // with one; the extra pair keeps the line's own quotes, so a directory
    // with parentheses, &, ^ or @ still names the companion.
    const std::wstring wrapped = L"\"" + line + L"\"";
    return _wsystem(wrapped.c_str()) == 0;
}

WriteOutcome WriteTextFile(const Path& path, const std::string& text) {
    // Created or truncated as fopen(path, "w") does, with the same sharing.
    HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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

bool ChangeDirectory(const Path& dir) {
    // A current directory holds at most MAX_PATH - 2 characters. A longer one
    // is refused here as Windows refuses it, for some systems take it and
    // then overrun that limit when they start the next program.
    if (dir.size() > MAX_PATH - 2) return false;
    // "C:" alone would mean the drive's current directory, not its root.
    std::wstring target = dir;
    if (!target.empty() && target.back() == L':') target += L'\\';
    return SetCurrentDirectoryW(target.c_str()) != 0;
}

void PrintPathLine(const Path& path) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && out != nullptr && GetConsoleMode(out, &mode)) {
        // A console shows UTF-16 as it is; what the stream holds goes first.
        std::fflush(stdout);
        const std::wstring line = path + L"\r\n";
        DWORD written = 0;
        if (WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) return;
    }
    // Files and pipes get UTF-8, through the text stream as every other line.
    const std::string utf8 = Utf8(path);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fputc('\n', stdout);
}

}  // namespace envlaunch

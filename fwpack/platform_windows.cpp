// The converter's platform layer for Windows: the UTF-16 command line and
// file names, whose UTF-8 form the rest of the converter holds, names shown on
// a console as they are, growing buffers in reserved virtual memory that is
// committed in steps, files opened so that no program started later inherits
// them, files replaced in one move, and a console handler that removes an
// unfinished file. No path ever passes through the ANSI code page.
#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform.h"
#include "text_format.h"

namespace platform {

namespace {

// Commits in large steps, so that a big image costs few calls.
constexpr std::size_t kStep = std::size_t{2} << 20;

std::size_t RoundUp(std::size_t size) { return (size + kStep - 1) / kStep * kStep; }

// `path` as the file calls take it. A path that is, or resolves to, MAX_PATH
// characters or more is made absolute and given the prefix that lifts that
// limit; the prefix turns off the system's own tidying of the path, which
// making it absolute has done already. (A directory's limit is 12 characters
// lower, to leave room for a short file name.)
std::wstring LongPath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size || length < MAX_PATH - 12) return path;
    full.resize(length);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// Writes `text` to a console in pieces it takes at once, a surrogate pair
// never split. False when the console took none of it.
bool WriteConsoleText(HANDLE console, const std::wstring& text) {
    constexpr std::size_t kPiece = 8192;
    for (std::size_t done = 0; done < text.size();) {
        std::size_t piece = (std::min)(text.size() - done, kPiece);
        if (done + piece < text.size() && IS_HIGH_SURROGATE(text[done + piece - 1])) --piece;
        DWORD written = 0;
        if (!WriteConsoleW(console, text.data() + done, static_cast<DWORD>(piece), &written, nullptr) || written == 0) {
            return done > 0;
        }
        done += written;
    }
    return true;
}

}  // namespace

bool Utf8FromWide(const std::wstring& wide, std::string& utf8) {
    utf8.clear();
    if (wide.empty()) return true;
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return false;
    utf8.resize(static_cast<std::size_t>(length));
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, utf8.data(), length, nullptr,
                               nullptr) == length;
}

std::wstring WideFromUtf8(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>((std::max)(length, 0)), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

// The C runtime's argv went through the ANSI code page, which turns every
// character it lacks into "?"; the UTF-16 command line holds them all.
std::vector<std::string> Arguments(int, const char* const[], std::string& error) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        error = "the command line cannot be read";
        return {};
    }
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        std::string arg;
        if (!Utf8FromWide(wide[i], arg)) {
            error = Format("argument %d is not valid UTF-16 (it holds a lone surrogate), so it can name no file", i);
            args.clear();
            break;
        }
        args.push_back(std::move(arg));
    }
    LocalFree(wide);
    return args;
}

std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(LongPath(WideFromUtf8(path))); }

namespace {

// Whether WriteText wrote to standard output, and the first error there.
bool g_wrote_standard_output = false;
int g_standard_output_error = 0;

}  // namespace

void WriteText(std::FILE* stream, std::string_view text) {
    if (stream == stdout) g_wrote_standard_output = true;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        // What the stream holds goes first; the console's lines end as the
        // text stream would end them.
        std::fflush(stream);
        std::string lines;
        lines.reserve(text.size() + text.size() / 16);
        for (char c : text) {
            if (c == '\n') lines += '\r';
            lines += c;
        }
        if (WriteConsoleText(handle, WideFromUtf8(lines))) return;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    if (!written && stream == stdout && g_standard_output_error == 0) {
        g_standard_output_error = errno != 0 ? errno : EIO;
    }
}

bool StandardOutputDelivered(std::string& cause) {
    if (!g_wrote_standard_output) return true;
    if (std::fflush(stdout) != 0 && g_standard_output_error == 0) g_standard_output_error = errno != 0 ? errno : EIO;
    if (std::ferror(stdout) != 0 && g_standard_output_error == 0) g_standard_output_error = EIO;
    if (g_standard_output_error == 0) return true;
    cause = std::strerror(g_standard_output_error);
    return false;
}

// Windows has no file size limit that a signal reports.
void IgnoreFileSizeSignal() {}

GrowableBlock::GrowableBlock(std::size_t capacity) {
    const std::size_t size = RoundUp(capacity);
    if (size < capacity) return;
    void* reserved = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
    if (!reserved) return;
    base_ = static_cast<uint8_t*>(reserved);
    capacity_ = size;
}

GrowableBlock::~GrowableBlock() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}

// Windows has no large pages for ordinary programs, and committed pages that
// were never written hold no memory: there is nothing to give back.
void GrowableBlock::ReleaseBeyond(std::size_t) {}

bool GrowableBlock::Extend(std::size_t size) {
    if (size > capacity_) return false;
    // Parenthesised: <windows.h> may define min and max as macros.
    const std::size_t usable = (std::min)(capacity_, RoundUp((std::max)(size, 2 * usable_)));
    if (!VirtualAlloc(base_ + usable_, usable - usable_, MEM_COMMIT, PAGE_READWRITE)) return false;
    usable_ = usable;
    return true;
}

FilePtr StandardStream(bool output, bool binary) {
    std::FILE* stream = output ? stdout : stdin;
    if (_setmode(_fileno(stream), binary ? _O_BINARY : _O_TEXT) == -1) return nullptr;
    return FilePtr(stream);
}

FilePtr OpenFile(const char* path, const char* mode) {
    // "N": not inherited by programs started later.
    const std::wstring not_inherited = WideFromUtf8(mode) + L"N";
    return FilePtr(_wfopen(LongPath(WideFromUtf8(path)).c_str(), not_inherited.c_str()));
}

bool IsPlainFile(std::FILE* file) {
    struct _stat64 status {};
    return _fstat64(_fileno(file), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
}

namespace {

// A path as the wide file calls take it.
std::wstring Native(const char* path) { return LongPath(WideFromUtf8(path)); }

}  // namespace

ExistingOutput InspectOutput(const char* path) {
    ExistingOutput existing;
    const DWORD attributes = GetFileAttributesW(Native(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        existing.replaceable = GetLastError() == ERROR_FILE_NOT_FOUND;
        return existing;
    }
    if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
        return existing;
    }
    // Opened for writing, not emptied: whether this program may write it is
    // the file system's answer, and the handle tells the kind and the names.
    const HANDLE handle =
        CreateFileW(Native(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return existing;
    BY_HANDLE_FILE_INFORMATION information{};
    existing.replaceable = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &information) &&
                           information.nNumberOfLinks == 1;
    CloseHandle(handle);
    return existing;
}

std::size_t FinalComponentStart(const std::string& path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '/' || path[i] == '\\' || (path[i] == ':' && i == 1)) start = i + 1;
    }
    return start;
}

// The mode has nothing to carry: a file that is read-only is never replaced.
FilePtr CreateNewTextFile(const char* path, int, bool& exists) {
    // Shared for deletion, so that the console handler can remove it while open.
    const HANDLE handle = CreateFileW(Native(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    exists = handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_TEXT);
    if (fd < 0) {
        CloseHandle(handle);
        DeleteFileW(Native(path).c_str());
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "w");
    if (!file) {
        _close(fd);
        DeleteFileW(Native(path).c_str());
    }
    return FilePtr(file);
}

bool MoveOver(const char* from, const char* to) {
    return MoveFileExW(Native(from).c_str(), Native(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// NTFS writes a file that replaces another in its own time.
void StartWriteback(std::FILE*) {}

bool RemoveFile(const char* path) { return DeleteFileW(Native(path).c_str()) != 0; }

namespace {

const char* (*g_take_on_interrupt)() = nullptr;

// Runs on a thread of its own at Ctrl-C, Ctrl-Break or a closed console.
BOOL WINAPI RemoveOnControl(DWORD) {
    if (const char* path = g_take_on_interrupt()) DeleteFileW(Native(path).c_str());
    return FALSE;  // on to the usual handler, which ends the program
}

}  // namespace

void InstallInterruptCleanup(const char* (*take)()) {
    g_take_on_interrupt = take;
    SetConsoleCtrlHandler(RemoveOnControl, TRUE);
}

}  // namespace platform

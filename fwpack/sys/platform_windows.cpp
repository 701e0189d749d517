// The converter's platform layer for Windows: the UTF-16 command line and
// file names, whose UTF-8 form the rest of the converter holds, names shown on
// a console as they are, growing buffers in reserved virtual memory that is
// committed in steps, files opened so that no program started later inherits
// them, files replaced in one move, outputs locked with LockFileEx, and a
// console handler that removes an unfinished file. No path ever passes through the ANSI code page.
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

#include "sys/platform.h"
#include "sys/standard_output.h"
#include "util/text_format.h"

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

void WriteText(std::FILE* stream, std::string_view text) {
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
        if (WriteConsoleText(handle, WideFromUtf8(lines))) {
            if (stream == stdout) NoteStandardOutput(true);
            return;
        }
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    if (stream == stdout) NoteStandardOutput(written);
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

namespace {

// The file at the end of the symbolic link `path`, as the system resolves
// it; empty when it cannot (a link to nothing, say).
std::string FinalTarget(const char* path) {
    const HANDLE handle = CreateFileW(Native(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    std::wstring name(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()), 0);
    if (length >= name.size()) {
        name.resize(length + 1);
        length = GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()), 0);
    }
    CloseHandle(handle);
    std::string target;
    if (length == 0 || length >= name.size()) return {};
    name.resize(length);
    return Utf8FromWide(name, target) ? target : std::string();
}

}  // namespace

ExistingOutput InspectOutput(const char* path) {
    ExistingOutput existing;
    existing.replaced = path;
    DWORD attributes = GetFileAttributesW(Native(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // A link keeps its place; the file it leads to is replaced.
        existing.replaced = FinalTarget(path);
        if (existing.replaced.empty()) return existing;
        attributes = GetFileAttributesW(Native(existing.replaced.c_str()).c_str());
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        existing.replaceable = GetLastError() == ERROR_FILE_NOT_FOUND;
        return existing;
    }
    if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
        return existing;
    }
    // Opened for writing, not emptied: whether this program may write it is
    // the file system's answer, and the handle tells the kind.
    const HANDLE handle = CreateFileW(Native(existing.replaced.c_str()).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return existing;
    existing.replaceable = GetFileType(handle) == FILE_TYPE_DISK;
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
FilePtr CreateNewFile(const char* path, int, bool& exists, bool binary) {
    // Shared for deletion, so that the console handler can remove it while open.
    const HANDLE handle = CreateFileW(Native(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    exists = handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | (binary ? _O_BINARY : _O_TEXT));
    if (fd < 0) {
        CloseHandle(handle);
        DeleteFileW(Native(path).c_str());
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, binary ? "wb" : "w");
    if (!file) {
        _close(fd);
        DeleteFileW(Native(path).c_str());
    }
    return FilePtr(file);
}

bool MoveOver(const char* from, const char* to) {
    return MoveFileExW(Native(from).c_str(), Native(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

namespace {

// Opens `path` as CreateFileW's `disposition` says and waits for an exclusive
// lock on the whole file. Shared for deletion, so that an incomplete file can
// be removed while it is held; a file that was removed while this waited
// (by the run that held the lock) is let go, and the name opened again.
HANDLE OpenLocked(const char* path, DWORD disposition) {
    for (;;) {
        // With read access where it is given, so that the file can be read
        // back through this handle: the lock keeps every other one out.
        HANDLE handle = INVALID_HANDLE_VALUE;
        for (const DWORD access : {GENERIC_READ | GENERIC_WRITE, DWORD{GENERIC_WRITE}}) {
            handle = CreateFileW(Native(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) break;
        }
        if (handle == INVALID_HANDLE_VALUE) return handle;
        // Only files on disk take locks.
        if (GetFileType(handle) != FILE_TYPE_DISK) return handle;
        OVERLAPPED whole{};
        if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) return handle;
        FILE_STANDARD_INFO standard{};
        if (!GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) ||
            !standard.DeletePending) {
            return handle;
        }
        CloseHandle(handle);
    }
}

FilePtr StreamOf(HANDLE handle, bool binary) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | (binary ? _O_BINARY : _O_TEXT));
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, binary ? "wb" : "w");
    if (!file) _close(fd);
    return FilePtr(file);
}

}  // namespace

FilePtr OpenLockedOutput(const char* path, bool binary) {
    const HANDLE handle = OpenLocked(path, OPEN_ALWAYS);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    // Emptied only now, under the lock; a device or a pipe has nothing to empty.
    if (GetFileType(handle) == FILE_TYPE_DISK && !SetEndOfFile(handle)) {
        CloseHandle(handle);
        return nullptr;
    }
    return StreamOf(handle, binary);
}

FilePtr OpenExistingLocked(const char* path) {
    const HANDLE handle = OpenLocked(path, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return nullptr;
    }
    return StreamOf(handle, true);
}

bool ReadBack(std::FILE* file, uint64_t offset, uint8_t* data, std::size_t size, std::size_t& read) {
    read = 0;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    LARGE_INTEGER here{};
    if (handle == INVALID_HANDLE_VALUE || !SetFilePointerEx(handle, LARGE_INTEGER{}, &here, FILE_CURRENT)) return false;
    while (read < size) {
        const uint64_t at = offset + read;
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD count = 0;
        const auto chunk = static_cast<DWORD>((std::min)(size - read, std::size_t{1} << 20));
        const bool got = ReadFile(handle, data + read, chunk, &count, &position) != 0;
        // A handle without read access: the file is read by its name.
        if (!got && read == 0 && GetLastError() == ERROR_ACCESS_DENIED) return false;
        if (!got || count == 0) break;
        read += count;
    }
    // ReadFile moves the position even with an offset given.
    SetFilePointerEx(handle, here, nullptr, FILE_BEGIN);
    return true;
}

bool EmptyFile(std::FILE* file) {
    return std::fflush(file) == 0 && _chsize_s(_fileno(file), 0) == 0 && std::fseek(file, 0, SEEK_SET) == 0;
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

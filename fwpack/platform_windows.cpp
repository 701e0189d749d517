// The converter's platform layer for Windows: growing buffers in reserved
// virtual memory that is committed in steps, files opened so that no
// program started later inherits them, files replaced in one move, and a
// console handler that removes an unfinished file.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>

#include "platform.h"

namespace platform {

namespace {

// Commits in large steps, so that a big image costs few calls.
constexpr std::size_t kStep = std::size_t{2} << 20;

std::size_t RoundUp(std::size_t size) { return (size + kStep - 1) / kStep * kStep; }

}  // namespace

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

FilePtr OpenFile(const char* path, const char* mode) {
    if (IsStandardStream(path)) {
        std::FILE* stream = mode[0] == 'r' ? stdin : stdout;
        const bool binary = std::string(mode).find('b') != std::string::npos;
        if (_setmode(_fileno(stream), binary ? _O_BINARY : _O_TEXT) == -1) return nullptr;
        return FilePtr(stream);
    }
    // "N": not inherited by programs started later.
    const std::string not_inherited = std::string(mode) + "N";
    return FilePtr(std::fopen(path, not_inherited.c_str()));
}

bool IsPlainFile(std::FILE* file) {
    struct _stat64 status {};
    return _fstat64(_fileno(file), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
}

ExistingOutput InspectOutput(const char* path) {
    ExistingOutput existing;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        existing.replaceable = GetLastError() == ERROR_FILE_NOT_FOUND;
        return existing;
    }
    if (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
        return existing;
    }
    // Opened for writing, not emptied: whether this program may write it is
    // the file system's answer, and the handle tells the kind and the names.
    const HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
    const HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    exists = handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_TEXT);
    if (fd < 0) {
        CloseHandle(handle);
        DeleteFileA(path);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "w");
    if (!file) {
        _close(fd);
        DeleteFileA(path);
    }
    return FilePtr(file);
}

bool MoveOver(const char* from, const char* to) { return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0; }

bool RemoveFile(const char* path) { return DeleteFileA(path) != 0; }

namespace {

std::atomic<const char*> g_remove_on_interrupt{nullptr};

// Runs on a thread of its own at Ctrl-C, Ctrl-Break or a closed console.
BOOL WINAPI RemoveOnControl(DWORD) {
    if (const char* path = g_remove_on_interrupt.exchange(nullptr)) DeleteFileA(path);
    return FALSE;  // on to the usual handler, which ends the program
}

}  // namespace

bool RemoveOnInterrupt(const char* path) {
    static const bool installed = SetConsoleCtrlHandler(RemoveOnControl, TRUE) != 0;
    (void)installed;
    const char* none = nullptr;
    return g_remove_on_interrupt.compare_exchange_strong(none, path);
}

void ForgetOnInterrupt(const char* path) {
    const char* expected = path;
    g_remove_on_interrupt.compare_exchange_strong(expected, nullptr);
}

}  // namespace platform

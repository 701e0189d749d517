// The converter's platform layer for Windows: growing buffers in reserved
// virtual memory that is committed in steps, and files opened so that no
// program started later inherits them.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
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

}  // namespace platform

// The converter's platform layer for POSIX systems: paths and arguments as the
// bytes the system gives, growing buffers in anonymous mappings, on
// transparent huge pages where the system has them, and files opened so that
// no program started later inherits them.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>

#include "platform.h"

namespace platform {

namespace {

// A huge page on the usual systems; reservations start and grow on this
// boundary, so that every step can be backed by whole huge pages.
constexpr std::size_t kStep = std::size_t{2} << 20;

std::size_t RoundUp(std::size_t size) { return (size + kStep - 1) / kStep * kStep; }

}  // namespace

GrowableBlock::GrowableBlock(std::size_t capacity) {
    const std::size_t size = RoundUp(capacity);
    if (size < capacity) return;
    // Over-sized by one step so that an aligned start can be cut out of it.
    void* mapped = mmap(nullptr, size + kStep, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED) return;
    auto* raw = static_cast<uint8_t*>(mapped);
    auto* start = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(raw) + kStep - 1) & ~(uintptr_t{kStep} - 1));
    if (start > raw) munmap(raw, static_cast<std::size_t>(start - raw));
    const std::size_t tail = static_cast<std::size_t>(raw + size + kStep - (start + size));
    if (tail > 0) munmap(start + size, tail);
#ifdef MADV_HUGEPAGE
    // Only a hint: where it is refused, the pages are ordinary ones.
    madvise(start, size, MADV_HUGEPAGE);
#endif
    base_ = start;
    capacity_ = size;
}

GrowableBlock::~GrowableBlock() {
    if (base_) munmap(base_, capacity_);
}

void GrowableBlock::ReleaseBeyond(std::size_t size) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t kept = (size + page - 1) / page * page;
    if (kept < usable_) madvise(base_ + kept, usable_ - kept, MADV_DONTNEED);
}

bool GrowableBlock::Extend(std::size_t size) {
    if (size > capacity_) return false;
    // Doubling keeps the number of calls small; unwritten pages cost nothing.
    const std::size_t usable = std::min(capacity_, RoundUp(std::max(size, 2 * usable_)));
    if (mprotect(base_ + usable_, usable - usable_, PROT_READ | PROT_WRITE) != 0) return false;
    usable_ = usable;
    return true;
}

std::vector<std::string> Arguments(int argc, const char* const argv[], std::string&) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

std::filesystem::path FsPath(const std::string& path) { return path; }

void WriteText(std::FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

FilePtr OpenFile(const char* path, const char* mode) {
    if (IsStandardStream(path)) {
        if (mode[0] == 'r') return FilePtr(stdin);
        std::signal(SIGPIPE, SIG_IGN);
        return FilePtr(stdout);
    }
    // "e": close on exec, so that a program started later holds no output open.
    const std::string with_close_on_exec = std::string(mode) + "e";
    return FilePtr(std::fopen(path, with_close_on_exec.c_str()));
}

bool IsPlainFile(std::FILE* file) {
    struct stat status {};
    return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace platform

// The converter's platform layer for POSIX systems: paths and arguments as the
// bytes the system gives, growing buffers in anonymous mappings, on
// transparent huge pages where the system has them, files opened so that no
// program started later inherits them, files replaced by rename, outputs
// locked with flock, and signal handlers that remove an unfinished file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "sys/platform.h"
#include "sys/standard_output.h"

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

void WriteText(std::FILE* stream, std::string_view text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    if (stream == stdout) NoteStandardOutput(written);
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

FilePtr StandardStream(bool output, bool) {
    if (!output) return FilePtr(stdin);
    std::signal(SIGPIPE, SIG_IGN);
    return FilePtr(stdout);
}

FilePtr OpenFile(const char* path, const char* mode) {
    // "e": close on exec, so that a program started later holds no output open.
    const std::string with_close_on_exec = std::string(mode) + "e";
    return FilePtr(std::fopen(path, with_close_on_exec.c_str()));
}

bool IsPlainFile(std::FILE* file) {
    struct stat status {};
    return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
}

namespace {

// The name that `path` stands for once every symbolic link on the way to it
// is followed: where the file is, or would be created. Empty when the chain
// cannot be followed (a loop, a link that cannot be read).
std::string FinalTarget(const std::string& path) {
    constexpr int kMostLinks = 40;  // as the system follows them
    std::string current = path;
    for (int followed = 0; followed <= kMostLinks; ++followed) {
        struct stat status {};
        if (lstat(current.c_str(), &status) != 0) return errno == ENOENT ? current : std::string();
        if (!S_ISLNK(status.st_mode)) return current;
        std::string link(256, '\0');
        for (;;) {
            const ssize_t length = readlink(current.c_str(), link.data(), link.size());
            if (length < 0) return {};
            if (static_cast<std::size_t>(length) < link.size()) {
                link.resize(static_cast<std::size_t>(length));
                break;
            }
            link.resize(link.size() * 2);
        }
        current = !link.empty() && link[0] == '/' ? link : current.substr(0, FinalComponentStart(current)) + link;
    }
    return {};
}

}  // namespace

ExistingOutput InspectOutput(const char* path) {
    ExistingOutput existing;
    existing.replaced = FinalTarget(path);
    if (existing.replaced.empty()) return existing;
    struct stat status {};
    if (lstat(existing.replaced.c_str(), &status) != 0) {
        existing.replaceable = errno == ENOENT;
        return existing;
    }
    // With the effective identity, as the opening of the file would check it.
    if (!S_ISREG(status.st_mode) || faccessat(AT_FDCWD, existing.replaced.c_str(), W_OK, AT_EACCESS) != 0) {
        return existing;
    }
    existing.replaceable = true;
    existing.mode = static_cast<int>(status.st_mode & 07777);
    return existing;
}

std::size_t FinalComponentStart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

FilePtr CreateNewFile(const char* path, int mode, bool& exists, bool binary) {
    exists = false;
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    // Set after the creation: the mode that open() takes passes through the umask.
    std::FILE* file =
        mode < 0 || fchmod(fd, static_cast<mode_t>(mode)) == 0 ? fdopen(fd, binary ? "wb" : "w") : nullptr;
    if (!file) {
        close(fd);
        unlink(path);
    }
    return FilePtr(file);
}

bool MoveOver(const char* from, const char* to) { return rename(from, to) == 0; }

namespace {

// Opens `path` with `flags` (O_CREAT: created when it is not there) and
// waits for the lock on it. The file may have been replaced or removed while
// this waited, by the run that held the lock: then the name stands for
// another file, which is opened and locked in its turn.
int OpenLocked(const char* path, int flags) {
    for (;;) {
        int fd = open(path, (flags & ~O_CREAT) | O_CLOEXEC | O_NOCTTY);
        // Created only when missing: a sticky folder such as /tmp refuses
        // even to open another user's file with O_CREAT.
        if (fd < 0 && errno == ENOENT && (flags & O_CREAT) != 0) fd = open(path, flags | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0) return -1;
        int locked = 0;
        while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {}
        // A file system without locks (some network ones) is written without.
        if (locked != 0) return fd;
        // Only a plain file is replaced or removed by such a run; a device
        // or a pipe may show another identity under its name (/dev/stdout).
        struct stat held {};
        struct stat named {};
        if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode) ||
            (stat(path, &named) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino)) {
            return fd;
        }
        close(fd);
    }
}

}  // namespace

FilePtr OpenLockedOutput(const char* path, bool binary) {
    const int fd = OpenLocked(path, O_WRONLY | O_CREAT);
    if (fd < 0) return nullptr;
    // Emptied only now, under the lock; a device or a pipe has nothing to empty.
    struct stat status {};
    if (fstat(fd, &status) != 0 || (S_ISREG(status.st_mode) && ftruncate(fd, 0) != 0)) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, binary ? "wb" : "w");
    if (!file) close(fd);
    return FilePtr(file);
}

FilePtr OpenExistingLocked(const char* path) {
    const int fd = OpenLocked(path, O_WRONLY);
    if (fd < 0) return nullptr;
    struct stat status {};
    std::FILE* file = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) ? fdopen(fd, "wb") : nullptr;
    if (!file) close(fd);
    return FilePtr(file);
}

// The lock keeps out only other runs that take it.
bool ReadBack(std::FILE*, uint64_t, uint8_t*, std::size_t, std::size_t&) { return false; }

bool EmptyFile(std::FILE* file) {
    return std::fflush(file) == 0 && ftruncate(fileno(file), 0) == 0 && std::fseek(file, 0, SEEK_SET) == 0;
}

void StartWriteback(std::FILE* file) {
#if defined(__linux__)
    // What is still in the stream's own buffer follows with the next request.
    sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
#endif
}

bool RemoveFile(const char* path) { return unlink(path) == 0; }

namespace {

const char* (*g_take_on_interrupt)() = nullptr;

// Ctrl-C, a request to terminate, a closed terminal, and a file size limit
// passed while writing.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

void RemoveAndEnd(int signal) {
    // Only calls that are safe in a signal handler.
    if (const char* path = g_take_on_interrupt()) unlink(path);
    struct sigaction usual {};
    usual.sa_handler = SIG_DFL;
    sigemptyset(&usual.sa_mask);
    sigaction(signal, &usual, nullptr);
    // Delivered as the handler returns, so that the program ends as the signal says.
    raise(signal);
}

}  // namespace

void InstallInterruptCleanup(const char* (*take)()) {
    g_take_on_interrupt = take;
    for (const int signal : kInterrupts) {
        struct sigaction previous {};
        // A signal that is ignored (nohup, a shell's trap) or that the
        // program handles itself is left as it is.
        if (sigaction(signal, nullptr, &previous) != 0 || (previous.sa_flags & SA_SIGINFO) != 0 ||
            previous.sa_handler != SIG_DFL) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = RemoveAndEnd;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace platform

// The converter's platform layer: the few operations whose best form differs
// between systems (the command line, opening and naming files, printing
// names, buffers that grow in place on large pages, the kind of an open file,
// replacing a file by another, locking an output, removing a file when the
// program is interrupted). Everything else in the converter is the same
// everywhere. Paths are UTF-8 text on Windows and bytes as the system gives
// them elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Standard input and output are never closed: only flushed.
struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file == stdin || file == stdout) {
            std::fflush(file);
        } else {
            std::fclose(file);
        }
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Closes `file` (a standard stream: flushes it) and tells whether everything
// written reached its destination.
inline bool CloseFile(FilePtr file) {
    std::FILE* stream = file.release();
    if (stream == stdin || stream == stdout) return std::fflush(stream) == 0 && std::ferror(stream) == 0;
    // fclose frees the stream even when it fails.
    return std::fclose(stream) == 0;
}

namespace platform {

// The program's arguments after its own name. On Windows they come from the
// UTF-16 command line as UTF-8; an argument that UTF-8 cannot hold (a lone
// surrogate) is refused: `error` then holds one line (without line end) that
// names its position.
std::vector<std::string> Arguments(int argc, const char* const argv[], std::string& error);

// `path` as the file system library takes it, for the few operations the C
// streams do not offer (comparing, sizes, removal).
std::filesystem::path FsPath(const std::string& path);

// Writes `text` (UTF-8) to `stream` (standard output or standard error). A
// console shows the characters themselves; a file or a pipe gets the text's
// bytes through the text stream.
void WriteText(std::FILE* stream, std::string_view text);

#ifdef _WIN32
// The conversions between the UTF-8 held inside and the UTF-16 of the system.
// Strict: false when `wide` holds a lone surrogate, which UTF-8 cannot hold.
bool Utf8FromWide(const std::wstring& wide, std::string& utf8);
// Lenient: an invalid sequence (never in a path, which came from UTF-16)
// becomes U+FFFD.
std::wstring WideFromUtf8(const std::string& utf8);
#endif

// Opens the file at `path` (UTF-8) with a mode of std::fopen's ("rb", "w",
// "wb"); the file is not inherited by programs that this one starts. Null
// when it cannot be opened.
FilePtr OpenFile(const char* path, const char* mode);

// Standard input, or standard output, in binary or text mode; null when the
// mode cannot be set. A reader that stops reading standard output makes
// writes to it fail rather than end the program.
FilePtr StandardStream(bool output, bool binary);

// A byte buffer that grows in place: address space is reserved whole at once
// and made usable in steps, so growing never moves or copies the bytes. Pages
// take memory only when first written, on large pages where the system offers
// them: a fresh 4 KiB page costs a page fault, and an image of many megabytes
// would cost thousands.
class GrowableBlock {
public:
    GrowableBlock() = default;
    // Reserves `capacity` bytes; Reserved() tells whether the system agreed.
    explicit GrowableBlock(std::size_t capacity);
    ~GrowableBlock();
    GrowableBlock(GrowableBlock&& other) noexcept { Swap(other); }
    GrowableBlock& operator=(GrowableBlock&& other) noexcept {
        GrowableBlock gone(std::move(other));
        Swap(gone);
        return *this;
    }
    GrowableBlock(const GrowableBlock&) = delete;
    GrowableBlock& operator=(const GrowableBlock&) = delete;

    bool Reserved() const { return base_ != nullptr; }
    uint8_t* data() const { return base_; }
    std::size_t capacity() const { return capacity_; }

    // Makes at least the first `size` bytes usable. False, with nothing
    // changed, when that passes the capacity or the system refuses.
    bool MakeUsable(std::size_t size) { return size <= usable_ || Extend(size); }
    // Gives the memory behind the first `size` bytes back to the system; the
    // bytes there read as zeros if used again. Where a large page holds only a
    // few bytes, this frees the rest of it.
    void ReleaseBeyond(std::size_t size);

private:
    bool Extend(std::size_t size);
    void Swap(GrowableBlock& other) noexcept {
        std::swap(base_, other.base_);
        std::swap(capacity_, other.capacity_);
        std::swap(usable_, other.usable_);
    }

    uint8_t* base_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t usable_ = 0;
};

// Whether `file` is a plain file on disk, which can be written out of order
// and cut to length, rather than a pipe, a terminal or another device.
bool IsPlainFile(std::FILE* file);

// What is at an output's path before it is written.
struct ExistingOutput {
    // Whether the output may be written under another name and then moved
    // over `path`: nothing is there, or a plain file that this program may
    // write (through symbolic links; a file of several names loses this one
    // to its replacement). A device, a pipe or a file that cannot be written
    // is written (or refused) in place.
    bool replaceable = false;
    // The permission bits of the file there, which its replacement takes; -1
    // when there is none, and the new file gets the usual ones.
    int mode = -1;
    // The name that the replacement is moved to: `path` itself, or, where
    // `path` is a symbolic link, the final target of its chain of links, so
    // that the links stay.
    std::string replaced;
};
ExistingOutput InspectOutput(const char* path);

// Where the final component of `path` starts: after its last directory
// separator, or after a drive.
std::size_t FinalComponentStart(const std::string& path);

// Creates the file `path`, which must not exist yet, for writing text (bytes
// when `binary`), with the permission bits `mode` (-1: the usual ones). Null
// when it cannot be made; `exists` then tells whether a file of that name
// was in the way.
FilePtr CreateNewFile(const char* path, int mode, bool& exists, bool binary);

// Moves the file `from` over `to`, replacing what is there, in one step.
bool MoveOver(const char* from, const char* to);

// Flushes standard output and tells whether everything that WriteText sent
// there arrived; else `cause` holds the system's words for the first failure.
bool StandardOutputDelivered(std::string& cause);

// Opens the output `path` to be written from its start, in text mode unless
// `binary`. Before the file is emptied (or created) it waits for an exclusive
// advisory lock on the whole file, which it holds until the file is closed:
// two runs that write one file take turns instead of mixing their bytes. An
// existing file is opened without being created, as folders such as /tmp
// refuse that for another user's file. Null when it cannot be opened.
FilePtr OpenLockedOutput(const char* path, bool binary);

// Opens the existing file `path` to write bytes, neither creating nor
// emptying it, under the same lock. Null when there is no such file, it
// cannot be written, or it is no plain file.
FilePtr OpenExistingLocked(const char* path);

// Empties the plain file `file`, to be written again from its start.
bool EmptyFile(std::FILE* file);

// Reads up to `size` bytes from `offset` of the file that the flushed stream
// `file` (opened by OpenLockedOutput) writes, leaving its position as it is;
// `read` tells how many. False where the file is to be read by its name
// instead: only a system whose locks keep out every other handle needs this.
bool ReadBack(std::FILE* file, uint64_t offset, uint8_t* data, std::size_t size, std::size_t& read);

// Makes a write past the file size limit fail with an error rather than end
// the program by a signal (where the system has one), so that the failure is
// reported and the incomplete file removed.
void IgnoreFileSizeSignal();

// Asks the system to start writing to disk what has been written to `file`,
// and returns without waiting; nothing where there is no such request.
void StartWriteback(std::FILE* file);

bool RemoveFile(const char* path);

// Installs handlers that, at Ctrl-C, a request to terminate and the like,
// remove the file whose name `take` hands them (none when it gives null) and
// then let the program end as it would have. `take` must be safe to call
// there (an atomic exchange, say).
void InstallInterruptCleanup(const char* (*take)());

}  // namespace platform

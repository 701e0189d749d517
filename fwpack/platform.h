// The converter's platform layer: the few operations whose best form differs
// between systems (the command line, opening and naming files, printing
// names, buffers that grow in place on large pages, the kind of an open file,
// replacing a file by another, removing a file when the program is
// interrupted). Everything else in the converter is the same everywhere. Paths
// are UTF-8 text on Windows and bytes as the system gives them elsewhere.
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
    // over `path`: nothing is there, or a plain file with a single name that
    // this program may write. A link, a device, a pipe, a file with several
    // names or one that cannot be written is written (or refused) in place.
    bool replaceable = false;
    // The permission bits of the file there, which its replacement takes; -1
    // when there is none, and the new file gets the usual ones.
    int mode = -1;
};
ExistingOutput InspectOutput(const char* path);

// Where the final component of `path` starts: after its last directory
// separator, or after a drive.
std::size_t FinalComponentStart(const std::string& path);

// Creates the file `path`, which must not exist yet, for writing text, with
// the permission bits `mode` (-1: the usual ones). Null when it cannot be
// made; `exists` then tells whether a file of that name was in the way.
FilePtr CreateNewTextFile(const char* path, int mode, bool& exists);

// Moves the file `from` over `to`, replacing what is there, in one step.
bool MoveOver(const char* from, const char* to);

// Flushes standard output and tells whether everything that WriteText sent
// there arrived; else `cause` holds the system's words for the first failure.
bool StandardOutputDelivered(std::string& cause);

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

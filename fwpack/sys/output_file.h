// What every writer of the converter shares: a chunked text (or binary) output that
// replaces its file only once it is complete, and the removal of an output
// file that could not be written in full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "sys/platform.h"

// Removes what a failed write left at `path`. Only a plain file is removed; a
// link to a plain file is kept and its target emptied; devices and anything
// else the user named (/dev/null, say) are left alone.
void RemoveIncompleteOutput(const std::string& path);

// A text file being written: opened in text mode, so that "\n" becomes the
// platform's line end, with lines gathered into large chunks so that a big
// image costs a few hundred writes rather than one per record.
//
// Where it can, the text goes to a hidden temporary file beside the output
// (".NAME.fwpack-XXXXXX.tmp"), which Close() moves over the output once it is
// complete: until then an existing output stays as it was, and a run that
// stops part-way never leaves a cut file under the output's name. A failure,
// the destructor before Close(), and Ctrl-C or a request to terminate remove
// the temporary file. A symbolic link keeps its place: the file at the end
// of its chain is replaced. Devices, pipes and outputs whose folder takes no
// new file are written in place, under a lock (see OpenLockedOutput); so is
// a file whose folder refuses the move over it but lets it be written.
enum class OutputMode { kText, kBinary };

class TextOutput {
public:
    // In binary mode the bytes go to the file as they are, on every system.
    explicit TextOutput(const char* path, OutputMode mode = OutputMode::kText);
    // A stream that is open already (standard output, say): written as it
    // is, and never removed.
    explicit TextOutput(FilePtr stream);
    ~TextOutput();
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;

    bool IsOpen() const { return file_ != nullptr; }

    // The largest line that Line() takes.
    static constexpr std::size_t kMaxLine = 256;

    // Writes one line of at most kMaxLine characters, which `format` puts at
    // the pointer it is given and whose length it returns: straight into the
    // chunk, with no copy in between.
    template <typename Format>
    void Line(Format format) {
        used_ += format(chunk_.get() + used_);
        if (used_ >= kChunkSize) Flush();
    }

    // Writes `size` bytes as they are (for a binary output).
    void Bytes(const uint8_t* data, std::size_t size);

    // Writes what is left, closes, and puts the file in its place. True when
    // every step succeeded; otherwise the incomplete file is removed.
    bool Close();

private:
    static constexpr std::size_t kChunkSize = 256 * 1024;
    // Moving a file over an existing one makes Linux file systems (ext4,
    // btrfs) write its data to disk first, and wait for that. When the output
    // replaces a file, its data is sent on its way every so many bytes
    // instead, so that the disk works while the rest is formatted.
    static constexpr uint64_t kWritebackStep = 8 * 1024 * 1024;

    void Flush();
    // Opens a fresh temporary file beside the output; null when the folder refuses.
    FilePtr CreateTemporary(int mode);
    // Puts the complete temporary file in the output's place.
    bool PutInPlace();
    // Copies the complete temporary file into `file`, the output opened in place.
    bool CopyInto(std::FILE* file) const;
    void RemoveTemporary();

    std::string path_;       // empty for a stream that was open already
    std::string replaced_;   // the file that the temporary one replaces
    std::string temporary_;  // empty when the output is written in place
    bool removed_on_interrupt_ = false;
    FilePtr file_;
    std::unique_ptr<char[]> chunk_{new char[kChunkSize + kMaxLine]};
    std::size_t used_ = 0;
    uint64_t written_ = 0;
    bool replaces_file_ = false;
    bool binary_ = false;
    bool good_ = true;
};

// A file of bytes written as TextOutput writes text: the same temporary file,
// move into place, lock and removal of what is incomplete.
class BinaryOutput : public TextOutput {
public:
    explicit BinaryOutput(const char* path) : TextOutput(path, OutputMode::kBinary) {}
    explicit BinaryOutput(FilePtr stream) : TextOutput(std::move(stream)) {}
};

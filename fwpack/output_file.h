// What every writer of the converter shares: a chunked text output, and the
// removal of an output file that could not be written in full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform.h"

// Removes what a failed write left at `path`. Only a plain file is removed; a
// link to a plain file is kept and its target emptied; devices and anything
// else the user named (/dev/null, say) are left alone.
void RemoveIncompleteOutput(const std::string& path);

// A text file being written: opened in text mode, so that "\n" becomes the
// platform's line end, with lines gathered into large chunks so that a big
// image costs a few hundred writes rather than one per record.
class TextOutput {
public:
    explicit TextOutput(const char* path);
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;

    bool IsOpen() const { return file_ != nullptr; }

    void Write(const char* text, std::size_t length) {
        chunk_.append(text, length);
        if (chunk_.size() >= kChunkSize) Flush();
    }

    // Writes what is left and closes. True when every write and the close
    // succeeded; otherwise the incomplete file is removed.
    bool Close();

private:
    static constexpr std::size_t kChunkSize = 64 * 1024;

    void Flush();

    std::string path_;
    FilePtr file_;
    std::string chunk_;
    bool good_ = true;
};

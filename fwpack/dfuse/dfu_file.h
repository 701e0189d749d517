// The DfuSe file builder: writes a DfuSe file (prefix, targets with their
// element records, DFU suffix with CRC) target by target. A plain file gets
// each target as it is added, straight from the image, and its prefix last;
// a pipe or a device, which cannot be written out of order, gets the whole
// file in one write at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dfuse/dfu_format.h"
#include "sys/output_file.h"

class CImage;

constexpr uint32_t STATUS_SUCCESS = 0x12340000;
constexpr uint32_t STATUS_FILE_OPEN_ERROR = 0x1234600d;
// The file could not be written or closed in full; it has been removed.
constexpr uint32_t STATUS_FILE_WRITE_ERROR = 0x1234600e;
// A target was refused: one more would overflow a size field or the target
// count. Nothing was appended; the builder stays usable.
constexpr uint32_t STATUS_TARGET_REFUSED = 0x1234600f;

class CDFUFile {
public:
    // Opens `path` at once, creating it or emptying an existing file, and
    // lays out an empty DfuSe file.
    CDFUFile(const char* path, uint16_t vendor, uint16_t product, uint16_t device);
    // Writes into a stream that is open already (standard output, say), in
    // one go when the file is complete; nothing is ever removed.
    CDFUFile(FilePtr stream, uint16_t vendor, uint16_t product, uint16_t device);
    // Writes the file when neither Close() nor Discard() was called.
    virtual ~CDFUFile();
    CDFUFile(const CDFUFile&) = delete;
    CDFUFile& operator=(const CDFUFile&) = delete;

    uint32_t GetStatus() const;
    // Appends the image as one more target. Returns the status word, or
    // STATUS_TARGET_REFUSED (status word unchanged) when the target does not
    // fit the format or the output was already closed. A target that could
    // not be written to disk is reported by Close().
    uint32_t AddTarget(const CImage& image);
    // Completes the file and closes it now. Returns STATUS_SUCCESS, the open
    // error, or STATUS_FILE_WRITE_ERROR after removing the incomplete file.
    // Later calls return the same result and do nothing.
    uint32_t Close();
    // Closes and removes the output without completing it.
    void Discard();

    // The file as it stands: prefix, targets and suffix; empty when the
    // output could not be opened. Put together on each call, the targets of
    // a plain file read back from it: for inspection, not for large files.
    const std::vector<uint8_t>& GetBuffer() const;

private:
    // Appends target bytes to the output and to the running CRC.
    void Emit(const uint8_t* data, std::size_t size);
    std::vector<uint8_t> Prefix() const;
    dfu_format::Suffix MakeSuffix(const std::vector<uint8_t>& prefix) const;
    // The targets as far as they were written to the plain file.
    std::vector<uint8_t> ReadBackTargets() const;
    // Closes the stream and reports whether the close succeeded.
    bool CloseStream();

    uint16_t vendor_;
    uint16_t product_;
    uint16_t device_;
    uint8_t target_count_ = 0;
    uint32_t status_ = STATUS_SUCCESS;
    std::string path_;
    // The stream's buffer: declared first, so that it outlives the stream.
    std::unique_ptr<char[]> stream_buffer_;
    FilePtr stream_;
    bool streaming_ = false;     // a plain file: targets go to disk as added
    std::vector<uint8_t> held_;  // otherwise the targets, held for the final write
    uint64_t targets_length_ = 0;
    uint32_t targets_crc_ = 0;  // CRC-32 of the targets, in its common form
    bool write_failed_ = false;
    bool closed_ = false;
    uint32_t close_status_ = STATUS_SUCCESS;
    mutable std::vector<uint8_t> snapshot_;
};

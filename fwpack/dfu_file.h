// The DfuSe file builder: lays a DfuSe file out in memory (prefix, targets
// with their element records, DFU suffix with CRC) and writes it in one go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "output_file.h"

class CImage;

constexpr uint32_t STATUS_SUCCESS = 0x12340000;
constexpr uint32_t STATUS_FILE_OPEN_ERROR = 0x1234600d;
// The file could not be written or closed in full; it has been removed.
constexpr uint32_t STATUS_FILE_WRITE_ERROR = 0x1234600e;
// A target was refused: one more would overflow a size field or the target
// count. Nothing was appended; the builder stays usable.
constexpr uint32_t STATUS_TARGET_REFUSED = 0x1234600f;

// The CRC of the DFU suffix: reflected CRC-32 (polynomial 0xEDB88320),
// register preset to 0xFFFFFFFF and no final inversion.
uint32_t DfuCrc(const uint8_t* data, std::size_t size);

class CDFUFile {
public:
    // Opens (creates or truncates) `path` at once and lays out an empty file.
    CDFUFile(const char* path, uint16_t vendor, uint16_t product, uint16_t device);
    // Writes the file when neither Close() nor Discard() was called.
    virtual ~CDFUFile();
    CDFUFile(const CDFUFile&) = delete;
    CDFUFile& operator=(const CDFUFile&) = delete;

    uint32_t GetStatus() const;
    // Appends the image as one more target. Returns the status word, or
    // STATUS_TARGET_REFUSED (status word unchanged) when the target does not
    // fit the format or the output was already closed.
    uint32_t AddTarget(const CImage& image);
    // Writes the whole file and closes it now. Returns STATUS_SUCCESS, the
    // open error, or STATUS_FILE_WRITE_ERROR after removing the incomplete
    // file. Later calls return the same result and do nothing.
    uint32_t Close();
    // Closes and removes the output without writing it.
    void Discard();

    // The file as it stands: prefix, targets and suffix.
    const std::vector<uint8_t>& GetBuffer() const { return buffer_; }

private:
    uint32_t AppendSuffix();
    uint32_t ComputeCrc() const;
    // Closes the stream and reports whether the close succeeded.
    bool CloseStream();

    uint16_t vendor_;
    uint16_t product_;
    uint16_t device_;
    uint8_t target_count_ = 0;
    uint32_t status_ = STATUS_SUCCESS;
    std::string path_;
    FilePtr stream_;
    std::vector<uint8_t> buffer_;
    bool closed_ = false;
    uint32_t close_status_ = STATUS_SUCCESS;
};

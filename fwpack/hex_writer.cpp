// Writes an image as an Intel HEX file with 32-bit addressing: per element,
// blocks of one extended linear address record and up to 256 data records of
// up to 32 bytes each.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "image.h"
#include "output_file.h"

namespace {

constexpr uint32_t kMaxRecordBytes = 32;
constexpr int kRecordsPerBlock = 256;
// ":", count, address, type, 64 data digits, checksum and "\n".
constexpr std::size_t kMaxLineLength = 1 + 2 + 4 + 2 + 2 * kMaxRecordBytes + 2 + 1;

// Builds the extended linear address record for the upper 16 address bits
// `upper` into `line` and returns its length.
std::size_t BuildExtendedAddressRecord(uint32_t upper, char* line) {
    static constexpr char kStart[] = ":02000004";
    char* out = std::copy(kStart, kStart + sizeof kStart - 1, line);
    out = PutHex(out, upper, 4);
    const uint32_t sum = 0x02u + 0x04u + ((upper >> 8) & 0xFFu) + (upper & 0xFFu);
    out = PutHex(out, (0x100u - (sum & 0xFFu)) & 0xFFu, 2);
    *out++ = '\n';
    return static_cast<std::size_t>(out - line);
}

// Builds the data record of `count` bytes whose lower 16 address bits are
// `offset` into `line` and returns its length.
std::size_t BuildDataRecord(uint32_t offset, const uint8_t* data, uint32_t count, char* line) {
    char* out = line;
    *out++ = ':';
    out = PutHex(out, count, 2);
    out = PutHex(out, offset, 4);
    *out++ = '0';
    *out++ = '0';
    uint32_t sum = count + ((offset >> 8) & 0xFFu) + (offset & 0xFFu);
    for (uint32_t i = 0; i < count; ++i) {
        out = PutHex(out, data[i], 2);
        sum += data[i];
    }
    out = PutHex(out, (0x100u - (sum & 0xFFu)) & 0xFFu, 2);
    *out++ = '\n';
    return static_cast<std::size_t>(out - line);
}

}  // namespace

bool CImage::SaveHex(const char* path) const { return SaveHex(path, false); }

bool CImage::SaveHex(const char* path, bool end_of_file_record) const {
    TextOutput output(path);
    if (!output.IsOpen()) return false;

    char line[kMaxLineLength];
    for (const ImageElement* element : ElementsToWrite()) {
        uint32_t address = element->address;
        const uint8_t* data = element->data;
        uint32_t remaining = element->size;
        uint32_t block_upper = 0;
        int records_in_block = kRecordsPerBlock;  // so that the element opens a block
        while (remaining > 0) {
            // A reader adds each record's 16-bit offset to the last extended
            // address, so the offset must not wrap: a new block begins at each
            // 64 KiB boundary as well as after a full block.
            const uint32_t upper = address >> 16;
            if (records_in_block == kRecordsPerBlock || upper != block_upper) {
                output.Write(line, BuildExtendedAddressRecord(upper, line));
                block_upper = upper;
                records_in_block = 0;
            }
            const uint32_t to_boundary = 0x10000u - (address & 0xFFFFu);
            const uint32_t n = std::min({remaining, kMaxRecordBytes, to_boundary});
            output.Write(line, BuildDataRecord(address & 0xFFFFu, data, n, line));
            ++records_in_block;
            address += n;  // may wrap to 0 after the last byte of the space; then nothing remains
            data += n;
            remaining -= n;
        }
    }
    if (end_of_file_record) {
        static constexpr char kEndOfFile[] = ":00000001FF\n";
        output.Write(kEndOfFile, sizeof kEndOfFile - 1);
    }
    return output.Close();
}

// Writes an element list as an Intel HEX file with 32-bit addressing: per
// element, blocks of one extended linear address record and up to 256 data
// records of up to 32 bytes each.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "formats/hex_record.h"
#include "formats/hex_writer.h"
#include "sys/output_file.h"

namespace {

constexpr uint32_t kMaxRecordBytes = 32;
constexpr int kRecordsPerBlock = 256;

}  // namespace

bool WriteHexFile(const char* path, const ElementList& list, bool end_of_file_record) {
    TextOutput output(path);
    return WriteHex(output, list, end_of_file_record);
}

bool WriteHex(TextOutput& output, const ElementList& list, bool end_of_file_record) {
    if (!output.IsOpen()) return false;

    static_assert(HexRecord::LineLength(kMaxRecordBytes) <= TextOutput::kMaxLine, "a record fits a line");
    for (const ImageElement& element : list) {
        if (!HasAddressableBytes(element)) continue;
        uint32_t address = element.address;
        const uint8_t* data = element.data;
        uint32_t remaining = element.size;
        uint32_t block_upper = 0;
        int records_in_block = kRecordsPerBlock;  // so that the element opens a block
        while (remaining > 0) {
            // A reader adds each record's 16-bit offset to the last extended
            // address, so the offset must not wrap: a new block begins at each
            // 64 KiB boundary as well as after a full block.
            const uint32_t upper = address >> 16;
            if (records_in_block == kRecordsPerBlock || upper != block_upper) {
                const uint8_t upper_bytes[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
                output.Line([&](char* line) {
                    return HexRecord::Line(HexRecord::kExtendedLinearAddress, 0, upper_bytes, 2, line);
                });
                block_upper = upper;
                records_in_block = 0;
            }
            const uint32_t to_boundary = 0x10000u - (address & 0xFFFFu);
            const uint32_t n = std::min({remaining, kMaxRecordBytes, to_boundary});
            output.Line([&](char* line) {
                return HexRecord::Line(HexRecord::kData, static_cast<uint16_t>(address), data, n, line);
            });
            ++records_in_block;
            address += n;  // may wrap to 0 after the last byte of the space; then nothing remains
            data += n;
            remaining -= n;
        }
    }
    if (end_of_file_record) {
        output.Line([](char* line) { return HexRecord::Line(HexRecord::kEndOfFile, 0, nullptr, 0, line); });
    }
    return output.Close();
}

// Writes an image as a Motorola S-record file: one record type for the whole
// file, chosen by the highest address in use, data records of up to 32 bytes
// and the matching termination record.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "image.h"
#include "output_file.h"

namespace {

// What differs between the three data record types.
struct RecordType {
    char digit;             // '1', '2' or '3'
    int address_bytes;      // 2, 3 or 4
    const char* last_line;  // the termination record, start address 0
};

constexpr RecordType kS1{'1', 2, "S9030000FC\n"};
constexpr RecordType kS2{'2', 3, "S804000000FB\n"};
constexpr RecordType kS3{'3', 4, "S70500000000FA\n"};

constexpr uint32_t kMaxRecordBytes = 32;
// "S3", count, 8 address digits, 64 data digits, checksum and "\n".
constexpr std::size_t kMaxLineLength = 2 + 2 + 8 + 2 * kMaxRecordBytes + 2 + 1;

const RecordType& ChooseRecordType(uint32_t highest_last_address) {
    if (highest_last_address <= 0xFFFFu) return kS1;
    if (highest_last_address <= 0xFFFFFFu) return kS2;
    return kS3;
}

// Builds the data record of `count` bytes at `address` into `line` and
// returns its length.
std::size_t BuildRecord(const RecordType& type, uint32_t address, const uint8_t* data, uint32_t count, char* line) {
    const uint32_t byte_count = count + static_cast<uint32_t>(type.address_bytes) + 1;
    char* out = line;
    *out++ = 'S';
    *out++ = type.digit;
    out = PutHex(out, byte_count, 2);
    out = PutHex(out, address, 2 * type.address_bytes);
    uint32_t sum = byte_count;
    for (int i = 0; i < type.address_bytes; ++i) sum += (address >> (8 * i)) & 0xFFu;
    for (uint32_t i = 0; i < count; ++i) {
        out = PutHex(out, data[i], 2);
        sum += data[i];
    }
    out = PutHex(out, 0xFFu - (sum & 0xFFu), 2);
    *out++ = '\n';
    return static_cast<std::size_t>(out - line);
}

}  // namespace

bool CImage::SaveSRec(const char* path) const {
    // The elements of an image that is not loaded are not handed out, so
    // such an image writes as one without elements.
    const int32_t count = loaded_ ? list_->GetCount() : 0;

    uint32_t highest_last_address = 0;
    for (int32_t i = 0; i < count; ++i) {
        const ImageElement* element = list_->GetAt(i);
        if (element->size == 0 && element->address == 0) continue;
        // Computed in 32 bits: an element that would run past the top of the
        // address space comes out low here, and writes no record below.
        const uint32_t last_address = element->address + element->size - 1u;
        highest_last_address = std::max(highest_last_address, last_address);
    }
    const RecordType& type = ChooseRecordType(highest_last_address);

    TextOutput output(path);
    if (!output.IsOpen()) return false;

    char line[kMaxLineLength];
    for (const ImageElement* element : ElementsToWrite()) {
        uint32_t address = element->address;
        const uint8_t* data = element->data;
        uint32_t remaining = element->size;
        while (remaining > 0) {
            const uint32_t n = std::min(remaining, kMaxRecordBytes);
            output.Write(line, BuildRecord(type, address, data, n, line));
            address += n;  // may wrap to 0 after the last byte of the space; then nothing remains
            data += n;
            remaining -= n;
        }
    }
    output.Write(type.last_line, std::char_traits<char>::length(type.last_line));
    return output.Close();
}

// Writes an element list as a Motorola S-record file: one record type for the
// whole file, chosen by the highest address in use, data records of up to 32
// bytes and the matching termination record.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "formats/srec_record.h"
#include "formats/srec_writer.h"
#include "sys/output_file.h"

namespace {

// What differs between the three data record types.
struct RecordType {
    char data_digit;         // '1', '2' or '3'
    char termination_digit;  // '9', '8' or '7'
    int address_length;      // 2, 3 or 4
};

constexpr RecordType kS1{'1', '9', 2};
constexpr RecordType kS2{'2', '8', 3};
constexpr RecordType kS3{'3', '7', 4};

constexpr uint32_t kMaxRecordBytes = 32;

const RecordType& ChooseRecordType(const ElementList& list) {
    uint32_t highest_last_address = 0;
    for (const ImageElement& element : list) {
        if (element.size == 0 && element.address == 0) continue;
        // Computed in 32 bits: an element that would run past the top of the
        // address space comes out low here, and writes no record.
        const uint32_t last_address = element.address + element.size - 1u;
        highest_last_address = std::max(highest_last_address, last_address);
    }
    if (highest_last_address <= 0xFFFFu) return kS1;
    if (highest_last_address <= 0xFFFFFFu) return kS2;
    return kS3;
}

}  // namespace

bool WriteSRecFile(const char* path, const ElementList& list) {
    TextOutput output(path);
    return WriteSRec(output, list);
}

bool WriteSRec(TextOutput& output, const ElementList& list) {
    if (!output.IsOpen()) return false;
    const RecordType& type = ChooseRecordType(list);

    static_assert(SRecord::LineLength(4, kMaxRecordBytes) <= TextOutput::kMaxLine, "a record fits a line");
    for (const ImageElement& element : list) {
        if (!HasAddressableBytes(element)) continue;
        uint32_t address = element.address;
        const uint8_t* data = element.data;
        uint32_t remaining = element.size;
        while (remaining > 0) {
            const uint32_t n = std::min(remaining, kMaxRecordBytes);
            output.Line([&](char* line) {
                return SRecord::Line(type.data_digit, type.address_length, address, data, n, line);
            });
            address += n;  // may wrap to 0 after the last byte of the space; then nothing remains
            data += n;
            remaining -= n;
        }
    }
    output.Line(
        [&](char* line) { return SRecord::Line(type.termination_digit, type.address_length, 0, nullptr, 0, line); });
    return output.Close();
}

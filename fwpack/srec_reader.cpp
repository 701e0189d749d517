// Reads a Motorola S-record file into an image: records S0, S1-S3, S5 and
// S7-S9, checksums tested, data merged into the last element when it
// continues it. The first problem ends the reading with a line-numbered
// diagnostic.
#include "field_scanner.h"
#include "image.h"

namespace {

constexpr const char* kFormat = "Not in Motorola SREC format!";
constexpr const char* kChecksum = "Checksum error!";

// The sum of the bytes of an address that is `length` bytes wide.
uint32_t AddressSum(uint32_t address, int length) {
    uint32_t sum = 0;
    for (int i = 0; i < length; ++i) sum += (address >> (8 * i)) & 0xFF;
    return sum;
}

// What the type character of a record tells of it.
struct RecordKind {
    int address_length;       // in bytes; 0 for the header record
    bool data;                // S1, S2, S3
    bool terminates;          // S7, S8, S9
    const char* count_error;  // for a byte count other than the address's length + 1
};

bool Kind(int type, RecordKind& kind) {
    switch (type) {
        case '0': kind = {0, false, false, nullptr}; return true;
        case '1': kind = {2, true, false, nullptr}; return true;
        case '2': kind = {3, true, false, nullptr}; return true;
        case '3': kind = {4, true, false, nullptr}; return true;
        case '5': kind = {2, false, false, "S5 line 'byte count' error!"}; return true;
        case '7': kind = {4, false, true, "S7 line 'byte count' error!"}; return true;
        case '8': kind = {3, false, true, "S8 line 'byte count' error!"}; return true;
        // S9 also takes a 24-bit address: a byte count of 3 or 4.
        case '9': kind = {2, false, true, "S9 line 'byte count' error!"}; return true;
        default: return false;
    }
}

// Reads one record behind its 'S' and hands the bytes of a data record to
// add(address, bytes, length).
template <typename AddData>
class SRecRecords {
public:
    explicit SRecRecords(AddData add) : add_(add) {}

    const char* operator()(FieldScanner& scanner, bool& ended) {
        if (ReadWholeDataRecord(scanner)) return nullptr;
        RecordKind kind;
        if (!Kind(scanner.ReadChar(), kind)) return kFormat;
        return kind.address_length == 0 ? SkipHeader(scanner) : Record(scanner, kind, ended);
    }

private:
    // The header record is skipped untested: its byte count, then that many bytes.
    static const char* SkipHeader(FieldScanner& scanner) {
        uint32_t byte_count = 0;
        if (!scanner.ReadHex(2, byte_count)) return kFormat;
        uint32_t value = 0;
        for (uint32_t i = 0; i < byte_count; ++i) {
            if (!scanner.ReadHex(2, value)) return kFormat;
        }
        return nullptr;
    }

    const char* Record(FieldScanner& scanner, const RecordKind& kind, bool& ended) {
        uint32_t byte_count = 0;
        if (!scanner.ReadHex(2, byte_count)) return kFormat;
        const uint32_t minimum = static_cast<uint32_t>(kind.address_length) + 1;
        // A 24-bit address in an S9 record.
        const bool long_s9 = kind.terminates && kind.address_length == 2 && byte_count == 4;
        if (kind.data) {
            // No room for the address and the checksum: nothing can be placed.
            if (byte_count < minimum) return kFormat;
        } else if (byte_count != minimum && !long_s9) {
            return kind.count_error;
        }
        const int address_length = long_s9 ? 3 : kind.address_length;
        uint32_t address = 0;
        if (!scanner.ReadHex(2 * address_length, address)) return kFormat;
        uint32_t sum = byte_count + AddressSum(address, address_length);

        const uint32_t data_length = kind.data ? byte_count - minimum : 0;
        if (!scanner.ReadHexBytes(data_length, data_, sum)) return kFormat;
        uint32_t checksum = 0;
        if (!scanner.ReadHex(2, checksum)) return kFormat;
        if (((sum + checksum + 1) & 0xFF) != 0) return kChecksum;

        if (kind.data) add_(address, data_, data_length);
        ended = kind.terminates;
        return nullptr;
    }

    // The usual record: S1, S2 or S3, every field all digits, the whole of it
    // in the buffer and its checksum right. Taken in one step; anything else
    // is left unread for the field by field reading, which reads and reports
    // it exactly.
    bool ReadWholeDataRecord(FieldScanner& scanner) {
        const std::string_view text = scanner.Buffered();
        if (text.size() < 3 || text[0] < '1' || text[0] > '3') return false;
        const std::size_t address_length = static_cast<std::size_t>(text[0] - '0') + 1;
        // The byte count and the address.
        uint8_t head[5];
        uint8_t sum = 1;  // a right record's bytes sum to 0xFF
        if (text.size() < 3 + 2 * address_length || !DecodeHexPairs(text.data() + 1, 1 + address_length, head, sum) ||
            head[0] < address_length + 1) {
            return false;
        }
        const std::size_t data_length = head[0] - address_length - 1;
        // Type, byte count, address, data, checksum.
        const std::size_t length = 1 + 2 * (1 + std::size_t{head[0]});
        uint8_t checksum = 0;
        if (text.size() < length || !DecodeHexPairs(text.data() + 3 + 2 * address_length, data_length, data_, sum) ||
            !DecodeHexPairs(text.data() + length - 2, 1, &checksum, sum) || sum != 0) {
            return false;
        }
        uint32_t address = 0;
        for (std::size_t i = 1; i <= address_length; ++i) address = (address << 8) | head[i];
        add_(address, data_, static_cast<uint32_t>(data_length));
        scanner.Skip(length);
        return true;
    }

    AddData add_;
    uint8_t data_[255] = {};  // a byte count of two digits bounds a record's data
};

}  // namespace

bool CImage::LoadSRec(const char* path) {
    SRecRecords records([this](uint32_t address, const uint8_t* data, uint32_t size) { AddData(address, data, size); });
    return ReadRecordFile(path, 'S', kFormat, records);
}

// Reads a Motorola S-record file into an image: records S0, S1-S3, S5 and
// S7-S9, checksums tested, data merged into the last element when it
// continues it. The first problem ends the reading with a line-numbered
// diagnostic.
#include "field_scanner.h"
#include "image.h"

namespace {

enum class SRecError { kNone, kFormat, kS5Count, kS7Count, kS8Count, kS9Count, kChecksum };

const char* Message(SRecError error) {
    switch (error) {
        case SRecError::kFormat: return "Not in Motorola SREC format!";
        case SRecError::kS5Count: return "S5 line 'byte count' error!";
        case SRecError::kS7Count: return "S7 line 'byte count' error!";
        case SRecError::kS8Count: return "S8 line 'byte count' error!";
        case SRecError::kS9Count: return "S9 line 'byte count' error!";
        case SRecError::kChecksum: return "Checksum error!";
        case SRecError::kNone: break;
    }
    return "";
}

// The sum of the bytes of an address that is `length` bytes wide.
uint32_t AddressSum(uint32_t address, int length) {
    uint32_t sum = 0;
    for (int i = 0; i < length; ++i) sum += (address >> (8 * i)) & 0xFF;
    return sum;
}

// What the type character of a record tells of it.
struct RecordKind {
    int address_length;  // in bytes; 0 for the header record
    bool data;           // S1, S2, S3
    bool terminates;     // S7, S8, S9
    SRecError count_error;
};

bool Kind(int type, RecordKind& kind) {
    switch (type) {
        case '0': kind = {0, false, false, SRecError::kNone}; return true;
        case '1': kind = {2, true, false, SRecError::kNone}; return true;
        case '2': kind = {3, true, false, SRecError::kNone}; return true;
        case '3': kind = {4, true, false, SRecError::kNone}; return true;
        case '5': kind = {2, false, false, SRecError::kS5Count}; return true;
        case '7': kind = {4, false, true, SRecError::kS7Count}; return true;
        case '8': kind = {3, false, true, SRecError::kS8Count}; return true;
        case '9': kind = {2, false, true, SRecError::kS9Count}; return true;
        default: return false;
    }
}

class SRecParser {
public:
    explicit SRecParser(std::FILE* file) : scanner_(file) {}

    // Reads records until the end of the input, a termination record or the
    // first error; hands each data record to add(address, bytes, length).
    template <typename AddData>
    SRecError Parse(AddData&& add) {
        for (;;) {
            const int start = scanner_.NextRecordStart();
            if (start == FieldScanner::kEnd) return SRecError::kNone;
            if (start != 'S') return SRecError::kFormat;
            RecordKind kind;
            if (!Kind(scanner_.ReadChar(), kind)) return SRecError::kFormat;
            bool ended = false;
            const SRecError error = kind.address_length == 0 ? SkipHeader() : Record(kind, ended, add);
            if (error != SRecError::kNone || ended) return error;
        }
    }

    uint32_t GetLine() const { return scanner_.GetLine(); }
    bool ReadFailed() const { return scanner_.ReadFailed(); }

private:
    // The header record is skipped untested: its byte count, then that many bytes.
    SRecError SkipHeader() {
        uint32_t byte_count = 0;
        if (!scanner_.ReadHex(2, byte_count)) return SRecError::kFormat;
        uint32_t value = 0;
        for (uint32_t i = 0; i < byte_count; ++i) {
            if (!scanner_.ReadHex(2, value)) return SRecError::kFormat;
        }
        return SRecError::kNone;
    }

    template <typename AddData>
    SRecError Record(const RecordKind& kind, bool& ended, AddData& add) {
        uint32_t byte_count = 0;
        if (!scanner_.ReadHex(2, byte_count)) return SRecError::kFormat;
        const uint32_t minimum = static_cast<uint32_t>(kind.address_length) + 1;
        if (kind.data) {
            // No room for the address and the checksum: nothing can be placed.
            if (byte_count < minimum) return SRecError::kFormat;
        } else if (kind.count_error == SRecError::kS9Count) {
            if (byte_count != 3 && byte_count != 4) return kind.count_error;
        } else if (byte_count != minimum) {
            return kind.count_error;
        }
        // An S9 record with byte count 4 carries a 24-bit address.
        const int address_length = (kind.count_error == SRecError::kS9Count && byte_count == 4)
                                       ? 3 : kind.address_length;
        uint32_t address = 0;
        if (!scanner_.ReadHex(2 * address_length, address)) return SRecError::kFormat;
        uint32_t sum = byte_count + AddressSum(address, address_length);

        const uint32_t data_length = kind.data ? byte_count - minimum : 0;
        if (!scanner_.ReadHexBytes(data_length, data_, sum)) return SRecError::kFormat;
        uint32_t checksum = 0;
        if (!scanner_.ReadHex(2, checksum)) return SRecError::kFormat;
        if (((sum + checksum + 1) & 0xFF) != 0) return SRecError::kChecksum;

        if (kind.data) add(address, data_, data_length);
        ended = kind.terminates;
        return SRecError::kNone;
    }

    FieldScanner scanner_;
    uint8_t data_[255] = {};  // a byte count of two digits bounds a record's data
};

}  // namespace

bool CImage::LoadSRec(const char* path) {
    FilePtr file = OpenForReading(path);
    if (!file) return false;
    SRecParser parser(file.get());
    const SRecError error = parser.Parse(
        [this](uint32_t address, const uint8_t* data, uint32_t size) { AddData(address, data, size); });
    if (error != SRecError::kNone) {
        ReportLineError(parser.GetLine(), Message(error));
        return false;
    }
    return !parser.ReadFailed();
}

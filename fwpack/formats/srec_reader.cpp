// Reads a Motorola S-record file into an image: records S0, S1-S3, S5 and
// S7-S9, checksums tested, data merged into the last element when it
// continues it. The first problem ends the reading with a line-numbered
// diagnostic.
#include "formats/srec_reader.h"
#include "formats/field_scanner.h"
#include "formats/srec_record.h"

namespace {

constexpr const char* kFormat = "Not in Motorola SREC format!";
constexpr const char* kChecksum = "Checksum error!";

// Reads one record behind its 'S' and adds the bytes of a data record to the list.
// With `kWholeRecords`, the usual record is taken in one step; without, every
// record goes through the field reader alone, the reference that the
// whole-record path must agree with.
template <bool kWholeRecords>
class SRecRecords {
public:
    explicit SRecRecords(ElementList& list) : list_(list) {}

    const char* operator()(FieldScanner& scanner, bool& ended) {
        if constexpr (kWholeRecords) {
            if (ReadWholeDataRecord(scanner)) return nullptr;
        }
        SRecord::Kind kind;
        if (!SRecord::KindOf(scanner.ReadChar(), kind)) return kFormat;
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

    const char* Record(FieldScanner& scanner, const SRecord::Kind& kind, bool& ended) {
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
        uint32_t sum = byte_count + SRecord::AddressSum(address, address_length);

        const uint32_t data_length = kind.data ? byte_count - minimum : 0;
        if (!scanner.ReadHexBytes(data_length, data_, sum)) return kFormat;
        uint32_t checksum = 0;
        if (!scanner.ReadHex(2, checksum)) return kFormat;
        if (checksum != SRecord::Checksum(sum)) return kChecksum;

        if (kind.data) list_.AddData(address, data_, data_length);
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
        uint8_t sum = 0;
        if (text.size() < 3 + 2 * address_length || !DecodeHexPairs(text.data() + 1, 1 + address_length, head, sum) ||
            head[0] < address_length + 1) {
            return false;
        }
        const std::size_t data_length = head[0] - address_length - 1;
        // Type, byte count, address, data, checksum.
        const std::size_t length = 1 + 2 * (1 + std::size_t{head[0]});
        uint8_t checksum = 0;
        uint8_t unused = 0;
        if (text.size() < length || !DecodeHexPairs(text.data() + 3 + 2 * address_length, data_length, data_, sum) ||
            !DecodeHexPairs(text.data() + length - 2, 1, &checksum, unused) || checksum != SRecord::Checksum(sum)) {
            return false;
        }
        uint32_t address = 0;
        for (std::size_t i = 1; i <= address_length; ++i) address = (address << 8) | head[i];
        list_.AddData(address, data_, static_cast<uint32_t>(data_length));
        scanner.Skip(length);
        return true;
    }

    ElementList& list_;
    uint8_t data_[255] = {};  // a byte count of two digits bounds a record's data
};

}  // namespace

bool ReadSRec(std::FILE* file, ElementList& list, Error& error) {
    SRecRecords<true> records(list);
    return ReadRecords(file, 'S', kFormat, records, error);
}

bool ReadSRecFile(const char* path, ElementList& list, Error& error) {
    const FilePtr file = OpenForReading(path);
    return file && ReadSRec(file.get(), list, error);
}

bool ReadSRecByFields(std::FILE* file, ElementList& list, Error& error) {
    SRecRecords<false> records(list);
    return ReadRecords(file, 'S', kFormat, records, error);
}

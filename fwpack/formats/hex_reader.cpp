// Reads an Intel HEX file into an image: record types 00 to 05, checksums
// tested, segment (02) and linear (04) address bases, data merged into the
// last element when it continues it. The first problem ends the reading with
// a line-numbered diagnostic.
#include "formats/hex_reader.h"
#include "formats/field_scanner.h"
#include "formats/hex_record.h"

namespace {

constexpr const char* kFormat = "Not in Intel Hex format!";
constexpr const char* kChecksum = "Bad hexadecimal checksum!";

// Reads one record behind its ':' and adds the bytes of a data record to the list.
// With `kWholeRecords`, the usual record is taken in one step; without, every
// record goes through the field reader alone, the reference that the
// whole-record path must agree with.
template <bool kWholeRecords>
class HexRecords {
public:
    explicit HexRecords(ElementList& list) : list_(list) {}

    const char* operator()(FieldScanner& scanner, bool& ended) {
        if constexpr (kWholeRecords) {
            if (ReadWholeDataRecord(scanner)) return nullptr;
        }
        uint32_t byte_count = 0;
        uint32_t address = 0;
        uint32_t separator = 0;
        if (!scanner.ReadHex(2, byte_count) || !scanner.ReadHex(4, address) || !scanner.ReadHex(2, separator)) {
            return kFormat;
        }
        uint32_t sum = byte_count + (address >> 8) + (address & 0xFF) + separator;
        uint32_t value = 0;
        switch (separator) {
            case HexRecord::kData:
            case HexRecord::kStartSegmentAddress:
            case HexRecord::kStartLinearAddress:
                if (!scanner.ReadHexBytes(byte_count, data_, sum)) return kFormat;
                break;
            case HexRecord::kExtendedSegmentAddress:
            case HexRecord::kExtendedLinearAddress:
                if (!scanner.ReadHex(4, value)) return kFormat;
                sum += (value >> 8) + (value & 0xFF);
                break;
            case HexRecord::kEndOfFile: break;
            default: return kFormat;
        }
        uint32_t checksum = 0;
        if (!scanner.ReadHex(2, checksum)) return kFormat;
        if (checksum != HexRecord::Checksum(sum)) return kChecksum;

        switch (separator) {
            case HexRecord::kData: list_.AddData(base_ + address, data_, byte_count); break;
            case HexRecord::kEndOfFile: ended = true; break;
            // Each base replaces the other: a file that mixes the two record
            // types means the latest one.
            case HexRecord::kExtendedSegmentAddress: base_ = value << 4; break;
            case HexRecord::kExtendedLinearAddress: base_ = value << 16; break;
            default: break;
        }
        return nullptr;
    }

private:
    // The usual record: data, every field all digits, the whole of it in the
    // buffer and its checksum right. Taken in one step; anything else is left
    // unread for the field by field reading, which reads and reports it exactly.
    bool ReadWholeDataRecord(FieldScanner& scanner) {
        const std::string_view text = scanner.Buffered();
        // Byte count, two address bytes and type: the four pairs before the data.
        uint8_t head[4];
        uint8_t sum = 0;
        if (text.size() < 8 || !DecodeHexPairs(text.data(), 4, head, sum) || head[3] != HexRecord::kData) {
            return false;
        }
        const std::size_t length = 2 * (4 + std::size_t{head[0]} + 1);
        uint8_t checksum = 0;
        uint8_t unused = 0;
        if (text.size() < length || !DecodeHexPairs(text.data() + 8, head[0], data_, sum) ||
            !DecodeHexPairs(text.data() + length - 2, 1, &checksum, unused) || checksum != HexRecord::Checksum(sum)) {
            return false;
        }
        list_.AddData(base_ + ((uint32_t{head[1]} << 8) | head[2]), data_, head[0]);
        scanner.Skip(length);
        return true;
    }

    ElementList& list_;
    uint32_t base_ = 0;  // the absolute address of offset 0
    uint8_t data_[HexRecord::kMaxDataBytes] = {};
};

}  // namespace

bool ReadHex(std::FILE* file, ElementList& list, Error& error) {
    HexRecords<true> records(list);
    return ReadRecords(file, ':', kFormat, records, error);
}

bool ReadHexFile(const char* path, ElementList& list, Error& error) {
    const FilePtr file = OpenForReading(path);
    return file && ReadHex(file.get(), list, error);
}

bool ReadHexByFields(std::FILE* file, ElementList& list, Error& error) {
    HexRecords<false> records(list);
    return ReadRecords(file, ':', kFormat, records, error);
}

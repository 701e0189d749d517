// Reads an Intel HEX file into an image: record types 00 to 05, checksums
// tested, segment (02) and linear (04) address bases, data merged into the
// last element when it continues it. The first problem ends the reading with
// a line-numbered diagnostic.
#include "field_scanner.h"
#include "image.h"

namespace {

enum class HexError { kNone, kFormat, kChecksum };

enum RecordType : uint32_t {
    kData = 0,
    kEndOfFile = 1,
    kExtendedSegmentAddress = 2,
    kStartSegmentAddress = 3,
    kExtendedLinearAddress = 4,
    kStartLinearAddress = 5,
};

class HexParser {
public:
    explicit HexParser(std::FILE* file) : scanner_(file) {}

    // Reads records until the end of the input, an end-of-file record or the
    // first error; hands each data record to add(address, bytes, length).
    template <typename AddData>
    HexError Parse(AddData&& add) {
        for (;;) {
            const int start = scanner_.NextRecordStart();
            if (start == FieldScanner::kEnd) return HexError::kNone;
            if (start != ':') return HexError::kFormat;
            bool ended = false;
            const HexError error = Record(ended, add);
            if (error != HexError::kNone || ended) return error;
        }
    }

    uint32_t GetLine() const { return scanner_.GetLine(); }
    bool ReadFailed() const { return scanner_.ReadFailed(); }

private:
    template <typename AddData>
    HexError Record(bool& ended, AddData& add) {
        uint32_t byte_count = 0;
        uint32_t address = 0;
        uint32_t separator = 0;
        if (!scanner_.ReadHex(2, byte_count) || !scanner_.ReadHex(4, address) ||
            !scanner_.ReadHex(2, separator)) {
            return HexError::kFormat;
        }
        uint32_t sum = byte_count + (address >> 8) + (address & 0xFF) + separator;
        uint32_t value = 0;
        switch (separator) {
            case kData:
            case kStartSegmentAddress:
            case kStartLinearAddress:
                if (!scanner_.ReadHexBytes(byte_count, data_, sum)) return HexError::kFormat;
                break;
            case kExtendedSegmentAddress:
            case kExtendedLinearAddress:
                if (!scanner_.ReadHex(4, value)) return HexError::kFormat;
                sum += (value >> 8) + (value & 0xFF);
                break;
            case kEndOfFile:
                break;
            default:
                return HexError::kFormat;
        }
        uint32_t checksum = 0;
        if (!scanner_.ReadHex(2, checksum)) return HexError::kFormat;
        if (((sum + checksum) & 0xFF) != 0) return HexError::kChecksum;

        switch (separator) {
            case kData:
                add(base_ + address, data_, byte_count);
                break;
            case kEndOfFile:
                ended = true;
                break;
            // Each base replaces the other: a file that mixes the two record
            // types means the latest one.
            case kExtendedSegmentAddress:
                base_ = value << 4;
                break;
            case kExtendedLinearAddress:
                base_ = value << 16;
                break;
            default:
                break;
        }
        return HexError::kNone;
    }

    FieldScanner scanner_;
    uint32_t base_ = 0;       // the absolute address of offset 0
    uint8_t data_[255] = {};  // a byte count of two digits bounds a record's data
};

}  // namespace

bool CImage::LoadHex(const char* path) {
    FilePtr file = OpenForReading(path);
    if (!file) return false;
    HexParser parser(file.get());
    const HexError error = parser.Parse(
        [this](uint32_t address, const uint8_t* data, uint32_t size) { AddData(address, data, size); });
    if (error != HexError::kNone) {
        ReportLineError(parser.GetLine(),
                        error == HexError::kChecksum ? "Bad hexadecimal checksum!" : "Not in Intel Hex format!");
        return false;
    }
    return !parser.ReadFailed();
}

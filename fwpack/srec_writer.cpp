// Writes an image as a Motorola S-record file: one record type for the whole
// file, chosen by the highest address in use, data records of up to 32 bytes
// and the matching termination record.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Writes the low `digits` nibbles of `value`, most significant first, and
// returns the position behind them.
char* PutHex(char* out, uint32_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = kHexDigits[value & 0xFu];
        value >>= 4;
    }
    return out + digits;
}

// The output file, opened in text mode so that "\n" becomes the platform's
// line end. Lines are gathered into large chunks: a big image then costs a
// few hundred writes instead of one per record. A failed write is remembered
// so that the caller learns of it when closing.
class TextOutput {
public:
    explicit TextOutput(const char* path) : file_(std::fopen(path, "w")) {
        chunk_.reserve(kChunkSize + kLineRoom);
    }
    ~TextOutput() {
        if (file_) std::fclose(file_);
    }
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;

    bool IsOpen() const { return file_ != nullptr; }

    void Write(const char* text, std::size_t length) {
        chunk_.append(text, length);
        if (chunk_.size() >= kChunkSize) Flush();
    }

    // Writes what is left and closes; true when every write and the close
    // succeeded.
    bool Close() {
        Flush();
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return good_ && closed;
    }

private:
    static constexpr std::size_t kChunkSize = 64 * 1024;
    static constexpr std::size_t kLineRoom = 128;

    void Flush() {
        if (!chunk_.empty() && std::fwrite(chunk_.data(), 1, chunk_.size(), file_) != chunk_.size()) {
            good_ = false;
        }
        chunk_.clear();
    }

    std::FILE* file_;
    std::string chunk_;
    bool good_ = true;
};

// What differs between the three data record types.
struct RecordType {
    char digit;                // '1', '2' or '3'
    int address_bytes;         // 2, 3 or 4
    const char* last_line;     // the termination record, start address 0
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
std::size_t BuildRecord(const RecordType& type, uint32_t address, const uint8_t* data,
                        uint32_t count, char* line) {
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
    for (int32_t i = 0; i < count; ++i) {
        const ImageElement* element = list_->GetAt(i);
        if (element->size == 0) continue;
        if (uint64_t{element->address} + element->size > uint64_t{1} << 32) continue;
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

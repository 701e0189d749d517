// The DfuSe file builder: the in-memory layout of prefix, targets and suffix,
// the suffix CRC, and the single write of the finished file.
#include "dfu_file.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "image.h"

namespace {

constexpr std::size_t kPrefixSize = 11;
constexpr std::size_t kTargetPrefixSize = 274;
constexpr std::size_t kElementHeaderSize = 8;
constexpr std::size_t kSuffixSize = 16;
constexpr std::size_t kImageSizeOffset = 6;
constexpr std::size_t kTargetCountOffset = 10;
constexpr std::size_t kNameFieldOffset = 11;
constexpr std::size_t kNameFieldSize = 255;
constexpr uint64_t kMaxField = 0xFFFFFFFFu;
constexpr unsigned kMaxTargets = 255;

// Slicing-by-8 tables: row 0 is the classic byte table; row k advances a byte
// through k further zero bytes, so eight bytes are folded in per step.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
    CrcTables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t crc = n;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
        tables[0][n] = crc;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::size_t n = 0; n < 256; ++n) {
            const uint32_t previous = tables[k - 1][n];
            tables[k][n] = (previous >> 8) ^ tables[0][previous & 0xFFu];
        }
    }
    return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

// Assembled byte by byte so the result does not depend on the host's order.
uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
           (uint32_t{p[3]} << 24);
}

void StoreLe32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

void AppendLe32(std::vector<uint8_t>& buffer, uint32_t value) {
    uint8_t bytes[4];
    StoreLe32(bytes, value);
    buffer.insert(buffer.end(), bytes, bytes + 4);
}

}  // namespace

uint32_t DfuCrc(const uint8_t* data, std::size_t size) {
    const auto& t = kCrcTables;
    uint32_t crc = 0xFFFFFFFFu;
    for (; size >= 8; data += 8, size -= 8) {
        const uint32_t low = crc ^ LoadLe32(data);
        const uint32_t high = LoadLe32(data + 4);
        crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^
              t[4][low >> 24] ^ t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^
              t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
    }
    for (; size > 0; ++data, --size) crc = (crc >> 8) ^ t[0][(crc ^ *data) & 0xFFu];
    return crc;
}

CDFUFile::CDFUFile(const char* path, uint16_t vendor, uint16_t product, uint16_t device)
    : vendor_(vendor), product_(product), device_(device), path_(path ? path : "") {
    // Opened at once, so that an unwritable output shows before any work.
    if (path) stream_.reset(std::fopen(path, "wb"));
    if (!stream_) {
        status_ = STATUS_FILE_OPEN_ERROR;
        return;
    }
    static constexpr uint8_t kPrefix[kPrefixSize] = {'D', 'f', 'u', 'S', 'e', 1,
                                                     kPrefixSize, 0, 0, 0, 0};
    buffer_.reserve(kPrefixSize + kSuffixSize);
    buffer_.assign(kPrefix, kPrefix + kPrefixSize);
    status_ = AppendSuffix();
}

CDFUFile::~CDFUFile() {
    if (!closed_) Close();
}

uint32_t CDFUFile::GetStatus() const { return status_; }

uint32_t CDFUFile::AddTarget(const CImage& image) {
    if (status_ != STATUS_SUCCESS) return status_;
    if (closed_ || target_count_ >= kMaxTargets) return STATUS_TARGET_REFUSED;

    // Size the target first, so that a refusal leaves the file untouched and
    // the buffer grows once. A list that is not loaded hands out nothing.
    const ElementList& list = image.GetList();
    const int32_t listed = image.IsLoaded() ? image.GetNbElements() : 0;
    uint64_t target_size = 0;
    uint32_t records = 0;
    for (int32_t i = 0; i < listed; ++i) {
        const ImageElement* element = list.GetAt(i);
        if (!element) continue;
        target_size += kElementHeaderSize + element->size;
        ++records;
    }
    const std::size_t body_length = buffer_.size() - kSuffixSize;
    const uint64_t image_size = uint64_t{body_length} + kTargetPrefixSize + target_size;
    if (target_size > kMaxField || image_size > kMaxField ||
        image_size + kSuffixSize > buffer_.max_size()) {
        return STATUS_TARGET_REFUSED;
    }

    uint8_t prefix[kTargetPrefixSize] = {'T', 'a', 'r', 'g', 'e', 't'};
    prefix[6] = image.GetAlternate();
    char name[CImage::kMaxNameLength + 1] = {};
    const bool named = image.GetName(name);
    StoreLe32(prefix + 7, named ? 1u : 0u);
    if (named) {
        const char* end = std::find(name, name + kNameFieldSize, '\0');
        std::memcpy(prefix + kNameFieldOffset, name, static_cast<std::size_t>(end - name));
    }
    StoreLe32(prefix + 266, static_cast<uint32_t>(target_size));
    StoreLe32(prefix + 270, records);

    buffer_.resize(body_length);
    buffer_.reserve(static_cast<std::size_t>(image_size) + kSuffixSize);
    buffer_.insert(buffer_.end(), prefix, prefix + kTargetPrefixSize);
    for (int32_t i = 0; i < listed; ++i) {
        const ImageElement* element = list.GetAt(i);
        if (!element) continue;
        AppendLe32(buffer_, element->address);
        AppendLe32(buffer_, element->size);
        if (element->size != 0) {
            buffer_.insert(buffer_.end(), element->data, element->data + element->size);
        }
    }

    buffer_[kTargetCountOffset] = static_cast<uint8_t>(target_count_ + 1);
    StoreLe32(buffer_.data() + kImageSizeOffset, static_cast<uint32_t>(image_size));
    status_ = AppendSuffix();
    if (status_ == STATUS_SUCCESS) ++target_count_;
    return status_;
}

uint32_t CDFUFile::AppendSuffix() {
    const uint8_t suffix[kSuffixSize - 4] = {
        static_cast<uint8_t>(device_),  static_cast<uint8_t>(device_ >> 8),
        static_cast<uint8_t>(product_), static_cast<uint8_t>(product_ >> 8),
        static_cast<uint8_t>(vendor_),  static_cast<uint8_t>(vendor_ >> 8),
        0x1A, 0x01, 'U', 'F', 'D', static_cast<uint8_t>(kSuffixSize)};
    buffer_.insert(buffer_.end(), suffix, suffix + sizeof suffix);
    buffer_.resize(buffer_.size() + 4);
    StoreLe32(buffer_.data() + buffer_.size() - 4, ComputeCrc());
    return status_;
}

uint32_t CDFUFile::ComputeCrc() const { return DfuCrc(buffer_.data(), buffer_.size() - 4); }

uint32_t CDFUFile::Close() {
    if (closed_) return close_status_;
    closed_ = true;
    close_status_ = status_;
    if (status_ != STATUS_SUCCESS) return close_status_;

    const bool written =
        std::fwrite(buffer_.data(), 1, buffer_.size(), stream_.get()) == buffer_.size();
    // The close flushes the last bytes, so its failure counts as much as the write's.
    const bool closed = CloseStream();
    if (!written || !closed) {
        RemoveIncompleteOutput(path_);
        close_status_ = STATUS_FILE_WRITE_ERROR;
    }
    return close_status_;
}

void CDFUFile::Discard() {
    if (closed_) return;
    closed_ = true;
    close_status_ = status_;
    // Only a file this builder opened is removed: after a failed open the
    // path may name something that was never ours.
    if (status_ != STATUS_SUCCESS) return;
    CloseStream();
    RemoveIncompleteOutput(path_);
}

bool CDFUFile::CloseStream() {
    // fclose frees the stream even when it fails, so the owner lets go first.
    return std::fclose(stream_.release()) == 0;
}

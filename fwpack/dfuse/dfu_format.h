// The layout of a DfuSe file, which its builder, its parser and the
// converter share: the signatures, the sizes of its parts, the offsets of
// their fields, the limits of its fields, the DFU suffix and its CRC.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace dfu_format {

// The prefix: signature, format version, image size, target count.
constexpr char kSignature[] = "DfuSe";
constexpr std::size_t kSignatureSize = 5;
constexpr uint8_t kFormatVersion = 1;
constexpr std::size_t kPrefixSize = 11;
constexpr std::size_t kImageSizeOffset = 6;
constexpr std::size_t kTargetCountOffset = 10;
// The target count is one byte.
constexpr std::size_t kMaxTargets = 255;

// A target prefix: signature, alternate setting, named flag, name, target
// size, element count.
constexpr char kTargetSignature[] = "Target";
constexpr std::size_t kTargetSignatureSize = 6;
constexpr std::size_t kTargetPrefixSize = 274;
constexpr std::size_t kAlternateOffset = 6;
constexpr std::size_t kNamedOffset = 7;
constexpr std::size_t kNameFieldOffset = 11;
constexpr std::size_t kNameFieldSize = 255;
constexpr std::size_t kTargetSizeOffset = 266;
constexpr std::size_t kElementCountOffset = 270;

// An element record: address and size, then the data.
constexpr std::size_t kElementHeaderSize = 8;

// The DFU suffix: release, product, vendor, DFU version, "UFD", length, CRC.
constexpr std::size_t kSuffixSize = 16;
constexpr std::size_t kDfuVersionOffset = 6;
constexpr std::size_t kSuffixSignatureOffset = 8;
constexpr char kSuffixSignature[] = "UFD";
constexpr std::size_t kSuffixLengthOffset = 11;
constexpr std::size_t kCrcOffset = 12;
// The DFU release number that the suffix of every DfuSe file carries.
constexpr uint16_t kDfuSeVersion = 0x011A;
// Those of a plain DFU file, whose suffix follows the firmware's bytes alone.
constexpr uint16_t kPlainDfuVersion = 0x0100;
constexpr uint16_t kPlainDfu11Version = 0x0110;

// The largest value of the 32-bit size fields.
constexpr uint64_t kMaxField = 0xFFFFFFFFu;
// The longest file there can be: the largest image size, then the suffix.
constexpr uint64_t kMaxFileSize = kMaxField + kSuffixSize;

// Assembled byte by byte, so that the result does not depend on the host's order.
inline uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline void StoreLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

inline void StoreLe32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

using Suffix = std::array<uint8_t, kSuffixSize>;

// The suffix with its CRC field still zero.
inline Suffix SuffixWithoutCrc(uint16_t vendor, uint16_t product, uint16_t release,
                               uint16_t dfu_version = kDfuSeVersion) {
    Suffix suffix{};
    StoreLe16(suffix.data(), release);
    StoreLe16(suffix.data() + 2, product);
    StoreLe16(suffix.data() + 4, vendor);
    StoreLe16(suffix.data() + kDfuVersionOffset, dfu_version);
    for (std::size_t i = 0; i < 3; ++i) suffix[kSuffixSignatureOffset + i] = static_cast<uint8_t>(kSuffixSignature[i]);
    suffix[kSuffixLengthOffset] = static_cast<uint8_t>(kSuffixSize);
    return suffix;
}

// The common CRC-32 (initial and final inversion) carried on from `crc`
// over `data`, as zlib computes it.
uint32_t Crc32(uint32_t crc, const uint8_t* data, std::size_t size);

// The common CRC-32 of two pieces in a row, from the CRC of each and the
// length of the second.
uint32_t CombineCrc32(uint32_t first, uint32_t second, uint64_t second_length);

// The CRC of the DFU suffix: reflected CRC-32 (polynomial 0xEDB88320),
// register preset to 0xFFFFFFFF and no final inversion; that is, the common
// CRC-32 with all bits inverted.
inline uint32_t SuffixCrc(uint32_t common_crc) { return common_crc ^ 0xFFFFFFFFu; }

}  // namespace dfu_format

// The suffix CRC of `size` bytes at `data`.
uint32_t DfuCrc(const uint8_t* data, std::size_t size);

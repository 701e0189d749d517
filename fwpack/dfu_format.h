// The layout of a DfuSe file, which its builder and its parser share: the
// sizes of its parts, the offsets of their fields, and little-endian integers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dfu_format {

constexpr std::size_t kPrefixSize = 11;
constexpr std::size_t kImageSizeOffset = 6;
constexpr std::size_t kTargetCountOffset = 10;

constexpr std::size_t kTargetPrefixSize = 274;
constexpr std::size_t kAlternateOffset = 6;
constexpr std::size_t kNamedOffset = 7;
constexpr std::size_t kNameFieldOffset = 11;
constexpr std::size_t kNameFieldSize = 255;
constexpr std::size_t kTargetSizeOffset = 266;
constexpr std::size_t kElementCountOffset = 270;

constexpr std::size_t kElementHeaderSize = 8;
constexpr std::size_t kSuffixSize = 16;

// Assembled byte by byte, so that the result does not depend on the host's order.
inline uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline void StoreLe32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace dfu_format

// The layout of a UF2 file, which its writer and its reader share: blocks of
// 512 bytes, each with the flash address of its payload, all fields
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace uf2_format {

constexpr std::size_t kBlockSize = 512;
constexpr uint32_t kStartMagic0 = 0x0A324655;
constexpr uint32_t kStartMagic1 = 0x9E5D5157;
constexpr uint32_t kEndMagic = 0x0AB16F30;

// The offsets of the fields in a block.
constexpr std::size_t kMagic0Offset = 0;
constexpr std::size_t kMagic1Offset = 4;
constexpr std::size_t kFlagsOffset = 8;
constexpr std::size_t kAddressOffset = 12;
constexpr std::size_t kPayloadSizeOffset = 16;
constexpr std::size_t kBlockNumberOffset = 20;
constexpr std::size_t kBlockCountOffset = 24;
constexpr std::size_t kFamilyOffset = 28;  // the file size when the block is part of a file container
constexpr std::size_t kDataOffset = 32;
constexpr std::size_t kDataSize = 476;
constexpr std::size_t kEndMagicOffset = 508;

constexpr uint32_t kNotMainFlash = 0x00000001;
constexpr uint32_t kFileContainer = 0x00001000;
constexpr uint32_t kFamilyPresent = 0x00002000;

// What the writer puts in each block: 256 bytes at a multiple of 256.
constexpr uint32_t kPayloadSize = 256;

inline uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline void StoreLe32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace uf2_format

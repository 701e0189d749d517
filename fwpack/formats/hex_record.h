// An Intel HEX record: its types, its checksum and its line. The reader and
// the writer both go through it, so each rule of the format lives here once.
#pragma once

#include <cstddef>
#include <cstdint>

struct HexRecord {
    enum Type : uint8_t {
        kData = 0,
        kEndOfFile = 1,
        kExtendedSegmentAddress = 2,
        kStartSegmentAddress = 3,
        kExtendedLinearAddress = 4,
        kStartLinearAddress = 5,
    };

    // A byte count of two digits bounds a record's data.
    static constexpr std::size_t kMaxDataBytes = 255;

    // The checksum byte of a record whose other bytes (count, address, type
    // and data) add up to `sum`: the two's complement of the sum's low byte.
    static constexpr uint8_t Checksum(uint32_t sum) { return static_cast<uint8_t>(0x100u - (sum & 0xFFu)); }

    // The length of a record's line with `count` data bytes: ":", count,
    // address, type, data and checksum as digit pairs, and "\n".
    static constexpr std::size_t LineLength(std::size_t count) { return 1 + 2 * (4 + count + 1) + 1; }

    // Writes the whole line of a record (checksum and "\n" included) into
    // `out`, which holds LineLength(count) characters, and returns its length.
    static std::size_t Line(Type type, uint16_t address, const uint8_t* data, std::size_t count, char* out);
};

// A Motorola S-record: what each type carries, its checksum and its line. The
// reader and the writer both go through it, so each rule of the format lives
// here once.
#pragma once

#include <cstddef>
#include <cstdint>

struct SRecord {
    // What the type digit of a record tells of it.
    struct Kind {
        int address_length;       // in bytes; 0 for the header record
        bool data;                // S1, S2, S3
        bool terminates;          // S7, S8, S9
        const char* count_error;  // for a byte count other than the address's length + 1
    };

    // The kind of the record of type `digit` ('0' to '9'); false for a type
    // that is not read.
    static bool KindOf(int digit, Kind& kind);

    // The checksum byte of a record whose other bytes (count, address and
    // data) add up to `sum`: the one's complement of the sum's low byte.
    static constexpr uint8_t Checksum(uint32_t sum) { return static_cast<uint8_t>(0xFFu - (sum & 0xFFu)); }

    // The sum of the bytes of an address that is `length` bytes wide.
    static constexpr uint32_t AddressSum(uint32_t address, int length) {
        uint32_t sum = 0;
        for (int i = 0; i < length; ++i) sum += (address >> (8 * i)) & 0xFFu;
        return sum;
    }

    // The length of a record's line with an address of `address_length`
    // bytes and `count` data bytes: type, count, address, data and checksum,
    // and "\n".
    static constexpr std::size_t LineLength(int address_length, std::size_t count) {
        return 2 + 2 * (1 + static_cast<std::size_t>(address_length) + count + 1) + 1;
    }

    // Writes the whole line of the record of type `digit` ('1', '2', '3' for
    // data; '7', '8', '9' for termination) into `out`, which holds
    // LineLength() characters, and returns its length.
    static std::size_t Line(char digit, int address_length, uint32_t address, const uint8_t* data, std::size_t count,
                            char* out);
};

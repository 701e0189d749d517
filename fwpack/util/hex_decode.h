// Hexadecimal digits to values: one digit through a table, and runs of digit
// pairs to bytes many at a time, for the readers' whole-record path.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace hex_decode {

// The value of each hexadecimal digit character; -1 for any other character.
constexpr std::array<int8_t, 256> MakeHexTable() {
    std::array<int8_t, 256> table{};
    for (int i = 0; i < 256; ++i) table[i] = -1;
    for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
        table['A' + i] = static_cast<int8_t>(10 + i);
        table['a' + i] = static_cast<int8_t>(10 + i);
    }
    return table;
}
inline constexpr std::array<int8_t, 256> kHexValue = MakeHexTable();

#if defined(__has_builtin)
#if __has_builtin(__builtin_shufflevector) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define FWPACK_HEX_VECTORS 1
#endif
#endif

#if defined(FWPACK_HEX_VECTORS)
// Sixteen pairs at a time in the compiler's portable vector types, several
// times faster than one character at a time.
using Bytes16 = uint8_t __attribute__((vector_size(16)));
using Words8 = uint16_t __attribute__((vector_size(16)));

constexpr std::size_t kBlockPairs = 16;

// Digits to their values; `bad` gains a set lane for every other character.
inline Bytes16 Nibbles(Bytes16 text, Bytes16& bad) {
    const Bytes16 digit = text - static_cast<uint8_t>('0');
    const Bytes16 letter = (text | static_cast<uint8_t>(0x20)) - static_cast<uint8_t>('a');
    const Bytes16 is_digit = reinterpret_cast<Bytes16>(digit < static_cast<uint8_t>(10));
    const Bytes16 is_letter = reinterpret_cast<Bytes16>(letter < static_cast<uint8_t>(6));
    bad |= ~(is_digit | is_letter);
    return (digit & is_digit) | ((letter + static_cast<uint8_t>(10)) & is_letter);
}

// Sixteen pairs at `text` into `out`; returns the bytes.
inline Bytes16 DecodeBlock(const char* text, uint8_t* out, Bytes16& bad) {
    Bytes16 first;
    Bytes16 second;
    std::memcpy(&first, text, 16);
    std::memcpy(&second, text + 16, 16);
    // Each 16-bit lane holds one pair, its first digit in the low byte.
    const Words8 a = reinterpret_cast<Words8>(Nibbles(first, bad));
    const Words8 b = reinterpret_cast<Words8>(Nibbles(second, bad));
    const Words8 bytes_a = ((a & 0xFF) << 4) | (a >> 8);
    const Words8 bytes_b = ((b & 0xFF) << 4) | (b >> 8);
    const Bytes16 bytes =
        __builtin_shufflevector(reinterpret_cast<Bytes16>(bytes_a), reinterpret_cast<Bytes16>(bytes_b), 0, 2, 4, 6, 8,
                                10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    std::memcpy(out, &bytes, 16);
    return bytes;
}

// The sum of the sixteen bytes, modulo 256.
inline uint8_t SumOfLanes(Bytes16 bytes) {
    uint64_t halves[2];
    std::memcpy(halves, &bytes, sizeof halves);
    // Four 16-bit lanes of pair sums, none of which can carry into the next.
    constexpr uint64_t kLowBytes = 0x00FF00FF00FF00FFu;
    const uint64_t words = (halves[0] & kLowBytes) + ((halves[0] >> 8) & kLowBytes) + (halves[1] & kLowBytes) +
                           ((halves[1] >> 8) & kLowBytes);
    return static_cast<uint8_t>((words * 0x0001000100010001u) >> 48);
}

// At least 16 pairs, in blocks of 16; where the count is not a multiple of
// 16 the last block overlaps the one before, and only its new bytes count.
inline bool DecodeBlocks(const char* text, std::size_t count, uint8_t* out, uint8_t& sum) {
    Bytes16 bad{};
    Bytes16 total{};
    std::size_t i = 0;
    for (; i + kBlockPairs <= count; i += kBlockPairs) total += DecodeBlock(text + 2 * i, out + i, bad);
    if (i < count) {
        const Bytes16 last = DecodeBlock(text + 2 * (count - kBlockPairs), out + count - kBlockPairs, bad);
        const Bytes16 lane = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        const Bytes16 fresh = reinterpret_cast<Bytes16>(lane >= static_cast<uint8_t>(kBlockPairs - (count - i)));
        total += last & fresh;
    }
    sum = static_cast<uint8_t>(sum + SumOfLanes(total));
    uint64_t halves[2];
    std::memcpy(halves, &bad, sizeof halves);
    return (halves[0] | halves[1]) == 0;
}
#else
constexpr std::size_t kBlockPairs = SIZE_MAX;

inline bool DecodeBlocks(const char*, std::size_t, uint8_t*, uint8_t&) { return false; }
#endif

}  // namespace hex_decode

// Decodes `count` pairs of hexadecimal digits at `text` into bytes at `out`
// and adds them to `sum`, modulo 256 as record checksums are. False when any
// of the characters is not a digit; `out` and `sum` then hold no useful value.
inline bool DecodeHexPairs(const char* text, std::size_t count, uint8_t* out, uint8_t& sum) {
    if (count >= hex_decode::kBlockPairs) return hex_decode::DecodeBlocks(text, count, out, sum);
    // A table, not comparisons: digits and letters mix at random in data,
    // and branches on them would be mispredicted half of the time.
    int8_t bits = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int8_t high = hex_decode::kHexValue[static_cast<unsigned char>(text[2 * i])];
        const int8_t low = hex_decode::kHexValue[static_cast<unsigned char>(text[2 * i + 1])];
        bits |= high | low;
        out[i] = static_cast<uint8_t>((static_cast<uint8_t>(high) << 4) | static_cast<uint8_t>(low));
        sum = static_cast<uint8_t>(sum + out[i]);
    }
    return bits >= 0;
}

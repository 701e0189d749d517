// Numbers to text, written by hand into a character buffer: bytes as pairs of
// upper-case hexadecimal digits, sixteen at a time where the compiler has the
// vector operations and else through a table of all 256 pairs, and decimal
// numbers. The writers and the listing format millions of numbers, where
// formatting a digit at a time, or through printf, costs more than the rest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "util/hex_decode.h"

namespace hex_encode {

// "000102...FEFF": the two digits of byte b at 2 * b.
constexpr std::array<char, 512> MakePairTable() {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::array<char, 512> table{};
    for (int b = 0; b < 256; ++b) {
        table[2 * b] = kDigits[b >> 4];
        table[2 * b + 1] = kDigits[b & 0xF];
    }
    return table;
}
inline constexpr std::array<char, 512> kPairs = MakePairTable();

// Writes the two digits of `byte` and returns the position behind them.
inline char* PutByte(char* out, uint8_t byte) {
    std::memcpy(out, &kPairs[2 * std::size_t{byte}], 2);
    return out + 2;
}

// Writes the low `bytes` bytes of `value` as digit pairs, the most
// significant first.
inline char* PutValue(char* out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out = PutByte(out, static_cast<uint8_t>(value >> (8 * i)));
    return out;
}

#if defined(FWPACK_HEX_VECTORS)
// Sixteen bytes at `data` as 32 digits at `out`, several times faster than a
// pair at a time; returns the bytes.
inline hex_decode::Bytes16 EncodeBlock(const uint8_t* data, char* out) {
    using hex_decode::Bytes16;
    Bytes16 bytes;
    std::memcpy(&bytes, data, 16);
    const Bytes16 high = bytes >> 4;
    const Bytes16 low = bytes & static_cast<uint8_t>(0xF);
    // A nibble above 9 becomes a letter: '0' + 10 + 7 is 'A'.
    const Bytes16 letter_high = reinterpret_cast<Bytes16>(high > static_cast<uint8_t>(9)) & static_cast<uint8_t>(7);
    const Bytes16 letter_low = reinterpret_cast<Bytes16>(low > static_cast<uint8_t>(9)) & static_cast<uint8_t>(7);
    const Bytes16 first = high + static_cast<uint8_t>('0') + letter_high;
    const Bytes16 second = low + static_cast<uint8_t>('0') + letter_low;
    const Bytes16 front =
        __builtin_shufflevector(first, second, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const Bytes16 back =
        __builtin_shufflevector(first, second, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    std::memcpy(out, &front, 16);
    std::memcpy(out + 16, &back, 16);
    return bytes;
}
#endif

// Writes `count` bytes as digit pairs and adds them to `sum`, of which only
// the low byte counts (as in every record checksum).
inline char* PutBytes(char* out, const uint8_t* data, std::size_t count, uint32_t& sum) {
    uint32_t total = sum;
#if defined(FWPACK_HEX_VECTORS)
    for (; count >= 16; count -= 16, data += 16, out += 32) total += hex_decode::SumOfLanes(EncodeBlock(data, out));
#endif
    for (std::size_t i = 0; i < count; ++i) {
        out = PutByte(out, data[i]);
        total += data[i];
    }
    sum = total;
    return out;
}

// As printf's "%08llX": at least eight digits, more when the value needs them.
inline char* PutHex8(char* out, uint64_t value) {
    int bytes = 4;
    while (bytes < 8 && (value >> (8 * bytes)) != 0) ++bytes;
    if ((value >> (8 * bytes - 4)) == 0 && bytes > 4) {
        // An odd number of digits: the leading one alone.
        *out++ = kPairs[2 * static_cast<std::size_t>(value >> (8 * (bytes - 1))) + 1];
        --bytes;
    }
    return PutValue(out, value, bytes);
}

// "000102...9899": the two decimal digits of n below 100 at 2 * n.
constexpr std::array<char, 200> MakeDecimalPairTable() {
    std::array<char, 200> table{};
    for (int n = 0; n < 100; ++n) {
        table[2 * n] = static_cast<char>('0' + n / 10);
        table[2 * n + 1] = static_cast<char>('0' + n % 10);
    }
    return table;
}
inline constexpr std::array<char, 200> kDecimalPairs = MakeDecimalPairTable();

// As printf's "%llu".
inline char* PutDecimal(char* out, uint64_t value) {
    char digits[20];
    char* at = digits + sizeof digits;
    while (value >= 100) {
        at -= 2;
        std::memcpy(at, &kDecimalPairs[2 * static_cast<std::size_t>(value % 100)], 2);
        value /= 100;
    }
    if (value >= 10) {
        at -= 2;
        std::memcpy(at, &kDecimalPairs[2 * static_cast<std::size_t>(value)], 2);
    } else {
        *--at = static_cast<char>('0' + value);
    }
    const auto length = static_cast<std::size_t>(digits + sizeof digits - at);
    std::memcpy(out, at, length);
    return out + length;
}

}  // namespace hex_encode

// The lines of both record formats, as their writers write them.
#include "hex_record.h"
#include "srec_record.h"

namespace {

// Writes the low `digits` nibbles of `value` as upper-case hexadecimal digits,
// most significant first, and returns the position behind them.
char* PutHex(char* out, uint32_t value, int digits) {
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = kHexDigits[value & 0xFu];
        value >>= 4;
    }
    return out + digits;
}

// Writes `count` bytes as digit pairs and adds them to `sum`.
char* PutBytes(char* out, const uint8_t* data, std::size_t count, uint32_t& sum) {
    for (std::size_t i = 0; i < count; ++i) {
        out = PutHex(out, data[i], 2);
        sum += data[i];
    }
    return out;
}

}  // namespace

std::size_t HexRecord::Line(Type type, uint16_t address, const uint8_t* data, std::size_t count, char* out) {
    char* at = out;
    *at++ = ':';
    at = PutHex(at, static_cast<uint32_t>(count), 2);
    at = PutHex(at, address, 4);
    at = PutHex(at, type, 2);
    uint32_t sum = static_cast<uint32_t>(count) + (address >> 8) + (address & 0xFFu) + type;
    at = PutBytes(at, data, count, sum);
    at = PutHex(at, Checksum(sum), 2);
    *at++ = '\n';
    return static_cast<std::size_t>(at - out);
}

bool SRecord::KindOf(int digit, Kind& kind) {
    switch (digit) {
        case '0': kind = {0, false, false, nullptr}; return true;
        case '1': kind = {2, true, false, nullptr}; return true;
        case '2': kind = {3, true, false, nullptr}; return true;
        case '3': kind = {4, true, false, nullptr}; return true;
        case '5': kind = {2, false, false, "S5 line 'byte count' error!"}; return true;
        case '7': kind = {4, false, true, "S7 line 'byte count' error!"}; return true;
        case '8': kind = {3, false, true, "S8 line 'byte count' error!"}; return true;
        // S9 also takes a 24-bit address: a byte count of 3 or 4.
        case '9': kind = {2, false, true, "S9 line 'byte count' error!"}; return true;
        default: return false;
    }
}

std::size_t SRecord::Line(char digit, int address_length, uint32_t address, const uint8_t* data, std::size_t count,
                          char* out) {
    const uint32_t byte_count = static_cast<uint32_t>(count) + static_cast<uint32_t>(address_length) + 1;
    char* at = out;
    *at++ = 'S';
    *at++ = digit;
    at = PutHex(at, byte_count, 2);
    at = PutHex(at, address, 2 * address_length);
    uint32_t sum = byte_count + AddressSum(address, address_length);
    at = PutBytes(at, data, count, sum);
    at = PutHex(at, Checksum(sum), 2);
    *at++ = '\n';
    return static_cast<std::size_t>(at - out);
}

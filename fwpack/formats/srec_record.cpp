// What each S-record type carries, and the line of a record as the writer
// writes it.
#include "formats/srec_record.h"

#include "util/hex_encode.h"

using hex_encode::PutByte;
using hex_encode::PutBytes;
using hex_encode::PutValue;

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
    at = PutByte(at, static_cast<uint8_t>(byte_count));
    at = PutValue(at, address, address_length);
    uint32_t sum = byte_count + AddressSum(address, address_length);
    at = PutBytes(at, data, count, sum);
    at = PutByte(at, Checksum(sum));
    *at++ = '\n';
    return static_cast<std::size_t>(at - out);
}

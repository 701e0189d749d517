// The line of an Intel HEX record, as the writer writes it.
#include "formats/hex_record.h"

#include "util/hex_encode.h"

using hex_encode::PutByte;
using hex_encode::PutBytes;
using hex_encode::PutValue;

std::size_t HexRecord::Line(Type type, uint16_t address, const uint8_t* data, std::size_t count, char* out) {
    char* at = out;
    *at++ = ':';
    at = PutByte(at, static_cast<uint8_t>(count));
    at = PutValue(at, address, 2);
    at = PutByte(at, type);
    uint32_t sum = static_cast<uint32_t>(count) + (address >> 8) + (address & 0xFFu) + type;
    at = PutBytes(at, data, count, sum);
    at = PutByte(at, Checksum(sum));
    *at++ = '\n';
    return static_cast<std::size_t>(at - out);
}

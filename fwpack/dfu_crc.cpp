// The CRC of DfuSe files, through zlib.
#include <zlib.h>

#include "dfu_format.h"

namespace dfu_format {

uint32_t Crc32(uint32_t crc, const uint8_t* data, std::size_t size) {
    return static_cast<uint32_t>(crc32_z(crc, data, size));
}

uint32_t CombineCrc32(uint32_t first, uint32_t second, uint64_t second_length) {
    // zlib's length type may be 32 bits wide, so a long second piece is taken
    // in steps: moving the first CRC past zero bytes and then adding the
    // second's is the same.
    constexpr uint64_t kStep = uint64_t{1} << 30;
    for (; second_length > kStep; second_length -= kStep) {
        first = static_cast<uint32_t>(crc32_combine(first, 0, static_cast<z_off_t>(kStep)));
    }
    return static_cast<uint32_t>(crc32_combine(first, second, static_cast<z_off_t>(second_length)));
}

}  // namespace dfu_format

uint32_t DfuCrc(const uint8_t* data, std::size_t size) {
    return dfu_format::SuffixCrc(dfu_format::Crc32(0, data, size));
}

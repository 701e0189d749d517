// The CRC of DfuSe files: zlib's, and on x86 processors with carry-less
// multiplication a folding loop that takes 64 bytes per step, several times
// faster than zlib's tables on the long runs of a large image. Both give the
// same CRC; the tests compare them on random data of every alignment.
#include <zlib.h>

#include "dfuse/dfu_format.h"

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define FWPACK_CRC_FOLDING 1
#include <immintrin.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#define FWPACK_FOLDING_TARGET
#else
#define FWPACK_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))
#endif
#endif

namespace {

uint32_t ZlibCrc32(uint32_t crc, const uint8_t* data, std::size_t size) {
    // zlib's length type may be 32 bits wide: long data goes in steps.
    constexpr std::size_t kStep = std::size_t{1} << 30;
    for (; size > kStep; size -= kStep, data += kStep) crc = static_cast<uint32_t>(crc32_z(crc, data, kStep));
    return static_cast<uint32_t>(crc32_z(crc, data, size));
}

#if defined(FWPACK_CRC_FOLDING)

bool HasCarrylessMultiply() {
#if defined(_MSC_VER) && !defined(__clang__)
    int registers[4];
    __cpuid(registers, 1);
    const bool pclmul = (registers[2] & (1 << 1)) != 0;
    const bool sse41 = (registers[2] & (1 << 19)) != 0;
    return pclmul && sse41;
#else
    // Static initialisers may run before the C library's own.
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
#endif
}

// One 128-bit lane carried `k` bits further: its halves multiplied by the
// two constants of `k`, and added (xor) to the next 16 bytes.
FWPACK_FOLDING_TARGET inline __m128i Fold(__m128i lane, __m128i k, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, k, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

FWPACK_FOLDING_TARGET inline __m128i Load(const uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// The CRC register (not inverted) after `size` bytes, a multiple of 16 and
// at least 64. The constants are x^n mod P(x) for the bit-reflected
// polynomial 0x04C11DB7, for the distances of each fold: 4 x 128 + 64 and
// 4 x 128 bits, 128 + 64 and 128 bits, 64 bits, and, for the final
// reduction, P(x) itself and floor(x^64 / P(x)).
FWPACK_FOLDING_TARGET uint32_t FoldingCrc32(uint32_t crc, const uint8_t* data, std::size_t size) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i polynomial = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);

    __m128i x1 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load(data + 16);
    __m128i x3 = Load(data + 32);
    __m128i x4 = Load(data + 48);
    data += 64;
    size -= 64;
    for (; size >= 64; size -= 64, data += 64) {
        x1 = Fold(x1, k1k2, Load(data));
        x2 = Fold(x2, k1k2, Load(data + 16));
        x3 = Fold(x3, k1k2, Load(data + 32));
        x4 = Fold(x4, k1k2, Load(data + 48));
    }
    x1 = Fold(x1, k3k4, x2);
    x1 = Fold(x1, k3k4, x3);
    x1 = Fold(x1, k3k4, x4);
    for (; size >= 16; size -= 16, data += 16) x1 = Fold(x1, k3k4, Load(data));

    // 128 bits to 64, then Barrett's reduction to 32.
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(_mm_and_si128(x, low32), k5, 0x00));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), polynomial, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), polynomial, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

const bool kFolding = HasCarrylessMultiply();

#endif

}  // namespace

namespace dfu_format {

uint32_t Crc32(uint32_t crc, const uint8_t* data, std::size_t size) {
#if defined(FWPACK_CRC_FOLDING)
    // Below a few hundred bytes the tables are as fast.
    constexpr std::size_t kFoldingFrom = 256;
    if (kFolding && size >= kFoldingFrom) {
        const std::size_t folded = size & ~std::size_t{15};
        crc = ~FoldingCrc32(~crc, data, folded);
        data += folded;
        size -= folded;
    }
#endif
    return ZlibCrc32(crc, data, size);
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

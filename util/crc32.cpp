#include "util/crc32.h"

#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#define QV_CRC_FOLDING 1
// The folding code is compiled for carry-less multiplication alone and runs
// only after the processor said it has it. A 32-bit Windows thread may start
// with a stack aligned to 4 bytes only, so the function aligns its own.
#if defined(__i386__)
#define QV_CRC_TARGET __attribute__((target("pclmul,sse4.1"), force_align_arg_pointer))
#else
#define QV_CRC_TARGET __attribute__((target("pclmul,sse4.1")))
#endif
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <immintrin.h>
#include <intrin.h>
#define QV_CRC_FOLDING 1
#define QV_CRC_TARGET
#endif

namespace {

// Eight tables, so that the main loop takes eight bytes per step.
struct Tables {
    std::uint32_t t[8][256];
    Tables() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};

const Tables& Table() {
    static const Tables tables;
    return tables;
}

#if defined(QV_CRC_FOLDING)

bool CpuHasCarrylessMultiply() {
    unsigned int leaf1[4] = {};
#if defined(_MSC_VER) && !defined(__GNUC__)
    int regs[4];
    __cpuid(regs, 1);
    leaf1[2] = static_cast<unsigned int>(regs[2]);
#else
    if (!__get_cpuid(1, &leaf1[0], &leaf1[1], &leaf1[2], &leaf1[3])) return false;
#endif
    const bool pclmul = (leaf1[2] & (1u << 1)) != 0;
    const bool sse41 = (leaf1[2] & (1u << 19)) != 0;
    return pclmul && sse41;
}

// x^n mod P for the bit-reflected polynomial, as the folding needs them: the
// distance of four lanes (512 and 576 bits), of one lane (128 and 192 bits),
// of 64 bits, and the polynomial and its Barrett constant.
alignas(16) const std::uint64_t kFourLanes[2] = {0x154442bd4ull, 0x1c6e41596ull};
alignas(16) const std::uint64_t kOneLane[2] = {0x1751997d0ull, 0x0ccaa009eull};
alignas(16) const std::uint64_t kSixtyFour[2] = {0x163cd6124ull, 0};
alignas(16) const std::uint64_t kBarrett[2] = {0x1db710641ull, 0x1f7011641ull};

// Folds `lane` forward over 128 bits (or 512, with the four-lane constants)
// onto `next`.
QV_CRC_TARGET inline __m128i Fold(__m128i lane, __m128i constants, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// The running (inverted) CRC over `size` bytes, a multiple of 16 and at least
// 64: four 128-bit lanes are folded 64 bytes at a time, then into one, which
// is reduced to 64 and then, by Barrett's method, to 32 bits.
QV_CRC_TARGET std::uint32_t FoldBlocks(std::uint32_t crc, const unsigned char* p, std::size_t size) {
    __m128i lanes[4];
    for (int i = 0; i < 4; ++i) lanes[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    lanes[0] = _mm_xor_si128(lanes[0], _mm_cvtsi32_si128(static_cast<int>(crc)));
    p += 64;
    size -= 64;
    const __m128i four = _mm_load_si128(reinterpret_cast<const __m128i*>(kFourLanes));
    for (; size >= 64; p += 64, size -= 64)
        for (int i = 0; i < 4; ++i)
            lanes[i] = Fold(lanes[i], four, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)));
    const __m128i one = _mm_load_si128(reinterpret_cast<const __m128i*>(kOneLane));
    __m128i x = lanes[0];
    for (int i = 1; i < 4; ++i) x = Fold(x, one, lanes[i]);
    for (; size >= 16; p += 16, size -= 16) x = Fold(x, one, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));

    // 128 to 64 bits.
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    x = _mm_xor_si128(_mm_srli_si128(x, 8), _mm_clmulepi64_si128(x, one, 0x10));
    const __m128i sixtyFour = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kSixtyFour));
    x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(_mm_and_si128(x, low32), sixtyFour, 0x00));
    // 64 to 32 bits.
    const __m128i barrett = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

#endif

}  // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
    const auto& t = Table().t;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
#if defined(QV_CRC_FOLDING)
    // Long runs take the carry-less multiplication where the processor has it.
    static const bool folding = CpuHasCarrylessMultiply();
    if (folding && size >= 64) {
        const std::size_t whole = size & ~static_cast<std::size_t>(15);
        crc = FoldBlocks(crc, p, whole);
        p += whole;
        size -= whole;
    }
#endif
    while (size >= 8) {
        std::uint32_t low, high;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + 4, 4);
        low ^= crc;  // little-endian targets only, as every Windows build is
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
              t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
        p += 8;
        size -= 8;
    }
    while (size--) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

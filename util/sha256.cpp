#include "util/sha256.h"

#include <cstring>
#include <memory>
#include <new>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#define QV_SHA_EXTENSIONS 1
// The SHA extensions' code is compiled for them alone; it runs only after
// the processor said it has them. A 32-bit Windows thread may start with a
// stack aligned to 4 bytes only, so the function aligns its own.
#if defined(__i386__)
#define QV_SHA_TARGET __attribute__((target("sha,sse4.1"), force_align_arg_pointer))
#else
#define QV_SHA_TARGET __attribute__((target("sha,sse4.1")))
#endif
#define QV_SHA_INLINE inline __attribute__((always_inline, target("sha,sse4.1")))
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <immintrin.h>
#include <intrin.h>
#define QV_SHA_EXTENSIONS 1
#define QV_SHA_TARGET
#define QV_SHA_INLINE __forceinline
#endif

namespace {

alignas(16) const std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

const std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline std::uint32_t LoadBE32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

inline void StoreBE32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

void BlocksPortable(std::uint32_t state[8], const unsigned char* data, size_t count) {
    std::uint32_t w[64];
    for (; count > 0; --count, data += 64) {
        for (int i = 0; i < 16; ++i) w[i] = LoadBE32(data + 4 * i);
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 =
                h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
            const std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#if defined(QV_SHA_EXTENSIONS)

bool CpuHasShaExtensions() {
    unsigned int leaf1[4] = {}, leaf7[4] = {};
#if defined(_MSC_VER) && !defined(__GNUC__)
    int regs[4];
    __cpuid(regs, 0);
    if (regs[0] < 7) return false;
    __cpuid(regs, 1);
    leaf1[2] = static_cast<unsigned int>(regs[2]);
    __cpuidex(regs, 7, 0);
    leaf7[1] = static_cast<unsigned int>(regs[1]);
#else
    if (!__get_cpuid(1, &leaf1[0], &leaf1[1], &leaf1[2], &leaf1[3])) return false;
    if (!__get_cpuid_count(7, 0, &leaf7[0], &leaf7[1], &leaf7[2], &leaf7[3])) return false;
#endif
    const bool ssse3 = (leaf1[2] & (1u << 9)) != 0;
    const bool sse41 = (leaf1[2] & (1u << 19)) != 0;
    const bool sha = (leaf7[1] & (1u << 29)) != 0;
    return ssse3 && sse41 && sha;
}

// Four rounds with the message words `a` (and the schedule of the four words
// that come twelve rounds later, while they are still needed).
QV_SHA_INLINE void FourRounds(__m128i& abef, __m128i& cdgh, __m128i& a, __m128i b, __m128i c, __m128i d, int group,
                              bool schedule) {
    const __m128i wk = _mm_add_epi32(a, _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * group)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    if (schedule) a = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(a, b), _mm_alignr_epi8(d, c, 4)), d);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

QV_SHA_TARGET void BlocksAccelerated(std::uint32_t state[8], const unsigned char* data, size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    // The instructions keep the state as ABEF and CDGH.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count > 0; --count, data += 64) {
        const __m128i abefSaved = abef, cdghSaved = cdgh;
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), byteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), byteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), byteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), byteSwap);
        for (int group = 0; group < 12; group += 4) {
            FourRounds(abef, cdgh, m0, m1, m2, m3, group, true);
            FourRounds(abef, cdgh, m1, m2, m3, m0, group + 1, true);
            FourRounds(abef, cdgh, m2, m3, m0, m1, group + 2, true);
            FourRounds(abef, cdgh, m3, m0, m1, m2, group + 3, true);
        }
        FourRounds(abef, cdgh, m0, m1, m2, m3, 12, false);
        FourRounds(abef, cdgh, m1, m2, m3, m0, 13, false);
        FourRounds(abef, cdgh, m2, m3, m0, m1, 14, false);
        FourRounds(abef, cdgh, m3, m0, m1, m2, 15, false);
        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

#endif  // QV_SHA_EXTENSIONS

}  // namespace

bool CSha256::ProcessorHasShaExtensions() {
#if defined(QV_SHA_EXTENSIONS)
    static const bool present = CpuHasShaExtensions();
    return present;
#else
    return false;
#endif
}

CSha256::CSha256(Engine engine) : m_accelerated(engine == Engine::kFastest && ProcessorHasShaExtensions()) { Reset(); }

void CSha256::Reset() {
    std::memcpy(m_state, kInitial, sizeof m_state);
    m_length = 0;
    m_buffered = 0;
}

void CSha256::Blocks(const unsigned char* data, size_t count) {
#if defined(QV_SHA_EXTENSIONS)
    if (m_accelerated) {
        BlocksAccelerated(m_state, data, count);
        return;
    }
#endif
    BlocksPortable(m_state, data, count);
}

void CSha256::Update(const void* data, size_t size) {
    const unsigned char* input = static_cast<const unsigned char*>(data);
    m_length += size;
    if (m_buffered > 0) {
        const size_t take = size < 64 - m_buffered ? size : 64 - m_buffered;
        std::memcpy(m_buffer + m_buffered, input, take);
        m_buffered += take;
        input += take;
        size -= take;
        if (m_buffered < 64) return;
        Blocks(m_buffer, 1);
        m_buffered = 0;
    }
    // Whole blocks are hashed straight from the caller's buffer.
    if (size >= 64) {
        Blocks(input, size / 64);
        input += size - size % 64;
        size %= 64;
    }
    if (size > 0) std::memcpy(m_buffer, input, size);
    m_buffered = size;
}

Sha256Digest CSha256::Final() {
    const std::uint64_t bits = m_length * 8;
    unsigned char tail[128] = {0x80};
    const size_t padding = m_buffered < 56 ? 56 - m_buffered : 120 - m_buffered;
    for (int i = 0; i < 8; ++i) tail[padding + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Update(tail, padding + 8);
    Sha256Digest digest;
    for (int i = 0; i < 8; ++i) StoreBE32(digest.data() + 4 * i, m_state[i]);
    Reset();
    return digest;
}

bool Sha256OfFile(HANDLE file, Sha256Digest* digest, const std::atomic<bool>* stop) {
    if (!digest || !file || file == INVALID_HANDLE_VALUE) return false;
    // Large reads: each one is a call into the system (under Wine, a slow one).
    const DWORD kChunk = 1 << 20;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kChunk]);
    if (!buffer) return false;
    CSha256 sha;
    std::uint64_t offset = 0;
    for (;;) {
        if (stop && stop->load()) return false;
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!::ReadFile(file, buffer.get(), kChunk, &got, &at)) {
            // A positional read at the end of a synchronous file reports the end as an error.
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            return false;
        }
        if (got == 0) break;
        sha.Update(buffer.get(), got);
        offset += got;
    }
    *digest = sha.Final();
    return true;
}

#include "util/md5.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "util/owned.h"

namespace {

inline std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline std::uint32_t LoadLE32(const unsigned char* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

inline void StoreLE32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

#define QV_MD5_STEP(f, a, b, c, d, x, t, s) \
    (a) += f((b), (c), (d)) + (x) + (t);    \
    (a) = RotateLeft((a), (s)) + (b)

inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return z ^ (x & (y ^ z)); }
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (z & (x ^ y)); }
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }

// Size of the reads of DigestFile.
constexpr std::size_t kFileBufferSize = 256 * 1024;

}  // namespace

CMd5::CMd5()
    : m_state{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u},
      m_countLow(0),
      m_countHigh(0),
      m_block{},
      m_digest{},
      m_finalized(false) {}

void CMd5::Compress(const unsigned char* p) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLE32(p + 4 * i);
    std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];

    QV_MD5_STEP(F, a, b, c, d, x[0], 0xd76aa478, 7);
    QV_MD5_STEP(F, d, a, b, c, x[1], 0xe8c7b756, 12);
    QV_MD5_STEP(F, c, d, a, b, x[2], 0x242070db, 17);
    QV_MD5_STEP(F, b, c, d, a, x[3], 0xc1bdceee, 22);
    QV_MD5_STEP(F, a, b, c, d, x[4], 0xf57c0faf, 7);
    QV_MD5_STEP(F, d, a, b, c, x[5], 0x4787c62a, 12);
    QV_MD5_STEP(F, c, d, a, b, x[6], 0xa8304613, 17);
    QV_MD5_STEP(F, b, c, d, a, x[7], 0xfd469501, 22);
    QV_MD5_STEP(F, a, b, c, d, x[8], 0x698098d8, 7);
    QV_MD5_STEP(F, d, a, b, c, x[9], 0x8b44f7af, 12);
    QV_MD5_STEP(F, c, d, a, b, x[10], 0xffff5bb1, 17);
    QV_MD5_STEP(F, b, c, d, a, x[11], 0x895cd7be, 22);
    QV_MD5_STEP(F, a, b, c, d, x[12], 0x6b901122, 7);
    QV_MD5_STEP(F, d, a, b, c, x[13], 0xfd987193, 12);
    QV_MD5_STEP(F, c, d, a, b, x[14], 0xa679438e, 17);
    QV_MD5_STEP(F, b, c, d, a, x[15], 0x49b40821, 22);

    QV_MD5_STEP(G, a, b, c, d, x[1], 0xf61e2562, 5);
    QV_MD5_STEP(G, d, a, b, c, x[6], 0xc040b340, 9);
    QV_MD5_STEP(G, c, d, a, b, x[11], 0x265e5a51, 14);
    QV_MD5_STEP(G, b, c, d, a, x[0], 0xe9b6c7aa, 20);
    QV_MD5_STEP(G, a, b, c, d, x[5], 0xd62f105d, 5);
    QV_MD5_STEP(G, d, a, b, c, x[10], 0x02441453, 9);
    QV_MD5_STEP(G, c, d, a, b, x[15], 0xd8a1e681, 14);
    QV_MD5_STEP(G, b, c, d, a, x[4], 0xe7d3fbc8, 20);
    QV_MD5_STEP(G, a, b, c, d, x[9], 0x21e1cde6, 5);
    QV_MD5_STEP(G, d, a, b, c, x[14], 0xc33707d6, 9);
    QV_MD5_STEP(G, c, d, a, b, x[3], 0xf4d50d87, 14);
    QV_MD5_STEP(G, b, c, d, a, x[8], 0x455a14ed, 20);
    QV_MD5_STEP(G, a, b, c, d, x[13], 0xa9e3e905, 5);
    QV_MD5_STEP(G, d, a, b, c, x[2], 0xfcefa3f8, 9);
    QV_MD5_STEP(G, c, d, a, b, x[7], 0x676f02d9, 14);
    QV_MD5_STEP(G, b, c, d, a, x[12], 0x8d2a4c8a, 20);

    QV_MD5_STEP(H, a, b, c, d, x[5], 0xfffa3942, 4);
    QV_MD5_STEP(H, d, a, b, c, x[8], 0x8771f681, 11);
    QV_MD5_STEP(H, c, d, a, b, x[11], 0x6d9d6122, 16);
    QV_MD5_STEP(H, b, c, d, a, x[14], 0xfde5380c, 23);
    QV_MD5_STEP(H, a, b, c, d, x[1], 0xa4beea44, 4);
    QV_MD5_STEP(H, d, a, b, c, x[4], 0x4bdecfa9, 11);
    QV_MD5_STEP(H, c, d, a, b, x[7], 0xf6bb4b60, 16);
    QV_MD5_STEP(H, b, c, d, a, x[10], 0xbebfbc70, 23);
    QV_MD5_STEP(H, a, b, c, d, x[13], 0x289b7ec6, 4);
    QV_MD5_STEP(H, d, a, b, c, x[0], 0xeaa127fa, 11);
    QV_MD5_STEP(H, c, d, a, b, x[3], 0xd4ef3085, 16);
    QV_MD5_STEP(H, b, c, d, a, x[6], 0x04881d05, 23);
    QV_MD5_STEP(H, a, b, c, d, x[9], 0xd9d4d039, 4);
    QV_MD5_STEP(H, d, a, b, c, x[12], 0xe6db99e5, 11);
    QV_MD5_STEP(H, c, d, a, b, x[15], 0x1fa27cf8, 16);
    QV_MD5_STEP(H, b, c, d, a, x[2], 0xc4ac5665, 23);

    QV_MD5_STEP(I, a, b, c, d, x[0], 0xf4292244, 6);
    QV_MD5_STEP(I, d, a, b, c, x[7], 0x432aff97, 10);
    QV_MD5_STEP(I, c, d, a, b, x[14], 0xab9423a7, 15);
    QV_MD5_STEP(I, b, c, d, a, x[5], 0xfc93a039, 21);
    QV_MD5_STEP(I, a, b, c, d, x[12], 0x655b59c3, 6);
    QV_MD5_STEP(I, d, a, b, c, x[3], 0x8f0ccc92, 10);
    QV_MD5_STEP(I, c, d, a, b, x[10], 0xffeff47d, 15);
    QV_MD5_STEP(I, b, c, d, a, x[1], 0x85845dd1, 21);
    QV_MD5_STEP(I, a, b, c, d, x[8], 0x6fa87e4f, 6);
    QV_MD5_STEP(I, d, a, b, c, x[15], 0xfe2ce6e0, 10);
    QV_MD5_STEP(I, c, d, a, b, x[6], 0xa3014314, 15);
    QV_MD5_STEP(I, b, c, d, a, x[13], 0x4e0811a1, 21);
    QV_MD5_STEP(I, a, b, c, d, x[4], 0xf7537e82, 6);
    QV_MD5_STEP(I, d, a, b, c, x[11], 0xbd3af235, 10);
    QV_MD5_STEP(I, c, d, a, b, x[2], 0x2ad7d2bb, 15);
    QV_MD5_STEP(I, b, c, d, a, x[9], 0xeb86d391, 21);

    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

#undef QV_MD5_STEP

void CMd5::Update(const void* bytes, std::uint32_t length) {
    m_finalized = false;
    const unsigned char* input = static_cast<const unsigned char*>(bytes);
    std::uint32_t fill = (m_countLow >> 3) & 0x3f;

    std::uint32_t low = m_countLow + (length << 3);
    if (low < m_countLow) ++m_countHigh;
    m_countLow = low;
    m_countHigh += length >> 29;

    if (length == 0) return;
    std::uint32_t offset = 0;
    if (fill != 0) {
        std::uint32_t room = 64 - fill;
        if (length < room) {
            std::memcpy(m_block + fill, input, length);
            return;
        }
        std::memcpy(m_block + fill, input, room);
        Compress(m_block);
        offset = room;
    }
    // Whole 64-byte groups are compressed straight from the caller's buffer.
    for (; length - offset >= 64; offset += 64) Compress(input + offset);
    std::memcpy(m_block, input + offset, length - offset);
}

void CMd5::Finalize() {
    std::uint32_t savedState[4];
    std::memcpy(savedState, m_state, sizeof m_state);
    const std::uint32_t savedLow = m_countLow, savedHigh = m_countHigh;

    static const unsigned char kPadding[64] = {0x80};
    std::uint32_t fill = (savedLow >> 3) & 0x3f;
    Update(kPadding, fill < 56 ? 56 - fill : 120 - fill);
    unsigned char length[8];
    StoreLE32(length, savedLow);
    StoreLE32(length + 4, savedHigh);
    Update(length, 8);

    for (int i = 0; i < 4; ++i) StoreLE32(m_digest + 4 * i, m_state[i]);

    std::memcpy(m_state, savedState, sizeof m_state);
    m_countLow = savedLow;
    m_countHigh = savedHigh;
    m_finalized = true;
}

std::string CMd5::HexDigest() {
    if (!m_finalized) Finalize();
    Md5Digest d;
    std::memcpy(d.data(), m_digest, d.size());
    return DigestToHex(d);
}

Md5Digest CMd5::Digest() {
    if (!m_finalized) Finalize();
    Md5Digest d;
    std::memcpy(d.data(), m_digest, d.size());
    return d;
}

std::string DigestFile(const std::wstring& path) {
    if (path.empty()) return std::string();
    // Read through the system rather than a file stream, whose locale
    // machinery would add most of a megabyte to every program that compares
    // files; opened shared for reading and writing with other openers, as a
    // stream of the runtime is.
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return std::string();
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kFileBufferSize]);
    if (!buffer) return std::string();
    CMd5 md5;
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer.get(), static_cast<DWORD>(kFileBufferSize), &got, nullptr) && got > 0)
        md5.Update(buffer.get(), got);
    return md5.HexDigest();
}

std::string DigestToHex(const Md5Digest& digest) {
    static const char kHex[] = "0123456789abcdef";
    std::string text(32, '0');
    for (std::size_t i = 0; i < digest.size(); ++i) {
        text[2 * i] = kHex[digest[i] >> 4];
        text[2 * i + 1] = kHex[digest[i] & 0x0f];
    }
    return text;
}

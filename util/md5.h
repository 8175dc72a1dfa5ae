#pragma once
// MD5 (RFC 1321): an incremental context, the digest as 32 lower-case hex
// characters or 16 raw bytes, and digests of whole files.
#include <array>
#include <cstdint>
#include <fstream>
#include <string>

using Md5Digest = std::array<unsigned char, 16>;

class CMd5 {
public:
    CMd5();

    // Hashes `length` more bytes.
    void Update(const void* bytes, std::uint32_t length);
    // Hex text of the digest of every byte hashed so far.
    std::string HexDigest();
    // The same digest as raw bytes.
    Md5Digest Digest();
    // Hashes the rest of an open stream in 1024-byte reads, then closes it.
    // A stream already in a failed state is left alone.
    void UpdateFromStream(std::ifstream& stream);

private:
    void Finalize();
    void Compress(const unsigned char* block);

    std::uint32_t m_state[4];
    std::uint32_t m_countLow;   // message length in bits, low word
    std::uint32_t m_countHigh;  // and high word
    unsigned char m_block[64];
    unsigned char m_digest[16];
    bool m_finalized;
};

// Hex digest of a file's bytes; empty when the path is empty or the file cannot be opened.
std::string DigestFile(const std::wstring& path);
// Hex text of a raw digest: 32 characters, high nibble first, lower case.
std::string DigestToHex(const Md5Digest& digest);

#pragma once
// SHA-256 (FIPS 180-4): an incremental context and the digest of an open
// file. The block function uses the processor's SHA extensions where it has
// them (asked once, at run time) and portable code elsewhere; both give the
// same digest. Nothing here throws or shows anything.
#include <windows.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

using Sha256Digest = std::array<unsigned char, 32>;

class CSha256 {
public:
    enum class Engine {
        kFastest,   // the SHA extensions where the processor has them
        kPortable,  // plain C++ on every processor
    };

    explicit CSha256(Engine engine = Engine::kFastest);

    // Hashes `size` more bytes.
    void Update(const void* data, size_t size);
    // The digest of every byte hashed since the start; the context then
    // starts over, empty.
    Sha256Digest Final();

    // Whether this context runs on the processor's SHA extensions.
    bool Accelerated() const { return m_accelerated; }
    // Whether the processor has the SHA extensions (and what they build on).
    static bool ProcessorHasShaExtensions();

private:
    void Reset();
    void Blocks(const unsigned char* data, size_t count);

    std::uint32_t m_state[8];
    std::uint64_t m_length;  // bytes hashed so far
    unsigned char m_buffer[64];
    size_t m_buffered;
    bool m_accelerated;
};

// The digest of an open file's whole content, read from its start with
// positional reads (the handle's file position is not used), so another
// thread may use the same file meanwhile. The handle needs read access.
// False when a read fails, or when `stop` (if given) is set before the end.
bool Sha256OfFile(HANDLE file, Sha256Digest* digest, const std::atomic<bool>* stop = nullptr);

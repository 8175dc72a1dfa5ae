#pragma once
// The page transform of the enciphered database: every page is one XXTEA
// block (Corrected Block TEA) of page-size / 4 little-endian words, under a
// 128-bit key that is the MD5 digest of the key bytes.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// Four 32-bit key words, read little-endian from the 16 digest bytes.
using CodecKey = std::array<std::uint32_t, 4>;

// XXTEA on a block of |n| words in place: n > 1 enciphers, n < -1 deciphers,
// anything else leaves the block alone.
void XxteaBlock(std::uint32_t* words, int n, const CodecKey& key);

// The same transform on bytes taken as consecutive little-endian words.
void XxteaBytes(unsigned char* bytes, int n, const CodecKey& key);

// MD5 of exactly `length` bytes as a cipher key; null when the bytes are
// null or the length is below 1.
std::unique_ptr<CodecKey> DeriveCodecKey(int length, const void* bytes);

// What is happening to a page when the transform is asked for it.
enum CodecOperation {
    kCodecRead = 0,           // a page image was read and is about to be used
    kCodecReload = 2,         // a page re-read into a temporary buffer
    kCodecReadCached = 3,     // a page read into the page cache or put back by a rollback
    kCodecWriteDatabase = 6,  // a page is about to be written to the database file
    kCodecWriteJournal = 7,   // a page image is about to be written to a journal
};

// Cipher state of one keyed database connection. The work buffer holds the
// enciphered copy of a page about to be written, so the page in memory stays
// plain and no page costs an allocation.
class CodecContext {
public:
    CodecContext(std::shared_ptr<const CodecKey> key, int pageSize);

    const CodecKey* ReadKey() const { return readKey_.get(); }
    const CodecKey* WriteKey() const { return writeKey_.get(); }
    int PageSize() const { return pageSize_; }
    // Makes the work buffer again when the page size changes.
    void SetPageSize(int pageSize);
    unsigned char* WorkBuffer() { return work_.data(); }

private:
    std::shared_ptr<const CodecKey> readKey_;
    std::shared_ptr<const CodecKey> writeKey_;
    int pageSize_;
    std::vector<unsigned char> work_;
};

// Transforms one page of context->PageSize() bytes. Reads are deciphered in
// place and return `data`; writes return the enciphered copy in the work
// buffer. With no context, no key for the operation or an unknown operation
// the page is returned unchanged. The page number does not enter the cipher.
unsigned char* PageCodec(CodecContext* context, unsigned char* data, std::uint32_t pageNumber, int operation);

// True for the page sizes a database can have: powers of two 512 to 65536.
inline bool IsValidPageSize(long long size) { return size >= 512 && size <= 65536 && (size & (size - 1)) == 0; }

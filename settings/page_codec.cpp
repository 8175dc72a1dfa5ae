#include "settings/page_codec.h"

#include <cstring>

#include "util/md5.h"

namespace {

constexpr std::uint32_t kDelta = 0x9E3779B9u;

// Word access to a block kept as native words...
struct WordBlock {
    std::uint32_t* words;
    std::uint32_t Get(unsigned i) const { return words[i]; }
    void Set(unsigned i, std::uint32_t value) const { words[i] = value; }
};

// ...or as little-endian bytes (the on-disk form of a page, whatever the host).
struct ByteBlock {
    unsigned char* bytes;
    std::uint32_t Get(unsigned i) const {
        const unsigned char* p = bytes + 4 * i;
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
    }
    void Set(unsigned i, std::uint32_t value) const {
        unsigned char* p = bytes + 4 * i;
        p[0] = static_cast<unsigned char>(value);
        p[1] = static_cast<unsigned char>(value >> 8);
        p[2] = static_cast<unsigned char>(value >> 16);
        p[3] = static_cast<unsigned char>(value >> 24);
    }
};

inline std::uint32_t Mix(std::uint32_t y, std::uint32_t z, std::uint32_t sum, const CodecKey& key, unsigned p,
                         unsigned e) {
    return (((z >> 5) ^ (y << 2)) + ((y >> 3) ^ (z << 4))) ^ ((sum ^ y) + (key[(p & 3) ^ e] ^ z));
}

template <class Block>
void Xxtea(const Block& v, int n, const CodecKey& key) {
    if (n > 1) {
        const unsigned count = static_cast<unsigned>(n);
        unsigned rounds = 6 + 52 / count;
        std::uint32_t sum = 0, y, z = v.Get(count - 1);
        do {
            sum += kDelta;
            const unsigned e = (sum >> 2) & 3;
            unsigned p;
            for (p = 0; p < count - 1; ++p) {
                y = v.Get(p + 1);
                z = v.Get(p) + Mix(y, z, sum, key, p, e);
                v.Set(p, z);
            }
            y = v.Get(0);
            z = v.Get(count - 1) + Mix(y, z, sum, key, p, e);
            v.Set(count - 1, z);
        } while (--rounds);
    } else if (n < -1) {
        const unsigned count = static_cast<unsigned>(-static_cast<long long>(n));
        unsigned rounds = 6 + 52 / count;
        std::uint32_t sum = rounds * kDelta, y = v.Get(0), z;
        do {
            const unsigned e = (sum >> 2) & 3;
            unsigned p;
            for (p = count - 1; p > 0; --p) {
                z = v.Get(p - 1);
                y = v.Get(p) - Mix(y, z, sum, key, p, e);
                v.Set(p, y);
            }
            z = v.Get(count - 1);
            y = v.Get(0) - Mix(y, z, sum, key, p, e);
            v.Set(0, y);
            sum -= kDelta;
        } while (--rounds);
    }
}

}  // namespace

void XxteaBlock(std::uint32_t* words, int n, const CodecKey& key) { Xxtea(WordBlock{words}, n, key); }

void XxteaBytes(unsigned char* bytes, int n, const CodecKey& key) { Xxtea(ByteBlock{bytes}, n, key); }

std::unique_ptr<CodecKey> DeriveCodecKey(int length, const void* bytes) {
    if (bytes == nullptr || length < 1) return nullptr;
    CMd5 md5;
    md5.Update(bytes, static_cast<std::uint32_t>(length));
    const Md5Digest digest = md5.Digest();
    auto key = std::make_unique<CodecKey>();
    for (unsigned i = 0; i < 4; ++i) (*key)[i] = ByteBlock{const_cast<unsigned char*>(digest.data())}.Get(i);
    return key;
}

CodecContext::CodecContext(std::shared_ptr<const CodecKey> key, int pageSize)
    : readKey_(key), writeKey_(std::move(key)), pageSize_(pageSize), work_(static_cast<size_t>(pageSize)) {}

void CodecContext::SetPageSize(int pageSize) {
    if (pageSize == pageSize_) return;
    std::vector<unsigned char>(static_cast<size_t>(pageSize)).swap(work_);
    pageSize_ = pageSize;
}

unsigned char* PageCodec(CodecContext* context, unsigned char* data, std::uint32_t /*pageNumber*/, int operation) {
    if (context == nullptr) return data;
    const int words = context->PageSize() / 4;
    switch (operation) {
    case kCodecRead:
    case kCodecReload:
    case kCodecReadCached:
        if (context->ReadKey()) XxteaBytes(data, -words, *context->ReadKey());
        return data;
    case kCodecWriteDatabase:
    case kCodecWriteJournal: {
        const CodecKey* key = operation == kCodecWriteDatabase ? context->WriteKey() : context->ReadKey();
        if (!key) return data;
        unsigned char* copy = context->WorkBuffer();
        std::memcpy(copy, data, static_cast<size_t>(context->PageSize()));
        XxteaBytes(copy, words, *key);
        return copy;
    }
    default: return data;
    }
}

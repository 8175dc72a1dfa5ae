#include "uilib/zip_reader.h"

#include <windows.h>
#include <zlib.h>

#include <cstring>

namespace uilib {
namespace {

const uint32_t kEndOfDirSig = 0x06054b50;
const uint32_t kDirEntrySig = 0x02014b50;
const uint32_t kLocalSig = 0x04034b50;
const size_t kEndOfDirSize = 22;
const size_t kDirEntrySize = 46;
const size_t kLocalSize = 30;

uint16_t Get16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

std::wstring DecodeName(const unsigned char* p, size_t n, bool utf8) {
    if (n == 0) return std::wstring();
    UINT cp = utf8 ? CP_UTF8 : 437;
    int len = MultiByteToWideChar(cp, 0, reinterpret_cast<const char*>(p), int(n), nullptr, 0);
    if (len <= 0) return std::wstring();
    std::wstring s(size_t(len), L'\0');
    MultiByteToWideChar(cp, 0, reinterpret_cast<const char*>(p), int(n), &s[0], len);
    return s;
}

// Folds case and separators for comparing entry names.
std::wstring FoldName(const std::wstring& s) {
    std::wstring r = s;
    for (auto& c : r)
        if (c == L'\\') c = L'/';
    if (!r.empty()) CharLowerBuffW(&r[0], DWORD(r.size()));
    return r;
}

}  // namespace

bool ZipArchive::Fail(const char* why) {
    error_ = why;
    return false;
}

bool ZipArchive::Open(const void* data, size_t size) {
    data_ = static_cast<const unsigned char*>(data);
    size_ = size;
    entries_.clear();
    error_.clear();
    if (!data_ || size_ < kEndOfDirSize) return Fail("too small for a ZIP archive");

    // The end-of-directory record sits at the end, followed by a comment of
    // at most 65535 bytes; search backwards for its signature.
    size_t eod = size_t(-1);
    size_t lowest = size_ > kEndOfDirSize + 0xFFFF ? size_ - kEndOfDirSize - 0xFFFF : 0;
    for (size_t pos = size_ - kEndOfDirSize + 1; pos-- > lowest;) {
        if (Get32(data_ + pos) == kEndOfDirSig && pos + kEndOfDirSize + Get16(data_ + pos + 20) <= size_) {
            eod = pos;
            break;
        }
    }
    if (eod == size_t(-1)) return Fail("no end-of-directory record");
    const unsigned char* e = data_ + eod;
    uint16_t disk = Get16(e + 4), dirDisk = Get16(e + 6);
    uint16_t count = Get16(e + 10);
    uint32_t dirSize = Get32(e + 12), dirOffset = Get32(e + 16);
    if (disk != 0 || dirDisk != 0 || Get16(e + 8) != count) return Fail("multi-volume archive");
    if (count == 0xFFFF || dirOffset == 0xFFFFFFFFu) return Fail("ZIP64 archive");
    if (size_t(dirOffset) > eod || size_t(dirSize) > eod - dirOffset)
        return Fail("central directory outside the archive");

    size_t pos = dirOffset;
    const size_t end = size_t(dirOffset) + dirSize;
    for (unsigned i = 0; i < count; ++i) {
        if (end - pos < kDirEntrySize || Get32(data_ + pos) != kDirEntrySig) return Fail("damaged central directory");
        const unsigned char* d = data_ + pos;
        ZipEntry ze;
        ze.flags = Get16(d + 8);
        ze.method = Get16(d + 10);
        ze.crc32 = Get32(d + 16);
        ze.compressedSize = Get32(d + 20);
        ze.size = Get32(d + 24);
        size_t nameLen = Get16(d + 28), extraLen = Get16(d + 30), commentLen = Get16(d + 32);
        ze.localHeaderOffset = Get32(d + 42);
        size_t total = kDirEntrySize + nameLen + extraLen + commentLen;
        if (end - pos < total) return Fail("damaged central directory");
        ze.name = DecodeName(d + kDirEntrySize, nameLen, (ze.flags & 0x0800) != 0);
        entries_.push_back(std::move(ze));
        pos += total;
    }
    return true;
}

int ZipArchive::Find(const std::wstring& name) const {
    std::wstring want = FoldName(name);
    for (size_t i = 0; i < entries_.size(); ++i)
        if (FoldName(entries_[i].name) == want) return int(i);
    return -1;
}

bool ZipArchive::Extract(const std::wstring& name, std::string& out) {
    out.clear();
    int index = Find(name);
    if (index < 0) return Fail("no such entry");
    return Extract(index, out);
}

bool ZipArchive::Extract(int index, std::string& out) {
    out.clear();
    if (index < 0 || size_t(index) >= entries_.size()) return Fail("no such entry");
    const ZipEntry& ze = entries_[size_t(index)];
    if (ze.flags & 0x0001) return Fail("encrypted entry");
    if (ze.method != 0 && ze.method != 8) return Fail("unsupported compression method");
    size_t local = ze.localHeaderOffset;
    if (local > size_ || size_ - local < kLocalSize || Get32(data_ + local) != kLocalSig)
        return Fail("damaged local header");
    size_t start = local + kLocalSize + Get16(data_ + local + 26) + Get16(data_ + local + 28);
    if (start > size_ || size_ - start < ze.compressedSize) return Fail("entry data outside the archive");
    const unsigned char* src = data_ + start;

    if (ze.method == 0) {
        if (ze.compressedSize != ze.size) return Fail("stored entry with two sizes");
        out.assign(reinterpret_cast<const char*>(src), ze.size);
    } else {
        out.resize(ze.size);
        z_stream zs;
        std::memset(&zs, 0, sizeof zs);
        if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return Fail("inflate cannot start");
        zs.next_in = const_cast<Bytef*>(src);
        zs.avail_in = ze.compressedSize;
        // One spare byte catches data that inflates to more than the recorded size.
        char spare = 0;
        zs.next_out = reinterpret_cast<Bytef*>(ze.size ? &out[0] : &spare);
        zs.avail_out = ze.size ? ze.size : 1;
        int rc = inflate(&zs, Z_FINISH);
        if (rc == Z_BUF_ERROR && zs.avail_out == 0 && ze.size) {
            zs.next_out = reinterpret_cast<Bytef*>(&spare);
            zs.avail_out = 1;
            rc = inflate(&zs, Z_FINISH);
        }
        uLong produced = zs.total_out;
        inflateEnd(&zs);
        if (rc != Z_STREAM_END) {
            out.clear();
            return Fail("damaged deflate data");
        }
        if (produced != ze.size) {
            out.clear();
            return Fail("size mismatch");
        }
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(out.data()), uInt(out.size()));
    if (uint32_t(crc) != ze.crc32) {
        out.clear();
        return Fail("CRC mismatch");
    }
    return true;
}

}  // namespace uilib

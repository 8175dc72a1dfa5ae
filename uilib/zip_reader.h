#pragma once
// Reader of ZIP archives held in memory: stored and deflated entries, found by
// name without regard to case. Every length and offset is checked against the
// buffer, and every extracted entry against its size and CRC-32.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace uilib {

struct ZipEntry {
    std::wstring name;    // as stored, '/' separated
    uint16_t method = 0;  // 0 stored, 8 deflate
    uint16_t flags = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t size = 0;
    uint32_t localHeaderOffset = 0;
};

class ZipArchive {
public:
    // Reads the central directory of the archive in [data, data+size). The
    // buffer must outlive the object. False (with a reason) if it is not a
    // readable archive.
    bool Open(const void* data, size_t size);
    const std::string& Error() const { return error_; }

    const std::vector<ZipEntry>& Entries() const { return entries_; }
    // Index of the entry whose name equals `name` ignoring case ('\' and '/'
    // are the same), or -1.
    int Find(const std::wstring& name) const;
    // Extracts one entry; false (with a reason) for an unsupported method,
    // an encrypted entry, damaged data, or a size or CRC mismatch.
    bool Extract(int index, std::string& out);
    bool Extract(const std::wstring& name, std::string& out);

private:
    bool Fail(const char* why);

    const unsigned char* data_ = nullptr;
    size_t size_ = 0;
    std::vector<ZipEntry> entries_;
    std::string error_;
};

}  // namespace uilib

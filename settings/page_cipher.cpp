#include "settings/page_cipher.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "settings/page_codec.h"

namespace {

constexpr char kVfsName[] = "qv-cipher";
constexpr unsigned char kHeaderText[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                           'o', 'r', 'm', 'a', 't', ' ', '3', 0};
constexpr unsigned char kJournalMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
constexpr sqlite3_int64 kPendingByte = 0x40000000;  // SQLite's lock byte; its page is never journalled
constexpr int kJournalHeaderBytes = 28;

sqlite3_vfs* g_real = nullptr;  // the platform's VFS that this layer wraps
sqlite3_vfs g_vfs;
sqlite3_io_methods g_methods;

enum class FileKind { Plain, MainDb, MainJournal };

struct CipherFile {
    sqlite3_file base;  // first, so SQLite's pointer is ours
    sqlite3_file* real = nullptr;
    FileKind kind = FileKind::Plain;
    const char* name = nullptr;  // SQLite keeps the name alive while the file is open

    // Main database.
    std::unique_ptr<CodecContext> codec;  // null: the file is plain
    bool pageSizeKnown = false;           // page size read from the file, not assumed
    int lockLevel = SQLITE_LOCK_NONE;

    // Main journal: the database it belongs to, and the previous operation
    // when it was a 4-byte read or write (a record's page number), else -1.
    CipherFile* db = nullptr;
    sqlite3_int64 wordOffset = -1;
    std::uint32_t wordValue = 0;
    // When the previous operation was a page image: the offset of the
    // record's checksum that follows it, and what to add to that checksum on
    // its way (see ImageSum); else -1.
    sqlite3_int64 checksumOffset = -1;
    std::uint32_t checksumShift = 0;
};

constexpr size_t kCipherFileSize = (sizeof(CipherFile) + 7) & ~size_t(7);

CipherFile* Cast(sqlite3_file* file) { return reinterpret_cast<CipherFile*>(file); }

std::uint32_t BigEndian32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
void PutBigEndian32(unsigned char* p, std::uint32_t value) {
    p[0] = static_cast<unsigned char>(value >> 24);
    p[1] = static_cast<unsigned char>(value >> 16);
    p[2] = static_cast<unsigned char>(value >> 8);
    p[3] = static_cast<unsigned char>(value);
}

// True if `page` (plain) is a first page of `pageSize` bytes: the header text,
// then the page size field (1 stands for 65536).
bool IsFirstPage(const unsigned char* page, int pageSize) {
    if (std::memcmp(page, kHeaderText, sizeof kHeaderText) != 0) return false;
    return ((page[16] << 8) | (page[17] << 16)) == pageSize;
}

int RealRead(CipherFile* f, void* buffer, int amount, sqlite3_int64 offset) {
    return f->real->pMethods->xRead(f->real, buffer, amount, offset);
}
int RealWrite(CipherFile* f, const void* buffer, int amount, sqlite3_int64 offset) {
    return f->real->pMethods->xWrite(f->real, buffer, amount, offset);
}
int RealFileSize(CipherFile* f, sqlite3_int64* size) { return f->real->pMethods->xFileSize(f->real, size); }

std::uint32_t PageNumber(sqlite3_int64 offset, int pageSize) {
    return static_cast<std::uint32_t>(offset / pageSize) + 1;
}

// ---- main database ----------------------------------------------------------

// Reads the page at `pageOffset` into the work buffer and deciphers it. A page
// that lies wholly beyond the end of the file reads as zeros.
int ReadPlainPage(CipherFile* f, sqlite3_int64 pageOffset) {
    CodecContext* c = f->codec.get();
    unsigned char* page = c->WorkBuffer();
    const int rc = RealRead(f, page, c->PageSize(), pageOffset);
    if (rc == SQLITE_IOERR_SHORT_READ) {
        sqlite3_int64 size = 0;
        if (RealFileSize(f, &size) == SQLITE_OK && size <= pageOffset) return rc;  // zero-filled
    } else if (rc != SQLITE_OK) {
        return rc;
    }
    PageCodec(c, page, PageNumber(pageOffset, c->PageSize()), kCodecReadCached);
    return rc;
}

int DbRead(CipherFile* f, void* buffer, int amount, sqlite3_int64 offset) {
    CodecContext* c = f->codec.get();
    if (!c) return RealRead(f, buffer, amount, offset);
    const int pageSize = c->PageSize();
    unsigned char* out = static_cast<unsigned char*>(buffer);
    if (amount == pageSize && offset % pageSize == 0) {
        const int rc = RealRead(f, out, amount, offset);
        if (rc == SQLITE_OK) PageCodec(c, out, PageNumber(offset, pageSize), kCodecReadCached);
        return rc;  // a short read leaves SQLite's zero fill
    }
    // Parts of pages (the header read at open, the change counter) and reads
    // whose size is not the file's page size (SQLite's first read of page 1
    // before it knows the page size): decipher each whole page that holds them.
    int result = SQLITE_OK;
    while (amount > 0) {
        const sqlite3_int64 pageOffset = offset - offset % pageSize;
        const int within = static_cast<int>(offset - pageOffset);
        const int n = amount < pageSize - within ? amount : pageSize - within;
        const int rc = ReadPlainPage(f, pageOffset);
        if (rc == SQLITE_IOERR_SHORT_READ) {
            result = rc;
        } else if (rc != SQLITE_OK) {
            return rc;
        }
        std::memcpy(out, c->WorkBuffer() + within, static_cast<size_t>(n));
        out += n;
        offset += n;
        amount -= n;
    }
    return result;
}

int DbWrite(CipherFile* f, const void* buffer, int amount, sqlite3_int64 offset) {
    CodecContext* c = f->codec.get();
    if (!c) return RealWrite(f, buffer, amount, offset);
    const unsigned char* in = static_cast<const unsigned char*>(buffer);
    // SQLite writes whole pages of the file's page size. A first page written
    // with its header fixes the page size; so does any page written to a file
    // whose page size has not been read yet (a new database).
    if (IsValidPageSize(amount) && offset % amount == 0) {
        if (offset == 0 && IsFirstPage(in, amount)) {
            c->SetPageSize(amount);
            f->pageSizeKnown = true;
        } else if (!f->pageSizeKnown) {
            c->SetPageSize(amount);
        }
        if (amount == c->PageSize()) {
            const unsigned char* image =
                PageCodec(c, const_cast<unsigned char*>(in), PageNumber(offset, amount), kCodecWriteDatabase);
            return RealWrite(f, image, amount, offset);
        }
    }
    // Anything else: read, patch and rewrite every page it touches.
    const int pageSize = c->PageSize();
    while (amount > 0) {
        const sqlite3_int64 pageOffset = offset - offset % pageSize;
        const int within = static_cast<int>(offset - pageOffset);
        const int n = amount < pageSize - within ? amount : pageSize - within;
        int rc = ReadPlainPage(f, pageOffset);
        if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ) return rc;
        unsigned char* page = c->WorkBuffer();
        std::memcpy(page + within, in, static_cast<size_t>(n));
        XxteaBytes(page, pageSize / 4, *c->WriteKey());  // the buffer is the copy: encipher in place
        rc = RealWrite(f, page, pageSize, pageOffset);
        if (rc != SQLITE_OK) return rc;
        in += n;
        offset += n;
        amount -= n;
    }
    return SQLITE_OK;
}

// True if the journal beside the database holds an image of page 1 that
// deciphers under this connection's key (or, unkeyed, is plain), or if the
// journal restores an empty database.
// This tells a right key from a wrong one when page 1 of the database itself
// was torn by a crash.
bool JournalConfirmsKey(CipherFile* f) {
    if (f->name == nullptr) return false;
    std::string name = std::string(f->name) + "-journal";
    name.append(4, '\0');  // SQLite's file names end in a double NUL (no parameters)
    int exists = 0;
    if (g_real->xAccess(g_real, name.c_str(), SQLITE_ACCESS_EXISTS, &exists) != SQLITE_OK || !exists) return false;

    std::vector<unsigned char> fileSpace(static_cast<size_t>(g_real->szOsFile) + 8);
    sqlite3_file* journal = reinterpret_cast<sqlite3_file*>(fileSpace.data());
    int outFlags = 0;
    if (g_real->xOpen(g_real, name.c_str(), journal, SQLITE_OPEN_READONLY | SQLITE_OPEN_MAIN_JOURNAL, &outFlags) !=
        SQLITE_OK)
        return false;
    struct Closer {
        sqlite3_file* file;
        ~Closer() { file->pMethods->xClose(file); }
    } closer{journal};
    const sqlite3_io_methods* io = journal->pMethods;

    sqlite3_int64 size = 0;
    if (io->xFileSize(journal, &size) != SQLITE_OK) return false;
    unsigned char header[kJournalHeaderBytes];
    if (size < kJournalHeaderBytes || io->xRead(journal, header, kJournalHeaderBytes, 0) != SQLITE_OK) return false;
    if (std::memcmp(header, kJournalMagic, sizeof kJournalMagic) != 0) return false;
    if (BigEndian32(header + 16) == 0) return true;  // rollback truncates to an empty file
    const std::uint32_t sectorSize = BigEndian32(header + 20);
    const std::uint32_t pageSize = BigEndian32(header + 24);
    if (!IsValidPageSize(pageSize) || sectorSize < 32 || sectorSize > 65536 || (sectorSize & (sectorSize - 1)))
        return false;

    std::vector<unsigned char> image(pageSize);
    const sqlite3_int64 recordSize = pageSize + 8;
    sqlite3_int64 headerOffset = 0;
    while (headerOffset + kJournalHeaderBytes <= size) {
        if (io->xRead(journal, header, kJournalHeaderBytes, headerOffset) != SQLITE_OK ||
            std::memcmp(header, kJournalMagic, sizeof kJournalMagic) != 0)
            break;
        const sqlite3_int64 first = headerOffset + sectorSize;
        sqlite3_int64 records = BigEndian32(header + 8);
        if (records == 0 || records == 0xffffffff) records = (size - first) / recordSize;
        for (sqlite3_int64 i = 0; i < records; ++i) {
            const sqlite3_int64 at = first + i * recordSize;
            unsigned char number[4];
            if (at + recordSize > size || io->xRead(journal, number, 4, at) != SQLITE_OK) return false;
            if (BigEndian32(number) != 1) continue;
            if (io->xRead(journal, image.data(), static_cast<int>(pageSize), at + 4) != SQLITE_OK) return false;
            if (f->codec) XxteaBytes(image.data(), -static_cast<int>(pageSize / 4), *f->codec->ReadKey());
            if (!IsFirstPage(image.data(), static_cast<int>(pageSize))) return false;
            if (f->codec) {
                f->codec->SetPageSize(static_cast<int>(pageSize));
                f->pageSizeKnown = true;
            }
            return true;
        }
        const sqlite3_int64 end = first + records * recordSize;
        headerOffset = (end + sectorSize - 1) / sectorSize * sectorSize;
    }
    return false;
}

// Called with a fresh shared lock, before SQLite looks for a hot journal: the
// file must be empty or its page 1 must decipher under this connection's key
// (the page size is found by trial, the last known one first). Otherwise
// SQLite would read a hot journal under the wrong key, take the garbage
// checksums for the journal's end and delete it, leaving the interrupted
// transaction's pages in the file. Refusing keeps the journal for the right key.
int CheckFirstPage(CipherFile* f) {
    sqlite3_int64 size = 0;
    int rc = RealFileSize(f, &size);
    if (rc != SQLITE_OK) return rc;
    if (size == 0) {
        f->pageSizeKnown = false;
        return SQLITE_OK;
    }
    CodecContext* c = f->codec.get();
    if (!c) {
        unsigned char header[100];
        rc = RealRead(f, header, sizeof header, 0);
        if (rc == SQLITE_OK) {
            const int pageSize = (header[16] << 8) | (header[17] << 16);
            if (IsValidPageSize(pageSize) && IsFirstPage(header, pageSize)) return SQLITE_OK;
        } else if (rc != SQLITE_IOERR_SHORT_READ) {
            return rc;
        }
    } else {
        const int known = c->PageSize();
        for (int candidate = 0; candidate <= 65536; candidate = candidate ? candidate * 2 : 512) {
            const int pageSize = candidate ? candidate : known;
            if ((candidate && candidate == known) || pageSize > size) continue;
            c->SetPageSize(pageSize);
            rc = RealRead(f, c->WorkBuffer(), pageSize, 0);
            if (rc != SQLITE_OK) {
                c->SetPageSize(known);
                return rc;
            }
            PageCodec(c, c->WorkBuffer(), 1, kCodecReadCached);
            if (IsFirstPage(c->WorkBuffer(), pageSize)) {
                f->pageSizeKnown = true;
                return SQLITE_OK;
            }
        }
        c->SetPageSize(known);
    }
    return JournalConfirmsKey(f) ? SQLITE_OK : SQLITE_NOTADB;
}

// ---- main journal -------------------------------------------------------------

// A journal record is a 4-byte page number, the page image and a 4-byte
// checksum, each written and read on its own; the header is written in
// chunks as large as a page when the page size is the sector size. A
// page-sized read or write is an image only if it directly follows the 4-byte
// page number (and that is not the marker of a super-journal name). Images
// lie at offsets of 4 modulo 8, header chunks at multiples of the sector size.
// Enciphering a header chunk corrupts recovery.
bool IsPageImage(const CipherFile* f, int amount, sqlite3_int64 offset) {
    return IsValidPageSize(amount) && offset % 8 == 4 && f->wordOffset == offset - 4 &&
           f->wordValue != std::uint32_t(kPendingByte / amount + 1);
}

void RememberOperation(CipherFile* f, int amount, sqlite3_int64 offset, const void* bytes) {
    if (amount == 4 && bytes) {
        f->wordOffset = offset;
        f->wordValue = BigEndian32(static_cast<const unsigned char*>(bytes));
    } else {
        f->wordOffset = -1;
    }
    f->checksumOffset = -1;
}

// A record's checksum is the seed of its journal header plus this sum over
// the image. The record must carry the checksum of the image as stored,
// enciphered, while SQLite computes and checks it over the plain image. So
// the checksum SQLite writes gets sum(stored) - sum(plain) added, which needs
// no seed, and one read back gets sum(plain) - sum(stored) added: it reaches
// SQLite as the checksum it expects exactly when it matches the stored image,
// and a torn record still fails the check and ends playback.
std::uint32_t ImageSum(const unsigned char* image, int pageSize) {
    std::uint32_t sum = 0;
    for (int i = pageSize - 200; i > 0; i -= 200) sum += image[i];
    return sum;
}

// True if the operation is the 4-byte checksum right after a page image.
bool IsImageChecksum(const CipherFile* f, int amount, sqlite3_int64 offset) {
    return amount == 4 && offset == f->checksumOffset;
}

CodecContext* JournalCodec(CipherFile* f) { return f->db ? f->db->codec.get() : nullptr; }

int JournalRead(CipherFile* f, void* buffer, int amount, sqlite3_int64 offset) {
    const bool image = IsPageImage(f, amount, offset);
    const bool checksum = IsImageChecksum(f, amount, offset);
    const std::uint32_t shift = f->checksumShift;
    const int rc = RealRead(f, buffer, amount, offset);
    RememberOperation(f, amount, offset, rc == SQLITE_OK ? buffer : nullptr);
    if (rc != SQLITE_OK) return rc;
    CodecContext* c = JournalCodec(f);
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    if (image && c) {
        c->SetPageSize(amount);
        const std::uint32_t storedSum = ImageSum(bytes, amount);
        PageCodec(c, bytes, 0, kCodecReadCached);
        f->checksumOffset = offset + amount;
        f->checksumShift = ImageSum(bytes, amount) - storedSum;
    } else if (checksum) {
        PutBigEndian32(bytes, BigEndian32(bytes) + shift);
    }
    return rc;
}

int JournalWrite(CipherFile* f, const void* buffer, int amount, sqlite3_int64 offset) {
    const bool image = IsPageImage(f, amount, offset);
    const bool checksum = IsImageChecksum(f, amount, offset);
    const std::uint32_t shift = f->checksumShift;
    RememberOperation(f, amount, offset, buffer);
    CodecContext* c = JournalCodec(f);
    unsigned char word[4];
    if (image && c) {
        c->SetPageSize(amount);
        unsigned char* plain = static_cast<unsigned char*>(const_cast<void*>(buffer));
        const unsigned char* stored = PageCodec(c, plain, f->wordValue, kCodecWriteJournal);
        f->checksumOffset = offset + amount;
        f->checksumShift = ImageSum(stored, amount) - ImageSum(plain, amount);
        buffer = stored;
    } else if (checksum) {
        PutBigEndian32(word, BigEndian32(static_cast<const unsigned char*>(buffer)) + shift);
        buffer = word;
    }
    return RealWrite(f, buffer, amount, offset);
}

// ---- io methods ---------------------------------------------------------------

// SQLite calls these from C: an allocation failure (a new work buffer for
// another page size) becomes SQLite's out-of-memory code, never an exception.
template <class Body>
int NoThrow(Body&& body) {
    try {
        return body();
    } catch (...) {
        return SQLITE_IOERR_NOMEM;
    }
}

int CipherClose(sqlite3_file* file) {
    CipherFile* f = Cast(file);
    const int rc = f->real->pMethods ? f->real->pMethods->xClose(f->real) : SQLITE_OK;
    f->~CipherFile();
    return rc;
}

int CipherRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    CipherFile* f = Cast(file);
    return NoThrow([&] {
        switch (f->kind) {
        case FileKind::MainDb: return DbRead(f, buffer, amount, offset);
        case FileKind::MainJournal: return JournalRead(f, buffer, amount, offset);
        default: return RealRead(f, buffer, amount, offset);
        }
    });
}

int CipherWrite(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
    CipherFile* f = Cast(file);
    return NoThrow([&] {
        switch (f->kind) {
        case FileKind::MainDb: return DbWrite(f, buffer, amount, offset);
        case FileKind::MainJournal: return JournalWrite(f, buffer, amount, offset);
        default: return RealWrite(f, buffer, amount, offset);
        }
    });
}

// Every other operation on a journal breaks a page-number / image pair.
CipherFile* Forget(sqlite3_file* file) {
    CipherFile* f = Cast(file);
    f->wordOffset = -1;
    f->checksumOffset = -1;
    return f;
}

int CipherTruncate(sqlite3_file* file, sqlite3_int64 size) {
    CipherFile* f = Forget(file);
    if (f->kind == FileKind::MainDb && size == 0) f->pageSizeKnown = false;
    return f->real->pMethods->xTruncate(f->real, size);
}
int CipherSync(sqlite3_file* file, int flags) {
    CipherFile* f = Forget(file);
    return f->real->pMethods->xSync(f->real, flags);
}
int CipherFileSize(sqlite3_file* file, sqlite3_int64* size) {
    CipherFile* f = Forget(file);
    return RealFileSize(f, size);
}

int CipherLock(sqlite3_file* file, int level) {
    CipherFile* f = Forget(file);
    int rc = f->real->pMethods->xLock(f->real, level);
    if (rc != SQLITE_OK) return rc;
    const bool fresh = f->kind == FileKind::MainDb && level == SQLITE_LOCK_SHARED && f->lockLevel == SQLITE_LOCK_NONE;
    f->lockLevel = level > f->lockLevel ? level : f->lockLevel;
    if (fresh) {
        rc = NoThrow([f] { return CheckFirstPage(f); });
        if (rc != SQLITE_OK) {
            f->real->pMethods->xUnlock(f->real, SQLITE_LOCK_NONE);
            f->lockLevel = SQLITE_LOCK_NONE;
        }
    }
    return rc;
}
int CipherUnlock(sqlite3_file* file, int level) {
    CipherFile* f = Forget(file);
    const int rc = f->real->pMethods->xUnlock(f->real, level);
    if (rc == SQLITE_OK && level < f->lockLevel) f->lockLevel = level;
    return rc;
}
int CipherCheckReservedLock(sqlite3_file* file, int* out) {
    CipherFile* f = Forget(file);
    return f->real->pMethods->xCheckReservedLock(f->real, out);
}
int CipherFileControl(sqlite3_file* file, int op, void* arg) {
    CipherFile* f = Forget(file);
    return f->real->pMethods->xFileControl(f->real, op, arg);
}
int CipherSectorSize(sqlite3_file* file) {
    CipherFile* f = Forget(file);
    return f->real->pMethods->xSectorSize(f->real);
}
// Without the sub-page-read capability SQLite never reads parts of overflow
// pages directly, so every read of a page covers it whole.
int CipherDeviceCharacteristics(sqlite3_file* file) {
    CipherFile* f = Forget(file);
    return f->real->pMethods->xDeviceCharacteristics(f->real) & ~SQLITE_IOCAP_SUBPAGE_READ;
}

// ---- vfs ------------------------------------------------------------------------
int CipherOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    file->pMethods = nullptr;
    // Write-ahead logs would carry page images this layer does not encipher.
    if (flags & SQLITE_OPEN_WAL) return SQLITE_CANTOPEN;
    CipherFile* f = new (file) CipherFile();
    f->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kCipherFileSize);
    f->name = name;
    const int rc = g_real->xOpen(g_real, name, f->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        f->~CipherFile();
        file->pMethods = nullptr;
        return rc;
    }
    if (flags & SQLITE_OPEN_MAIN_DB) {
        f->kind = FileKind::MainDb;
    } else if ((flags & SQLITE_OPEN_MAIN_JOURNAL) && name) {
        f->kind = FileKind::MainJournal;
        sqlite3_file* db = sqlite3_database_file_object(name);
        if (db && db->pMethods == &g_methods) f->db = Cast(db);
    }
    f->base.pMethods = &g_methods;
    return SQLITE_OK;
}

int VfsDelete(sqlite3_vfs*, const char* name, int syncDir) { return g_real->xDelete(g_real, name, syncDir); }
int VfsAccess(sqlite3_vfs*, const char* name, int flags, int* out) { return g_real->xAccess(g_real, name, flags, out); }
int VfsFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return g_real->xFullPathname(g_real, name, size, out);
}
void* VfsDlOpen(sqlite3_vfs*, const char* name) { return g_real->xDlOpen(g_real, name); }
void VfsDlError(sqlite3_vfs*, int size, char* out) { g_real->xDlError(g_real, size, out); }
void (*VfsDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
    return g_real->xDlSym(g_real, handle, symbol);
}
void VfsDlClose(sqlite3_vfs*, void* handle) { g_real->xDlClose(g_real, handle); }
int VfsRandomness(sqlite3_vfs*, int size, char* out) { return g_real->xRandomness(g_real, size, out); }
int VfsSleep(sqlite3_vfs*, int microseconds) { return g_real->xSleep(g_real, microseconds); }
int VfsCurrentTime(sqlite3_vfs*, double* out) { return g_real->xCurrentTime(g_real, out); }
int VfsGetLastError(sqlite3_vfs*, int size, char* out) {
    return g_real->xGetLastError ? g_real->xGetLastError(g_real, size, out) : 0;
}
int VfsCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return g_real->xCurrentTimeInt64(g_real, out); }

void FillVfs(sqlite3_vfs* real) {
    g_real = real;
    g_methods = sqlite3_io_methods{};
    g_methods.iVersion = 1;  // no memory-mapped reads, no shared memory (no WAL)
    g_methods.xClose = CipherClose;
    g_methods.xRead = CipherRead;
    g_methods.xWrite = CipherWrite;
    g_methods.xTruncate = CipherTruncate;
    g_methods.xSync = CipherSync;
    g_methods.xFileSize = CipherFileSize;
    g_methods.xLock = CipherLock;
    g_methods.xUnlock = CipherUnlock;
    g_methods.xCheckReservedLock = CipherCheckReservedLock;
    g_methods.xFileControl = CipherFileControl;
    g_methods.xSectorSize = CipherSectorSize;
    g_methods.xDeviceCharacteristics = CipherDeviceCharacteristics;

    g_vfs = sqlite3_vfs{};
    g_vfs.iVersion = 2;
    g_vfs.szOsFile = static_cast<int>(kCipherFileSize) + real->szOsFile;
    g_vfs.mxPathname = real->mxPathname;
    g_vfs.zName = kVfsName;
    g_vfs.xOpen = CipherOpen;
    g_vfs.xDelete = VfsDelete;
    g_vfs.xAccess = VfsAccess;
    g_vfs.xFullPathname = VfsFullPathname;
    g_vfs.xDlOpen = VfsDlOpen;
    g_vfs.xDlError = VfsDlError;
    g_vfs.xDlSym = VfsDlSym;
    g_vfs.xDlClose = VfsDlClose;
    g_vfs.xRandomness = VfsRandomness;
    g_vfs.xSleep = VfsSleep;
    g_vfs.xCurrentTime = VfsCurrentTime;
    g_vfs.xGetLastError = VfsGetLastError;
    g_vfs.xCurrentTimeInt64 = real->iVersion >= 2 && real->xCurrentTimeInt64 ? VfsCurrentTimeInt64 : nullptr;
}

// The cipher file object of database `index`, or null when that database is
// not an open file of this layer.
CipherFile* DatabaseFile(sqlite3* db, int index) {
    const char* schema = sqlite3_db_name(db, index);
    if (schema == nullptr) return nullptr;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, schema, SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || file == nullptr ||
        file->pMethods != &g_methods)
        return nullptr;
    CipherFile* f = Cast(file);
    return f->kind == FileKind::MainDb ? f : nullptr;
}

}  // namespace

extern "C" int qv_cipher_vfs_init(const char*) {
    sqlite3_vfs* current = sqlite3_vfs_find(nullptr);
    if (current == &g_vfs) return SQLITE_OK;
    if (g_real == nullptr) {
        if (current == nullptr) return SQLITE_ERROR;
        FillVfs(current);
    }
    return sqlite3_vfs_register(&g_vfs, 1);
}

extern "C" int sqlite3_key(sqlite3* db, const void* key, int length) { return sqlite3CodecAttach(db, 0, key, length); }

extern "C" int sqlite3CodecAttach(sqlite3* db, int index, const void* key, int length) {
    if (key == nullptr || length == 0) return SQLITE_OK;  // stored plain
    std::unique_ptr<CodecContext> codec;
    try {
        std::shared_ptr<const CodecKey> derived(DeriveCodecKey(length, key));
        if (!derived) return SQLITE_ERROR;  // a negative length
        if (db == nullptr) return SQLITE_MISUSE;
        // The page size is read from the file when SQLite first locks it.
        codec = std::make_unique<CodecContext>(std::move(derived), SQLITE_DEFAULT_PAGE_SIZE);
    } catch (...) {
        return SQLITE_NOMEM;
    }
    sqlite3_mutex_enter(sqlite3_db_mutex(db));
    CipherFile* f = DatabaseFile(db, index);
    if (f) {
        f->codec = std::move(codec);
        f->pageSizeKnown = false;
    }
    sqlite3_mutex_leave(sqlite3_db_mutex(db));
    return f ? SQLITE_OK : SQLITE_ERROR;
}

extern "C" void sqlite3CodecGetKey(sqlite3*, int, void** key, int* length) {
    if (key) *key = nullptr;
    if (length) *length = 0;
}

#pragma once
// The program's layer over 7z.dll: the loaded library, the extractor that
// unpacks a whole archive into a folder, and the one exception type of the
// archive layer. Every failure here is raised as SevenZipException.
#include <windows.h>

#include <string>
#include <vector>

#include "archive/callbacks.h"
#include "archive/interfaces.h"
#include "util/owned.h"

namespace SevenZip {

class SevenZipException {
public:
    explicit SevenZipException(std::wstring message) : m_message(std::move(message)) {}
    virtual ~SevenZipException() = default;
    const std::wstring& Message() const { return m_message; }

private:
    std::wstring m_message;
};

// Archive formats the library can handle; any value not listed means 7z.
enum class ArchiveFormat : int {
    SevenZip = 1,
    Zip = 2,
    GZip = 3,
    BZip2 = 4,
    Rar = 5,
    Tar = 6,
    Iso = 7,
    Cab = 8,
    Lzma = 9,
    Lzma86 = 10,
};

// The library's class id of the handler for a format.
GUID HandlerClassId(ArchiveFormat format);

// Text produced with wide printf semantics (wide strings are passed as %ls).
std::wstring FormatText(const wchar_t* format, ...);

// 7z.dll loaded into the process, with its CreateObject export. Either both
// the handle and the function are set, or neither.
class SevenZipModule {
public:
    SevenZipModule() = default;
    ~SevenZipModule();
    SevenZipModule(const SevenZipModule&) = delete;
    SevenZipModule& operator=(const SevenZipModule&) = delete;

    // Loads the library (freeing one loaded before) and finds CreateObject.
    void Load(const std::wstring& libraryPath);
    // Frees the library; the FreeLibrary result, or 0 when nothing was loaded.
    BOOL Free();

    HMODULE Handle() const { return m_library.get(); }
    CreateObjectFunc CreateFunction() const { return m_create; }

private:
    UniqueModule m_library;
    CreateObjectFunc m_create = nullptr;
};

class SevenZipExtractor {
public:
    // The module must outlive the extractor.
    SevenZipExtractor(const SevenZipModule& module, std::wstring archivePath);
    virtual ~SevenZipExtractor() = default;
    // Extracts every item of the archive into the folder.
    virtual void ExtractTo(const std::wstring& destination);
    // What the last ExtractTo wrote, in the archive's order.
    const std::vector<ExtractedItem>& ExtractedItems() const { return m_items; }

    // The number of threads the handler is asked to decode with (0, the
    // start value: the handler's own choice). An archive of independent
    // blocks is decoded on that many threads at once.
    void SetDecoderThreads(UInt32 count) { m_decoderThreads = count; }
    // Whether ExtractTo takes each file's MD5 once it is closed, on a thread
    // of its own while the next items are extracted (ExtractedItem::md5),
    // with the caller's hooks.
    void SetTakeDigests(bool take, intl::DigestHooks hooks = intl::DigestHooks()) {
        m_takeDigests = take;
        m_digestHooks = std::move(hooks);
    }

    ArchiveFormat Format() const { return m_format; }

private:
    std::vector<ExtractedItem> m_items;
    const SevenZipModule& m_module;
    std::wstring m_archivePath;
    ArchiveFormat m_format = ArchiveFormat::SevenZip;
    UInt32 m_decoderThreads = 0;
    bool m_takeDigests = false;
    intl::DigestHooks m_digestHooks;
};

// The number of logical processors of the machine (at least 1).
UInt32 ProcessorCount();

}  // namespace SevenZip

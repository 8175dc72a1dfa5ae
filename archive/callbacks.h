#pragma once
// The callbacks the archive handler calls while it opens an archive and while
// it extracts it: the extract callback decides where each item goes, creates
// its folders and file, and restores its modification time and attributes.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/interfaces.h"
#include "archive/streams.h"
#include "util/com_object.h"
#include "util/com_ptr.h"

namespace SevenZip {

// One item that an extraction wrote: its path below the destination as the
// archive names it, whether it is a folder, and for a file its size and the
// archive's checksum of its content (CRC-32), when the archive has one, which
// the bytes written matched; and, when the extraction took digests, the MD5
// of the file as it was closed (32 lower-case hexadecimal characters).
struct ExtractedItem {
    std::wstring path;
    bool isFolder = false;
    std::uint64_t size = 0;
    bool hasCrc = false;
    std::uint32_t crc = 0;
    std::string md5;
};

namespace intl {

// Answers progress with "go on" and every password request with "abort".
class ArchiveOpenCallback final : public CComObject<ComInterface<IArchiveOpenCallback, &IID_IArchiveOpenCallback>,
                                                    ComInterface<ICryptoGetTextPassword, &IID_ICryptoGetTextPassword>> {
public:
    HRESULT STDMETHODCALLTYPE SetTotal(const UInt64* files, const UInt64* bytes) override;
    HRESULT STDMETHODCALLTYPE SetCompleted(const UInt64* files, const UInt64* bytes) override;
    HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) override;
};

// What a caller adds to an extraction that takes digests. `written` is
// called on the extraction's thread for each file as soon as it was closed
// and found intact; `known` on the digest thread before a file is read: a
// digest known without reading the file, or empty. Either may be empty.
struct DigestHooks {
    std::function<void(const ExtractedItem& item, const std::wstring& target)> written;
    std::function<std::string(const ExtractedItem& item)> known;
};

// Takes the MD5 of each file handed to it once the file is closed, on a
// thread of its own at a lower priority than the extraction's, while the
// extraction goes on with the next items.
class ClosedFileDigests {
public:
    explicit ClosedFileDigests(DigestHooks hooks) : m_hooks(std::move(hooks)) {}
    // Stops at the next file and waits for the thread.
    ~ClosedFileDigests();
    ClosedFileDigests(const ClosedFileDigests&) = delete;
    ClosedFileDigests& operator=(const ClosedFileDigests&) = delete;

    // Queues the closed file `path` of the item at `index`; where no thread
    // can be started, the file is read here and now.
    void Add(size_t index, const ExtractedItem& item, const std::wstring& path);
    // Tells the caller's hook that the file is written.
    void Written(const ExtractedItem& item, const std::wstring& path) const {
        if (m_hooks.written) m_hooks.written(item, path);
    }
    // Waits until every queued file is read and gives each item its digest;
    // false when a file could not be read.
    bool Finish(std::vector<ExtractedItem>& items);

private:
    struct Job {
        size_t index;
        ExtractedItem item;
        std::wstring path;
    };
    void Run();
    void Digest(const Job& job);

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_closing = false;
    bool m_stop = false;
    bool m_failed = false;
    std::vector<std::pair<size_t, std::string>> m_digests;
    DigestHooks m_hooks;
    std::thread m_thread;
};

// Holds a reference to the handler for as long as it lives.
class ArchiveExtractCallback final
    : public CComObject<ComInterface<IArchiveExtractCallback, &IID_IArchiveExtractCallback>,
                        ComInterface<ICryptoGetTextPassword, &IID_ICryptoGetTextPassword>> {
public:
    // With `takeDigests`, each file's MD5 is taken once it is closed, while
    // the next items are extracted (FinishDigests waits for them).
    ArchiveExtractCallback(IInArchive* archive, const std::wstring& destination, bool takeDigests = false,
                           DigestHooks hooks = DigestHooks());

    HRESULT STDMETHODCALLTYPE SetTotal(UInt64 total) override;
    HRESULT STDMETHODCALLTYPE SetCompleted(const UInt64* completeValue) override;
    HRESULT STDMETHODCALLTYPE GetStream(UInt32 index, ISequentialOutStream** outStream, Int32 askExtractMode) override;
    HRESULT STDMETHODCALLTYPE PrepareOperation(Int32 askExtractMode) override;
    // Applies the item's time and attributes whatever the result; a failed
    // item is remembered (FirstFailure) and does not stop the extraction. A
    // file counts as intact only when the bytes written to it are as many as
    // the archive states and have its CRC-32.
    HRESULT STDMETHODCALLTYPE SetOperationResult(Int32 operationResult) override;
    HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) override;

    // The first item result other than success, as an HRESULT; S_OK when every item succeeded.
    HRESULT FirstFailure() const { return m_firstFailure; }
    // Every item written so far, in the archive's order: folders when they
    // were created, files once their content was complete and intact.
    const std::vector<ExtractedItem>& Items() const { return m_items; }
    // Waits for the digests of every file written (when taken) and adds them
    // to the items; S_OK, or the failure to read a file.
    HRESULT FinishDigests();

private:
    HRESULT ReadItemProperties(UInt32 index);
    bool WrittenAsStated() const;

    CComPtr<IInArchive> m_archive;
    std::wstring m_destination;
    std::wstring m_itemPath;
    std::wstring m_itemTarget;
    bool m_isFolder = false;
    bool m_hasAttributes = false;
    DWORD m_attributes = 0;
    bool m_hasModificationTime = false;
    FILETIME m_modificationTime = {};
    ExtractedItem m_item;
    std::shared_ptr<WrittenBytes> m_written;
    std::vector<ExtractedItem> m_items;
    HRESULT m_firstFailure = S_OK;
    std::unique_ptr<ClosedFileDigests> m_digests;
};

// Destination folder joined with an item path: the item path alone for an
// empty folder, no separator added when the folder already ends with one.
std::wstring JoinItemTarget(const std::wstring& folder, const std::wstring& itemPath);
// Text up to and including the last backslash or slash; empty without either.
std::wstring ParentFolderOf(const std::wstring& path);
// False for an item path that could leave the destination folder or that
// Windows would not store under the name the archive gives: one with a
// drive, a leading separator or a ".." component; a component that names a
// device (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with or without an
// extension), ends in a dot or a space, or holds a character no file name may
// hold (a colon, which would name a hidden stream, wildcards, control
// characters).
bool IsContainedItemPath(const std::wstring& itemPath);

}  // namespace intl
}  // namespace SevenZip

#include "archive/callbacks.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <new>

#include "archive/streams.h"
#include "util/crc32.h"
#include "util/md5.h"
#include "util/owned.h"
#include "util/variant.h"

namespace SevenZip {
namespace intl {

namespace {

HRESULT ReadProperty(IInArchive* archive, UInt32 index, PROPID id, CPropVariant& value) {
    return archive->GetProperty(index, id, value.out());
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A component that Windows would resolve to the parent folder: two or more dots,
// possibly followed by dots and spaces that the path rules strip.
bool IsParentComponent(const std::wstring& path, size_t begin, size_t end) {
    size_t dots = 0;
    for (size_t i = begin; i < end; ++i) {
        if (path[i] == L'.') {
            ++dots;
        } else if (path[i] != L' ') {
            return false;
        }
    }
    return dots >= 2;
}

// Characters no file name may hold. A colon would name a stream of another
// file; the rest are refused by the file system or mean something to it.
bool IsForbiddenNameCharacter(wchar_t c) {
    return c < 0x20 || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' || c == L'>' || c == L'|';
}

// A name the system takes as a device whatever folder it is in: the part
// before the first dot, with trailing spaces, is a device name.
bool IsDeviceName(const std::wstring& path, size_t begin, size_t end) {
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    size_t stem = begin;
    while (stem < end && path[stem] != L'.') ++stem;
    while (stem > begin && path[stem - 1] == L' ') --stem;
    const std::wstring name = path.substr(begin, stem - begin);
    auto same = [&name](const wchar_t* device) {
        return ::CompareStringOrdinal(name.c_str(), static_cast<int>(name.size()), device, -1, TRUE) == CSTR_EQUAL;
    };
    for (const wchar_t* device : kDevices)
        if (same(device)) return true;
    if (name.size() == 4) {
        const wchar_t digit = name[3];
        // The system also takes the superscript digits one to three as port numbers.
        const bool number = (digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
        const std::wstring head = name.substr(0, 3);
        auto port = [&head](const wchar_t* prefix) {
            return ::CompareStringOrdinal(head.c_str(), 3, prefix, 3, TRUE) == CSTR_EQUAL;
        };
        if (number && (port(L"COM") || port(L"LPT"))) return true;
    }
    return false;
}

// A component the system would store under another name or not as a file:
// trailing dots and spaces are dropped by the system, devices are no files.
bool IsStorableComponent(const std::wstring& path, size_t begin, size_t end) {
    if (begin == end) return true;                             // doubled separators collapse
    if (end - begin == 1 && path[begin] == L'.') return true;  // "this folder"
    for (size_t i = begin; i < end; ++i)
        if (IsForbiddenNameCharacter(path[i])) return false;
    if (path[end - 1] == L'.' || path[end - 1] == L' ') return false;
    return !IsDeviceName(path, begin, end);
}

// Last system error as an HRESULT: the value itself when it is 0 or negative,
// otherwise a Win32-facility HRESULT of its low 16 bits.
HRESULT LastErrorAsHresult() {
    LONG error = static_cast<LONG>(::GetLastError());
    if (error <= 0) return static_cast<HRESULT>(error);
    return static_cast<HRESULT>(0x80070000u | (static_cast<unsigned long>(error) & 0xFFFFu));
}

HRESULT OperationResultAsHresult(Int32 result) {
    switch (result) {
    case kOpUnsupportedMethod: return E_NOTIMPL;
    case kOpDataError:
    case kOpCrcError: return HRESULT_FROM_WIN32(ERROR_CRC);
    case kOpWrongPassword: return E_ABORT;
    default: return E_FAIL;
    }
}

// Reads a closed file from its start: its size and CRC-32, and its MD5 when
// asked for. False when it cannot be opened or read.
bool ReadClosedFile(const std::wstring& path, UInt64& size, std::uint32_t& crc, std::string* md5) {
    // Shared with everybody: another item of the same name may be written meanwhile.
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[1 << 18]);
    if (!buffer) return false;
    CMd5 digest;
    size = 0;
    crc = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer.get(), 1 << 18, &got, nullptr)) return false;
        if (got == 0) break;
        size += got;
        crc = Crc32Update(crc, buffer.get(), got);
        if (md5) digest.Update(buffer.get(), got);
    }
    if (md5) *md5 = digest.HexDigest();
    return true;
}

}  // namespace

std::wstring JoinItemTarget(const std::wstring& folder, const std::wstring& itemPath) {
    if (folder.empty()) return itemPath;
    if (IsSeparator(folder.back())) return folder + itemPath;
    return folder + L"\\" + itemPath;
}

std::wstring ParentFolderOf(const std::wstring& path) {
    size_t last = path.find_last_of(L"\\/");
    return last == std::wstring::npos ? std::wstring() : path.substr(0, last + 1);
}

bool IsContainedItemPath(const std::wstring& itemPath) {
    // "C:\x" and the drive-relative "C:x" both leave the destination.
    if (itemPath.size() >= 2 && itemPath[1] == L':') return false;
    if (!itemPath.empty() && IsSeparator(itemPath.front())) return false;
    size_t begin = 0;
    while (begin <= itemPath.size()) {
        size_t end = begin;
        while (end < itemPath.size() && !IsSeparator(itemPath[end])) ++end;
        if (IsParentComponent(itemPath, begin, end)) return false;
        if (!IsStorableComponent(itemPath, begin, end)) return false;
        begin = end + 1;
    }
    return true;
}

// --- ArchiveOpenCallback -----------------------------------------------------

HRESULT STDMETHODCALLTYPE ArchiveOpenCallback::SetTotal(const UInt64*, const UInt64*) { return S_OK; }
HRESULT STDMETHODCALLTYPE ArchiveOpenCallback::SetCompleted(const UInt64*, const UInt64*) { return S_OK; }
HRESULT STDMETHODCALLTYPE ArchiveOpenCallback::CryptoGetTextPassword(BSTR*) { return E_ABORT; }

// --- ClosedFileDigests -------------------------------------------------------

ClosedFileDigests::~ClosedFileDigests() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
        m_closing = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void ClosedFileDigests::Add(size_t index, const ExtractedItem& item, const std::wstring& path) {
    if (!m_thread.joinable() && !m_closing) {
        try {
            m_thread = std::thread(&ClosedFileDigests::Run, this);
        } catch (...) {
            m_closing = true;  // no thread: each file is read by the caller
        }
    }
    if (!m_thread.joinable()) return Digest(Job{index, item, path});
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_jobs.push_back(Job{index, item, path});
    }
    m_wake.notify_one();
}

void ClosedFileDigests::Run() {
    // Decoding and writing come first; the digests take what time is left.
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> hold(m_lock);
            m_wake.wait(hold, [this] { return m_stop || m_closing || !m_jobs.empty(); });
            if (m_stop || m_jobs.empty()) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        Digest(job);
    }
}

void ClosedFileDigests::Digest(const Job& job) {
    UInt64 size = 0;
    std::uint32_t crc = 0;
    std::string md5 = m_hooks.known ? m_hooks.known(job.item) : std::string();
    const bool read = !md5.empty() || ReadClosedFile(job.path, size, crc, &md5);
    std::lock_guard<std::mutex> hold(m_lock);
    if (read)
        m_digests.emplace_back(job.index, std::move(md5));
    else
        m_failed = true;
}

bool ClosedFileDigests::Finish(std::vector<ExtractedItem>& items) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_closing = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    for (auto& digest : m_digests)
        if (digest.first < items.size()) items[digest.first].md5 = std::move(digest.second);
    m_digests.clear();
    return !m_failed;
}

// --- ArchiveExtractCallback --------------------------------------------------

ArchiveExtractCallback::ArchiveExtractCallback(IInArchive* archive, const std::wstring& destination, bool takeDigests,
                                               DigestHooks hooks)
    : m_archive(archive), m_destination(destination) {
    if (takeDigests) m_digests.reset(new ClosedFileDigests(std::move(hooks)));
}

HRESULT ArchiveExtractCallback::FinishDigests() {
    if (!m_digests) return S_OK;
    try {
        return m_digests->Finish(m_items) ? S_OK : E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}

// The bytes written to the item's file are as many as the archive states and
// have its CRC-32. Where they were not written in order, the closed file is
// read instead.
bool ArchiveExtractCallback::WrittenAsStated() const {
    if (!m_written) return false;
    UInt64 size = m_written->size;
    std::uint32_t crc = m_written->crc;
    if (!m_written->inOrder && !ReadClosedFile(m_itemTarget, size, crc, nullptr)) return false;
    return size == m_item.size && (!m_item.hasCrc || crc == m_item.crc);
}

HRESULT STDMETHODCALLTYPE ArchiveExtractCallback::SetTotal(UInt64) { return S_OK; }
HRESULT STDMETHODCALLTYPE ArchiveExtractCallback::SetCompleted(const UInt64*) { return S_OK; }
HRESULT STDMETHODCALLTYPE ArchiveExtractCallback::PrepareOperation(Int32) { return S_OK; }
HRESULT STDMETHODCALLTYPE ArchiveExtractCallback::CryptoGetTextPassword(BSTR*) { return E_ABORT; }

// Reads attributes, folder flag, modification time and size (type check only).
HRESULT ArchiveExtractCallback::ReadItemProperties(UInt32 index) {
    {
        CPropVariant value;
        HRESULT hr = ReadProperty(m_archive.get(), index, kpidAttrib, value);
        if (hr != S_OK) return hr;
        if (value->vt == VT_UI4) {
            m_hasAttributes = true;
            m_attributes = value->ulVal;
        } else if (value->vt == VT_EMPTY) {
            m_hasAttributes = false;
            m_attributes = 0;
        } else {
            return E_FAIL;
        }
    }
    {
        CPropVariant value;
        HRESULT hr = ReadProperty(m_archive.get(), index, kpidIsDir, value);
        if (hr != S_OK) return hr;
        if (value->vt == VT_BOOL) {
            m_isFolder = value->boolVal != VARIANT_FALSE;
        } else if (value->vt == VT_EMPTY) {
            m_isFolder = false;
        } else {
            return E_FAIL;
        }
    }
    {
        CPropVariant value;
        HRESULT hr = ReadProperty(m_archive.get(), index, kpidMTime, value);
        if (hr != S_OK) return hr;
        if (value->vt == VT_FILETIME) {
            m_hasModificationTime = true;
            m_modificationTime = value->filetime;
        } else if (value->vt == VT_EMPTY) {
            m_hasModificationTime = false;
        } else {
            return E_FAIL;
        }
    }
    m_item = ExtractedItem();
    {
        CPropVariant value;
        HRESULT hr = ReadProperty(m_archive.get(), index, kpidSize, value);
        if (hr != S_OK) return hr;
        switch (value->vt) {
        case VT_EMPTY: break;
        case VT_UI1: m_item.size = value->bVal; break;
        case VT_UI2: m_item.size = value->uiVal; break;
        case VT_UI4: m_item.size = value->ulVal; break;
        case VT_UI8: m_item.size = value->uhVal.QuadPart; break;
        default: return E_FAIL;
        }
    }
    {
        CPropVariant value;
        HRESULT hr = ReadProperty(m_archive.get(), index, kpidCRC, value);
        if (hr != S_OK) return hr;
        if (value->vt == VT_UI4) {
            m_item.hasCrc = true;
            m_item.crc = value->ulVal;
        } else if (value->vt != VT_EMPTY) {
            return E_FAIL;
        }
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ArchiveExtractCallback::GetStream(UInt32 index, ISequentialOutStream** outStream,
                                                            Int32 askExtractMode) {
    try {
        {
            CPropVariant value;
            HRESULT hr = ReadProperty(m_archive.get(), index, kpidPath, value);
            if (hr != S_OK) return hr;
            if (value->vt == VT_BSTR) {
                m_itemPath = value->bstrVal ? std::wstring(value->bstrVal) : std::wstring();
            } else if (value->vt == VT_EMPTY) {
                m_itemPath = L"[Content]";
            } else {
                return E_FAIL;
            }
        }
        if (askExtractMode != kAskExtract) return S_OK;
        if (!outStream) return E_POINTER;
        *outStream = nullptr;
        m_itemTarget.clear();
        m_written.reset();

        HRESULT hr = ReadItemProperties(index);
        if (hr != S_OK) return hr;

        // Every item must land below the destination folder.
        if (!IsContainedItemPath(m_itemPath)) return HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);

        m_itemTarget = JoinItemTarget(m_destination, m_itemPath);
        m_item.path = m_itemPath;
        m_item.isFolder = m_isFolder;
        if (m_isFolder) {
            ::SHCreateDirectoryExW(nullptr, m_itemTarget.c_str(), nullptr);
            m_items.push_back(m_item);
            return S_OK;
        }

        std::wstring parent = ParentFolderOf(m_itemTarget);
        if (!parent.empty()) ::SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);

        // An existing file is replaced, also one that an earlier extraction
        // left read-only: the item's own attributes are applied afterwards.
        const DWORD existing = ::GetFileAttributesW(m_itemTarget.c_str());
        if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) &&
            !(existing & FILE_ATTRIBUTE_DIRECTORY))
            ::SetFileAttributesW(m_itemTarget.c_str(), existing & ~FILE_ATTRIBUTE_READONLY);

        CComPtr<IStream> file;
        ::SetLastError(ERROR_SUCCESS);
        HRESULT created = ::SHCreateStreamOnFileEx(m_itemTarget.c_str(), STGM_CREATE | STGM_WRITE,
                                                   FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, file.out());
        if (FAILED(created) || !file) {
            m_itemTarget.clear();
            HRESULT error = LastErrorAsHresult();
            // A failure must never read as success: without a system error the stream's own result counts.
            if (error == S_OK) error = FAILED(created) ? created : E_FAIL;
            return error;
        }
        // The handler takes over the one reference of the new stream.
        m_written = std::make_shared<WrittenBytes>();
        *outStream = MakeCom<OutStreamWrapper>(file.get(), m_written).detach();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT STDMETHODCALLTYPE ArchiveExtractCallback::SetOperationResult(Int32 operationResult) {
    if (operationResult != kOpOk && m_firstFailure == S_OK) m_firstFailure = OperationResultAsHresult(operationResult);
    if (m_itemTarget.empty()) return S_OK;
    bool digest = false;
    if (operationResult == kOpOk && !m_isFolder) {
        if (!WrittenAsStated()) {
            if (m_firstFailure == S_OK) m_firstFailure = HRESULT_FROM_WIN32(ERROR_CRC);
        } else {
            try {
                m_items.push_back(m_item);
                digest = static_cast<bool>(m_digests);
            } catch (const std::bad_alloc&) {
                if (m_firstFailure == S_OK) m_firstFailure = E_OUTOFMEMORY;
            }
        }
    }
    m_written.reset();
    if (m_hasModificationTime) {
        UniqueFile file(::CreateFileW(m_itemTarget.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) ::SetFileTime(file.get(), nullptr, nullptr, &m_modificationTime);
    }
    if (m_hasAttributes) ::SetFileAttributesW(m_itemTarget.c_str(), m_attributes);
    // Read for its digest only now: the time and attributes are applied.
    if (digest) {
        try {
            m_digests->Written(m_items.back(), m_itemTarget);
            m_digests->Add(m_items.size() - 1, m_items.back(), m_itemTarget);
        } catch (...) {
            if (m_firstFailure == S_OK) m_firstFailure = E_FAIL;
        }
    }
    return S_OK;
}

}  // namespace intl
}  // namespace SevenZip

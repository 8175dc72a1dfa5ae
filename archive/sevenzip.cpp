#include "archive/sevenzip.h"

#include <shlwapi.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "archive/callbacks.h"
#include "archive/streams.h"
#include "util/com_object.h"
#include "util/com_ptr.h"

namespace SevenZip {

GUID HandlerClassId(ArchiveFormat format) {
    unsigned char handler = 0x07;
    switch (format) {
    case ArchiveFormat::Zip: handler = 0x01; break;
    case ArchiveFormat::GZip: handler = 0xEF; break;
    case ArchiveFormat::BZip2: handler = 0x02; break;
    case ArchiveFormat::Rar: handler = 0x03; break;
    case ArchiveFormat::Tar: handler = 0xEE; break;
    case ArchiveFormat::Iso: handler = 0xE7; break;
    case ArchiveFormat::Cab: handler = 0x08; break;
    case ArchiveFormat::Lzma: handler = 0x0A; break;
    case ArchiveFormat::Lzma86: handler = 0x0B; break;
    default: break;
    }
    return GUID{0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, handler, 0x00, 0x00}};
}

std::wstring FormatText(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    va_list sizing;
    va_copy(sizing, args);
    int length = _vscwprintf(format, sizing);
    va_end(sizing);
    std::wstring text;
    if (length > 0) {
        std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
        _vsnwprintf(buffer.data(), buffer.size() - 1, format, args);
        text.assign(buffer.data());
    }
    va_end(args);
    return text;
}

namespace {

[[noreturn]] void RaiseHresult(const wchar_t* what, HRESULT hr) {
    throw SevenZipException(FormatText(L"%ls: HRESULT = 0x%08lX", what, static_cast<unsigned long>(hr)));
}

// Asks the handler to decode on `threads` threads. A handler without the
// setting decodes as it would anyway, so a refusal is no failure.
void AskForThreads(IInArchive* archive, UInt32 threads) {
    CComPtr<ISetProperties> properties;
    if (FAILED(archive->QueryInterface(IID_ISetProperties, properties.outVoid())) || !properties) return;
    const wchar_t* names[] = {L"mt"};
    PROPVARIANT values[1];
    ::PropVariantInit(&values[0]);
    values[0].vt = VT_UI4;
    values[0].ulVal = threads;
    properties->SetProperties(names, values, 1);
}

}  // namespace

UInt32 ProcessorCount() {
    DWORD count = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (count == 0) {
        SYSTEM_INFO info = {};
        ::GetSystemInfo(&info);
        count = info.dwNumberOfProcessors;
    }
    return count == 0 ? 1 : count;
}

// --- SevenZipModule ----------------------------------------------------------

SevenZipModule::~SevenZipModule() = default;

void SevenZipModule::Load(const std::wstring& libraryPath) {
    Free();
    UniqueModule library(::LoadLibraryW(libraryPath.c_str()));
    if (!library) {
        unsigned long error = ::GetLastError();
        throw SevenZipException(FormatText(L"%ls: GetLastError = %lu", L"LoadLibrary", error));
    }
    auto create =
        reinterpret_cast<CreateObjectFunc>(reinterpret_cast<void*>(::GetProcAddress(library.get(), "CreateObject")));
    if (!create) throw SevenZipException(L"Loaded library is missing required CreateObject function");
    m_library = std::move(library);
    m_create = create;
}

BOOL SevenZipModule::Free() {
    if (!m_library) return FALSE;
    m_create = nullptr;
    // Freed here rather than by the wrapper: the caller learns the result.
    return ::FreeLibrary(m_library.release());
}

// --- SevenZipExtractor -------------------------------------------------------

SevenZipExtractor::SevenZipExtractor(const SevenZipModule& module, std::wstring archivePath)
    : m_module(module), m_archivePath(std::move(archivePath)) {}

void SevenZipExtractor::ExtractTo(const std::wstring& destination) {
    m_items.clear();
    // Declared in the reverse of the release order: extract callback, open
    // callback, stream wrapper, handler, and last the archive file.
    CComPtr<IStream> file;
    HRESULT hr =
        ::SHCreateStreamOnFileEx(m_archivePath.c_str(), STGM_READ, FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, file.out());
    if (FAILED(hr) || !file)
        throw SevenZipException(FormatText(L"Could not open archive \"%ls\"", m_archivePath.c_str()));

    CreateObjectFunc create = m_module.CreateFunction();
    if (!create) throw SevenZipException(L"Library is not loaded");
    CComPtr<IInArchive> archive;
    GUID classId = HandlerClassId(m_format);
    hr = create(&classId, &IID_IInArchive, archive.outVoid());
    if (FAILED(hr)) RaiseHresult(L"CreateObject", hr);
    if (!archive) RaiseHresult(L"CreateObject", E_NOINTERFACE);
    if (m_decoderThreads != 0) AskForThreads(archive.get(), m_decoderThreads);

    CComPtr<intl::InStreamWrapper> input = MakeCom<intl::InStreamWrapper>(file.get());
    CComPtr<intl::ArchiveOpenCallback> openCallback = MakeCom<intl::ArchiveOpenCallback>();

    hr = archive->Open(input.get(), nullptr, openCallback.get());
    if (hr != S_OK) RaiseHresult(L"Open archive", hr);

    CComPtr<intl::ArchiveExtractCallback> extractCallback =
        MakeCom<intl::ArchiveExtractCallback>(archive.get(), destination, m_takeDigests, m_digestHooks);

    hr = archive->Extract(nullptr, 0xFFFFFFFFu, 0, extractCallback.get());
    if (hr != S_OK) RaiseHresult(L"Extract archive", hr);
    // A damaged item does not stop the handler, but the archive was not extracted intact.
    hr = extractCallback->FirstFailure();
    if (hr != S_OK) RaiseHresult(L"Extract archive", hr);
    hr = extractCallback->FinishDigests();
    if (hr != S_OK) RaiseHresult(L"Digest extracted files", hr);
    m_items = extractCallback->Items();
}

}  // namespace SevenZip

#pragma once
// The COM-style interfaces through which 7z.dll reads an archive and hands its
// items back: stream interfaces, the open and extract callbacks, the password
// request and the archive handler itself. Method order and calling convention
// follow the library's published binary layout; they must not be changed.
// Interfaces carry no destructor: their vtables end with their last method.
#include <windows.h>
#include <objbase.h>
#include <propidl.h>

namespace SevenZip {

using UInt32 = unsigned int;
using Int32 = int;
using UInt64 = unsigned long long;
using Int64 = long long;

// Every archive interface id has the form {23170F69-40C1-278A-0000-00gg00ii0000}.
constexpr GUID ArchiveInterfaceId(unsigned char group, unsigned char item) {
    return GUID{0x23170F69, 0x40C1, 0x278A, {0x00, 0x00, 0x00, group, 0x00, item, 0x00, 0x00}};
}

// One object per id in the whole program (inline): the interface tables of
// the objects handed to the handler are built from their addresses.
inline constexpr GUID IID_ISequentialInStream = ArchiveInterfaceId(0x03, 0x01);
inline constexpr GUID IID_ISequentialOutStream = ArchiveInterfaceId(0x03, 0x02);
inline constexpr GUID IID_IInStream = ArchiveInterfaceId(0x03, 0x03);
inline constexpr GUID IID_IOutStream = ArchiveInterfaceId(0x03, 0x04);
inline constexpr GUID IID_IStreamGetSize = ArchiveInterfaceId(0x03, 0x06);
inline constexpr GUID IID_IProgress = ArchiveInterfaceId(0x00, 0x05);
inline constexpr GUID IID_ICryptoGetTextPassword = ArchiveInterfaceId(0x05, 0x10);
inline constexpr GUID IID_IArchiveOpenCallback = ArchiveInterfaceId(0x06, 0x10);
inline constexpr GUID IID_IArchiveExtractCallback = ArchiveInterfaceId(0x06, 0x20);
inline constexpr GUID IID_IInArchive = ArchiveInterfaceId(0x06, 0x60);
inline constexpr GUID IID_ISetProperties = ArchiveInterfaceId(0x06, 0x03);

// Item property ids read during extraction.
enum ItemPropertyId : PROPID {
    kpidPath = 3,
    kpidIsDir = 6,
    kpidSize = 7,
    kpidAttrib = 9,
    kpidMTime = 12,
    kpidCRC = 19,
};

// What the handler asks the extract callback to do with an item.
enum AskMode : Int32 { kAskExtract = 0, kAskTest = 1, kAskSkip = 2 };

// Per-item results reported through SetOperationResult.
enum OperationResult : Int32 {
    kOpOk = 0,
    kOpUnsupportedMethod = 1,
    kOpDataError = 2,
    kOpCrcError = 3,
    kOpUnavailable = 4,
    kOpUnexpectedEnd = 5,
    kOpDataAfterEnd = 6,
    kOpIsNotArc = 7,
    kOpHeadersError = 8,
    kOpWrongPassword = 9,
};

struct ISequentialInStream : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(void* data, UInt32 size, UInt32* processedSize) = 0;
};

struct ISequentialOutStream : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Write(const void* data, UInt32 size, UInt32* processedSize) = 0;
};

struct IInStream : ISequentialInStream {
    virtual HRESULT STDMETHODCALLTYPE Seek(Int64 offset, UInt32 seekOrigin, UInt64* newPosition) = 0;
};

struct IOutStream : ISequentialOutStream {
    virtual HRESULT STDMETHODCALLTYPE Seek(Int64 offset, UInt32 seekOrigin, UInt64* newPosition) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSize(UInt64 newSize) = 0;
};

struct IStreamGetSize : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSize(UInt64* size) = 0;
};

struct IProgress : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetTotal(UInt64 total) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCompleted(const UInt64* completeValue) = 0;
};

struct ICryptoGetTextPassword : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) = 0;
};

struct IArchiveOpenCallback : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetTotal(const UInt64* files, const UInt64* bytes) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCompleted(const UInt64* files, const UInt64* bytes) = 0;
};

struct IArchiveExtractCallback : IProgress {
    virtual HRESULT STDMETHODCALLTYPE GetStream(UInt32 index, ISequentialOutStream** outStream,
                                                Int32 askExtractMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE PrepareOperation(Int32 askExtractMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOperationResult(Int32 operationResult) = 0;
};

struct IInArchive : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Open(IInStream* stream, const UInt64* maxCheckStartPosition,
                                           IArchiveOpenCallback* openCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfItems(UInt32* numItems) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(UInt32 index, PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Extract(const UInt32* indices, UInt32 numItems, Int32 testMode,
                                              IArchiveExtractCallback* extractCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetArchiveProperty(PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfProperties(UInt32* numProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropertyInfo(UInt32 index, BSTR* name, PROPID* propID, VARTYPE* varType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfArchiveProperties(UInt32* numProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetArchivePropertyInfo(UInt32 index, BSTR* name, PROPID* propID,
                                                             VARTYPE* varType) = 0;
};

// Named settings of a handler, such as "mt" (the number of decoder threads);
// set before the archive is opened.
struct ISetProperties : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetProperties(const wchar_t* const* names, const PROPVARIANT* values,
                                                    UInt32 count) = 0;
};

// Signature of the library's CreateObject export.
using CreateObjectFunc = HRESULT(WINAPI*)(const GUID* classId, const GUID* interfaceId, void** object);

}  // namespace SevenZip

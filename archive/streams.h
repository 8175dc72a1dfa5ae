#pragma once
// Stream adapters between the system IStream of a file and the stream
// interfaces the archive handler reads from and writes to.
#include <objidl.h>

#include "archive/interfaces.h"
#include "util/com_object.h"
#include "util/com_ptr.h"

namespace SevenZip {
namespace intl {

// The archive file as the handler sees it: readable, seekable, with a size.
class InStreamWrapper final : public CComObject<ComInterface<IInStream, &IID_ISequentialInStream, &IID_IInStream>,
                                                ComInterface<IStreamGetSize, &IID_IStreamGetSize>> {
public:
    explicit InStreamWrapper(IStream* base);

    // A short read is success: the handler learns the end from the processed size.
    HRESULT STDMETHODCALLTYPE Read(void* data, UInt32 size, UInt32* processedSize) override;
    HRESULT STDMETHODCALLTYPE Seek(Int64 offset, UInt32 seekOrigin, UInt64* newPosition) override;
    HRESULT STDMETHODCALLTYPE GetSize(UInt64* size) override;

private:
    CComPtr<IStream> m_base;
};

// One extracted file; releasing the last reference closes it.
class OutStreamWrapper final : public CComObject<ComInterface<IOutStream, &IID_ISequentialOutStream, &IID_IOutStream>> {
public:
    explicit OutStreamWrapper(IStream* base);

    HRESULT STDMETHODCALLTYPE Write(const void* data, UInt32 size, UInt32* processedSize) override;
    HRESULT STDMETHODCALLTYPE Seek(Int64 offset, UInt32 seekOrigin, UInt64* newPosition) override;
    HRESULT STDMETHODCALLTYPE SetSize(UInt64 newSize) override;

private:
    CComPtr<IStream> m_base;
};

}  // namespace intl
}  // namespace SevenZip

#pragma once
// Stream adapters between the system IStream of a file and the stream
// interfaces the archive handler reads from and writes to.
#include <objidl.h>

#include <cstdint>
#include <memory>

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

// What was written to one output file, as it was written: the number of
// bytes and their CRC-32. `inOrder` stays true while every write went to the
// end of what was written before; after a seek elsewhere or a cut the two
// values say nothing about the file's content.
struct WrittenBytes {
    UInt64 size = 0;
    std::uint32_t crc = 0;
    bool inOrder = true;
};

// One extracted file; releasing the last reference closes it. With
// `written`, every byte that reaches the file is counted and checksummed
// there on its way.
class OutStreamWrapper final : public CComObject<ComInterface<IOutStream, &IID_ISequentialOutStream, &IID_IOutStream>> {
public:
    explicit OutStreamWrapper(IStream* base, std::shared_ptr<WrittenBytes> written = nullptr);

    HRESULT STDMETHODCALLTYPE Write(const void* data, UInt32 size, UInt32* processedSize) override;
    HRESULT STDMETHODCALLTYPE Seek(Int64 offset, UInt32 seekOrigin, UInt64* newPosition) override;
    HRESULT STDMETHODCALLTYPE SetSize(UInt64 newSize) override;

private:
    CComPtr<IStream> m_base;
    std::shared_ptr<WrittenBytes> m_written;
    UInt64 m_position = 0;
};

}  // namespace intl
}  // namespace SevenZip

#include "archive/streams.h"

#include "util/crc32.h"

namespace SevenZip {
namespace intl {

namespace {

// Moves the stream position; the origin values (set, current, end) are the same in both interfaces.
HRESULT SeekBase(IStream* base, Int64 offset, UInt32 seekOrigin, UInt64* newPosition) {
    LARGE_INTEGER move;
    move.QuadPart = offset;
    ULARGE_INTEGER position;
    position.QuadPart = 0;
    HRESULT hr = base->Seek(move, seekOrigin, &position);
    if (newPosition) *newPosition = position.QuadPart;
    return hr;
}

}  // namespace

// --- InStreamWrapper ---------------------------------------------------------

InStreamWrapper::InStreamWrapper(IStream* base) : m_base(base) {}

HRESULT STDMETHODCALLTYPE InStreamWrapper::Read(void* data, UInt32 size, UInt32* processedSize) {
    ULONG read = 0;
    HRESULT hr = m_base->Read(data, size, &read);
    if (processedSize) *processedSize = read;
    return FAILED(hr) ? hr : S_OK;
}

HRESULT STDMETHODCALLTYPE InStreamWrapper::Seek(Int64 offset, UInt32 seekOrigin, UInt64* newPosition) {
    return SeekBase(m_base.get(), offset, seekOrigin, newPosition);
}

HRESULT STDMETHODCALLTYPE InStreamWrapper::GetSize(UInt64* size) {
    STATSTG stat = {};
    HRESULT hr = m_base->Stat(&stat, STATFLAG_NONAME);
    if (SUCCEEDED(hr) && size) *size = stat.cbSize.QuadPart;
    return hr;
}

// --- OutStreamWrapper --------------------------------------------------------

OutStreamWrapper::OutStreamWrapper(IStream* base, std::shared_ptr<WrittenBytes> written)
    : m_base(base), m_written(std::move(written)) {}

HRESULT STDMETHODCALLTYPE OutStreamWrapper::Write(const void* data, UInt32 size, UInt32* processedSize) {
    ULONG written = 0;
    HRESULT hr = m_base->Write(data, size, &written);
    if (processedSize) *processedSize = written;
    if (m_written) {
        if (m_position != m_written->size) m_written->inOrder = false;
        m_written->crc = Crc32Update(m_written->crc, data, written);
        m_written->size += written;
    }
    m_position += written;
    return hr;
}

HRESULT STDMETHODCALLTYPE OutStreamWrapper::Seek(Int64 offset, UInt32 seekOrigin, UInt64* newPosition) {
    UInt64 position = 0;
    HRESULT hr = SeekBase(m_base.get(), offset, seekOrigin, &position);
    if (SUCCEEDED(hr)) m_position = position;
    if (newPosition) *newPosition = position;
    return hr;
}

HRESULT STDMETHODCALLTYPE OutStreamWrapper::SetSize(UInt64 newSize) {
    ULARGE_INTEGER size;
    size.QuadPart = newSize;
    // A file cut below what was written no longer holds those bytes.
    if (m_written && newSize < m_written->size) m_written->inOrder = false;
    return m_base->SetSize(size);
}

}  // namespace intl
}  // namespace SevenZip

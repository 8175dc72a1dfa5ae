#pragma once
// The base of this program's own COM objects. It keeps the interlocked
// reference count, counts the objects alive in this module (so that a leaked
// reference shows up as an object that never went away), and answers
// QueryInterface from the interface table given as its template arguments:
//
//     class Stream final : public CComObject<ComInterface<IInStream, &IID_ISequentialInStream, &IID_IInStream>,
//                                           ComInterface<IStreamGetSize, &IID_IStreamGetSize>> { ... };
//
// Each row names an interface the object derives from and the ids it is
// handed out for; IUnknown is answered with the first row's interface, so
// that every way to IUnknown gives the same pointer. Objects are made with
// MakeCom, which returns the creator's one reference in a CComPtr.
#include <unknwn.h>

#include <type_traits>
#include <utility>

#include "util/com_ptr.h"

namespace com_detail {
// One counter per module (program or library) that includes this header.
inline LONG g_liveObjects = 0;
}  // namespace com_detail

// CComObject objects alive in this module now.
inline LONG LiveComObjectCount() noexcept { return ::InterlockedCompareExchange(&com_detail::g_liveObjects, 0, 0); }

// One row of the interface table: the object is handed out as Interface for each of Ids.
template <class Interface, const IID*... Ids>
struct ComInterface {
    static_assert(std::is_base_of<IUnknown, Interface>::value, "a COM interface derives from IUnknown");
    static_assert(sizeof...(Ids) > 0, "a row answers at least one interface id");
    using type = Interface;
    static bool Answers(REFIID iid) noexcept { return ((iid == *Ids) || ...); }
};

template <class First, class... Rest>
class CComObject : public First::type, public Rest::type... {
public:
    CComObject(const CComObject&) = delete;
    CComObject& operator=(const CComObject&) = delete;

    // Sets *object to null for an id the table does not hold (E_NOINTERFACE).
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
        if (!object) return E_POINTER;
        void* found = nullptr;
        if (iid == IID_IUnknown)
            found = static_cast<IUnknown*>(static_cast<typename First::type*>(this));
        else
            (void)((found = As<First>(iid)) || ... || (found = As<Rest>(iid)));
        *object = found;
        if (!found) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const LONG left = ::InterlockedDecrement(&m_refs);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    CComObject() noexcept { ::InterlockedIncrement(&com_detail::g_liveObjects); }
    virtual ~CComObject() { ::InterlockedDecrement(&com_detail::g_liveObjects); }

private:
    template <class Row>
    void* As(REFIID iid) noexcept {
        return Row::Answers(iid) ? static_cast<void*>(static_cast<typename Row::type*>(this)) : nullptr;
    }

    LONG m_refs = 1;  // the creator's reference, which MakeCom hands over
};

// A new object of a CComObject class, in a CComPtr that holds its one reference.
// Throws what the allocation or the constructor throws.
template <class T, class... Args>
CComPtr<T> MakeCom(Args&&... args) {
    CComPtr<T> object;
    object.Attach(new T(std::forward<Args>(args)...));
    return object;
}

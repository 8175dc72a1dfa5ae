#pragma once
// Owning pointer to a COM interface: holds one reference and releases it when
// it goes. Built from a raw pointer it takes a reference of its own, so the
// caller keeps the one it had; a reference the caller hands over (one that a
// creating call returned) is taken with Attach, or is received through out().
#include <unknwn.h>

#include <type_traits>

template <class T>
class CComPtr {
public:
    CComPtr() noexcept = default;
    // Shares the object: adds a reference.
    explicit CComPtr(T* p) noexcept : m_p(p) {
        if (m_p) m_p->AddRef();
    }
    CComPtr(const CComPtr& other) noexcept : CComPtr(other.m_p) {}
    CComPtr(CComPtr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    // From a pointer to a derived interface or to an implementing class.
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    CComPtr(const CComPtr<U>& other) noexcept : CComPtr(other.get()) {}
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    CComPtr(CComPtr<U>&& other) noexcept : m_p(other.detach()) {}
    CComPtr& operator=(CComPtr other) noexcept {
        T* old = m_p;
        m_p = other.m_p;
        other.m_p = old;
        return *this;
    }
    ~CComPtr() { reset(); }

    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    void reset() noexcept {
        if (m_p) {
            T* old = m_p;
            m_p = nullptr;
            old->Release();
        }
    }
    // Takes over a reference the caller holds (no reference is added); the
    // current one is released first.
    void Attach(T* p) noexcept {
        reset();
        m_p = p;
    }
    // Hands the reference to the caller (no reference is released).
    T* detach() noexcept {
        T* p = m_p;
        m_p = nullptr;
        return p;
    }
    // Address for calls that hand out a new reference; the current one is released first.
    T** out() noexcept {
        reset();
        return &m_p;
    }
    void** outVoid() noexcept { return reinterpret_cast<void**>(out()); }

private:
    T* m_p = nullptr;
};

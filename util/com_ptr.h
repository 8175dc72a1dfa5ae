#pragma once
// Owning pointer to a COM interface: holds one reference and releases it when
// it goes. Built from a raw pointer it takes a reference of its own, so the
// caller keeps the one it had; a reference the caller hands over (one that a
// creating call returned) is taken with Attach, or is received through out().
#include <unknwn.h>

#include <type_traits>

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    // Shares the object: adds a reference.
    explicit ComPtr(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    // From a pointer to a derived interface or to an implementing class.
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    ComPtr(const ComPtr<U>& other) noexcept : ComPtr(other.get()) {}
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    ComPtr(ComPtr<U>&& other) noexcept : p_(other.detach()) {}
    ComPtr& operator=(ComPtr other) noexcept {
        T* old = p_;
        p_ = other.p_;
        other.p_ = old;
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    void reset() noexcept {
        if (p_) {
            T* old = p_;
            p_ = nullptr;
            old->Release();
        }
    }
    // Takes over a reference the caller holds (no reference is added); the
    // current one is released first.
    void Attach(T* p) noexcept {
        reset();
        p_ = p;
    }
    // Hands the reference to the caller (no reference is released).
    T* detach() noexcept {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    // Address for calls that hand out a new reference; the current one is released first.
    T** out() noexcept {
        reset();
        return &p_;
    }
    void** outVoid() noexcept { return reinterpret_cast<void**>(out()); }

private:
    T* p_ = nullptr;
};

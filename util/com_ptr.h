#pragma once
// Owning pointer to a COM interface: releases its reference when it goes.
#include <unknwn.h>

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    // Takes over a reference the caller already holds.
    explicit ComPtr(T* p) noexcept : p_(p) {}
    ComPtr(const ComPtr& other) noexcept : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
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

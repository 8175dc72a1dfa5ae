#pragma once
// VARIANT and PROPVARIANT values that release what they hold (a string, an
// interface, an array) when they go.
#include <windows.h>
#include <oleauto.h>
#include <propidl.h>

// A VARIANT, empty (VT_EMPTY) until set or filled in.
class Variant {
public:
    Variant() noexcept { ::VariantInit(&value_); }
    // VT_BSTR with a copy of the text (a null string when it cannot be allocated).
    explicit Variant(const wchar_t* text) noexcept : Variant() {
        value_.vt = VT_BSTR;
        value_.bstrVal = ::SysAllocString(text);
    }
    explicit Variant(long number) noexcept : Variant() {
        value_.vt = VT_I4;
        value_.lVal = number;
    }
    ~Variant() { ::VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* get() noexcept { return &value_; }
    VARIANT& operator*() noexcept { return value_; }
    const VARIANT& operator*() const noexcept { return value_; }
    const VARIANT* operator->() const noexcept { return &value_; }
    // Address for calls that fill the value in; what it held is cleared first.
    VARIANT* out() noexcept {
        ::VariantClear(&value_);
        return &value_;
    }

private:
    VARIANT value_;
};

// A PROPVARIANT, empty (VT_EMPTY) until filled in.
class PropVariant {
public:
    PropVariant() noexcept { ::PropVariantInit(&value_); }
    ~PropVariant() { ::PropVariantClear(&value_); }
    PropVariant(const PropVariant&) = delete;
    PropVariant& operator=(const PropVariant&) = delete;

    const PROPVARIANT& operator*() const noexcept { return value_; }
    const PROPVARIANT* operator->() const noexcept { return &value_; }
    // Address for calls that fill the value in; what it held is cleared first.
    PROPVARIANT* out() noexcept {
        ::PropVariantClear(&value_);
        return &value_;
    }

private:
    PROPVARIANT value_;
};

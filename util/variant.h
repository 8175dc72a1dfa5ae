#pragma once
// VARIANT and PROPVARIANT values that release what they hold (a string, an
// interface, an array) when they go.
#include <windows.h>
#include <oleauto.h>
#include <propidl.h>

// A VARIANT, empty (VT_EMPTY) until set or filled in.
class CVariant {
public:
    CVariant() noexcept { ::VariantInit(&m_value); }
    // VT_BSTR with a copy of the text (a null string when it cannot be allocated).
    explicit CVariant(const wchar_t* text) noexcept : CVariant() {
        m_value.vt = VT_BSTR;
        m_value.bstrVal = ::SysAllocString(text);
    }
    explicit CVariant(long number) noexcept : CVariant() {
        m_value.vt = VT_I4;
        m_value.lVal = number;
    }
    ~CVariant() { ::VariantClear(&m_value); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;

    VARIANT* get() noexcept { return &m_value; }
    VARIANT& operator*() noexcept { return m_value; }
    const VARIANT& operator*() const noexcept { return m_value; }
    const VARIANT* operator->() const noexcept { return &m_value; }
    // Address for calls that fill the value in; what it held is cleared first.
    VARIANT* out() noexcept {
        ::VariantClear(&m_value);
        return &m_value;
    }

private:
    VARIANT m_value;
};

// A PROPVARIANT, empty (VT_EMPTY) until filled in.
class CPropVariant {
public:
    CPropVariant() noexcept { ::PropVariantInit(&m_value); }
    ~CPropVariant() { ::PropVariantClear(&m_value); }
    CPropVariant(const CPropVariant&) = delete;
    CPropVariant& operator=(const CPropVariant&) = delete;

    const PROPVARIANT& operator*() const noexcept { return m_value; }
    const PROPVARIANT* operator->() const noexcept { return &m_value; }
    // Address for calls that fill the value in; what it held is cleared first.
    PROPVARIANT* out() noexcept {
        ::PropVariantClear(&m_value);
        return &m_value;
    }

private:
    PROPVARIANT m_value;
};

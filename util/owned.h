#pragma once
// The catalogue of owning wrappers for system resources. COwned<Traits> serves
// every resource that one value names: handles, find handles, registry keys,
// modules, memory blocks of the local, global and COM heaps, BSTRs, GDI
// objects and memory device contexts; the traits say what "none" is and how
// the resource is released. CWindowDc gives a window's device context back.
// Beside this header: util/variant.h (VARIANT, PROPVARIANT),
// util/com_scope.h (COM started on a thread), util/com_ptr.h (interface
// references), util/gdiplus_api.h (GDI+ pictures and graphics).
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

template <class Traits>
class COwned {
public:
    using value_type = typename Traits::type;

    COwned() noexcept : m_value(Traits::none()) {}
    explicit COwned(value_type v) noexcept : m_value(v) {}
    COwned(const COwned&) = delete;
    COwned& operator=(const COwned&) = delete;
    COwned(COwned&& other) noexcept : m_value(other.release()) {}
    COwned& operator=(COwned&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~COwned() { reset(); }

    value_type get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::none(); }

    // Releases the current resource (if any) and takes ownership of v.
    void reset(value_type v = Traits::none()) noexcept {
        if (m_value != Traits::none()) Traits::close(m_value);
        m_value = v;
    }
    // Gives up ownership without releasing.
    value_type release() noexcept {
        value_type v = m_value;
        m_value = Traits::none();
        return v;
    }
    // Address for APIs that return a resource through an out parameter; the
    // current resource is released first.
    value_type* out() noexcept {
        reset();
        return &m_value;
    }

private:
    value_type m_value;
};

struct HandleTraits {  // kernel objects whose "none" is NULL (process, token, mutex, ...)
    using type = HANDLE;
    static type none() noexcept { return nullptr; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFile, CreateToolhelp32Snapshot: "none" is INVALID_HANDLE_VALUE
    using type = HANDLE;
    static type none() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};
struct FindHandleTraits {
    using type = HANDLE;
    static type none() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::FindClose(h); }
};
struct RegKeyTraits {
    using type = HKEY;
    static type none() noexcept { return nullptr; }
    static void close(type k) noexcept { ::RegCloseKey(k); }
};
struct ModuleTraits {
    using type = HMODULE;
    static type none() noexcept { return nullptr; }
    static void close(type m) noexcept { ::FreeLibrary(m); }
};
struct LocalMemTraits {  // LocalAlloc, and what the system allocates so (SIDs as text, descriptors, argument lists)
    using type = HLOCAL;
    static type none() noexcept { return nullptr; }
    static void close(type p) noexcept { ::LocalFree(p); }
};
struct GlobalMemTraits {
    using type = HGLOBAL;
    static type none() noexcept { return nullptr; }
    static void close(type p) noexcept { ::GlobalFree(p); }
};
template <class T = void>
struct CoTaskMemTraits {  // what COM and the shell hand out from the task allocator (paths, item lists)
    using type = T*;
    static type none() noexcept { return nullptr; }
    static void close(type p) noexcept { ::CoTaskMemFree(p); }
};
struct BstrTraits {
    using type = BSTR;
    static type none() noexcept { return nullptr; }
    static void close(type b) noexcept { ::SysFreeString(b); }
};
struct GdiObjectTraits {  // pens, brushes, fonts, bitmaps, regions
    using type = HGDIOBJ;
    static type none() noexcept { return nullptr; }
    static void close(type h) noexcept { ::DeleteObject(h); }
};
struct MemDcTraits {  // CreateCompatibleDC
    using type = HDC;
    static type none() noexcept { return nullptr; }
    static void close(type h) noexcept { ::DeleteDC(h); }
};

using UniqueHandle = COwned<HandleTraits>;
using UniqueFile = COwned<FileHandleTraits>;
using UniqueFind = COwned<FindHandleTraits>;
using UniqueRegKey = COwned<RegKeyTraits>;
using UniqueModule = COwned<ModuleTraits>;
using UniqueLocalMem = COwned<LocalMemTraits>;
using UniqueGlobalMem = COwned<GlobalMemTraits>;
template <class T = void>
using UniqueCoTaskMem = COwned<CoTaskMemTraits<T>>;
using UniqueBstr = COwned<BstrTraits>;
using UniqueGdiObject = COwned<GdiObjectTraits>;
using UniqueMemDc = COwned<MemDcTraits>;

// A window's device context (the screen's for a null window), given back when it goes.
class CWindowDc {
public:
    explicit CWindowDc(HWND window) noexcept : m_window(window), m_dc(::GetDC(window)) {}
    ~CWindowDc() {
        if (m_dc) ::ReleaseDC(m_window, m_dc);
    }
    CWindowDc(const CWindowDc&) = delete;
    CWindowDc& operator=(const CWindowDc&) = delete;

    HDC get() const noexcept { return m_dc; }
    explicit operator bool() const noexcept { return m_dc != nullptr; }

private:
    HWND m_window;
    HDC m_dc;
};

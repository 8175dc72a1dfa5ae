#pragma once
// The catalogue of owning wrappers for system resources. Owned<Traits> serves
// every resource that one value names: handles, find handles, registry keys,
// modules, memory blocks of the local, global and COM heaps, BSTRs, GDI
// objects and memory device contexts; the traits say what "none" is and how
// the resource is released. WindowDc gives a window's device context back.
// Beside this header: util/variant.h (VARIANT, PROPVARIANT),
// util/com_scope.h (COM started on a thread), util/com_ptr.h (interface
// references), util/gdiplus_api.h (GDI+ pictures and graphics).
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

template <class Traits>
class Owned {
public:
    using value_type = typename Traits::type;

    Owned() noexcept : value_(Traits::none()) {}
    explicit Owned(value_type v) noexcept : value_(v) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : value_(other.release()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Owned() { reset(); }

    value_type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::none(); }

    // Releases the current resource (if any) and takes ownership of v.
    void reset(value_type v = Traits::none()) noexcept {
        if (value_ != Traits::none()) Traits::close(value_);
        value_ = v;
    }
    // Gives up ownership without releasing.
    value_type release() noexcept {
        value_type v = value_;
        value_ = Traits::none();
        return v;
    }
    // Address for APIs that return a resource through an out parameter; the
    // current resource is released first.
    value_type* out() noexcept {
        reset();
        return &value_;
    }

private:
    value_type value_;
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

using UniqueHandle = Owned<HandleTraits>;
using UniqueFile = Owned<FileHandleTraits>;
using UniqueFind = Owned<FindHandleTraits>;
using UniqueRegKey = Owned<RegKeyTraits>;
using UniqueModule = Owned<ModuleTraits>;
using UniqueLocalMem = Owned<LocalMemTraits>;
using UniqueGlobalMem = Owned<GlobalMemTraits>;
template <class T = void>
using UniqueCoTaskMem = Owned<CoTaskMemTraits<T>>;
using UniqueBstr = Owned<BstrTraits>;
using UniqueGdiObject = Owned<GdiObjectTraits>;
using UniqueMemDc = Owned<MemDcTraits>;

// A window's device context (the screen's for a null window), given back when it goes.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

#pragma once
// One small owning wrapper for every kind of system resource: handles, find
// handles, registry keys, modules, memory blocks. The traits say what "none"
// is and how the resource is released.
#include <windows.h>
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
struct LocalMemTraits {
    using type = HLOCAL;
    static type none() noexcept { return nullptr; }
    static void close(type p) noexcept { ::LocalFree(p); }
};

using UniqueHandle = Owned<HandleTraits>;
using UniqueFile = Owned<FileHandleTraits>;
using UniqueFind = Owned<FindHandleTraits>;
using UniqueRegKey = Owned<RegKeyTraits>;
using UniqueModule = Owned<ModuleTraits>;
using UniqueLocalMem = Owned<LocalMemTraits>;

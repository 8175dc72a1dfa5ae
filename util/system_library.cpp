#include "util/system_library.h"

#include <string>

namespace {

// Not declared by every toolchain's headers for older targets.
constexpr DWORD kSearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchSystem32 = 0x00000800;    // LOAD_LIBRARY_SEARCH_SYSTEM32

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);

FARPROC Kernel32Export(const char* name) { return ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name); }

// The LOAD_LIBRARY_SEARCH_* flags exist where SetDefaultDllDirectories does.
bool HasSearchFlags() {
    static const bool present = Kernel32Export("SetDefaultDllDirectories") != nullptr;
    return present;
}

std::wstring SystemFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT got = ::GetSystemDirectoryW(buffer, MAX_PATH);
    if (got == 0 || got > MAX_PATH) return std::wstring();
    return std::wstring(buffer, got);
}

bool IsBareName(const wchar_t* name) {
    for (const wchar_t* p = name; *p; ++p)
        if (*p == L'\\' || *p == L'/' || *p == L':') return false;
    return *name != L'\0';
}

}  // namespace

bool HardenLibrarySearch() {
    if (auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
            reinterpret_cast<void*>(Kernel32Export("SetDefaultDllDirectories")))) {
        if (setDefault(kSearchSystem32)) return true;
    }
    if (auto setDllDirectory =
            reinterpret_cast<SetDllDirectoryWFn>(reinterpret_cast<void*>(Kernel32Export("SetDllDirectoryW"))))
        setDllDirectory(L"");
    return false;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    if (!name || !IsBareName(name)) return nullptr;
    if (HasSearchFlags()) return ::LoadLibraryExW(name, nullptr, kSearchSystem32);
    const std::wstring folder = SystemFolder();
    if (folder.empty()) return nullptr;
    const std::wstring path = folder + L"\\" + name;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadLibraryFromPath(const wchar_t* path) {
    if (!path || !*path) return nullptr;
    if (HasSearchFlags()) return ::LoadLibraryExW(path, nullptr, kSearchDllLoadDir | kSearchSystem32);
    return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

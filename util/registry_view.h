#pragma once
// The registry as the shipped 32-bit program sees it on 64-bit Windows. A
// 64-bit build asks for the 32-bit view explicitly, so that both builds read
// and write the same keys; the 32-bit build asks for nothing and keeps the
// calls that exist on every system it runs on.
#include <windows.h>
#include <shlwapi.h>

#ifdef _WIN64
constexpr REGSAM kRegistry32View = KEY_WOW64_32KEY;
#else
constexpr REGSAM kRegistry32View = 0;
#endif

// Deletes a key that has no sub-keys, in the 32-bit view.
inline LONG DeleteRegKey32(HKEY root, const wchar_t* subKey) {
#ifdef _WIN64
    return ::RegDeleteKeyExW(root, subKey, kRegistry32View, 0);
#else
    return ::RegDeleteKeyW(root, subKey);
#endif
}

// Deletes a key with its values and sub-keys, in the 32-bit view.
inline LONG DeleteRegTree32(HKEY root, const wchar_t* subKey) {
#ifdef _WIN64
    HKEY key = nullptr;
    LONG status = ::RegOpenKeyExW(
        root, subKey, 0, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | kRegistry32View, &key);
    if (status != ERROR_SUCCESS) return status;
    status = ::RegDeleteTreeW(key, nullptr);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS) return status;
    return ::RegDeleteKeyExW(root, subKey, kRegistry32View, 0);
#else
    return ::SHDeleteKeyW(root, subKey);
#endif
}

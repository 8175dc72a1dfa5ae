// A library that must never be loaded: planted where an attacker would put
// one (beside the installer, in the payload folder), it records that it was
// loaded by creating "<its file name>.loaded" in the folder named by the
// environment variable QV_MARKER_DIR, and refuses to stay loaded.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t folder[MAX_PATH] = {}, self[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"QV_MARKER_DIR", folder, MAX_PATH) == 0) return FALSE;
    ::GetModuleFileNameW(instance, self, MAX_PATH);
    std::wstring name = self;
    name = name.substr(name.find_last_of(L"\\/") + 1);
    const std::wstring marker = std::wstring(folder) + L"\\" + name + L".loaded";
    HANDLE file =
        ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return FALSE;
}

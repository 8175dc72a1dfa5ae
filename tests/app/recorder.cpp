// Stands in for a program the installer starts (the web browser, the
// installed viewer, a program planted beside a path with spaces): appends
// "<own file name><TAB><command line>" to record.log in its own folder,
// writes whether its token is elevated ("1" or "0") to elevation.log and how
// it was started ("show=<show-window state, or - when none was set>" and
// "folder=<working folder>" lines) to start.log there, and ends. Shows nothing.
#include <windows.h>

#include <string>

#include "util/path.h"
#include "util/text.h"

namespace {

bool Append(const std::wstring& path, const std::string& text, DWORD disposition) {
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    return true;
}

bool Elevated() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool ok = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    ::CloseHandle(token);
    return ok && elevation.TokenIsElevated;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring name = self;
    name = name.substr(name.find_last_of(L'\\') + 1);
    std::string line = WideToUtf8(name + L"\t" + ::GetCommandLineW()) + "\n";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    const std::string show =
        (startup.dwFlags & STARTF_USESHOWWINDOW) ? std::to_string(static_cast<int>(startup.wShowWindow)) : "-";
    // These first: once record.log shows, the others are there.
    Append(ModuleFolder() + L"\\elevation.log", Elevated() ? "1" : "0", CREATE_ALWAYS);
    Append(ModuleFolder() + L"\\start.log", "show=" + show + "\nfolder=" + WideToUtf8(folder) + "\n", CREATE_ALWAYS);
    return Append(ModuleFolder() + L"\\record.log", line, OPEN_ALWAYS) ? 0 : 1;
}

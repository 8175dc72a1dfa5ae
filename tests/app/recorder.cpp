// Stands in for a program the installer starts (the web browser, the
// installed viewer, a program planted beside a path with spaces): appends
// "<own file name><TAB><command line>" to record.log in its own folder and
// ends. Shows nothing.
#include <windows.h>

#include <string>

#include "util/path.h"
#include "util/text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring name = self;
    name = name.substr(name.find_last_of(L'\\') + 1);
    std::string line = WideToUtf8(name + L"\t" + ::GetCommandLineW()) + "\n";
    std::wstring log = ModuleFolder() + L"\\record.log";
    HANDLE file = ::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(file);
    return 0;
}

// A small program the sysenv tests start: it reports what the system answers
// inside a process of its own (the OS version Wine gives this executable, the
// user folders, the browser), echoes its command line, sleeps or exits with a
// given code.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "sysenv/browser.h"
#include "sysenv/system_helpers.h"
#include "sysenv/user_folders.h"
#include "util/text.h"

namespace {

bool WriteText(const std::wstring& path, const std::wstring& text) {
    std::string bytes = WideToUtf8(text);
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    ::CloseHandle(file);
    return ok;
}

std::wstring Report() {
    CUserFolders& folders = CUserFolders::Instance();
    CUserFolders bob(L"bob", true);
    std::wstring text;
    text += L"os=" + std::to_wstring(static_cast<int>(GetOsVersionClass())) + L"\n";
    text += L"local=" + folders.LocalAppData() + L"\n";
    text += L"low=" + folders.LocalAppDataLow() + L"\n";
    text += L"data=" + DataFolder() + L"\n";
    text += L"browser=" + DefaultBrowserPath() + L"\n";
    text += L"boblow=" + bob.LocalAppDataLow() + L"\n";
    text += L"bobdata=" + DataFolder(bob) + L"\n";
    return text;
}

}  // namespace

// sysenv_child report <file> | cmdline <file> | cwd <file> | sleep <ms> | exit <code>
int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    std::wstring mode = argv[1], arg = argv[2];
    if (mode == L"report") return WriteText(arg, Report()) ? 0 : 3;
    if (mode == L"cmdline") return WriteText(arg, ::GetCommandLineW()) ? 0 : 3;
    if (mode == L"cwd") {
        wchar_t folder[MAX_PATH + 1] = {};
        ::GetCurrentDirectoryW(MAX_PATH, folder);
        return WriteText(arg, folder) ? 0 : 3;
    }
    if (mode == L"sleep") {
        ::Sleep(static_cast<DWORD>(std::wcstoul(arg.c_str(), nullptr, 10)));
        return 0;
    }
    if (mode == L"exit") return static_cast<int>(std::wcstol(arg.c_str(), nullptr, 10));
    return 2;
}

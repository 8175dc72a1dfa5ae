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
#include "sysenv/user_process.h"
#include "util/text.h"

namespace {

bool WriteText(const std::wstring& path, const std::wstring& text) {
    std::string bytes = WideToUtf8(text);
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok =
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
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

// What the child's own token says of elevation, and whether it holds any
// handle it could only have inherited (the test passes one's value along).
std::wstring Rights(const wchar_t* inheritedHandle) {
    std::wstring text = L"elevated=" + std::to_wstring(IsProcessElevated() ? 1 : 0) + L"\n";
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::wcstoul(inheritedHandle, nullptr, 10)));
    DWORD flags = 0;
    text += L"inherited=" + std::to_wstring(handle && ::GetHandleInformation(handle, &flags) ? 1 : 0) + L"\n";
    wchar_t folder[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    text += L"cwd=" + std::wstring(folder) + L"\n";
    return text;
}

// sysenv_child report <file> | cmdline <file> | cwd <file> | sleep <ms> | exit <code> | rights <file> <handle>
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
    if (mode == L"rights") return WriteText(arg, Rights(argc > 3 ? argv[3] : L"0")) ? 0 : 3;
    if (mode == L"exit") return static_cast<int>(std::wcstol(arg.c_str(), nullptr, 10));
    return 2;
}

// Prints, one per line as name=value (UTF-8), where the installer puts things
// on this machine: the data folder, the default installation folder, the
// user's temporary folder, the desktop, and the machine identifier. The
// end-to-end tests use it to know where to look.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "identity/machine_id.h"
#include "sysenv/user_folders.h"
#include "util/text.h"

namespace {
void Print(const char* name, const std::wstring& value) {
    std::printf("%s=%s\n", name, WideToUtf8(value).c_str());
}

// Waits (up to 30 s) for a message box with the given caption and prints its
// text and the screen centre of its OK button, for a real click.
int ReportMessageBox(const wchar_t* caption) {
    for (int i = 0; i < 600; ++i) {
        HWND box = ::FindWindowW(L"#32770", caption);
        if (box && ::IsWindowVisible(box)) {
            wchar_t text[512] = {};
            ::GetDlgItemTextW(box, 0xFFFF, text, 512);
            RECT r = {};
            HWND ok = ::GetDlgItem(box, IDOK);
            if (!ok) ok = ::GetDlgItem(box, IDCANCEL);
            if (ok) ::GetWindowRect(ok, &r);
            Print("text", text);
            std::printf("ok=%ld,%ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
            return 0;
        }
        ::Sleep(50);
    }
    return 1;
}

// Whether the top-level window with this title is minimised, and whether it
// is the foreground window.
int ReportWindow(const wchar_t* title) {
    HWND window = ::FindWindowW(nullptr, title);
    if (!window) return 1;
    std::printf("iconic=%d\nforeground=%d\n", ::IsIconic(window) ? 1 : 0, ::GetForegroundWindow() == window ? 1 : 0);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"msgbox") return ReportMessageBox(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"window") return ReportWindow(argv[2]);
    wchar_t desktop[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop);
    Print("data", DataFolder());
    Print("install", InstallFolder());
    Print("temp", CUserFolders::Instance().TempFolder());
    Print("desktop", desktop);
    std::printf("uid=%s\n", GetMachineId().c_str());
    return 0;
}

// Prints, one per line as name=value (UTF-8), where the installer puts things
// on this machine: the data folder, the default installation folder, the
// user's temporary folder, the desktop, and the machine identifier. The
// end-to-end tests use it to know where to look. It also reads message boxes
// for real clicks and starts programs without elevation.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "identity/machine_id.h"
#include "sysenv/user_folders.h"
#include "util/owned.h"
#include "util/text.h"

namespace {
void Print(const char* name, const std::wstring& value) {
    std::printf("%s=%s\n", name, WideToUtf8(value).c_str());
}

// The screen centre of a dialog's button, for a real click.
void PrintButton(HWND box, int id, const char* name) {
    RECT r = {};
    if (HWND button = ::GetDlgItem(box, id)) {
        ::GetWindowRect(button, &r);
        std::printf("%s=%ld,%ld\n", name, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
}

// Whether a process runs elevated: 1, 0, or -1 when it cannot be told.
int ProcessElevation(DWORD pid) {
    UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
    UniqueHandle token;
    if (!process || !::OpenProcessToken(process.get(), TOKEN_QUERY, token.out())) return -1;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) return -1;
    return elevation.TokenIsElevated ? 1 : 0;
}

// Waits (up to 30 s) for a message box with the given caption (other than
// the window `skip`) and prints its text, the screen centre of its OK (else
// Cancel) button and of its Yes and No buttons, its window, and the process
// that shows it with that process's elevation.
int ReportMessageBox(const wchar_t* caption, HWND skip) {
    for (int i = 0; i < 600; ++i) {
        HWND box = nullptr;
        while ((box = ::FindWindowExW(nullptr, box, L"#32770", caption)) != nullptr)
            if (box != skip && ::IsWindowVisible(box)) break;
        if (box) {
            wchar_t text[1024] = {};
            ::GetDlgItemTextW(box, 0xFFFF, text, 1024);
            // One line: a line break of the text is written as "\n".
            std::wstring line;
            for (const wchar_t* c = text; *c; ++c) {
                if (*c == L'\n') line += L"\\n";
                else if (*c != L'\r') line += *c;
            }
            RECT r = {};
            HWND ok = ::GetDlgItem(box, IDOK);
            if (!ok) ok = ::GetDlgItem(box, IDCANCEL);
            if (ok) ::GetWindowRect(ok, &r);
            Print("text", line);
            std::printf("ok=%ld,%ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
            PrintButton(box, IDYES, "yes");
            PrintButton(box, IDNO, "no");
            DWORD pid = 0;
            ::GetWindowThreadProcessId(box, &pid);
            std::printf("hwnd=%lu\npid=%lu\nelevated=%d\n", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(box)),
                        static_cast<unsigned long>(pid), ProcessElevation(pid));
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

// Starts a command line with this process's limited twin token (as a
// program of the user runs without elevation), prints the child's process id
// and elevation at once, waits for it and exits with its exit code.
int RunLimited(const std::wstring& commandLine) {
    UniqueHandle own, primary;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own.out()) ||
        !::GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof linked, &size))
        return 100;
    UniqueHandle twin(linked.LinkedToken);
    if (!::DuplicateTokenEx(twin.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                            primary.out()))
        return 100;
    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!::CreateProcessAsUserW(primary.get(), nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &child))
        return 101;
    UniqueHandle process(child.hProcess), thread(child.hThread);
    std::printf("pid=%lu\nelevated=%d\n", static_cast<unsigned long>(child.dwProcessId),
                ProcessElevation(child.dwProcessId));
    std::fflush(stdout);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 102;
    ::GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring(argv[1]) == L"msgbox")
        return ReportMessageBox(argv[2], argc >= 4 ? reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::wcstoul(argv[3], nullptr, 10))) : nullptr);
    if (argc >= 3 && std::wstring(argv[1]) == L"limited") {
        // The rest of this program's own command line, as given.
        const wchar_t* rest = ::wcsstr(::GetCommandLineW(), L" limited ");
        return rest ? RunLimited(rest + 9) : 100;
    }
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

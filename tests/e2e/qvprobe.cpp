// Reaches the installer and its dialog boxes from outside, as another program
// of the user would. Prints name=value lines (UTF-8); exit code 0 on
// success, 1 for a bad command line, 2 when the window or box is not there
// (in time).
//   qvprobe                     where the installer puts things on this
//                               machine: data, install, temp, desktop, uid
//   qvprobe msgbox [--caption C] [--skip HWND] [--focus CLASS] [--timeout MS]
//                               waits (default 30 s) for a visible dialog box
//                               (a message box or the folder dialog), with
//                               that caption if given, other than the window
//                               HWND, and with the keyboard focus in a
//                               control of class CLASS if given; prints its
//                               caption, text (a line break as "\n"), the
//                               screen centres of the buttons it has (ok,
//                               cancel, yes, no as x,y), the class of the
//                               focused control, whether it has an owner
//                               window and shows an icon (1 or 0), its
//                               window, and the process that shows it with
//                               that process's elevation
//   qvprobe gone HWND [--timeout MS]
//                               waits (default 20 s) until that window is no
//                               longer visible
//   qvprobe window              the installer window's state: visible,
//                               iconic, zoomed, foreground, the number of
//                               threads of its process, rect=x,y,w,h
//   qvprobe folder              the text of the installer's folder box
//   qvprobe progress N...       posts the progress message with each N, in order
//   qvprobe quit                posts the installer's quit request
//   qvprobe close               posts WM_CLOSE, as a task manager's polite end does
//   qvprobe limited COMMAND...  starts the rest of its command line with this
//                               process's limited twin token (as a program
//                               of the user runs without elevation), prints
//                               the child's pid and elevation at once, waits
//                               for it and exits with its exit code
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "identity/machine_id.h"
#include "contract/setup_viewer_api.h"
#include "sysenv/user_folders.h"
#include "util/owned.h"
#include "util/text.h"

namespace {

void Print(const char* name, const std::wstring& value) { std::printf("%s=%s\n", name, WideToUtf8(value).c_str()); }

std::wstring TextOf(HWND window) {
    wchar_t buffer[1024] = {};
    ::SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

// One line: a line break of the text is written as "\n".
std::wstring OneLine(const std::wstring& text) {
    std::wstring line;
    for (wchar_t c : text) {
        if (c == L'\n')
            line += L"\\n";
        else if (c != L'\r')
            line += c;
    }
    return line;
}

HWND Installer() { return ::FindWindowW(QV_INSTALLER_WINDOW_CLASS, nullptr); }

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

// The class of the control that has the keyboard focus in the box's thread ("-" for none).
std::wstring FocusClass(HWND box) {
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    wchar_t focus[64] = L"-";
    if (::GetGUIThreadInfo(::GetWindowThreadProcessId(box, nullptr), &thread) && thread.hwndFocus)
        ::GetClassNameW(thread.hwndFocus, focus, 64);
    return focus;
}

// The first visible dialog-class window with `caption` (any when empty) other than `skip`.
HWND FindDialog(const std::wstring& caption, HWND skip) {
    for (HWND w = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
         w = ::FindWindowExW(nullptr, w, L"#32770", nullptr)) {
        if (w != skip && ::IsWindowVisible(w) && (caption.empty() || TextOf(w) == caption)) return w;
    }
    return nullptr;
}

// A button's screen centre, when the box shows that button (a message box
// keeps the buttons of its other kinds hidden).
void PrintButton(HWND box, int id, const char* name) {
    RECT r = {};
    HWND button = ::GetDlgItem(box, id);
    if (button && ::IsWindowVisible(button)) {
        ::GetWindowRect(button, &r);
        std::printf("%s=%ld,%ld\n", name, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
}

// Whether the box shows an icon: a visible static control of the icon type
// that holds one.
BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
    wchar_t name[16] = {};
    ::GetClassNameW(child, name, 16);
    const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE);
    if (::lstrcmpiW(name, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON && ::IsWindowVisible(child) &&
        ::SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

bool ShowsIcon(HWND box) {
    bool found = false;
    ::EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&found));
    return found;
}

int ReportDialog(const std::wstring& caption, HWND skip, const std::wstring& focus, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        HWND box = FindDialog(caption, skip);
        if (box && (focus.empty() || FocusClass(box) == focus)) {
            Print("caption", TextOf(box));
            HWND text = ::GetDlgItem(box, 0xFFFF);
            Print("text", text ? OneLine(TextOf(text)) : std::wstring());
            PrintButton(box, IDOK, "ok");
            PrintButton(box, IDCANCEL, "cancel");
            PrintButton(box, IDYES, "yes");
            PrintButton(box, IDNO, "no");
            Print("focus", FocusClass(box));
            std::printf("owner=%d\nicon=%d\n", ::GetWindow(box, GW_OWNER) ? 1 : 0, ShowsIcon(box) ? 1 : 0);
            DWORD pid = 0;
            ::GetWindowThreadProcessId(box, &pid);
            std::printf("hwnd=%lu\npid=%lu\nelevated=%d\n", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(box)),
                        static_cast<unsigned long>(pid), ProcessElevation(pid));
            return 0;
        }
        if (::GetTickCount() - start >= timeoutMs) return 2;
        ::Sleep(50);
    }
}

int WaitGone(HWND window, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (::IsWindow(window) && ::IsWindowVisible(window)) {
        if (::GetTickCount() - start >= timeoutMs) return 2;
        ::Sleep(50);
    }
    return 0;
}

// The number of threads of a process (-1 when they cannot be listed).
int ThreadCount(DWORD pid) {
    UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == pid) ++count;
    return count;
}

int ReportWindow() {
    HWND window = Installer();
    if (!window) return 2;
    RECT rc = {};
    ::GetWindowRect(window, &rc);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    std::printf("visible=%d\niconic=%d\nzoomed=%d\nforeground=%d\nthreads=%d\nrect=%ld,%ld,%ld,%ld\n",
                ::IsWindowVisible(window) ? 1 : 0, ::IsIconic(window) ? 1 : 0, ::IsZoomed(window) ? 1 : 0,
                ::GetForegroundWindow() == window ? 1 : 0, ThreadCount(pid), rc.left, rc.top, rc.right - rc.left,
                rc.bottom - rc.top);
    return 0;
}

BOOL CALLBACK FindRichEdit(HWND child, LPARAM result) {
    wchar_t cls[64] = {};
    ::GetClassNameW(child, cls, 64);
    if (std::wcsncmp(cls, L"RICHEDIT", 8) == 0 || std::wcsncmp(cls, L"RichEdit", 8) == 0) {
        *reinterpret_cast<HWND*>(result) = child;
        return FALSE;
    }
    return TRUE;
}

int ReportFolder() {
    HWND window = Installer();
    HWND edit = nullptr;
    if (window) ::EnumChildWindows(window, FindRichEdit, reinterpret_cast<LPARAM>(&edit));
    if (!edit) return 2;
    Print("folder", TextOf(edit));
    return 0;
}

int Post(UINT message, int argc, wchar_t** argv) {
    HWND window = Installer();
    if (!window) return 2;
    if (message != QV_WM_INSTALL_PROGRESS) return ::PostMessageW(window, message, 0, 0) ? 0 : 2;
    for (int i = 2; i < argc; ++i) ::PostMessageW(window, message, 0, _wtoi(argv[i]));
    return 0;
}

int RunLimited(const std::wstring& commandLine) {
    UniqueHandle own, primary;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own.out()) ||
        !::GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof linked, &size))
        return 100;
    UniqueHandle twin(linked.LinkedToken);
    if (!::DuplicateTokenEx(twin.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, primary.out()))
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

int ReportWhere() {
    wchar_t desktop[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop);
    Print("data", DataFolder());
    Print("install", InstallFolder());
    Print("temp", CUserFolders::Instance().TempFolder());
    Print("desktop", desktop);
    std::printf("uid=%s\n", GetMachineId().c_str());
    return 0;
}

HWND WindowFrom(const wchar_t* number) {
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::wcstoul(number, nullptr, 10)));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command.empty()) return ReportWhere();
    if (command == L"msgbox" || command == L"gone") {
        std::wstring caption, focus;
        HWND skip = nullptr, window = nullptr;
        DWORD timeout = command == L"msgbox" ? 30000 : 20000;
        int i = 2;
        if (command == L"gone") {
            if (argc < 3) return 1;
            window = WindowFrom(argv[i++]);
        }
        for (; i + 1 < argc; i += 2) {
            const std::wstring option = argv[i];
            if (option == L"--caption")
                caption = argv[i + 1];
            else if (option == L"--skip")
                skip = WindowFrom(argv[i + 1]);
            else if (option == L"--focus")
                focus = argv[i + 1];
            else if (option == L"--timeout")
                timeout = std::wcstoul(argv[i + 1], nullptr, 10);
            else
                return 1;
        }
        if (i != argc) return 1;
        return command == L"msgbox" ? ReportDialog(caption, skip, focus, timeout) : WaitGone(window, timeout);
    }
    if (command == L"window") return ReportWindow();
    if (command == L"folder") return ReportFolder();
    if (command == L"progress") return Post(QV_WM_INSTALL_PROGRESS, argc, argv);
    if (command == L"quit") return Post(QV_WM_INSTALL_QUIT, argc, argv);
    if (command == L"close") return Post(WM_CLOSE, argc, argv);
    if (command == L"limited" && argc >= 3) {
        // The rest of this program's own command line, as given.
        const wchar_t* rest = std::wcsstr(::GetCommandLineW(), L" limited ");
        return rest ? RunLimited(rest + 9) : 100;
    }
    return 1;
}

// Reaches the running installer from outside, as another program would:
//   poke progress N...   posts the progress message with each N, in order
//   poke quit            posts the quit request
//   poke close           posts WM_CLOSE, as a task manager's polite end does
//   poke state           prints "visible iconic zoomed left top width height"
//   poke folder          prints the text of the folder box (UTF-8)
//   poke msgbox          prints "caption<TAB>text<TAB>x<TAB>y<TAB>x2<TAB>y2<TAB>focus"
//                        of the dialog box on screen (a message box or the
//                        folder dialog): the screen centres of its OK and
//                        Cancel buttons (0 where there is none), and the
//                        class of the control with the keyboard focus
// Exit code 0 on success, 2 when the window (or message box) is not there.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "install/setup_viewer_api.h"
#include "util/text.h"

namespace {

HWND Installer() { return ::FindWindowW(QV_INSTALLER_WINDOW_CLASS, nullptr); }

std::wstring TextOf(HWND window) {
    wchar_t buffer[1024] = {};
    ::SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

void Print(const std::wstring& text) {
    std::string bytes = WideToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
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

// The visible dialog-class window (message box) on the desktop.
HWND MessageBoxWindow() {
    HWND found = nullptr;
    for (HWND w = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
         w = ::FindWindowExW(nullptr, w, L"#32770", nullptr)) {
        if (::IsWindowVisible(w)) found = w;
    }
    return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 1;
    std::wstring command = argv[1];
    if (command == L"msgbox") {
        HWND box = MessageBoxWindow();
        if (!box) return 2;
        HWND text = ::GetDlgItem(box, 0xFFFF);
        wchar_t where[64] = {};
        for (int id : {IDOK, IDCANCEL}) {
            RECT rc = {};
            if (HWND button = ::GetDlgItem(box, id)) ::GetWindowRect(button, &rc);
            size_t used = std::wcslen(where);
            std::swprintf(where + used, 64 - used, L"\t%ld\t%ld", (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
        }
        // The class of the control that has the keyboard focus in the box's thread.
        GUITHREADINFO thread = {};
        thread.cbSize = sizeof thread;
        wchar_t focus[64] = L"-";
        if (::GetGUIThreadInfo(::GetWindowThreadProcessId(box, nullptr), &thread) && thread.hwndFocus)
            ::GetClassNameW(thread.hwndFocus, focus, 64);
        Print(TextOf(box) + L"\t" + (text ? TextOf(text) : std::wstring()) + where + L"\t" + focus);
        return 0;
    }
    HWND window = Installer();
    if (!window) return 2;
    if (command == L"progress") {
        for (int i = 2; i < argc; ++i) ::PostMessageW(window, QV_WM_INSTALL_PROGRESS, 0, _wtoi(argv[i]));
    } else if (command == L"quit") {
        ::PostMessageW(window, QV_WM_INSTALL_QUIT, 0, 0);
    } else if (command == L"close") {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    } else if (command == L"state") {
        RECT rc = {};
        ::GetWindowRect(window, &rc);
        std::printf("%d %d %d %ld %ld %ld %ld\n", ::IsWindowVisible(window) ? 1 : 0, ::IsIconic(window) ? 1 : 0,
                    ::IsZoomed(window) ? 1 : 0, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    } else if (command == L"folder") {
        HWND edit = nullptr;
        ::EnumChildWindows(window, FindRichEdit, reinterpret_cast<LPARAM>(&edit));
        if (!edit) return 2;
        Print(TextOf(edit));
    } else {
        return 1;
    }
    return 0;
}

// Test program for real input: shows the skin window and writes one line per
// notification ("windowinit", "click <name>") to the log file named by
// --log. --view custom|progress|finished [--percent N] picks the state
// shown; a click on a close button ends the program.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "skin_window.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring logPath, view = L"main";
    int percent = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::wcscmp(argv[i], L"--log") == 0)
            logPath = argv[i + 1];
        else if (std::wcscmp(argv[i], L"--view") == 0)
            view = argv[i + 1];
        else if (std::wcscmp(argv[i], L"--percent") == 0)
            percent = _wtoi(argv[i + 1]);
    }
    FILE* log = logPath.empty() ? nullptr : _wfopen(logPath.c_str(), L"ab");
    if (!log) return 2;

    CPaintManagerUI::SetInstance(instance);
    SkinTestWindow window;
    window.onNotify = [&](const std::wstring& type, const std::wstring& sender) {
        std::wstring line = type == L"click" ? type + L" " + sender : type;
        // The install button of the custom view also reports the folder box.
        if (type == L"click" && sender == L"btn_insts")
            line += L" " + std::wstring(window.Find(L"edit_dir")->GetText().GetData());
        int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(size_t(n > 0 ? n - 1 : 0), '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &utf8[0], n, nullptr, nullptr);
        std::fprintf(log, "%s\n", utf8.c_str());
        std::fflush(log);
        if (type == L"click" && (sender == L"btn_close" || sender == L"btn_closee")) PostQuitMessage(0);
    };
    if (!window.Create(NULL, L"uilib skin test", 0x81, 0, 0, 0, 800, 572)) return 3;
    if (view == L"custom") {
        window.ShowCustomView(true);
        window.Find(L"edit_dir")->SetText(L"C:\\Program Files\\Quiview");
    } else if (view == L"progress") {
        window.ShowProgress(percent);
    } else if (view == L"finished") {
        window.ShowProgress(100);
    }
    window.SetIcon(128);
    window.CenterWindow();
    window.ShowWindow(true);
    CPaintManagerUI::MessageLoop();
    DestroyWindow(window);
    std::fclose(log);
    return 0;
}

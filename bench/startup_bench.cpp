// Start-up time of a windowed program: from CreateProcess to its top-level
// window of the given class being visible, and (with --ready-child CLASS) to
// a child window of that class holding text, i.e. the first frame painted and
// the page prepared. The program is then asked to end (WM_CLOSE, or the
// installer's quit message) and waited for. Prints the median of the runs
// in milliseconds: "visible_ms ready_ms". With --title only a window of that
// class with exactly that title counts (for programs whose window class is
// a common one, such as the dialog class).
// Usage: startup_bench EXE WINDOWCLASS RUNS [--quit-message N] [--ready-child CLASS] [--title TEXT]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "util/owned.h"

namespace {

struct ChildSearch {
    const wchar_t* cls;
    bool hasText;
};

BOOL CALLBACK FindChildWithText(HWND child, LPARAM parameter) {
    auto* search = reinterpret_cast<ChildSearch*>(parameter);
    wchar_t cls[64] = {};
    ::GetClassNameW(child, cls, 64);
    if (_wcsnicmp(cls, search->cls, std::wcslen(search->cls)) == 0 &&
        ::SendMessageW(child, WM_GETTEXTLENGTH, 0, 0) > 0) {
        search->hasText = true;
        return FALSE;
    }
    return TRUE;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 1;
    std::wstring exe = argv[1];
    const wchar_t* windowClass = argv[2];
    int runs = _wtoi(argv[3]);
    UINT quitMessage = WM_CLOSE;
    const wchar_t* readyChild = nullptr;
    const wchar_t* title = nullptr;
    for (int i = 4; i + 1 < argc; i += 2) {
        if (std::wcscmp(argv[i], L"--quit-message") == 0) quitMessage = static_cast<UINT>(_wtoi(argv[i + 1]));
        if (std::wcscmp(argv[i], L"--ready-child") == 0) readyChild = argv[i + 1];
        if (std::wcscmp(argv[i], L"--title") == 0) title = argv[i + 1];
    }
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    std::vector<double> visible, ready;
    for (int run = 0; run < runs; ++run) {
        std::wstring commandLine = L"\"" + exe + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        LARGE_INTEGER start, shown = {}, prepared = {};
        ::QueryPerformanceCounter(&start);
        if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &info))
            return 2;
        UniqueHandle process(info.hProcess);
        UniqueHandle thread(info.hThread);
        HWND window = nullptr;
        for (;;) {
            if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return 3;
            if (!window) {
                window = ::FindWindowW(windowClass, title);
                if (window && !::IsWindowVisible(window)) window = nullptr;
                if (window) ::QueryPerformanceCounter(&shown);
            }
            if (window) {
                if (!readyChild) break;
                ChildSearch search = {readyChild, false};
                ::EnumChildWindows(window, FindChildWithText, reinterpret_cast<LPARAM>(&search));
                if (search.hasText) {
                    ::QueryPerformanceCounter(&prepared);
                    break;
                }
            }
            ::Sleep(1);
        }
        visible.push_back(Milliseconds(start, shown, frequency));
        if (readyChild) ready.push_back(Milliseconds(start, prepared, frequency));
        ::PostMessageW(window, quitMessage, 0, 0);
        if (::WaitForSingleObject(process.get(), 20000) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.get(), 1);
            return 4;
        }
    }
    std::printf("%.1f %.1f\n", Median(visible), Median(ready));
    return 0;
}

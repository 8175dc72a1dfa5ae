// Install.exe: one installer per logon session, one skinned window, and the
// exit code 0 on every way out. The command line is not read.
#include <windows.h>
#include <objbase.h>

#include <new>

#include "app/main_wnd.h"
#include "util/owned.h"

namespace {

const wchar_t kInstanceMutex[] = L"QVEW_Inst_MUTEX";

// COM for the UI thread, released on the way out.
class ComScope {
public:
    ComScope() : ok_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() {
        if (ok_) ::CoUninitialize();
    }
    bool Ok() const { return ok_; }

private:
    bool ok_;
};

void RunInstaller(HINSTANCE instance) {
    // Held until the process ends: a second installer sees it and leaves at once.
    UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, kInstanceMutex));
    const DWORD error = ::GetLastError();
    if (!mutex || error == ERROR_ALREADY_EXISTS) return;

    CPaintManagerUI::SetInstance(instance);
    CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath() + L"resource\\inst");

    ComScope com;
    if (!com.Ok()) return;

    // The window object lives until the process ends (it deletes itself only
    // if its window is destroyed, including a failed creation).
    CMainWnd* window = new (std::nothrow) CMainWnd();
    if (!window) return;
    if (!window->Create(nullptr, kInstallerTitle, 0x81, 0, 0, 0, 800, 572)) return;
    window->PrepareWindow();
    CPaintManagerUI::MessageLoop();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    try {
        RunInstaller(instance);
    } catch (...) {
        // Nothing is shown and nothing else is reported: the exit code stays 0.
    }
    return 0;
}

// Install.exe: one installer per logon session, one skinned window, and the
// exit code 0 on every way out. The command line is not read.
#include <windows.h>
#include <objbase.h>

#include <new>

#include "qv_product.h"
#include "app/main_wnd.h"
#include "install/bundle_seal.h"
#include "install/install_sequence.h"
#include "util/com_scope.h"
#include "util/owned.h"
#include "util/system_library.h"

namespace {

const wchar_t kInstanceMutex[] = QV_INSTANCE_MUTEX;
// How long the end of the installer waits for a helper still at work before
// its private folder is removed.
const DWORD kHelperGraceMs = 30000;

void RunInstaller(HINSTANCE instance) {
    // Held until the process ends: a second installer sees it and leaves at
    // once, with no window, no message and no signal to the running one.
    UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, kInstanceMutex));
    const DWORD error = ::GetLastError();
    if (!mutex || error == ERROR_ALREADY_EXISTS) return;

    CPaintManagerUI::SetInstance(instance);
    CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath() + L"resource\\inst");

    // COM for the UI thread, ended on the way out.
    ComScope com(ComScope::kApartment);
    if (!com.ok()) return;

    // The session lives until the process ends: a helper library may call
    // back from its own threads at any time after the hand-over.
    // The archive and 7z.dll are used only as sealed into the installer.
    BundleSeal seal;
    ReadBundleSeal(nullptr, &seal);
    CInstallSession* session = new (std::nothrow) CInstallSession(seal);
    if (!session) return;
    // The window object lives until the process ends (it deletes itself only
    // if its window is destroyed before a hand-over, including a failed creation).
    CMainWnd* window = new (std::nothrow) CMainWnd(*session);
    if (!window) return;
    if (window->Create(nullptr, kInstallerTitle, 0x81, 0, 0, 0, 800, 572)) {
        window->PrepareWindow();
        CPaintManagerUI::MessageLoop();
    }
    // The private folder goes once the helper no longer reads from it.
    session->Finish(kHelperGraceMs);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    // Before anything else can load a library by name.
    HardenLibrarySearch();
    try {
        RunInstaller(instance);
    } catch (...) {
        // Nothing is shown and nothing else is reported: the exit code stays 0.
    }
    return 0;
}

// Install.exe: one installer per logon session, one skinned window, and the
// exit code 0 on every way out. The command line is not read.
#include <windows.h>
#include <objbase.h>
// After windows.h, which it builds on.
#include <delayimp.h>

#include <new>
#include <string>
#include <vector>

#include "qv_product.h"
#include "app/main_wnd.h"
#include "install/bundle_seal.h"
#include "install/install_sequence.h"
#include "util/com_scope.h"
#include "util/owned.h"
#include "util/path.h"
#include "util/system_library.h"

namespace {

const wchar_t kInstanceMutex[] = QV_INSTANCE_MUTEX;
// How long the end of the installer waits for a helper still at work before
// its private folder is removed.
const DWORD kHelperGraceMs = 30000;
const wchar_t kUiLibrary[] = L"DuiLib.dll";
const char kUiLibraryA[] = "DuiLib.dll";
// What the user sees when a file beside the installer is not the one it was
// shipped with: the same as for a damaged archive.
const wchar_t kBundleDamaged[] = L"解压失败";
const wchar_t kProductCaption[] = QV_PRODUCT_NAME;

// DuiLib.dll, once loaded after its check; it stays until the process ends.
HMODULE uiLibrary = nullptr;

#if defined(__MINGW32__)
// The descriptor of the delayed import, named after the delay-import library
// (libDuiLib.delay.a). GNU ld leaves the image's delay-import directory empty
// and, for 32-bit images, the slots of the delayed import without the
// addresses of their stubs, so nothing may rely on the first call to bind a
// slot: every slot is bound here, at once, to the loaded module.
extern "C" const ImgDelayDescr uiImportDescriptor __asm__("__DELAY_IMPORT_DESCRIPTOR_libDuiLib_delay_a");
extern "C" IMAGE_DOS_HEADER __ImageBase;

template <typename T>
T* FromRva(RVA rva) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(&__ImageBase) + rva);
}

// Writes every slot of the delayed import with the module's export of that
// name (or ordinal); false when one is missing. The slots' page is made
// writable for the writes, as the system's loader does for imports.
bool BindUiImports(HMODULE module) {
    const ImgDelayDescr& descriptor = uiImportDescriptor;
    if (!(descriptor.grAttrs & dlattrRva)) return false;
    const auto* names = FromRva<const IMAGE_THUNK_DATA>(descriptor.rvaINT);
    auto* slots = FromRva<IMAGE_THUNK_DATA>(descriptor.rvaIAT);
    size_t count = 0;
    while (names[count].u1.AddressOfData) ++count;
    std::vector<ULONG_PTR> addresses(count);
    for (size_t i = 0; i < count; ++i) {
        const ULONG_PTR entry = names[i].u1.Ordinal;
        FARPROC address;
        if (IMAGE_SNAP_BY_ORDINAL(entry))
            address = ::GetProcAddress(module, MAKEINTRESOURCEA(IMAGE_ORDINAL(entry)));
        else
            address = ::GetProcAddress(module, reinterpret_cast<const char*>(
                                                   FromRva<const IMAGE_IMPORT_BY_NAME>(static_cast<RVA>(entry))->Name));
        if (!address) return false;
        addresses[i] = reinterpret_cast<ULONG_PTR>(address);
    }
    DWORD previous = 0;
    if (count && !::VirtualProtect(slots, count * sizeof(*slots), PAGE_READWRITE, &previous)) return false;
    for (size_t i = 0; i < count; ++i) slots[i].u1.Function = addresses[i];
    if (count) ::VirtualProtect(slots, count * sizeof(*slots), previous, &previous);
    // The module handle the delay-load helper keeps for the library.
    *FromRva<HMODULE>(descriptor.rvaHmod) = module;
    return true;
}
#else
// The Microsoft linker fills the delay-import directory; its helper binds
// every slot at once.
bool BindUiImports(HMODULE) { return SUCCEEDED(__HrLoadAllImportsForDll(kUiLibraryA)); }
#endif

// Loads the DuiLib.dll beside the installer by its full path once its content
// matches the seal. The file is held open without write or delete sharing
// from its check until it is mapped, so the library loaded is the file
// checked. Nothing of the library may run before this.
bool LoadUiLibrary(const BundleSeal& seal) {
    const std::wstring folder = ModuleFolder();
    if (folder.empty()) return false;
    const std::wstring path = folder + L"\\" + kUiLibrary;
    UniqueFile held = OpenChecked(path, seal.uiLibrary);
    if (!held) return false;
    uiLibrary = LoadLibraryFromPath(path.c_str());
    return uiLibrary != nullptr && BindUiImports(uiLibrary);
}

// DuiLib.dll is a delayed import, bound above to the module checked and
// loaded, never to a library found by name. The delay-load helper would ask
// this hook only for a call before that, a fault of this program; it ends
// the process rather than let the system search for the library.
FARPROC WINAPI BindDelayedImport(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary || !info || !info->szDll || ::lstrcmpiA(info->szDll, kUiLibraryA) != 0)
        return nullptr;
    if (!uiLibrary) ::ExitProcess(0);
    return reinterpret_cast<FARPROC>(uiLibrary);
}

void RunInstaller(HINSTANCE instance) {
    // Held until the process ends: a second installer sees it and leaves at
    // once, with no window, no message and no signal to the running one.
    UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, kInstanceMutex));
    const DWORD error = ::GetLastError();
    if (!mutex || error == ERROR_ALREADY_EXISTS) return;

    // Before anything of DuiLib.dll: the library beside the installer, and
    // later the archive and 7z.dll, are used only as sealed into the
    // installer. A bundle that is not sends the user away before the window.
    BundleSeal seal;
    if (!ReadBundleSeal(nullptr, &seal) || !LoadUiLibrary(seal)) {
        ::MessageBoxW(nullptr, kBundleDamaged, kProductCaption, MB_OK);
        return;
    }

    CPaintManagerUI::SetInstance(instance);
    CPaintManagerUI::SetResourcePath(CPaintManagerUI::GetInstancePath() + L"resource\\inst");

    // COM for the UI thread, ended on the way out.
    CComScope com(CComScope::kApartment);
    if (!com.ok()) return;

    // The session lives until the process ends: a helper library may call
    // back from its own threads at any time after the hand-over.
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

// The delay-load helper asks this hook before it loads a library (declared
// with C linkage by delayimp.h; const in the Microsoft one).
#if defined(_MSC_VER)
const PfnDliHook __pfnDliNotifyHook2 = BindDelayedImport;
#else
PfnDliHook __pfnDliNotifyHook2 = BindDelayedImport;
#endif

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

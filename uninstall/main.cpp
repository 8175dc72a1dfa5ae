// Uninstall.exe: removes the installation of the folder it lies in. No
// arguments: asks first and reports at the end; /S: asks and shows nothing;
// /REMOVESETTINGS: the settings go too. Exit codes: 0 removed, 1 cancelled,
// 2 something stayed, 3 no installation here.
#include <windows.h>

#include "uninstall/command_line.h"
#include "uninstall/removal.h"
#include "uninstall/uninstaller.h"
#include "util/system_library.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    // Before anything else can load a library by name.
    HardenLibrarySearch();
    try {
        return RunUninstaller(ParseUninstallArguments(SplitCommandLine(::GetCommandLineW())));
    } catch (...) {
        return kExitIncomplete;
    }
}

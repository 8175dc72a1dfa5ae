#include "uninstall/uninstaller.h"

#include <objbase.h>

#include "sysenv/user_folders.h"
#include "sysenv/user_process.h"
#include "uninstall/handover.h"
#include "uninstall/messages.h"
#include "uninstall/removal.h"
#include "util/com_scope.h"
#include "util/path.h"
#include "settings/settings_file.h"

namespace {

// How long the copy waits for the originals to end once it has ended the one
// that reports; they do nothing but wait, so this is only a bound.
const DWORD kOriginalsEndMs = 30000;
// How long the deletion of the original's file is retried after it ended.
const DWORD kOriginalFileGraceMs = 5000;

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

RemovalRequest RequestFor(const std::wstring& folder, bool removeSettings, const std::wstring& ownFile) {
    RemovalRequest request;
    request.folder = folder;
    request.dataFolder = SettingsFolder();
    request.shortcut = DesktopShortcutPath();
    request.removeSettings = removeSettings;
    request.ownFile = ownFile;
    return request;
}

int Finish(const RemovalReport& report, const std::wstring& folder, bool silent) {
    if (!silent) Show(FinalMessage(report, folder));
    return ExitCodeFor(report);
}

// The copy in the temporary folder: removes the installation of the
// original's folder, tells the waiting original the result, removes the
// original's file once it has ended, and leaves itself to the next restart.
int RunCopy(const UninstallOptions& options) {
    const std::wstring folder = FolderOf(options.original);
    // Opened now, while they surely still run (waiting for this process).
    UniqueHandle reporter = OpenHandoverProcess(options.reportTo, options.original, PROCESS_TERMINATE);
    UniqueHandle starter = OpenHandoverProcess(options.alsoWaitFor, options.original, 0);
    CComScope com(CComScope::kApartment);  // for reading the shortcut
    RemovalRequest request = RequestFor(folder, options.removeSettings, options.original);
    // Without a known original that will have ended, its file is moved aside at once.
    if (reporter) request.ownFileGraceMs = kOriginalFileGraceMs;
    const RemovalReport report = RemoveInstallation(request, [&](const RemovalReport& sofar) {
        if (reporter) {
            // The original only waits for this process: ending it with the
            // result hands the result to whoever waits for the original.
            ::TerminateProcess(reporter.get(), static_cast<UINT>(ExitCodeFor(sofar)));
            WaitForProcess(reporter, kOriginalsEndMs);
        }
        WaitForProcess(starter, kOriginalsEndMs);
    });
    LeaveOwnFilesForRestart();
    return Finish(report, folder, options.silent);
}

// The original in the installation folder.
int RunOriginal(const UninstallOptions& options) {
    const std::wstring self = OwnProgramPath();
    // Opened before anything is asked: the copy is made of this file, not of
    // whatever lies at its path by the time the user has answered.
    UniqueFile image = OpenOwnImage(self);
    const std::wstring folder = FolderOf(self);
    // An installation reached through a link: the removal touches nothing and says so.
    if (!self.empty() && PathHasLink(folder) && FileExists(ManifestPath(folder)))
        return Finish(RemoveInstallation(RequestFor(folder, false, self), nullptr), folder, options.silent);
    if (self.empty() || !HasInstallation(folder)) {
        if (!options.silent) Show(NotInstalledMessage(folder));
        return kExitNotInstalled;
    }
    // A folder this account cannot write (below Program Files, say) needs
    // elevation. The restart says who it was restarted by, so it never
    // restarts again, also where the token cannot tell elevation (XP).
    if (options.elevatedBy == 0 && !IsProcessElevated() && !CanWriteFolder(folder)) {
        DWORD code = 0;
        const std::wstring arguments = JoinArguments(ElevatedRestartArguments(options, ::GetCurrentProcessId()));
        switch (RunElevated(self, arguments, code)) {
        case ElevatedRun::kRan: return PassedOnExitCode(code);
        case ElevatedRun::kDeclined: return kExitCancelled;
        case ElevatedRun::kFailed: break;  // go on as we are: what cannot be removed is reported
        }
    }
    bool removeSettings = options.removeSettings;
    if (!options.silent) {
        if (!Ask(kAskRemoveText, true)) return kExitCancelled;
        removeSettings = HasSettings(SettingsFolder()) && Ask(kAskSettingsText, options.removeSettings);
    }
    DWORD code = 0;
    const std::wstring arguments =
        JoinArguments(CopyArguments(options.silent, removeSettings, self, ::GetCurrentProcessId(), options.elevatedBy));
    const bool ran = RunCopyAndWait(image.get(), CUserFolders::Instance().TempFolder(), arguments, code);
    // The original's file is held no longer: the copy removes it once this process has ended.
    image.reset();
    if (ran) return PassedOnExitCode(code);
    // No copy to be had: remove from here. This program's own file is then
    // moved aside and goes at the next restart, and so does its folder.
    CComScope com(CComScope::kApartment);  // for reading the shortcut
    return Finish(RemoveInstallation(RequestFor(folder, removeSettings, self), nullptr), folder, options.silent);
}

}  // namespace

int PassedOnExitCode(DWORD code) {
    return code <= static_cast<DWORD>(kExitNotInstalled) ? static_cast<int>(code) : kExitIncomplete;
}

int RunUninstaller(const UninstallOptions& options) {
    // No process of the uninstallation keeps a folder of the installation in use.
    const std::wstring system = SystemFolder();
    if (!system.empty()) ::SetCurrentDirectoryW(system.c_str());
    return options.IsCopy() ? RunCopy(options) : RunOriginal(options);
}

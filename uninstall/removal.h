#pragma once
// Removing one installation by its manifest: exactly the files it lists,
// each only while it is still what was installed (same size and MD5), the
// listed folders that became empty (deepest first), the manifest and the
// installation folder when nothing else is left in it; the desktop shortcut
// and the uninstall entry only when they belong to this installation; the
// settings only when asked. Nothing is followed through a link and nothing of
// the user's is touched: a changed file, a link, a file that the manifest
// does not list stays. A file in use is moved aside and goes at the next
// restart, and so do the folders it keeps.
// Nothing here shows anything or throws.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "contract/payload_items.h"

// What happened to one file, folder, shortcut or registry entry.
enum class Outcome {
    kRemoved,    // gone now
    kAbsent,     // was not there
    kAtRestart,  // in use: moved aside or left for the system to delete at the next restart
    kKept,       // not ours (changed since installed, a link, the user's files inside): stays
    kFailed,     // ours, but it could not be removed
};

// Exit codes of the uninstaller.
enum UninstallExitCode {
    kExitRemoved = 0,       // removed (files in use go at the next restart)
    kExitCancelled = 1,     // the user said no (or declined elevation)
    kExitIncomplete = 2,    // something of the installation stayed
    kExitNotInstalled = 3,  // no installation in this folder: nothing removed
};

struct RemovalReport {
    bool installation = false;  // a manifest was found and read
    bool throughLink = false;   // the installation folder is reached through a link: nothing touched
    std::vector<std::wstring> removed;
    std::vector<std::wstring> atRestart;
    std::vector<std::wstring> kept;
    std::vector<std::wstring> failed;
    bool folderRemains = false;  // the installation folder stays (holding the user's files)

    void Add(const std::wstring& path, Outcome outcome);
    bool Complete() const { return installation && failed.empty(); }
};

int ExitCodeFor(const RemovalReport& report);

// --- Single steps --------------------------------------------------------
// Removes an installed file while it is a plain file (not a link, not reached
// through one, no second name) of the listed size and MD5. A file in use is
// left for deletion at restart, after retrying for `graceMs` while the
// system refuses the deletion.
Outcome RemoveInstalledFile(const std::wstring& path, const PayloadItem& item, DWORD graceMs = 0);
// The target path stored in a shortcut file; empty when it cannot be read
// (needs COM on the calling thread).
std::wstring ShortcutTarget(const std::wstring& shortcut);
// Removes the shortcut when it is a plain file that points at `viewer` and
// `viewer` is no longer there; otherwise it stays (kKept).
Outcome RemoveShortcutTo(const std::wstring& shortcut, const std::wstring& viewer);
// The same folder: full paths compared without regard to case, separators
// ('/' or '\') at the end ignored.
bool SameFolder(const std::wstring& a, const std::wstring& b);
// The product's uninstall entry of the current user.
// Removes the uninstall entry when its InstallLocation is `folder`.
Outcome RemoveUninstallEntryOf(const std::wstring& folder);
// Removes `dataFolder`\config.dat (never through a link), then the data
// folder if that left it empty.
Outcome RemoveSettings(const std::wstring& dataFolder);
// `dataFolder`\config.dat exists as a plain file.
bool HasSettings(const std::wstring& dataFolder);
// The interactive user's desktop shortcut of the product.
std::wstring DesktopShortcutPath();

// --- The whole removal -------------------------------------------------------
// True when `folder` holds a readable manifest (never one reached through a link).
bool HasInstallation(const std::wstring& folder);

struct RemovalRequest {
    std::wstring folder;      // the installation folder
    std::wstring dataFolder;  // where config.dat lives
    std::wstring shortcut;    // the desktop shortcut
    bool removeSettings = false;
    // A listed file that a waiting process still runs (the original
    // uninstaller): removed only after `beforeOwnFile` returned.
    std::wstring ownFile;
    // How long the deletion of the own file is retried while the system still
    // refuses it, before it is moved aside for deletion at restart.
    unsigned long ownFileGraceMs = 0;
};

// Removes the installation. `beforeOwnFile` is called exactly once (also when
// there is no installation) with the report so far, after everything but the
// own file, the listed folders, the manifest and the installation folder was
// dealt with; those follow. When a file of the installation could not be
// removed, the own file, the manifest and the uninstall entry stay, so that
// the uninstaller can be run again to finish.
RemovalReport RemoveInstallation(const RemovalRequest& request,
                                 const std::function<void(const RemovalReport&)>& beforeOwnFile);

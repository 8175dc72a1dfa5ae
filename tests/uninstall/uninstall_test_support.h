#pragma once
// What the uninstaller tests share: installations made on disk with their
// manifest, the user's desktop shortcut and uninstall entry, the system's
// list of deletions at restart, and the processes of a run.
#include <windows.h>

#include <string>
#include <vector>

#include "contract/payload_items.h"
#include "util/owned.h"

namespace uninstalltest {

// An installation as the helper leaves it: ImgShell.exe, welcome.png,
// plugins\codec.dll, an empty listed folder plugins\cache, and the manifest
// listing them with their sizes and MD5 digests. `extra` files (relative
// path, content) are listed too; the real Uninstall.exe is added when
// `withUninstaller`.
struct Installation {
    std::wstring folder;
    std::vector<PayloadItem> items;

    std::wstring operator/(const std::wstring& relative) const { return folder + L"\\" + relative; }
    // Adds a file on disk and to the list (written by WriteManifest()).
    void AddFile(const std::wstring& relative, const std::string& content);
    void AddFolder(const std::wstring& relative);
    // Lists a file that already lies in the folder.
    void ListFile(const std::wstring& relative);
    void WriteManifest() const;
};
Installation MakeInstallation(const std::wstring& folder, bool withUninstaller = false);

// Relative paths below `folder` (folders end with '\'), sorted.
std::vector<std::wstring> TreeOf(const std::wstring& folder);

// The uninstall entry of the current user: made with InstallLocation, read, removed.
void WriteUninstallEntry(const std::wstring& installLocation);
bool UninstallEntryExists();
void DeleteUninstallEntry();

// A shortcut file pointing at `target` (COM must be initialised).
bool MakeShortcut(const std::wstring& shortcut, const std::wstring& target);

// The index in the system's list of renames and deletions at restart of the
// first entry ending with `tail` (compared without regard to case), or -1.
int PendingIndexOf(const std::wstring& tail);
// Takes every pair out of the list whose source contains `part` (any case).
void ForgetPendingRenames(const std::wstring& part);

// An executable image mapped at `path` as a running program maps its files:
// the system refuses to delete it but lets it be renamed.
UniqueModule PlaceLoadedImage(const std::wstring& path);

// Waits (bounded) until no process runs from a copy of the uninstaller in
// the temporary folder; true when none is left.
bool WaitForUninstallCopies();
// The private folders of the copies in the temporary folder.
std::vector<std::wstring> CopyFolders();
// Removes them (after their processes ended) and their entries for restart.
void RemoveCopyFolders();

// Makes a folder refuse (or accept again) every new, removed or renamed
// entry, for every process: the host's immutable attribute under Wine.
// False where that cannot be done.
bool SetFolderImmutable(const std::wstring& folder, bool immutable);

// A COM apartment for the calling thread while it lives.
class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool ok_;
};

}  // namespace uninstalltest

#pragma once
// Which folders an installation may go to. An installation writes into its
// folder and, on a reinstall or uninstall, removes what it put there; a
// folder that holds the system, the user's own files or the installer itself
// is never one.
#include <string>
#include <vector>

// The folders of this machine and user that no installation may take.
struct ReservedFolders {
    std::vector<std::wstring> exact;       // the folder itself (Program Files, the profile, Desktop, ...)
    std::vector<std::wstring> withInside;  // the folder and everything below it (Windows)
    std::vector<std::wstring> holding;     // the folder and every folder holding it (the installer's own)
    std::wstring temp;                     // the temporary folder: itself and the private folders in it
};

// The reserved folders as this machine has them; `installerFolder` is the
// folder of the running installer.
ReservedFolders CurrentReservedFolders(const std::wstring& installerFolder);

enum class FolderVerdict {
    kAllowed,
    kInvalid,   // not an absolute path, or a name no folder can have
    kReserved,  // a drive root or a reserved folder
};

// Paths are compared as full paths without regard to case or trailing
// separators.
FolderVerdict CheckInstallFolder(const std::wstring& folder, const ReservedFolders& reserved);

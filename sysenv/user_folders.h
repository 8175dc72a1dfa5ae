#pragma once
// The interactive user's folders, seen from an installer that runs elevated,
// perhaps as another account or as the local system account. The interactive
// user is the owner of the shell process; as the system account the folders
// are built from that user's name by the fixed profile patterns, otherwise
// they come from this account's registry and the known-folder service.
// Results carry no trailing backslash unless the registry or system gives one;
// failure is the empty text.
#include <string>

class CUserFolders {
public:
    // The one context of the process, created on first use.
    static CUserFolders& Instance();

    // Asks the platform who runs this process and who owns the shell.
    CUserFolders();
    // A context from given answers: the interactive user's account name and
    // whether this process runs as the local system account.
    CUserFolders(std::wstring userName, bool isSystem);
    CUserFolders(const CUserFolders&) = delete;
    CUserFolders& operator=(const CUserFolders&) = delete;

    // A cached folder is returned while it exists; otherwise it is computed
    // afresh and replaces the cache.
    std::wstring LocalAppData();
    std::wstring LocalAppDataLow();
    std::wstring TempFolder();

    const std::wstring& UserName() const { return m_userName; }
    bool IsSystem() const { return m_isSystem; }

private:
    std::wstring LocalFolder(std::wstring& cache, bool low);

    std::wstring m_localAppData;
    std::wstring m_localAppDataLow;
    std::wstring m_temp;
    std::wstring m_userName;
    bool m_isSystem = false;
};

// The temporary folder of the active console session's user (reachable only
// with the trusted-computing-base privilege), else of this process's own
// environment; read as UTF-16 so that any user name works; empty when neither
// names a folder.
std::wstring SessionUserTemp();
// The folder of an existing installation (its entry's location when the
// icon's file lies right there, else the icon path cut as below), else
// LocalAppData + "\Quiview", which is then created.
std::wstring InstallFolder();
std::wstring InstallFolder(CUserFolders& folders);
// Where the settings database lives (not created here): below LocalAppData on
// Windows XP, below LocalAppDataLow on every later system.
std::wstring DataFolder();
std::wstring DataFolder(CUserFolders& folders);

// The product's folder name, also the marker looked for in an installed path.
extern const wchar_t kProductFolderName[];

// True for a folder of the system, where nothing is made, written or deleted
// on the word of the user's registry (the folder values, TMP): a drive or
// share root, the Windows folder, the program folders and the machine's
// application data, each with everything in it; also a path that does not
// resolve. The user's folders computed here are empty when they name one.
bool IsSystemPlace(const std::wstring& folder);

// True for the account name of the local system account ("system", any case).
bool IsSystemAccountName(const std::wstring& accountName);

// The folders of a user's profile by the fixed patterns used when running as
// the local system account (always on drive C:). XP has no LocalLow folder.
struct ProfileFolders {
    std::wstring localAppData;
    std::wstring localAppDataLow;
    std::wstring temp;
    std::wstring dataFolder;
};
ProfileFolders ProfileFoldersForUser(const std::wstring& userName, bool isXp);

// The installation folder named by an existing uninstall icon path: cut after
// the first path component that is exactly "Quiview" (case-sensitive), else
// the folder holding the file (`iconIsFolder`: the path names a folder
// itself); no trailing backslash.
std::wstring InstallFolderFromIcon(const std::wstring& iconPath, bool iconIsFolder);

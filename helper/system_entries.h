#pragma once
// The two things an installation leaves outside its folder: the product's
// uninstall entry (per user) and the desktop shortcut. Each can be saved as
// it is before it is changed and put back as it was, so that a failed
// installation leaves them matching the previous one.
#include <windows.h>

#include <string>

#include "util/held_folder.h"
#include <vector>

struct UninstallEntryValues {
    std::wstring folder;       // InstallLocation
    std::wstring viewer;       // DisplayIcon
    std::wstring uninstaller;  // empty: no UninstallString
    DWORD estimatedSizeKb = 0;
    std::wstring installDate;  // YYYYMMDD
};

class CUninstallEntry {
public:
    // Remembers the key's values (or that it does not exist).
    bool Save();
    bool Write(const UninstallEntryValues& values);
    // Puts the saved state back.
    void Restore();

private:
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    bool m_saved = false;
    bool m_existed = false;
    std::vector<Value> m_values;
};

// The desktop is a folder that the user's registry names: it is held open
// from the drive's root down (no link on the way) from Save on, and the
// shortcut file is read, written and deleted only through that hold.
class CDesktopShortcut {
public:
    CDesktopShortcut();
    // Holds the desktop and remembers the current shortcut file (or its
    // absence). False when the desktop cannot be held or a link, a folder or
    // a second name of a file stands in the shortcut's place: it is then
    // left alone.
    bool Save();
    // Makes the shortcut to the viewer (working folder: the installation).
    bool Create(const std::wstring& viewer, const std::wstring& folder);
    void Restore();
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_folder;
    std::wstring m_path;
    CHeldFolder m_desktop;
    bool m_saved = false;
    bool m_existed = false;
    std::string m_bytes;
};

// Today's date as the uninstall entry keeps it (YYYYMMDD, local time).
std::wstring TodayAsInstallDate();

#pragma once
// The product's uninstall entry: the one place that knows its key, its value
// names and how it is read, written, saved, put back and removed. The
// installation writes the per-user entry (32-bit view); the folder proposal
// reads the user's entry, else the machine's; the uninstaller removes the
// user's entry of the installation it removes.
#include <windows.h>

#include <string>
#include <vector>

struct UninstallEntryValues {
    std::wstring folder;       // InstallLocation
    std::wstring viewer;       // DisplayIcon
    std::wstring uninstaller;  // empty: no UninstallString
    DWORD estimatedSizeKb = 0;
    std::wstring installDate;  // YYYYMMDD
};

// The key below HKEY_CURRENT_USER (and HKEY_LOCAL_MACHINE), for messages and logs.
std::wstring UninstallEntryKeyName();

// Writes the user's entry for an installation; false when a value could not be written.
bool WriteUninstallEntry(const UninstallEntryValues& values);

// "DisplayIcon" and "InstallLocation" of the entry: the user's entry when
// can be read (even empty), else the machine's; else empty.
std::wstring InstalledIconPath();
std::wstring InstalledLocation();
// "InstallLocation" of the user's entry alone. False when there is no
// entry; `location` is empty when the entry has no usable value.
bool ReadUserInstallLocation(std::wstring& location);
// Removes the user's entry; true when it is gone.
bool RemoveUninstallEntry();

// The user's entry as it is (every value, or its absence), to be put back
// later, also by another process: it converts to and from text lines.
class CUninstallEntrySnapshot {
public:
    // Takes the entry as it is now; false when it cannot be read whole.
    bool Take();
    // Makes the entry what it was when taken.
    bool Restore() const;
    std::vector<std::string> ToLines() const;
    bool FromLines(const std::vector<std::string>& lines);

private:
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    bool m_existed = false;
    std::vector<Value> m_values;
};

// Today's date as the entry keeps it (YYYYMMDD, local time).
std::wstring TodayAsInstallDate();

#pragma once
// Where the settings live: the file config.dat in the data folder, and the
// journal the database keeps beside it while it writes. The installer, the
// uninstaller and the store itself take the names and the place from here.
#include <string>

#include "sysenv/user_folders.h"

constexpr wchar_t kSettingsFileName[] = L"config.dat";
constexpr wchar_t kSettingsJournalName[] = L"config.dat-journal";

// The folder that holds the settings file (the per-user data folder).
inline std::wstring SettingsFolder() { return DataFolder(); }
// The settings file in `folder`.
inline std::wstring SettingsFileIn(const std::wstring& folder) { return folder + L"\\" + kSettingsFileName; }

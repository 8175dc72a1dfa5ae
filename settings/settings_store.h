#pragma once
// The settings database config.dat: one key/value table "kestova" in an
// SQLite file enciphered page by page under the key text "kestova". One store
// object per operation; each setter opens the file, writes and closes it.
#include <string>

#include "settings/sqlite_db.h"
#include "util/held_folder.h"

// The installer writes the store elevated in a folder the user can write, so
// it never opens one that a link would send elsewhere: a data folder that is
// (or lies below) a link, or a config.dat or journal that is a link, makes
// every operation fail instead.
class CSettingsStore {
public:
    enum class Access { kReadWrite, kReadOnly };

    // The store in the data folder (DataFolder() + "\config.dat").
    explicit CSettingsStore(Access access = Access::kReadWrite);
    // A store in `folder` keyed with `keyText` (empty: a plain database).
    // Read-only, the folder and file are never created and nothing is written.
    CSettingsStore(const std::wstring& folder, const std::string& keyText, Access access = Access::kReadWrite);
    virtual ~CSettingsStore();
    CSettingsStore(const CSettingsStore&) = delete;
    CSettingsStore& operator=(const CSettingsStore&) = delete;

    // Opens the database and makes sure the table exists. False when the
    // table was missing and could not be created, or the file may not be
    // opened (reached through a link; read-only and missing).
    bool EnsureTable();
    // True when the key holds the value afterwards. An equal value is not
    // written again. Texts with a NUL byte cannot be stored and give false.
    bool SetValue(const std::string& key, const std::string& value);
    // True when exactly one row has the key; its value goes to `value`.
    bool GetValue(const std::string& key, std::string& value);
    // True when the UPDATE ran to completion.
    bool UpdateValue(const std::string& key, const std::string& value);

    // UTF-8 path of the database file.
    const std::string& Path() const { return m_path; }

private:
    void Init(const std::wstring& folder, const std::string& keyText);
    bool MayOpen();

    Access m_access = Access::kReadWrite;
    std::wstring m_folderPath;
    // The data folder, held from the drive's root down while the database
    // is open: the path the database is opened by keeps leading to it.
    CHeldFolder m_folder;
    bool m_ready = false;
    std::string m_keyText;
    std::string m_path;
    std::string m_tableName;
    CSqliteDb m_db;
};

// Each writes one setting to the data folder's config.dat; results are not reported.
void SetUid(const std::string& value);
void SetVersion(const std::string& value);
void SetChannel(const std::string& value);
void SetJoin(const std::string& value);
// The channel, then the version, written as SetChannel and SetVersion write
// them but through one opening of config.dat: opening the enciphered file
// costs more than a write, and start-up waits for both.
void SetChannelAndVersion(const std::string& channel, const std::string& version);
// True when the data folder's config.dat holds exactly this value for the key.
bool SettingReadsBack(const std::string& key, const std::string& value);

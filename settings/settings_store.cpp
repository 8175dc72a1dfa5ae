#include "settings/settings_store.h"

#include <windows.h>
#include <shlwapi.h>

#include "settings/page_cipher.h"
#include "sysenv/user_folders.h"
#include "util/path.h"
#include "util/text.h"
#include "settings/settings_file.h"

namespace {

constexpr char kTableAndKeyText[] = "kestova";

// A text between single quotes in a statement: every quote doubled, so any
// text is read back as itself and cannot end the literal early.
std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char ch : text) {
        out += ch;
        if (ch == '\'') out += '\'';
    }
    return out + "'";
}

bool HasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

}  // namespace

CSettingsStore::CSettingsStore(Access access) : m_access(access) { Init(SettingsFolder(), kTableAndKeyText); }

CSettingsStore::CSettingsStore(const std::wstring& folder, const std::string& keyText, Access access)
    : m_access(access) {
    Init(folder, keyText);
}

void CSettingsStore::Init(const std::wstring& folder, const std::string& keyText) {
    m_folderPath = folder;
    if (m_access == Access::kReadWrite && !PathHasLink(folder) &&
        (folder.empty() || !::PathFileExistsW(folder.c_str())))
        CreateDirectoryTree(folder);
    m_path = WideToUtf8(SettingsFileIn(folder));
    m_keyText = keyText;
    m_tableName = kTableAndKeyText;
    m_ready = false;
}

CSettingsStore::~CSettingsStore() {
    if (m_ready) {
        m_db.Close();
        m_ready = false;
    }
}

// The file and its journal are the store's own plain files (or not there
// yet), in a folder that no link leads to; the folder stays held until the
// store closes, so that no link can take its place in the meantime.
bool CSettingsStore::MayOpen() {
    if (!m_folder.Open(m_folderPath)) return false;
    const EntryKind file = InspectChild(m_folder, kSettingsFileName);
    if (m_access == Access::kReadOnly) return file == EntryKind::kPlainFile;
    const EntryKind journal = InspectChild(m_folder, kSettingsJournalName);
    return (file == EntryKind::kMissing || file == EntryKind::kPlainFile) &&
           (journal == EntryKind::kMissing || journal == EntryKind::kPlainFile);
}

bool CSettingsStore::EnsureTable() {
    if (!MayOpen()) return false;
    if (m_access == Access::kReadOnly) {
        if (m_db.OpenReadOnly(m_path, m_keyText) != SQLITE_OK) return false;
        m_ready = true;
        return true;
    }
    m_db.Open(m_path, m_keyText);
    QueryRows rows;
    const int rc = m_db.Query("SELECT * FROM sqlite_master WHERE type='table' and name=" + Quoted(m_tableName), rows);
    if (rc == SQLITE_OK && rows.empty()) {
        // The table name is this store's own constant, a plain identifier.
        if (m_db.Exec("CREATE TABLE " + m_tableName + " (key varchar primary key, value varchar)") != SQLITE_DONE)
            return false;
    }
    m_ready = true;
    return true;
}

bool CSettingsStore::GetValue(const std::string& key, std::string& value) {
    if (!m_ready && !EnsureTable()) return false;
    if (HasNul(key)) return false;
    QueryRows rows;
    m_db.Query("SELECT * FROM " + m_tableName + " WHERE key=" + Quoted(key), rows);
    if (rows.size() != 1 || rows[0].size() < 2) return false;
    value = rows[0][1];
    return true;
}

bool CSettingsStore::SetValue(const std::string& key, const std::string& value) {
    if (m_access == Access::kReadOnly) return false;
    if (!m_ready && !EnsureTable()) return false;
    if (HasNul(key) || HasNul(value)) return false;
    std::string current;
    if (GetValue(key, current)) {
        if (current == value) return true;
        return UpdateValue(key, value);
    }
    return m_db.Exec("INSERT INTO " + m_tableName + " (key, value) VALUES (" + Quoted(key) + ", " + Quoted(value) +
                     ")") == SQLITE_DONE;
}

bool CSettingsStore::UpdateValue(const std::string& key, const std::string& value) {
    if (m_access == Access::kReadOnly) return false;
    if (!m_ready && !EnsureTable()) return false;
    if (HasNul(key) || HasNul(value)) return false;
    return m_db.Exec("UPDATE " + m_tableName + " SET value = " + Quoted(value) + " WHERE key = " + Quoted(key)) ==
           SQLITE_DONE;
}

namespace {

void SetSetting(const char* key, const std::string& value) {
    CSettingsStore store;
    store.SetValue(key, value);
}

}  // namespace

void SetUid(const std::string& value) { SetSetting("uid", value); }
void SetVersion(const std::string& value) { SetSetting("version", value); }
void SetChannel(const std::string& value) { SetSetting("channel", value); }
void SetJoin(const std::string& value) { SetSetting("join", value); }

void SetChannelAndVersion(const std::string& channel, const std::string& version) {
    CSettingsStore store;
    // The second write goes ahead when the first fails, as with two setters.
    store.SetValue("channel", channel);
    store.SetValue("version", version);
}

bool SettingReadsBack(const std::string& key, const std::string& value) {
    CSettingsStore store(CSettingsStore::Access::kReadOnly);
    std::string stored;
    return store.GetValue(key, stored) && stored == value;
}

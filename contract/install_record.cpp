#include "contract/install_record.h"

#include <windows.h>

#include <algorithm>

#include "sysenv/user_process.h"
#include "util/held_folder.h"
#include "util/md5.h"
#include "util/owned.h"
#include "util/path.h"
#include "util/registry_view.h"
#include "util/text.h"

namespace {

// Below the machine's software key for an elevated process, the user's otherwise.
const wchar_t kRecordsKey[] = L"Software\\Quiview\\Setup\\Records";
const wchar_t kRecordValue[] = L"Record";
// One value per record that names a staging folder, so that recovery reads
// only those (the registry is slow to read record by record).
const wchar_t kPendingKey[] = L"Software\\Quiview\\Setup\\Pending";
const wchar_t kLogsKey[] = L"Software\\Quiview\\Setup\\Logs";
const char kHeader[] = "quiview-record 1";

// Asked once: a process's rights do not change.
bool RunsElevated() {
    static const bool elevated = GetProcessRights() == ProcessRights::kSystem || IsProcessElevated();
    return elevated;
}

HKEY OwnRoot() { return RunsElevated() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// The roots whose records this process may act on, the one it writes first.
std::vector<HKEY> TrustedRoots() {
    if (RunsElevated()) return {HKEY_LOCAL_MACHINE};
    return {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
}

std::wstring Comparable(const std::wstring& folder) {
    std::wstring full = FullPath(folder);
    full = WithoutTrailingSeparators(full);
    if (!full.empty()) ::CharUpperBuffW(&full[0], static_cast<DWORD>(full.size()));
    return full;
}

std::wstring RecordName(const std::wstring& installFolder) {
    const std::string key = WideToUtf8(Comparable(installFolder));
    CMd5 md5;
    md5.Update(key.data(), key.size());
    return Utf8ToWide(md5.HexDigest());
}

std::string Serialize(const InstallRecord& record) {
    std::string text = std::string(kHeader) + "\n";
    text += "folder\t" + WideToUtf8(record.folder) + "\n";
    if (!record.manifestMd5.empty()) text += "manifest\t" + record.manifestMd5 + "\n";
    if (!record.stage.empty()) text += "stage\t" + WideToUtf8(record.stage) + "\n";
    for (const JournalEntry& entry : record.journal) {
        text += "undo\t" + entry.step + "\n";
        for (const std::string& line : entry.lines) text += "+\t" + line + "\n";
    }
    return text;
}

bool IsHex32(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool Parse(const std::string& text, InstallRecord& record) {
    record = InstallRecord();
    size_t start = 0;
    bool header = false;
    // A record of an earlier version names what a commit moved in two lists.
    std::vector<std::string> placed, aside;
    bool committing = false;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) return false;  // cut short
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!header) {
            if (line != kHeader) return false;
            header = true;
            continue;
        }
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) return false;
        const std::string key = line.substr(0, tab), value = line.substr(tab + 1);
        std::vector<std::wstring> parts;
        if (key == "folder") {
            record.folder = Utf8ToWide(value);
        } else if (key == "manifest" && IsHex32(value)) {
            record.manifestMd5 = value;
        } else if (key == "stage" && SplitRelative(Utf8ToWide(value), parts) && parts.size() == 1) {
            record.stage = parts[0];
        } else if (key == "undo" && !value.empty() && value.find('\r') == std::string::npos) {
            record.journal.push_back(JournalEntry{value, {}});
        } else if (key == "+" && !record.journal.empty()) {
            record.journal.back().lines.push_back(value);
        } else if (key == "committing" && value == "1") {
            committing = true;
        } else if ((key == "placed" || key == "aside") && SplitRelative(Utf8ToWide(value), parts)) {
            (key == "placed" ? placed : aside).push_back(value);
        } else {
            return false;
        }
    }
    if (committing && record.journal.empty()) {
        record.journal.push_back(JournalEntry{"aside", aside});
        record.journal.push_back(JournalEntry{"place", placed});
    }
    return header && !record.folder.empty();
}

bool ReadRecordKey(HKEY root, const std::wstring& name, InstallRecord& record) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(root, (std::wstring(kRecordsKey) + L"\\" + name).c_str(), 0, KEY_QUERY_VALUE | kRegistry32View,
                        key.out()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.get(), kRecordValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_BINARY || size == 0 || size > (16u << 20))
        return false;
    std::string text(size, '\0');
    if (::RegQueryValueExW(key.get(), kRecordValue, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &size) !=
            ERROR_SUCCESS ||
        size != text.size())
        return false;
    return Parse(text, record) && RecordName(record.folder) == name;
}

std::vector<std::wstring> SortedValueNames(HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (::RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void MarkPending(const std::wstring& name, bool pending) {
    UniqueRegKey key;
    if (::RegCreateKeyExW(OwnRoot(), kPendingKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | kRegistry32View,
                          nullptr, key.out(), nullptr) != ERROR_SUCCESS)
        return;
    if (pending)
        ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
    else
        ::RegDeleteValueW(key.get(), name.c_str());
}

}  // namespace

bool ReadInstallRecord(const std::wstring& installFolder, InstallRecord& record) {
    try {
        const std::wstring name = RecordName(installFolder);
        for (HKEY root : TrustedRoots())
            if (ReadRecordKey(root, name, record)) return true;
    } catch (...) {
    }
    return false;
}

bool WriteInstallRecord(const InstallRecord& record, bool flush) {
    try {
        if (record.folder.empty()) return false;
        const std::string text = Serialize(record);
        UniqueRegKey key;
        if (::RegCreateKeyExW(OwnRoot(), (std::wstring(kRecordsKey) + L"\\" + RecordName(record.folder)).c_str(), 0,
                              nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | kRegistry32View, nullptr, key.out(),
                              nullptr) != ERROR_SUCCESS)
            return false;
        // One value, replaced whole.
        if (::RegSetValueExW(key.get(), kRecordValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(text.data()),
                             static_cast<DWORD>(text.size())) != ERROR_SUCCESS)
            return false;
        MarkPending(RecordName(record.folder), !record.stage.empty() || !record.journal.empty());
        return !flush || ::RegFlushKey(key.get()) == ERROR_SUCCESS;
    } catch (...) {
        return false;
    }
}

void RemoveInstallRecord(const std::wstring& installFolder) {
    const std::wstring name = RecordName(installFolder);
    DeleteRegTree32(OwnRoot(), (std::wstring(kRecordsKey) + L"\\" + name).c_str());
    MarkPending(name, false);
}

std::vector<InstallRecord> ReadPendingInstallRecords() {
    std::vector<InstallRecord> records;
    try {
        UniqueRegKey key;
        if (::RegOpenKeyExW(OwnRoot(), kPendingKey, 0, KEY_QUERY_VALUE | kRegistry32View, key.out()) != ERROR_SUCCESS)
            return records;
        const std::vector<std::wstring> names = SortedValueNames(key.get());
        for (const std::wstring& each : names) {
            InstallRecord record;
            if (ReadRecordKey(OwnRoot(), each, record) && (!record.stage.empty() || !record.journal.empty()))
                records.push_back(record);
        }
    } catch (...) {
    }
    return records;
}

bool ReadRecordedManifest(const CHeldFolder& root, std::vector<PayloadItem>& items) {
    items.clear();
    EntryKind kind;
    UniqueFile file = OpenChildFile(root, kManifestName, FILE_READ_DATA, kind);
    std::string text;
    if (kind != EntryKind::kPlainFile || !ReadWholeFile(file.get(), text)) return false;
    CMd5 md5;
    md5.Update(text.data(), text.size());
    if (IsRecordedManifest(root.Path(), md5.HexDigest()) && ParseManifest(text, items)) return true;
    items.clear();
    return false;
}

bool IsRecordedManifest(const std::wstring& installFolder, const std::string& manifestMd5) {
    InstallRecord record;
    return !manifestMd5.empty() && ReadInstallRecord(installFolder, record) && record.manifestMd5 == manifestMd5;
}

bool SaveSetupLog(const std::string& kind, const std::string& text) {
    try {
        UniqueRegKey key;
        if (::RegCreateKeyExW(OwnRoot(), kLogsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE | KEY_QUERY_VALUE | kRegistry32View, nullptr, key.out(),
                              nullptr) != ERROR_SUCCESS)
            return false;
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        wchar_t stamp[40];
        ::wsprintfW(stamp, L"%04u%02u%02u-%02u%02u%02u-%03u ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                    now.wSecond, now.wMilliseconds);
        // A log is kept whole up to 1 MiB; beyond that its end is cut off.
        const std::string kept = text.size() > (1u << 20) ? text.substr(0, 1u << 20) + "\r\n(cut off)\r\n" : text;
        std::wstring name = stamp + Utf8ToWide(kind);
        // Two logs within one millisecond: the second gets its own name.
        for (int n = 2;
             ::RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++n)
            name = stamp + Utf8ToWide(kind) + L" " + std::to_wstring(n);
        if (::RegSetValueExW(key.get(), name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(kept.data()),
                             static_cast<DWORD>(kept.size())) != ERROR_SUCCESS)
            return false;
        const std::vector<std::wstring> names = SortedValueNames(key.get());
        for (size_t i = 0; i + kKeptSetupLogs < names.size(); ++i) ::RegDeleteValueW(key.get(), names[i].c_str());
        return true;
    } catch (...) {
        return false;
    }
}

std::vector<std::string> ReadSetupLogs() {
    std::vector<std::string> logs;
    try {
        UniqueRegKey key;
        if (::RegOpenKeyExW(OwnRoot(), kLogsKey, 0, KEY_QUERY_VALUE | kRegistry32View, key.out()) != ERROR_SUCCESS)
            return logs;
        const std::vector<std::wstring> names = SortedValueNames(key.get());
        for (const std::wstring& name : names) {
            DWORD type = 0, size = 0;
            if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
                type != REG_BINARY)
                continue;
            std::string text(size, '\0');
            if (size && ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&text[0]),
                                           &size) == ERROR_SUCCESS)
                logs.push_back(text.substr(0, size));
        }
    } catch (...) {
    }
    return logs;
}

#include "sysenv/uninstall_entry.h"

#include "qv_product.h"
#include "sysenv/system_helpers.h"
#include "util/failed_call.h"
#include "util/owned.h"
#include "util/registry_view.h"
#include "util/text.h"

namespace {

const wchar_t kUninstallKey[] = QV_UNINSTALL_KEY;
const wchar_t kProductName[] = QV_PRODUCT_NAME;
const wchar_t kVersion[] = QV_VERSION;

const wchar_t kDisplayName[] = L"DisplayName";
const wchar_t kDisplayVersion[] = L"DisplayVersion";
const wchar_t kPublisher[] = L"Publisher";
const wchar_t kDisplayIcon[] = L"DisplayIcon";
const wchar_t kInstallLocation[] = L"InstallLocation";
const wchar_t kNoModify[] = L"NoModify";
const wchar_t kNoRepair[] = L"NoRepair";
const wchar_t kEstimatedSize[] = L"EstimatedSize";
const wchar_t kInstallDate[] = L"InstallDate";
const wchar_t kUninstallString[] = L"UninstallString";
const wchar_t kQuietUninstallString[] = L"QuietUninstallString";

bool Noted(LONG status, const char* call, const wchar_t* value) {
    if (status == ERROR_SUCCESS) return true;
    return NoteFailedCall(call, std::wstring(L"HKEY_CURRENT_USER\\") + kUninstallKey + L"\\" + value,
                          static_cast<DWORD>(status));
}

bool SetText(HKEY key, const wchar_t* name, const std::wstring& value) {
    return Noted(::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                 "RegSetValueExW", name);
}

bool SetNumber(HKEY key, const wchar_t* name, DWORD value) {
    return Noted(::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
                 "RegSetValueExW", name);
}

std::wstring EntryValue(const wchar_t* value) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        std::wstring text;
        DWORD type = 0;
        if (QueryRegString(root, 0, text, kUninstallKey, value, type)) return text;
    }
    return std::wstring();
}

bool FromDecimal(const std::string& text, DWORD& value) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long long number = std::stoull(text);
    if (number > 0xFFFFFFFFull) return false;
    value = static_cast<DWORD>(number);
    return true;
}

}  // namespace

std::wstring UninstallEntryKeyName() { return kUninstallKey; }

std::wstring TodayAsInstallDate() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    wchar_t text[16];
    ::wsprintfW(text, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

bool WriteUninstallEntry(const UninstallEntryValues& values) {
    UniqueRegKey key;
    if (!Noted(::RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, 0,
                                 KEY_SET_VALUE | KEY_QUERY_VALUE | kRegistry32View, nullptr, key.out(), nullptr),
               "RegCreateKeyExW", L""))
        return false;
    bool ok = SetText(key.get(), kDisplayName, kProductName);
    ok = SetText(key.get(), kDisplayVersion, kVersion) && ok;
    ok = SetText(key.get(), kPublisher, kProductName) && ok;
    ok = SetText(key.get(), kDisplayIcon, values.viewer) && ok;
    ok = SetText(key.get(), kInstallLocation, values.folder) && ok;
    ok = SetNumber(key.get(), kNoModify, 1) && ok;
    ok = SetNumber(key.get(), kNoRepair, 1) && ok;
    ok = SetNumber(key.get(), kEstimatedSize, values.estimatedSizeKb) && ok;
    ok = SetText(key.get(), kInstallDate, values.installDate) && ok;
    if (!values.uninstaller.empty()) {
        const std::wstring quoted = L"\"" + values.uninstaller + L"\"";
        ok = SetText(key.get(), kUninstallString, quoted) && ok;
        ok = SetText(key.get(), kQuietUninstallString, quoted + L" /S") && ok;
    } else {
        ::RegDeleteValueW(key.get(), kUninstallString);
        ::RegDeleteValueW(key.get(), kQuietUninstallString);
    }
    return ok;
}

std::wstring InstalledIconPath() { return EntryValue(kDisplayIcon); }

std::wstring InstalledLocation() { return EntryValue(kInstallLocation); }

bool ReadUserInstallLocation(std::wstring& location) {
    location.clear();
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_QUERY_VALUE | kRegistry32View, key.out()) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.get(), kInstallLocation, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size > 65536)
        return true;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key.get(), kInstallLocation, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &size) ==
        ERROR_SUCCESS)
        location = value.c_str();
    return true;
}

bool RemoveUninstallEntry() {
    const LONG status = DeleteRegTree32(HKEY_CURRENT_USER, kUninstallKey);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ||
           NoteFailedCall("RegDeleteTreeW", std::wstring(L"HKEY_CURRENT_USER\\") + kUninstallKey,
                          static_cast<DWORD>(status));
}

bool CUninstallEntrySnapshot::Take() {
    m_values.clear();
    UniqueRegKey key;
    m_existed =
        ::RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ | kRegistry32View, key.out()) == ERROR_SUCCESS;
    if (!m_existed) return true;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        LONG status = ::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, nullptr, &size);
        if (status == ERROR_NO_MORE_ITEMS) return true;
        if (status != ERROR_SUCCESS) return Noted(status, "RegEnumValueW", L"");
        Value value{std::wstring(name, nameLength), type, std::vector<BYTE>(size)};
        nameLength = 16384;
        status = ::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, value.data.data(), &size);
        if (status != ERROR_SUCCESS) return Noted(status, "RegEnumValueW", value.name.c_str());
        value.data.resize(size);
        m_values.push_back(std::move(value));
    }
}

bool CUninstallEntrySnapshot::Restore() const {
    if (!RemoveUninstallEntry()) return false;
    if (!m_existed) return true;
    UniqueRegKey key;
    if (!Noted(::RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE | kRegistry32View,
                                 nullptr, key.out(), nullptr),
               "RegCreateKeyExW", L""))
        return false;
    bool ok = true;
    for (const Value& value : m_values)
        ok = Noted(::RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                                    static_cast<DWORD>(value.data.size())),
                   "RegSetValueExW", value.name.c_str()) &&
             ok;
    return ok;
}

// "absent", or "present" and one "<type> <hex of the name in UTF-8> <hex of the data>" line per value.
std::vector<std::string> CUninstallEntrySnapshot::ToLines() const {
    std::vector<std::string> lines{m_existed ? "present" : "absent"};
    for (const Value& value : m_values) {
        const std::string name = WideToUtf8(value.name);
        lines.push_back(std::to_string(value.type) + " " + ToHex(name) + " " +
                        ToHex(std::string(value.data.begin(), value.data.end())));
    }
    return lines;
}

bool CUninstallEntrySnapshot::FromLines(const std::vector<std::string>& lines) {
    m_values.clear();
    if (lines.empty() || (lines[0] != "present" && lines[0] != "absent")) return false;
    m_existed = lines[0] == "present";
    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t first = lines[i].find(' '), second = lines[i].find(' ', first + 1);
        DWORD type = 0;
        std::string name, data;
        if (first == std::string::npos || second == std::string::npos ||
            !FromDecimal(lines[i].substr(0, first), type) ||
            !FromHex(lines[i].substr(first + 1, second - first - 1), name) ||
            !FromHex(lines[i].substr(second + 1), data))
            return false;
        m_values.push_back(Value{Utf8ToWide(name), type, std::vector<BYTE>(data.begin(), data.end())});
    }
    return m_existed || m_values.empty();
}

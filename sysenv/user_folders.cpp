#include "sysenv/user_folders.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

#include "sysenv/system_helpers.h"
#include "sysenv/uninstall_entry.h"
#include "util/owned.h"
#include "util/path.h"
#include "util/text.h"
#include "qv_product.h"

const wchar_t kProductFolderName[] = QV_PRODUCT_FOLDER;

namespace {

const wchar_t kShellProcess[] = L"explorer.exe";
const wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const wchar_t kLocalAppDataValue[] = L"Local AppData";
const wchar_t kLocalAppDataLowValue[] = L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}";

// FOLDERID_LocalAppData and FOLDERID_LocalAppDataLow.
const GUID kFolderLocalAppData = {0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
const GUID kFolderLocalAppDataLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};

const DWORD kEnvBufferChars = 1024;

using WTSGetActiveConsoleSessionIdFn = DWORD(WINAPI*)();
using WTSQueryUserTokenFn = BOOL(WINAPI*)(ULONG, HANDLE*);
using ExpandEnvironmentStringsForUserWFn = BOOL(WINAPI*)(HANDLE, LPCWSTR, LPWSTR, DWORD);

bool IsXp() { return GetOsVersionClass() == OS_XP; }

bool CachedFolderValid(const std::wstring& folder) { return !folder.empty() && ::PathFileExistsW(folder.c_str()); }

// An expansion that still reads "%tmp%" found no such variable: it names no
// folder, so it counts as failed.
std::wstring ExpandedTemp(const wchar_t* buffer) {
    std::wstring text(buffer, wcsnlen(buffer, kEnvBufferChars));
    if (::lstrcmpiW(text.c_str(), L"%tmp%") == 0) return std::wstring();
    return text;
}

std::wstring WithProductFolder(const std::wstring& base) { return base + L"\\" + kProductFolderName; }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Position of the first path component that is exactly the product folder
// name (case-sensitive), npos when none. A name that merely contains it, such
// as "QuiviewTools", is another folder and must not be cut to "Quiview".
size_t FindProductFolder(const std::wstring& path) {
    const size_t length = ::lstrlenW(kProductFolderName);
    for (size_t pos = path.find(kProductFolderName); pos != std::wstring::npos;
         pos = path.find(kProductFolderName, pos + 1)) {
        bool starts = pos == 0 || IsSeparator(path[pos - 1]);
        bool ends = pos + length == path.size() || IsSeparator(path[pos + length]);
        if (starts && ends) return pos;
    }
    return std::wstring::npos;
}

}  // namespace

bool IsSystemPlace(const std::wstring& folder) {
    std::wstring full = FullPath(folder);
    full = WithoutTrailingSeparators(full);
    if (full.empty() || full.size() <= 3) return true;  // unresolvable, or a drive's root
    if (full.compare(0, 2, L"\\\\") == 0) {
        const size_t server = full.find(L'\\', 2);
        if (server == std::wstring::npos || full.find(L'\\', server + 1) == std::wstring::npos) return true;
    }
    for (int csidl : {CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86,
                      CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA}) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) && path[0] &&
            IsSameOrInside(full, path))
            return true;
    }
    return false;
}

bool IsSystemAccountName(const std::wstring& accountName) { return ::lstrcmpiW(accountName.c_str(), L"system") == 0; }

ProfileFolders ProfileFoldersForUser(const std::wstring& userName, bool isXp) {
    ProfileFolders folders;
    if (isXp) {
        const std::wstring profile = L"C:\\Documents and Settings\\" + userName;
        folders.localAppData = profile + L"\\Local Settings\\Application Data";
        folders.temp = profile + L"\\Local Settings\\Temp";
        folders.dataFolder = WithProductFolder(folders.localAppData);
    } else {
        const std::wstring profile = L"C:\\Users\\" + userName;
        folders.localAppData = profile + L"\\AppData\\Local";
        folders.localAppDataLow = profile + L"\\AppData\\LocalLow";
        folders.temp = profile + L"\\AppData\\Local\\Temp";
        folders.dataFolder = WithProductFolder(folders.localAppDataLow);
    }
    return folders;
}

std::wstring InstallFolderFromIcon(const std::wstring& iconPath, bool iconIsFolder) {
    std::wstring folder = iconPath;
    size_t marker = FindProductFolder(folder);
    if (marker != std::wstring::npos) {
        folder.resize(marker + ::lstrlenW(kProductFolderName));
    } else if (!iconIsFolder) {
        // The icon is a file outside a product folder: its own folder is the
        // installation, so that file names appended by callers land beside it.
        TrimEnd(folder, L'\\');
        size_t separator = folder.find_last_of(L"\\/");
        if (separator != std::wstring::npos) folder.resize(separator);
    }
    TrimEnd(folder, L'\\');
    return folder;
}

CUserFolders& CUserFolders::Instance() {
    static CUserFolders instance;
    return instance;
}

CUserFolders::CUserFolders() {
    m_isSystem = IsSystemAccountName(GetProcessUserName(0));
    // Without a shell process the id is 0, which names this process's account.
    m_userName = GetProcessUserName(FindProcessByName(kShellProcess));
}

CUserFolders::CUserFolders(std::wstring userName, bool isSystem)
    : m_userName(std::move(userName)), m_isSystem(isSystem) {}

// One of the user's local application data folders, cached in `cache`: for
// the system account the folder in the user's profile, else the one the
// user's shell folders name (or the known folder), never a folder of the
// system.
std::wstring CUserFolders::LocalFolder(std::wstring& cache, bool low) {
    if (CachedFolderValid(cache)) return cache;
    if (m_isSystem && !m_userName.empty()) {
        // Low is empty on XP, which has no such folder.
        const ProfileFolders profile = ProfileFoldersForUser(m_userName, IsXp());
        cache = low ? profile.localAppDataLow : profile.localAppData;
    } else {
        cache = GetRegString(kShellFoldersKey, low ? kLocalAppDataLowValue : kLocalAppDataValue, HKEY_CURRENT_USER);
        if (cache.empty()) cache = GetKnownFolderPath(low ? kFolderLocalAppDataLow : kFolderLocalAppData);
        if (IsSystemPlace(cache)) cache.clear();
    }
    return cache;
}

std::wstring CUserFolders::LocalAppData() { return LocalFolder(m_localAppData, false); }

std::wstring CUserFolders::LocalAppDataLow() { return LocalFolder(m_localAppDataLow, true); }

std::wstring CUserFolders::TempFolder() {
    if (CachedFolderValid(m_temp)) return m_temp;
    if (m_isSystem && !m_userName.empty()) {
        m_temp = ProfileFoldersForUser(m_userName, IsXp()).temp;
        return m_temp;
    }
    m_temp = SessionUserTemp();
    if (m_temp.empty()) {
        wchar_t buffer[MAX_PATH + 1] = {};
        if (::GetTempPathW(MAX_PATH, buffer) != 0) {
            m_temp = buffer;
            Trim(m_temp, L'\\');
        }
    }
    if (IsSystemPlace(m_temp)) m_temp.clear();
    return m_temp;
}

std::wstring SessionUserTemp() {
    std::wstring result;
    std::vector<wchar_t> buffer(kEnvBufferChars + 1, L'\0');
    UniqueHandle token;

    HMODULE kernel = GetOrLoadModule(L"kernel32.dll");
    HMODULE wts = kernel ? GetOrLoadModule(L"wtsapi32.dll") : nullptr;
    HMODULE userenv = wts ? GetOrLoadModule(L"userenv.dll") : nullptr;
    HMODULE advapi = userenv ? GetOrLoadModule(L"advapi32.dll") : nullptr;
    if (advapi) {
        auto consoleSession = LookupProc<WTSGetActiveConsoleSessionIdFn>(kernel, "WTSGetActiveConsoleSessionId");
        auto queryUserToken = LookupProc<WTSQueryUserTokenFn>(wts, "WTSQueryUserToken");
        auto expandForUser =
            LookupProc<ExpandEnvironmentStringsForUserWFn>(userenv, "ExpandEnvironmentStringsForUserW");
        if (consoleSession && queryUserToken && expandForUser) {
            EnablePrivilege(L"SeTcbPrivilege");
            if (queryUserToken(consoleSession(), token.out()) &&
                expandForUser(token.get(), L"%tmp%", buffer.data(), kEnvBufferChars))
                result = ExpandedTemp(buffer.data());
        }
    }
    if (result.empty()) {
        std::fill(buffer.begin(), buffer.end(), L'\0');
        DWORD got = ::ExpandEnvironmentStringsW(L"%tmp%", buffer.data(), kEnvBufferChars);
        // A return above the buffer size asks for more room: nothing usable was written.
        if (got != 0 && got <= kEnvBufferChars) result = ExpandedTemp(buffer.data());
    }
    return result;
}

std::wstring InstallFolder(CUserFolders& folders) {
    std::wstring icon = InstalledIconPath();
    if (!icon.empty() && ::PathFileExistsW(icon.c_str())) {
        // The entry's own location, when the icon's file lies right in it: an
        // installation in "C:\Quiview\Apps" is proposed there again, not cut
        // back to "C:\Quiview" at the product's name.
        std::wstring location = InstalledLocation();
        TrimEnd(location, L'\\');
        std::wstring iconFolder =
            icon.substr(0, icon.find_last_of(L"\\/") == std::wstring::npos ? 0 : icon.find_last_of(L"\\/"));
        if (!location.empty() &&
            ::CompareStringOrdinal(location.c_str(), -1, iconFolder.c_str(), -1, TRUE) == CSTR_EQUAL)
            return location;
        return InstallFolderFromIcon(icon, ::PathIsDirectoryW(icon.c_str()) != FALSE);
    }
    const std::wstring local = folders.LocalAppData();
    if (local.empty()) return std::wstring();  // nothing is made at a drive's root instead
    std::wstring folder = WithProductFolder(local);
    CreateDirectoryTree(folder);
    return folder;
}

std::wstring InstallFolder() { return InstallFolder(CUserFolders::Instance()); }

std::wstring DataFolder(CUserFolders& folders) {
    const std::wstring base = IsXp() ? folders.LocalAppData() : folders.LocalAppDataLow();
    // No base, no folder: "\Quiview" would be a folder at the current drive's root.
    return base.empty() ? std::wstring() : WithProductFolder(base);
}

std::wstring DataFolder() { return DataFolder(CUserFolders::Instance()); }

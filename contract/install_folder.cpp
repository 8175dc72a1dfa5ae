#include "contract/install_folder.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>

#include "sysenv/system_helpers.h"
#include "sysenv/user_folders.h"
#include "util/path.h"
#include "util/text.h"
#include "qv_product.h"

namespace {

// FOLDERID_Downloads.
const GUID kFolderDownloads = {0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::wstring();
    return path;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH + 1] = {};
    const DWORD got = ::GetEnvironmentVariableW(name, value, MAX_PATH);
    return got > 0 && got < MAX_PATH ? std::wstring(value) : std::wstring();
}

std::wstring Parent(const std::wstring& path) {
    const std::wstring folder = WithoutTrailingSeparators(path);
    const size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
}

void Add(std::vector<std::wstring>& list, const std::wstring& folder) {
    if (!folder.empty()) list.push_back(folder);
}

// Absolute: "X:\..." or "\\server\share\...". A relative path would depend on
// whatever the current folder happens to be.
bool IsAbsolute(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && IsSeparator(path[2]) &&
        ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')))
        return true;
    return path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]);
}

// Every component after the root is a name a folder can have.
bool HasValidNames(const std::wstring& path) {
    const size_t start = path[1] == L':' ? 3 : 2;
    for (size_t i = start; i < path.size(); ++i) {
        const wchar_t c = path[i];
        if (c < 0x20 || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' || c == L'*' || c == L':')
            return false;
        const bool endOfName = i + 1 == path.size() || IsSeparator(path[i + 1]);
        if (endOfName && !IsSeparator(c) && (c == L' ' || c == L'.')) return false;
    }
    return true;
}

bool IsDriveOrShareRoot(const std::wstring& full) {
    if (full.size() <= 3 && full.size() >= 2 && full[1] == L':') return true;
    if (full.compare(0, 2, L"\\\\") != 0) return false;
    const size_t server = full.find(L'\\', 2);
    return server == std::wstring::npos || full.find(L'\\', server + 1) == std::wstring::npos;
}

bool Same(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && !b.empty() && IsSameOrInside(a, b) && IsSameOrInside(b, a);
}

}  // namespace

ReservedFolders CurrentReservedFolders(const std::wstring& installerFolder) {
    ReservedFolders reserved;
    Add(reserved.withInside, ShellFolder(CSIDL_WINDOWS));
    Add(reserved.withInside, ShellFolder(CSIDL_SYSTEM));
    Add(reserved.withInside, ShellFolder(CSIDL_SYSTEMX86));
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROFILE,
                      CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_DOCUMENTS,
                      CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_COMMON_APPDATA})
        Add(reserved.exact, ShellFolder(csidl));
    Add(reserved.exact, Environment(L"ProgramW6432"));
    Add(reserved.exact, Environment(L"ProgramFiles"));
    const std::wstring profile = ShellFolder(CSIDL_PROFILE);
    const std::wstring downloads = GetKnownFolderPath(kFolderDownloads);
    Add(reserved.exact, downloads.empty() && !profile.empty() ? profile + L"\\Downloads" : downloads);
    Add(reserved.exact, Parent(profile));  // the folder of all profiles
    // The interactive user's own profile and folders, when the installer runs
    // elevated as another account.
    CUserFolders& user = CUserFolders::Instance();
    const std::wstring local = user.LocalAppData();
    const std::wstring userProfile = Parent(Parent(local));
    Add(reserved.exact, local);
    Add(reserved.exact, userProfile);
    if (!userProfile.empty())
        for (const wchar_t* name : {L"\\Desktop", L"\\Documents", L"\\Downloads", L"\\My Documents"})
            reserved.exact.push_back(userProfile + name);
    Add(reserved.holding, installerFolder);
    reserved.temp = user.TempFolder();
    return reserved;
}

FolderVerdict CheckInstallFolder(const std::wstring& folder, const ReservedFolders& reserved) {
    if (!IsAbsolute(folder) || !HasValidNames(folder)) return FolderVerdict::kInvalid;
    const std::wstring full = FullPath(folder);
    if (full.empty()) return FolderVerdict::kInvalid;
    if (IsDriveOrShareRoot(full)) return FolderVerdict::kReserved;
    for (const std::wstring& exact : reserved.exact)
        if (Same(full, exact)) return FolderVerdict::kReserved;
    for (const std::wstring& tree : reserved.withInside)
        if (!tree.empty() && IsSameOrInside(full, tree)) return FolderVerdict::kReserved;
    for (const std::wstring& held : reserved.holding)
        if (!held.empty() && IsSameOrInside(held, full)) return FolderVerdict::kReserved;
    if (!reserved.temp.empty()) {
        if (Same(full, reserved.temp)) return FolderVerdict::kReserved;
        // The installers' private extraction folders.
        if (IsSameOrInside(full, reserved.temp) && full.size() > reserved.temp.size() + 1) {
            std::wstring below = full.substr(FullPath(reserved.temp).size() + 1);
            std::wstring first = below.substr(0, below.find(L'\\'));
            const int prefix = static_cast<int>(std::wcslen(QV_PRIVATE_FOLDER_PREFIX));
            if (static_cast<int>(first.size()) >= prefix &&
                ::CompareStringOrdinal(first.c_str(), prefix, QV_PRIVATE_FOLDER_PREFIX, prefix, TRUE) == CSTR_EQUAL)
                return FolderVerdict::kReserved;
        }
    }
    return FolderVerdict::kAllowed;
}

#include "util/path.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdlib>
#include <exception>
#include <memory>

#include "util/md5.h"
#include "util/owned.h"
#include "util/restart_deletion.h"
#include "util/text.h"

namespace {

bool EndsWithSeparator(const std::wstring& path) {
    return !path.empty() && (path.back() == L'\\' || path.back() == L'/');
}

bool IsDotEntry(const wchar_t* name) { return ::lstrcmpiW(name, L".") == 0 || ::lstrcmpiW(name, L"..") == 0; }

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// Absolute, backslash-separated form without trailing separators, upper-cased
// for comparison. Empty if the system cannot resolve the path.
std::wstring ComparablePath(const std::wstring& path) {
    std::wstring full = FullPath(path);
    TrimEnd(full, L'\\');
    if (!full.empty()) ::CharUpperBuffW(&full[0], static_cast<DWORD>(full.size()));
    return full;
}

// The root of an absolute path: "C:\" or "\\server\share\"; empty otherwise.
std::wstring RootOf(const std::wstring& full) {
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return full.substr(0, 3);
    if (full.compare(0, 2, L"\\\\") == 0) {
        size_t server = full.find(L'\\', 2);
        if (server == std::wstring::npos) return std::wstring();
        size_t share = full.find(L'\\', server + 1);
        return share == std::wstring::npos ? full + L"\\" : full.substr(0, share + 1);
    }
    return std::wstring();
}

using GetFinalPathNameByHandleWFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// The path the system actually opened for `path` (links followed), in the
// DOS form without the "\\?\" prefix; empty when it cannot be told (the
// entry cannot be opened, or the system has no such query, as on XP).
std::wstring OpenedPathOf(const std::wstring& path) {
    static const auto query = reinterpret_cast<GetFinalPathNameByHandleWFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (!query) return std::wstring();
    UniqueFile entry(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!entry) return std::wstring();
    std::wstring opened(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD got = query(entry.get(), &opened[0], static_cast<DWORD>(opened.size()), 0);
        if (got == 0) return std::wstring();
        if (got < opened.size()) {
            opened.resize(got);
            if (opened.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
                opened = L"\\\\" + opened.substr(8);
            } else if (opened.compare(0, 4, L"\\\\?\\") == 0) {
                opened = opened.substr(4);
            }
            if (opened.size() > 3) TrimEnd(opened, L'\\');
            return opened;
        }
        opened.assign(got + 1, L'\0');
    }
    return std::wstring();
}

// The full path with every short (8.3) name spelled out where the entry exists.
std::wstring LongFullPath(const std::wstring& path) {
    std::wstring full = FullPath(path);
    if (full.empty()) return full;
    DWORD size = ::GetLongPathNameW(full.c_str(), nullptr, 0);
    if (size == 0) return full;
    std::wstring longer(size, L'\0');
    DWORD got = ::GetLongPathNameW(full.c_str(), &longer[0], size);
    if (got == 0 || got >= size) return full;
    longer.resize(got);
    if (longer.size() > 3) TrimEnd(longer, L'\\');
    return longer;
}

// True when the system opens the existing entry at `path` as another path: a
// folder on the way, or the entry itself, leads elsewhere. A drive that is
// itself another folder (subst, a mapped share) does not count: the path is
// compared with what the system opens for its root.
bool OpensElsewhere(const std::wstring& path) {
    const std::wstring opened = OpenedPathOf(path);
    if (opened.empty()) return false;
    const std::wstring full = LongFullPath(path);
    if (full.empty() || EqualNoCase(opened, full)) return false;
    const std::wstring root = RootOf(full);
    if (root.empty()) return true;
    std::wstring openedRoot = OpenedPathOf(root);
    if (openedRoot.empty()) return true;
    TrimEnd(openedRoot, L'\\');
    std::wstring rest = full.substr(root.size());
    return !EqualNoCase(opened, rest.empty() ? openedRoot : openedRoot + L"\\" + rest) &&
           !(rest.empty() && EqualNoCase(opened, openedRoot + L"\\"));
}

bool IsLinkEntry(const std::wstring& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    return OpensElsewhere(path);
}

// Deletes a folder tree below `folder` without following links; true when
// everything went.
bool DeleteTreeContents(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    bool all = true;
    do {
        if (IsDotEntry(data.cFileName)) continue;
        const std::wstring entry = folder + L"\\" + data.cFileName;
        if (IsLinkEntry(entry, data.dwFileAttributes)) {
            all = false;  // left where it is
            continue;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            all = DeleteTreeContents(entry) && all;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                ::SetFileAttributesW(entry.c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            all = ::RemoveDirectoryW(entry.c_str()) && all;
        } else {
            all = DeleteFileForced(entry, true) && all;
        }
    } while (::FindNextFileW(find.get(), &data));
    return all;
}

}  // namespace

std::wstring FullPath(const std::wstring& path) {
    if (path.empty()) return std::wstring();
    DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return std::wstring();
    std::wstring full(size, L'\0');
    DWORD written = ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (written == 0 || written >= size) return std::wstring();
    full.resize(written);
    ReplaceAll(full, L"/", L"\\");
    if (full.size() > 3) TrimEnd(full, L'\\');
    return full;
}

bool IsSameOrInside(const std::wstring& inner, const std::wstring& outer) {
    std::wstring a = ComparablePath(inner), b = ComparablePath(outer);
    if (a.empty() || b.empty()) return false;
    if (a.size() < b.size() || a.compare(0, b.size(), b) != 0) return false;
    return a.size() == b.size() || a[b.size()] == L'\\';
}

bool IsLink(const std::wstring& path) {
    if (path.empty()) return false;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return IsLinkEntry(path, attributes);
}

bool PathHasLink(const std::wstring& path) {
    const std::wstring full = FullPath(path);
    if (full.empty()) return false;
    PathList prefixes;
    ListPathPrefixes(full, prefixes);
    // Every existing level is checked for the link attribute; the deepest
    // existing one also for where the system actually opens it, which covers
    // every level above it.
    std::wstring deepest;
    for (const std::wstring& prefix : prefixes) {
        if (prefix.size() <= 2) continue;  // "C:" or the start of a share name
        const DWORD attributes = ::GetFileAttributesW(prefix.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) break;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
        deepest = prefix;
    }
    return !deepest.empty() && OpensElsewhere(deepest);
}

bool IsPlainFile(const std::wstring& path) {
    if (path.empty()) return false;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    {
        UniqueFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (!file || !::GetFileInformationByHandle(file.get(), &info)) return false;
        if (info.nNumberOfLinks != 1 || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    }
    return !OpensElsewhere(path);
}

std::wstring ModuleFolder() {
    try {
        // The buffer grows until the whole name fits, so a deep folder is
        // never cut to a wrong one.
        std::wstring name(MAX_PATH, L'\0');
        for (;;) {
            DWORD got = ::GetModuleFileNameW(nullptr, &name[0], static_cast<DWORD>(name.size()));
            if (got == 0) return std::wstring();
            if (got < name.size()) {
                name.resize(got);
                break;
            }
            if (name.size() >= 32768) return std::wstring();
            name.resize(name.size() * 2);
        }
        size_t slash = name.rfind(L'\\');
        if (slash == std::wstring::npos) return std::wstring();
        return name.substr(0, slash);
    } catch (const std::exception&) {
        return std::wstring();
    }
}

bool FileExists(const std::wstring& path) { return !path.empty() && ::PathFileExistsW(path.c_str()) != FALSE; }

bool IsDirectoryPath(const std::wstring& path) {
    if (path.empty()) return false;
    std::wstring trimmed = path;
    TrimEnd(trimmed, L'/');
    TrimEnd(trimmed, L'\\');
    if (trimmed.size() <= 3) {
        switch (::GetDriveTypeW(trimmed.c_str())) {
        case DRIVE_FIXED:
        case DRIVE_REMOTE: return true;
        case DRIVE_CDROM:
        case DRIVE_RAMDISK: break;  // decided by the file system below
        default: return false;
        }
    }
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW(trimmed.c_str(), &data));
    if (!find) return EndsWithSeparator(path);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

size_t ListPathPrefixes(const std::wstring& path, PathList& prefixes) {
    if (path.empty()) return 0;
    std::wstring copy = path;
    ReplaceAll(copy, L"/", L"\\");
    size_t pos = copy.find(L'\\');
    size_t last = std::wstring::npos;
    while (pos != std::wstring::npos) {
        prefixes.push_back(copy.substr(0, pos));
        last = pos;
        pos = copy.find(L'\\', pos + 1);
    }
    if (last == std::wstring::npos || last + 1 < copy.size()) prefixes.push_back(path);
    return prefixes.size();
}

bool CreateDirectoryTree(const std::wstring& path) {
    if (path.empty()) return false;
    std::wstring copy = path;
    if (!EndsWithSeparator(copy)) copy += L'\\';
    if (!IsDirectoryPath(copy)) return false;
    if (::PathFileExistsW(copy.c_str())) return true;
    PathList prefixes;
    if (ListPathPrefixes(copy, prefixes) == 0) return false;
    for (const std::wstring& prefix : prefixes) {
        if (prefix.empty() || !::PathFileExistsW(prefix.c_str())) {
            if (!::CreateDirectoryW(prefix.c_str(), nullptr)) return false;
        }
    }
    return true;
}

bool SplitDirAndName(std::wstring path, std::wstring& folder, std::wstring& name) {
    try {
        if (path.empty()) return false;
        if (IsDirectoryPath(path)) {
            folder = path;
        } else {
            // Each part gets room for the whole path, so no part is ever cut.
            const size_t room = path.size() + 1 < MAX_PATH ? MAX_PATH : path.size() + 1;
            std::wstring drive(room, L'\0'), dir(room, L'\0'), base(room, L'\0'), ext(room, L'\0');
            errno_t rc = ::_wsplitpath_s(path.c_str(), &drive[0], room, &dir[0], room, &base[0], room, &ext[0], room);
            if (rc == EINVAL) return false;
            folder = std::wstring(drive.c_str()) + dir.c_str();
            name = std::wstring(base.c_str()) + ext.c_str();
        }
        if (folder.empty()) return false;
        if (!EndsWithSeparator(folder)) folder += L'\\';
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

size_t ListEntries(const std::wstring& folder, PathList& entries, bool foldersOnly, bool recursive) {
    if (folder.empty() || !::PathFileExistsW(folder.c_str())) return 0;
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW((folder + L"\\*.*").c_str(), &data));
    if (!find) return entries.size();
    do {
        if (IsDotEntry(data.cFileName)) continue;
        std::wstring full = folder + L"\\" + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (IsLinkEntry(full, data.dwFileAttributes)) continue;  // never entered, never listed
            if (foldersOnly) entries.push_back(full);
            if (recursive) ListEntries(full, entries, foldersOnly, true);
        } else if (!foldersOnly) {
            entries.push_back(full);
        }
    } while (::FindNextFileW(find.get(), &data));
    return entries.size();
}

bool SameContent(const std::wstring& target, const std::wstring& source) {
    if (!FileExists(target) || !FileExists(source)) return false;
    return DigestFile(target) == DigestFile(source);
}

bool CopyPath(const std::wstring& source, const std::wstring& destination) {
    if (source.empty() || destination.empty() || !FileExists(source)) return false;
    if (IsLink(source)) return false;

    const bool sourceIsFolder = IsDirectoryPath(source);
    if (sourceIsFolder) {
        if (FileExists(destination) && !IsDirectoryPath(destination)) return false;
        // A folder copied into itself would copy its own copy without end.
        if (IsSameOrInside(destination, source)) return false;
        if (PathHasLink(destination)) return false;
        CreateDirectoryTree(destination);
    }

    std::wstring sourceFolder, sourceName, destFolder, destName;
    if (!SplitDirAndName(source, sourceFolder, sourceName)) return false;
    if (!SplitDirAndName(destination, destFolder, destName)) return false;

    if (!sourceIsFolder) {
        // Only a plain file is copied: a link could hand out a file that the
        // user may not read.
        if (!IsPlainFile(source)) return false;
        if (PathHasLink(destFolder)) return false;
        if (!CreateDirectoryTree(destFolder)) return false;
        std::wstring target = destFolder + (destName.empty() ? sourceName : destName);
        if (IsPlainFile(target) && SameContent(target, source)) return true;
        if (!DeleteFileForced(target, true)) return false;
        // The copy never writes over an entry that appeared in the meantime.
        return ::CopyFileW(source.c_str(), target.c_str(), TRUE) != FALSE;
    }

    PathList subfolders;
    ListEntries(source, subfolders, true, false);
    std::wstring destBase = destination;
    TrimEnd(destBase, L'\\');
    TrimEnd(destBase, L'/');
    for (const std::wstring& sub : subfolders) {
        const std::wstring relative = sub.substr(source.size() + 1);
        const std::wstring subTarget = destBase + L"\\" + relative + L"\\";
        CreateDirectoryTree(subTarget);
        CopyPath(sub, subTarget);
    }
    PathList files;
    ListEntries(source, files, false, false);
    for (const std::wstring& file : files) CopyPath(file, destination);
    return true;
}

bool DeleteFileForced(const std::wstring& path, bool force) {
    if (path.empty()) return true;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return !FileExists(path);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    if (IsLinkEntry(path, attributes)) return false;
    if (::DeleteFileW(path.c_str())) return true;
    if (!force) return true;

    if (attributes & FILE_ATTRIBUTE_READONLY) {
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (::DeleteFileW(path.c_str())) return true;
    }

    // Still in use: the system deletes it at the next restart, from a folder
    // that no program of the user can rename in the meantime.
    return DeleteAtRestart(path);
}

bool DeleteFolderContents(const std::wstring& folder) {
    std::wstring base = folder;
    Trim(base, L' ');
    if (base.empty() || !FileExists(base)) return false;
    if (IsLink(base)) return false;
    return DeleteTreeContents(base);
}

bool DeletePath(const std::wstring& path, bool force) {
    if (path.empty()) return true;
    std::wstring target = path;
    if (target.size() > 3) {
        TrimEnd(target, L'/');
        TrimEnd(target, L'\\');
    }
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return !FileExists(target);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileForced(target, force);
    if (IsLinkEntry(target, attributes)) return false;  // a link in place of the folder stays
    bool all = DeleteTreeContents(target);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return ::RemoveDirectoryW(target.c_str()) && all;
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/') && !(path.size() == 3 && path[1] == L':'))
        path.pop_back();
    return path;
}

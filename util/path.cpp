#include "util/path.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cstdlib>
#include <exception>
#include <memory>

#include "identity/md5.h"
#include "util/owned.h"
#include "util/text.h"

namespace {

bool EndsWithSeparator(const std::wstring& path) {
    return !path.empty() && (path.back() == L'\\' || path.back() == L'/');
}

bool IsDotEntry(const wchar_t* name) {
    return ::lstrcmpiW(name, L".") == 0 || ::lstrcmpiW(name, L"..") == 0;
}

// Absolute, backslash-separated form without trailing separators, upper-cased
// for comparison. Empty if the system cannot resolve the path.
std::wstring ComparablePath(const std::wstring& path) {
    DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return std::wstring();
    std::wstring full(size, L'\0');
    DWORD written = ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (written == 0 || written >= size) return std::wstring();
    full.resize(written);
    ReplaceAll(full, L"/", L"\\");
    TrimEnd(full, L'\\');
    if (!full.empty()) ::CharUpperBuffW(&full[0], static_cast<DWORD>(full.size()));
    return full;
}

// True if `inner` is `outer` itself or lies somewhere below it.
bool IsSameOrInside(const std::wstring& inner, const std::wstring& outer) {
    std::wstring a = ComparablePath(inner), b = ComparablePath(outer);
    if (a.empty() || b.empty()) return false;
    if (a.size() < b.size() || a.compare(0, b.size(), b) != 0) return false;
    return a.size() == b.size() || a[b.size()] == L'\\';
}

}  // namespace

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

bool FileExists(const std::wstring& path) {
    return !path.empty() && ::PathFileExistsW(path.c_str()) != FALSE;
}

bool IsDirectoryPath(const std::wstring& path) {
    if (path.empty()) return false;
    std::wstring trimmed = path;
    TrimEnd(trimmed, L'/');
    TrimEnd(trimmed, L'\\');
    if (trimmed.size() <= 3) {
        switch (::GetDriveTypeW(trimmed.c_str())) {
            case DRIVE_FIXED:
            case DRIVE_REMOTE:
                return true;
            case DRIVE_CDROM:
            case DRIVE_RAMDISK:
                break;  // decided by the file system below
            default:
                return false;
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
            errno_t rc = ::_wsplitpath_s(path.c_str(), &drive[0], room, &dir[0], room, &base[0], room,
                                         &ext[0], room);
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

    const bool sourceIsFolder = IsDirectoryPath(source);
    if (sourceIsFolder) {
        if (FileExists(destination) && !IsDirectoryPath(destination)) return false;
        // A folder copied into itself would copy its own copy without end.
        if (IsSameOrInside(destination, source)) return false;
        CreateDirectoryTree(destination);
    }

    std::wstring sourceFolder, sourceName, destFolder, destName;
    if (!SplitDirAndName(source, sourceFolder, sourceName)) return false;
    if (!SplitDirAndName(destination, destFolder, destName)) return false;

    if (!sourceIsFolder) {
        if (!CreateDirectoryTree(destFolder)) return false;
        std::wstring target = destFolder + (destName.empty() ? sourceName : destName);
        if (FileExists(target) && SameContent(target, source)) return true;
        DeleteFileForced(target, true);
        return ::CopyFileW(source.c_str(), target.c_str(), FALSE) != FALSE;
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
    if (path.empty() || !FileExists(path)) return true;
    if (IsDirectoryPath(path)) return false;
    if (::DeleteFileW(path.c_str())) return true;
    if (!force) return true;

    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (::DeleteFileW(path.c_str())) return true;

    // Still in use: move it aside so that its name is free, and let the system
    // delete it at the next restart.
    wchar_t tick[64] = {};
    ::wsprintfW(tick, L"%x", ::GetTickCount());
    std::wstring aside;
    size_t tmp = path.find(L".tmp");
    if (tmp != std::wstring::npos) {
        aside = path.substr(0, tmp + 4) + tick;
    } else {
        aside = path + L".tmp" + tick;
    }
    if (!::MoveFileW(path.c_str(), aside.c_str())) return false;
    return ::MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool DeleteFolderContents(const std::wstring& folder) {
    std::wstring base = folder;
    Trim(base, L' ');
    if (base.empty() || !FileExists(base)) return false;
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW((base + L"\\*.*").c_str(), &data));
    if (!find) return false;
    do {
        if (IsDotEntry(data.cFileName)) continue;
        const std::wstring entry = base + L"\\" + data.cFileName;
        DWORD attributes = ::GetFileAttributesW(entry.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            ::SetFileAttributesW(entry.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            DeleteFolderContents(entry);
            ::RemoveDirectoryW(entry.c_str());
        } else {
            DeleteFileForced(entry, true);
        }
    } while (::FindNextFileW(find.get(), &data));
    return true;
}

bool ShellDelete(const std::wstring& path, bool allowUndo) {
    std::wstring target = path;
    Trim(target, L' ');
    if (target.empty() || !FileExists(target)) return true;
    std::wstring from = target;
    from.push_back(L'\0');  // the shell takes a list ended by two NULs
    SHFILEOPSTRUCTW op = {};
    op.hwnd = nullptr;
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.pTo = nullptr;
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    if (allowUndo) op.fFlags |= FOF_ALLOWUNDO;
    op.lpszProgressTitle = nullptr;
    return ::SHFileOperationW(&op) == 0;
}

bool DeletePath(const std::wstring& path, bool flag) {
    if (path.empty()) return true;
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {  // also INVALID_FILE_ATTRIBUTES: a missing path
        DeleteFolderContents(path);
        return ShellDelete(path, flag);
    }
    return DeleteFileForced(path, flag);
}

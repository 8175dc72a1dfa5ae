#include "uninstall/removal.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <algorithm>
#include <map>

#include "contract/install_folder.h"
#include "contract/install_record.h"
#include "sysenv/uninstall_entry.h"
#include "sysenv/user_folders.h"
#include "util/failed_call.h"
#include "util/held_folder.h"
#include "util/step_list.h"
#include "util/md5.h"
#include "util/com_ptr.h"
#include "util/owned.h"
#include "util/registry_view.h"
#include "util/path.h"
#include "util/text.h"
#include "qv_product.h"
#include "settings/settings_file.h"

namespace {

const wchar_t kShortcutName[] = QV_SHORTCUT_FILE;
const wchar_t kViewerName[] = QV_VIEWER_EXE;

// The upper-case full form of a path for comparisons (CompareStringOrdinal
// is missing on XP; upper-casing by the system's table compares the same way).
std::wstring ComparableFullPath(const std::wstring& path) {
    std::wstring full = FullPath(path);
    full = WithoutTrailingSeparators(full);
    if (!full.empty()) ::CharUpperBuffW(&full[0], static_cast<DWORD>(full.size()));
    return full;
}

// True when nothing answers to the path any more (a file whose deletion is
// only pending, held open by another program with delete sharing, answers
// no more either). A deletion reported done is checked this way: some file
// systems report success for an entry they then keep (Wine, for one, on a
// folder that refuses changes).
bool IsGone(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && !FileExists(path);
}

// Deletes a file that is ours: at once if possible (read-only cleared), else
// moved aside for deletion at restart. Within `graceMs` a deletion refused
// because the file is in use is tried again first (a program that has just
// ended may still hold its file for a moment).
Outcome DeleteOwnFile(const std::wstring& path, DWORD graceMs = 0) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const DWORD start = ::GetTickCount();
    DWORD error = ERROR_SUCCESS;
    for (;;) {
        if (::DeleteFileW(path.c_str()) && IsGone(path)) return Outcome::kRemoved;
        error = ::GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || ::GetTickCount() - start >= graceMs)
            break;
        ::Sleep(50);
    }
    if (DeleteFileForced(path, true) && IsGone(path)) return Outcome::kAtRestart;
    // Neither now nor at restart: the deletion's own error says why.
    NoteFailedCall("DeleteFileW", path, error != ERROR_SUCCESS ? error : ERROR_ACCESS_DENIED);
    return Outcome::kFailed;
}

// The manifest of the installation in `folder`, as its record vouches for it.
bool ReadRecordedManifest(const std::wstring& folder, std::vector<PayloadItem>& items) {
    CHeldFolder root;
    return root.Open(folder) && ReadRecordedManifest(root, items);
}

// The size and MD5 of an open file's content.
bool MatchesInstalled(HANDLE file, const PayloadItem& item) {
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file, &size) || static_cast<unsigned long long>(size.QuadPart) != item.size) return false;
    CMd5 md5;
    std::vector<char> buffer(1 << 16);
    DWORD got = 0;
    for (;;) {
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
        if (got == 0) break;
        md5.Update(buffer.data(), got);
    }
    return md5.HexDigest() == item.md5;
}

// The removal of one installation, step by step; what goes at restart is
// remembered so that the folders it keeps can follow it.
class CRemoval {
public:
    explicit CRemoval(const RemovalRequest& request) : request_(request) {}

    RemovalReport Run(const std::function<void(const RemovalReport&)>& beforeOwnFile);
    // What the removal did, one line per path it touched.
    CStepLog& Log() { return log_; }

private:
    std::wstring Listed(const PayloadItem& item) const { return request_.folder + L"\\" + item.path; }
    bool IsOwnFile(const std::wstring& path) const {
        return !request_.ownFile.empty() && ComparableFullPath(path) == ComparableFullPath(request_.ownFile);
    }
    void RemoveFile(const std::wstring& path, const PayloadItem& item, DWORD graceMs = 0);
    // Adds an outcome to the report and to the log, with the failed call
    // where one was noted.
    void Note(const char* step, const std::wstring& path, Outcome outcome);
    Outcome RemoveFolder(const std::wstring& folder);

    const RemovalRequest& request_;
    RemovalReport report_;
    std::vector<PayloadItem> items_;
    CStepLog log_;
};

void CRemoval::Note(const char* step, const std::wstring& path, Outcome outcome) {
    report_.Add(path, outcome);
    switch (outcome) {
    case Outcome::kRemoved: log_.Line(step, "removed " + WideToUtf8(path)); break;
    case Outcome::kAtRestart: log_.Line(step, "goes at restart: " + WideToUtf8(path)); break;
    case Outcome::kKept: log_.Line(step, "kept " + WideToUtf8(path)); break;
    case Outcome::kFailed: log_.Failure(step, "could not remove " + WideToUtf8(path), LastFailedCall()); break;
    case Outcome::kAbsent: break;
    }
    ClearFailedCall();
}

void CRemoval::RemoveFile(const std::wstring& path, const PayloadItem& item, DWORD graceMs) {
    Note("file", path, RemoveInstalledFile(path, item, graceMs));
}

Outcome CRemoval::RemoveFolder(const std::wstring& folder) {
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Outcome::kAbsent;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Outcome::kKept;
    // On some systems removing a link to an empty folder removes that folder.
    if (IsLink(folder) || PathHasLink(folder)) return Outcome::kKept;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(folder.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (::RemoveDirectoryW(folder.c_str()) && IsGone(folder)) return Outcome::kRemoved;
    if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(folder.c_str(), attributes);
    // The user's files are in it. (Files in use left the folder for their
    // restart: a folder that a program of the user can rename is never
    // itself left for the system to delete at restart.)
    return Outcome::kKept;
}

RemovalReport CRemoval::Run(const std::function<void(const RemovalReport&)>& beforeOwnFile) {
    report_ = RemovalReport();
    if (PathHasLink(request_.folder)) {
        // Every path below would lead elsewhere than it says.
        report_.installation = true;
        report_.throughLink = true;
        report_.failed.push_back(request_.folder);
        beforeOwnFile(report_);
        return report_;
    }
    const std::wstring manifest = ManifestPath(request_.folder);
    if (!ReadRecordedManifest(request_.folder, items_)) {
        beforeOwnFile(report_);
        return report_;
    }
    report_.installation = true;

    const PayloadItem* ownItem = nullptr;
    for (const PayloadItem& item : items_) {
        if (item.isFolder) continue;
        const std::wstring path = Listed(item);
        if (IsOwnFile(path)) {
            ownItem = &item;
            continue;
        }
        RemoveFile(path, item);
    }
    if (request_.removeSettings)
        Note("settings", SettingsFileIn(request_.dataFolder), RemoveSettings(request_.dataFolder));
    // The shortcut stays while the viewer it starts is still there.
    Note("shortcut", request_.shortcut, RemoveShortcutTo(request_.shortcut, request_.folder + L"\\" + kViewerName));
    // An incomplete removal stays registered, so that it can be finished.
    if (report_.Complete())
        Note("entry", L"HKEY_CURRENT_USER\\" + UninstallEntryKeyName(), RemoveUninstallEntryOf(request_.folder));

    beforeOwnFile(report_);

    const bool complete = report_.Complete();
    if (ownItem && complete) RemoveFile(Listed(*ownItem), *ownItem, request_.ownFileGraceMs);
    std::vector<std::wstring> folders;
    for (const PayloadItem& item : items_)
        if (item.isFolder) folders.push_back(Listed(item));
    // Deepest first: a folder can only go after the folders inside it.
    const auto depth = [](const std::wstring& path) {
        return std::count(path.begin(), path.end(), L'\\') + std::count(path.begin(), path.end(), L'/');
    };
    std::stable_sort(folders.begin(), folders.end(),
                     [&depth](const std::wstring& a, const std::wstring& b) { return depth(a) > depth(b); });
    for (const std::wstring& folder : folders) {
        const Outcome outcome = RemoveFolder(folder);
        // One with the user's files is simply left.
        if (outcome != Outcome::kKept) Note("folder", folder, outcome);
    }
    if (report_.Complete()) {
        if (IsPlainFile(manifest)) Note("manifest", manifest, DeleteOwnFile(manifest));
        if (report_.Complete()) RemoveInstallRecord(request_.folder);
        // An installation in a folder the system or the user needs (an older
        // installer took any folder) leaves that folder where it is, empty.
        const bool reserved =
            CheckInstallFolder(request_.folder, CurrentReservedFolders(std::wstring())) != FolderVerdict::kAllowed;
        const Outcome outcome = reserved ? Outcome::kKept : RemoveFolder(request_.folder);
        report_.folderRemains = outcome == Outcome::kKept;
        if (outcome != Outcome::kKept) Note("folder", request_.folder, outcome);
    } else {
        report_.folderRemains = true;
    }
    return report_;
}

}  // namespace

void RemovalReport::Add(const std::wstring& path, Outcome outcome) {
    switch (outcome) {
    case Outcome::kRemoved: removed.push_back(path); break;
    case Outcome::kAtRestart: atRestart.push_back(path); break;
    case Outcome::kKept: kept.push_back(path); break;
    case Outcome::kFailed: failed.push_back(path); break;
    case Outcome::kAbsent: break;
    }
}

int ExitCodeFor(const RemovalReport& report) {
    if (!report.installation) return kExitNotInstalled;
    return report.failed.empty() ? kExitRemoved : kExitIncomplete;
}

Outcome RemoveInstalledFile(const std::wstring& path, const PayloadItem& item, DWORD graceMs) {
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (!FileExists(path)) return Outcome::kAbsent;
        NoteFailedCall("GetFileAttributesW", path);
        return Outcome::kFailed;
    }
    if (item.isFolder || item.md5.empty()) return Outcome::kKept;
    // The file is opened once, relative to its folder held open (every
    // folder on the way reached without a link), checked and deleted
    // through that handle: a link, a folder, a second name of another file
    // or a path that leads elsewhere is not what was installed here, and
    // nothing can be swapped in between the check and the deletion.
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return Outcome::kKept;
    CHeldFolder folder;
    if (!folder.Open(path.substr(0, slash))) return Outcome::kKept;
    EntryKind kind;
    UniqueFile file = OpenChildFile(folder, path.substr(slash + 1), FILE_READ_DATA | FILE_WRITE_ATTRIBUTES, kind);
    if (kind == EntryKind::kMissing) return Outcome::kAbsent;
    if (kind == EntryKind::kOther) return Outcome::kKept;
    if (kind == EntryKind::kPlainFile) {
        // Changed since it was installed: the user's now.
        if (!MatchesInstalled(file.get(), item)) return Outcome::kKept;
        FILE_BASIC_INFO basic = {};
        if (::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) &&
            (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
            basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
            ::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
        }
        const bool marked = DeleteOnClose(file.get());
        file.reset();
        if (marked && IsGone(path)) return Outcome::kRemoved;
    } else if (!IsPlainFile(path) || DigestFile(path) != item.md5) {
        // In use without sharing: checked by path while its folder stays held.
        return Outcome::kKept;
    }
    // Still in use (a running program): tried again for a moment, else moved
    // aside for deletion at restart, with its folder still held.
    return DeleteOwnFile(path, graceMs);
}

namespace {

// A shortcut file is a few KiB; one larger is no shortcut of ours.
const size_t kShortcutLimit = 1 << 20;

// The target path stored in the content of a shortcut file; empty when it
// cannot be read.
std::wstring ShortcutTargetOf(const std::string& bytes) {
    CComPtr<IShellLinkW> link;
    if (bytes.empty() || bytes.size() > kShortcutLimit ||
        FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.outVoid())))
        return std::wstring();
    CComPtr<IPersistStream> persist;
    CComPtr<IStream> stream;
    ULONG written = 0;
    const LARGE_INTEGER start = {};
    if (FAILED(link->QueryInterface(IID_IPersistStream, persist.outVoid())) ||
        FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.out())) ||
        FAILED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) || written != bytes.size() ||
        FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr)) || FAILED(persist->Load(stream.get())))
        return std::wstring();
    wchar_t target[MAX_PATH + 1] = {};
    // The path as stored, without looking for a moved target.
    if (link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH) != S_OK) return std::wstring();
    wchar_t expanded[MAX_PATH + 1] = {};
    const DWORD got = ::ExpandEnvironmentStringsW(target, expanded, MAX_PATH);
    return got > 0 && got <= MAX_PATH ? std::wstring(expanded) : std::wstring(target);
}

// The folder of a shortcut, held from the drive's root down, and the
// shortcut's name in it; false when the folder cannot be held (a link on
// the way).
bool HoldShortcutFolder(const std::wstring& shortcut, CHeldFolder& folder, std::wstring& name) {
    const size_t cut = shortcut.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut + 1 >= shortcut.size()) return false;
    name = shortcut.substr(cut + 1);
    return folder.Open(shortcut.substr(0, cut));
}

}  // namespace

std::wstring ShortcutTarget(const std::wstring& shortcut) {
    CHeldFolder folder;
    std::wstring name;
    std::string bytes;
    if (!HoldShortcutFolder(shortcut, folder, name) ||
        ReadChildFile(folder, name, kShortcutLimit, bytes) != EntryKind::kPlainFile)
        return std::wstring();
    return ShortcutTargetOf(bytes);
}

// The shortcut is in a folder that the user's registry names: it is read,
// checked and deleted through one handle, opened in its folder held from the
// drive's root down.
Outcome RemoveShortcutTo(const std::wstring& shortcut, const std::wstring& viewer) {
    if (shortcut.empty() || ::GetFileAttributesW(shortcut.c_str()) == INVALID_FILE_ATTRIBUTES) return Outcome::kAbsent;
    CHeldFolder folder;
    std::wstring name;
    if (!HoldShortcutFolder(shortcut, folder, name)) return Outcome::kKept;
    EntryKind kind;
    UniqueFile file = OpenChildFile(folder, name, FILE_READ_DATA, kind);
    if (kind == EntryKind::kMissing) return Outcome::kAbsent;
    if (kind != EntryKind::kPlainFile) return Outcome::kKept;
    std::string bytes;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > static_cast<LONGLONG>(kShortcutLimit) ||
        !ReadWholeFile(file.get(), bytes))
        return Outcome::kKept;
    const std::wstring target = ShortcutTargetOf(bytes);
    if (target.empty() || ComparableFullPath(target) != ComparableFullPath(viewer)) return Outcome::kKept;
    if (FileExists(viewer)) return Outcome::kKept;
    if (!DeleteOnClose(file.get())) return Outcome::kFailed;
    file.reset();
    return IsGone(shortcut) ? Outcome::kRemoved : Outcome::kFailed;
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    const std::wstring fullA = ComparableFullPath(a), fullB = ComparableFullPath(b);
    return !fullA.empty() && fullA == fullB;
}

Outcome RemoveUninstallEntryOf(const std::wstring& folder) {
    std::wstring location;
    if (!ReadUserInstallLocation(location)) return Outcome::kAbsent;
    // The entry of another installation (the product installed elsewhere
    // since), or one without a location, stays.
    if (location.empty() || !SameFolder(location, folder)) return Outcome::kKept;
    return RemoveUninstallEntry() ? Outcome::kRemoved : Outcome::kFailed;
}

bool HasSettings(const std::wstring& dataFolder) {
    if (dataFolder.empty()) return false;
    const std::wstring settings = SettingsFileIn(dataFolder);
    return IsPlainFile(settings) && !PathHasLink(settings);
}

Outcome RemoveSettings(const std::wstring& dataFolder) {
    if (dataFolder.empty()) return Outcome::kAbsent;
    const std::wstring settings = SettingsFileIn(dataFolder);
    if (::GetFileAttributesW(settings.c_str()) == INVALID_FILE_ATTRIBUTES) return Outcome::kAbsent;
    if (!HasSettings(dataFolder)) return Outcome::kKept;
    const Outcome outcome = DeleteOwnFile(settings);
    // The folder was made for the settings; it goes when they were all it held.
    if (outcome == Outcome::kRemoved && !IsLink(dataFolder) && !PathHasLink(dataFolder))
        ::RemoveDirectoryW(dataFolder.c_str());
    return outcome;
}

std::wstring DesktopShortcutPath() {
    wchar_t desktop[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop)) ||
        !desktop[0] || IsSystemPlace(desktop))  // the user's registry names it: never a folder of the system
        return std::wstring();
    return std::wstring(desktop) + L"\\" + kShortcutName;
}

bool HasInstallation(const std::wstring& folder) {
    std::vector<PayloadItem> items;
    return ReadRecordedManifest(folder, items);
}

RemovalReport RemoveInstallation(const RemovalRequest& request,
                                 const std::function<void(const RemovalReport&)>& beforeOwnFile) {
    bool called = false;
    const auto callOnce = [&](const RemovalReport& report) {
        if (called) return;
        called = true;
        if (beforeOwnFile) beforeOwnFile(report);
    };
    try {
        CRemoval removal(request);
        removal.Log().Line("uninstall", "the installation in " + WideToUtf8(request.folder));
        const RemovalReport report = removal.Run(callOnce);
        removal.Log().Line("uninstall", !report.installation    ? "no installation there"
                                        : report.failed.empty() ? "removed"
                                                                : "incomplete: run the uninstaller again to finish");
        SaveSetupLog("uninstall", removal.Log().Text());
        return report;
    } catch (...) {
        // Out of memory at most: report that something stayed.
        RemovalReport report;
        report.installation = true;
        report.failed.push_back(request.folder);
        callOnce(report);
        return report;
    }
}

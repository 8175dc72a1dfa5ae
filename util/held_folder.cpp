#include "util/held_folder.h"

#include "util/failed_call.h"

#include <winternl.h>
#include <aclapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "util/path.h"
#include "util/restart_deletion.h"
#include "util/text.h"

namespace {

using QueryDirectoryFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                          FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);

// The native calls behind relative opens, renames and deletions; looked up
// once (ntdll is mapped into every process).
struct NativeApi {
    decltype(&::NtCreateFile) createFile = nullptr;
    decltype(&::NtSetInformationFile) setInformation = nullptr;
    QueryDirectoryFn queryDirectory = nullptr;

    NativeApi() {
        HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        if (!ntdll) return;
        createFile =
            reinterpret_cast<decltype(createFile)>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtCreateFile")));
        setInformation = reinterpret_cast<decltype(setInformation)>(
            reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtSetInformationFile")));
        queryDirectory = reinterpret_cast<decltype(queryDirectory)>(
            reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryDirectoryFile")));
    }
    bool Complete() const { return createFile && setInformation && queryDirectory; }
};

const NativeApi& Native() {
    static const NativeApi api;
    return api;
}

// Values of the native interface that the headers of some toolchains lack.
const ULONG kFileOpen = 1;
const ULONG kFileCreate = 2;
const ULONG kDirectoryFile = 0x1;
const ULONG kSynchronousIo = 0x20;
const ULONG kNonDirectoryFile = 0x40;
const ULONG kOpenForBackup = 0x4000;
const ULONG kOpenReparsePoint = 0x200000;
const ULONG kCaseInsensitive = 0x40;
const int kRenameClass = 10;        // FileRenameInformation
const int kDispositionClass = 13;   // FileDispositionInformation
const int kDirectoryInfoClass = 1;  // FileDirectoryInformation

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// One path component that names an entry of its folder and nothing else.
bool IsSingleName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    for (wchar_t c : name)
        if (IsSeparator(c) || c == L':' || c == L'*' || c == L'?' || c == L'<' || c == L'>' || c == L'"' || c < 0x20)
            return false;
    return true;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// The path the system has for an open entry, in DOS form; empty when it
// cannot tell (no such query before Vista).
std::wstring FinalPathOf(HANDLE entry) {
    static const auto query = reinterpret_cast<FinalPathFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (!query) return std::wstring();
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD got = query(entry, &path[0], static_cast<DWORD>(path.size()), 0);
        if (got == 0) return std::wstring();
        if (got < path.size()) {
            path.resize(got);
            if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
                path = L"\\\\" + path.substr(8);
            else if (path.compare(0, 4, L"\\\\?\\") == 0)
                path = path.substr(4);
            path = WithoutTrailingSeparators(path);
            return path;
        }
        path.assign(got + 1, L'\0');
    }
    return std::wstring();
}

// An entry opened relative to `parent` is that entry only if the system
// opened it under the parent's own path and its name (a link would have
// led elsewhere), and it carries no link attribute itself.
bool OpenedAsChild(const std::wstring& parentPath, HANDLE child, const std::wstring& name, bool wantFolder,
                   DWORD* links = nullptr, std::wstring* final = nullptr) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(child, &info)) return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
    if (((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != wantFolder) return false;
    if (links) *links = info.nNumberOfLinks;
    const std::wstring childPath = FinalPathOf(child);
    if (final) *final = childPath;
    if (parentPath.empty() && childPath.empty()) return true;  // nothing to compare with (XP)
    if (parentPath.empty() || childPath.empty()) return false;
    const std::wstring expected =
        parentPath + (IsSeparator(parentPath.back()) ? std::wstring() : std::wstring(L"\\")) + name;
    return EqualNoCase(childPath, expected);
}

// NtCreateFile relative to an open folder.
NTSTATUS OpenRelative(HANDLE parent, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, PSECURITY_DESCRIPTOR security, HANDLE& out) {
    out = nullptr;
    if (!Native().Complete()) return static_cast<NTSTATUS>(0xC0000002L);  // not implemented
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = parent;
    attributes.ObjectName = &text;
    attributes.Attributes = kCaseInsensitive;
    attributes.SecurityDescriptor = security;
    IO_STATUS_BLOCK status;
    return Native().createFile(&out, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                               disposition, options | kSynchronousIo | kOpenReparsePoint, nullptr, 0);
}

// Both handles are of the same file or folder.
bool SameEntry(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return ::GetFileInformationByHandle(a, &x) && ::GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

const ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;
const ULONG kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool DeleteTree(const CHeldFolder& folder);

}  // namespace

bool SplitRelative(const std::wstring& relative, std::vector<std::wstring>& parts) {
    parts.clear();
    if (relative.empty() || IsSeparator(relative[0]) || relative.find(L':') != std::wstring::npos) return false;
    size_t start = 0;
    for (size_t i = 0; i <= relative.size(); ++i) {
        if (i < relative.size() && !IsSeparator(relative[i])) continue;
        const std::wstring part = relative.substr(start, i - start);
        if (!IsSingleName(part)) return false;
        parts.push_back(part);
        start = i + 1;
    }
    return !parts.empty();
}

bool CHeldFolder::Open(const std::wstring& folder) {
    Close();
    std::wstring full = FullPath(folder);
    full = WithoutTrailingSeparators(full);
    if (full.empty()) return false;
    // The root ("C:\" or "\\server\share\") is opened by its path; every
    // level below relative to the one above.
    size_t rootEnd = 0;
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        rootEnd = 3;
    } else if (full.compare(0, 2, L"\\\\") == 0) {
        const size_t server = full.find(L'\\', 2);
        const size_t share = server == std::wstring::npos ? server : full.find(L'\\', server + 1);
        rootEnd = share == std::wstring::npos ? full.size() : share + 1;
    }
    if (rootEnd == 0) return false;
    std::wstring root = full.substr(0, rootEnd);
    if (!IsSeparator(root.back())) root += L'\\';
    m_handle.reset(::CreateFileW(root.c_str(), kFolderAccess, kHoldSharing | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!m_handle) return NoteFailedCall("CreateFileW", root);
    m_path = root;
    m_final = FinalPathOf(m_handle.get());
    std::vector<std::wstring> parts;
    if (full.size() > rootEnd && !SplitRelative(full.substr(rootEnd), parts)) {
        Close();
        return false;
    }
    for (const std::wstring& part : parts) {
        CHeldFolder child;
        if (!child.OpenChild(*this, part, false)) {
            Close();
            return false;
        }
        m_above.push_back(std::move(m_handle));
        m_handle = std::move(child.m_handle);
        m_path = child.m_path;
        m_final = child.m_final;
    }
    return true;
}

bool CHeldFolder::OpenChild(const CHeldFolder& parent, const std::wstring& name, bool create,
                            PSECURITY_DESCRIPTOR security, bool* created) {
    Close();
    if (created) *created = false;
    if (!parent.InPlace() || !IsSingleName(name)) return false;
    HANDLE opened = nullptr;
    NTSTATUS status = OpenRelative(parent.Handle(), name, kFolderAccess, kHoldSharing, kFileOpen,
                                   kDirectoryFile | kOpenForBackup, nullptr, opened);
    if (status < 0 && create) {
        status = OpenRelative(parent.Handle(), name, kFolderAccess, kHoldSharing, kFileCreate,
                              kDirectoryFile | kOpenForBackup, security, opened);
        if (status >= 0 && created) *created = true;
    }
    const std::wstring path = parent.m_path + (IsSeparator(parent.m_path.back()) ? L"" : L"\\") + name;
    if (status < 0) return NoteFailedNtCall("NtCreateFile", path, status);
    UniqueFile handle(opened);
    std::wstring final;
    if (!OpenedAsChild(parent.FinalPath(), handle.get(), name, true, nullptr, &final))
        return NoteRefusal("a link or a file stands where a folder was expected", path);
    m_handle = std::move(handle);
    m_final = final;
    m_path = path;
    return true;
}

bool CHeldFolder::Duplicate(const CHeldFolder& other) {
    Close();
    HANDLE copy = nullptr;
    if (!other.IsOpen() || !::DuplicateHandle(::GetCurrentProcess(), other.Handle(), ::GetCurrentProcess(), &copy, 0,
                                              FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    m_handle.reset(copy);
    m_path = other.m_path;
    m_final = other.m_final;
    return true;
}

bool CHeldFolder::InPlace() const {
    if (!m_handle) return false;
    UniqueFile now(::CreateFileW(m_path.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return now && SameEntry(now.get(), m_handle.get());
}

void CHeldFolder::Close() {
    m_handle.reset();
    while (!m_above.empty()) m_above.pop_back();  // deepest first
    m_path.clear();
    m_final.clear();
}

UniqueFile OpenChildFile(const CHeldFolder& folder, const std::wstring& name, DWORD access, EntryKind& kind) {
    kind = EntryKind::kFailed;
    if (!folder.InPlace() || !IsSingleName(name)) return UniqueFile();
    HANDLE opened = nullptr;
    const NTSTATUS status = OpenRelative(folder.Handle(), name, DELETE | FILE_READ_ATTRIBUTES | access, FILE_SHARE_READ,
                                         kFileOpen, kNonDirectoryFile, nullptr, opened);
    if (status < 0) {
        // No such name (or no such folder on the way); a folder of that name
        // answers "is a folder".
        const unsigned long code = static_cast<unsigned long>(status);
        if (code == 0xC0000034UL || code == 0xC000003AUL || code == 0xC000000FUL) kind = EntryKind::kMissing;
        if (code == 0xC00000BAUL) kind = EntryKind::kOther;
        if (kind == EntryKind::kFailed) NoteFailedNtCall("NtCreateFile", folder.Path() + L"\\" + name, status);
        if (kind == EntryKind::kOther)
            NoteRefusal("a folder stands where a file was expected", folder.Path() + L"\\" + name);
        return UniqueFile();
    }
    UniqueFile handle(opened);
    DWORD links = 0;
    if (!OpenedAsChild(folder.FinalPath(), handle.get(), name, false, &links) || links != 1) {
        kind = EntryKind::kOther;
        NoteRefusal("a link or a second name of a file stands there", folder.Path() + L"\\" + name);
        return UniqueFile();
    }
    kind = EntryKind::kPlainFile;
    return handle;
}

EntryKind InspectChild(const CHeldFolder& folder, const std::wstring& name) {
    if (!folder.InPlace() || !IsSingleName(name)) return EntryKind::kFailed;
    HANDLE opened = nullptr;
    const NTSTATUS status = OpenRelative(folder.Handle(), name, FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kFileOpen,
                                         kNonDirectoryFile, nullptr, opened);
    if (status < 0) {
        const unsigned long code = static_cast<unsigned long>(status);
        if (code == 0xC0000034UL || code == 0xC000003AUL || code == 0xC000000FUL) return EntryKind::kMissing;
        return code == 0xC00000BAUL ? EntryKind::kOther : EntryKind::kFailed;
    }
    UniqueFile handle(opened);
    DWORD links = 0;
    return OpenedAsChild(folder.FinalPath(), handle.get(), name, false, &links) && links == 1 ? EntryKind::kPlainFile
                                                                                              : EntryKind::kOther;
}

UniqueFile CreateChildFile(const CHeldFolder& folder, const std::wstring& name) {
    if (!folder.InPlace() || !IsSingleName(name)) return UniqueFile();
    HANDLE opened = nullptr;
    const NTSTATUS status =
        OpenRelative(folder.Handle(), name, GENERIC_WRITE | DELETE, 0, kFileCreate, kNonDirectoryFile, nullptr, opened);
    if (status < 0) {
        NoteFailedNtCall("NtCreateFile", folder.Path() + L"\\" + name, status);
        return UniqueFile();
    }
    return UniqueFile(opened);
}

EntryKind ReadChildFile(const CHeldFolder& folder, const std::wstring& name, size_t limit, std::string& bytes) {
    bytes.clear();
    EntryKind kind;
    UniqueFile file = OpenChildFile(folder, name, FILE_READ_DATA, kind);
    if (kind != EntryKind::kPlainFile) return kind;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > limit)
        return EntryKind::kFailed;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!::ReadFile(file.get(), &bytes[done], chunk, &got, nullptr) || got == 0) {
            bytes.clear();
            return EntryKind::kFailed;
        }
        done += got;
    }
    return EntryKind::kPlainFile;
}

bool WriteChildFile(const CHeldFolder& folder, const std::wstring& name, const std::string& bytes) {
    UniqueFile file = CreateChildFile(folder, name);
    if (!file) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            NoteFailedCall("WriteFile", folder.Path() + L"\\" + name);
            DeleteOnClose(file.get());
            return false;
        }
        done += written;
    }
    return true;
}

namespace {

// Deletes the file open as `file` (the child `name` of `folder`, opened with
// FILE_WRITE_ATTRIBUTES), read-only or not; one in use (a program runs from
// it) goes at restart with `atRestart`.
bool DeleteOpenFile(UniqueFile& file, const CHeldFolder& folder, const std::wstring& name, bool atRestart) {
    FILE_BASIC_INFO basic = {};
    if (::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
        ::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
    }
    if (DeleteOnClose(file.get())) {
        file.reset();
        return true;
    }
    file.reset();
    // By its path in the held folder, which cannot be renamed meanwhile.
    return atRestart && DeleteAtRestart(folder.Path() + L"\\" + name);
}

}  // namespace

bool DeleteChildFile(const CHeldFolder& folder, const std::wstring& name, bool atRestart) {
    EntryKind kind;
    UniqueFile file = OpenChildFile(folder, name, FILE_WRITE_ATTRIBUTES, kind);
    if (kind == EntryKind::kMissing) return true;
    return kind == EntryKind::kPlainFile && DeleteOpenFile(file, folder, name, atRestart);
}

bool MoveInto(HANDLE entry, const CHeldFolder& folder, const std::wstring& name) {
    if (!folder.InPlace() || !IsSingleName(name) || !Native().Complete()) return false;
    const size_t bytes = offsetof(FILE_RENAME_INFORMATION, FileName) + name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(bytes + sizeof(wchar_t), 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = folder.Handle();
    info->FileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.data(), name.size() * sizeof(wchar_t));
    IO_STATUS_BLOCK status;
    const NTSTATUS result = Native().setInformation(entry, &status, info, static_cast<ULONG>(buffer.size()),
                                                    static_cast<FILE_INFORMATION_CLASS>(kRenameClass));
    if (result < 0)
        return NoteFailedNtCall("NtSetInformationFile(FileRenameInformation)", folder.Path() + L"\\" + name, result);
    return true;
}

bool DeleteOnClose(HANDLE entry) {
    if (!Native().Complete()) return false;
    BOOLEAN remove = TRUE;
    IO_STATUS_BLOCK status;
    const NTSTATUS result = Native().setInformation(entry, &status, &remove, sizeof remove,
                                                    static_cast<FILE_INFORMATION_CLASS>(kDispositionClass));
    if (result < 0)
        return NoteFailedNtCall("NtSetInformationFile(FileDispositionInformation)", FinalPathOf(entry), result);
    return true;
}

bool RemoveEmptyChild(const CHeldFolder& folder, const std::wstring& name) {
    if (!folder.InPlace() || !IsSingleName(name)) return false;
    {
        CHeldFolder probe;
        if (!probe.OpenChild(folder, name, false) || !ChildNames(probe).empty()) return false;
    }
    HANDLE opened = nullptr;
    if (OpenRelative(folder.Handle(), name, DELETE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY, kHoldSharing,
                     kFileOpen, kDirectoryFile | kOpenForBackup, nullptr, opened) < 0)
        return false;
    UniqueFile handle(opened);
    // Checked again on this handle; a folder that is not empty by now
    // refuses the deletion.
    if (!OpenedAsChild(folder.FinalPath(), handle.get(), name, true)) return false;
    return DeleteOnClose(handle.get());
}

std::vector<std::wstring> ChildNames(const CHeldFolder& folder) {
    std::vector<std::wstring> names;
    if (!folder.InPlace() || !Native().Complete()) return names;
    // A fresh handle of the same folder (an empty name relative to it), so
    // that the listing starts at the beginning; else the held handle itself.
    HANDLE opened = nullptr;
    UniqueFile fresh;
    if (OpenRelative(folder.Handle(), std::wstring(), FILE_LIST_DIRECTORY, kHoldSharing | FILE_SHARE_DELETE, kFileOpen,
                     kDirectoryFile | kOpenForBackup, nullptr, opened) >= 0)
        fresh.reset(opened);
    const HANDLE listing = fresh ? fresh.get() : folder.Handle();
    std::vector<unsigned char> buffer(64 * 1024);
    for (BOOLEAN first = TRUE;; first = FALSE) {
        IO_STATUS_BLOCK status;
        const NTSTATUS result = Native().queryDirectory(
            listing, nullptr, nullptr, nullptr, &status, buffer.data(), static_cast<ULONG>(buffer.size()),
            static_cast<FILE_INFORMATION_CLASS>(kDirectoryInfoClass), FALSE, nullptr, first);
        if (result < 0) break;
        for (size_t offset = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(buffer.data() + offset);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") names.push_back(name);
            if (entry->NextEntryOffset == 0) break;
            offset += entry->NextEntryOffset;
        }
    }
    return names;
}

namespace {

bool DeleteTree(const CHeldFolder& folder) {
    bool all = true;
    for (const std::wstring& name : ChildNames(folder)) {
        EntryKind kind;
        UniqueFile file = OpenChildFile(folder, name, FILE_WRITE_ATTRIBUTES, kind);
        if (kind == EntryKind::kPlainFile) {
            all = DeleteOpenFile(file, folder, name, true) && all;
            continue;
        }
        CHeldFolder child;
        if (!child.OpenChild(folder, name, false)) {
            all = false;  // a link, or what cannot be opened, stays
            continue;
        }
        all = DeleteTree(child) && all;
        child.Close();
        all = RemoveEmptyChild(folder, name) && all;
    }
    return all;
}

}  // namespace

bool DeleteContents(const CHeldFolder& folder) { return folder.IsOpen() && DeleteTree(folder); }

bool TakeRightsOf(const CHeldFolder& folder, HANDLE file) {
    PSECURITY_DESCRIPTOR parentDescriptor = nullptr;
    if (::GetSecurityInfo(folder.Handle(), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, nullptr,
                          nullptr, nullptr, nullptr, &parentDescriptor) != ERROR_SUCCESS)
        return false;
    UniqueLocalMem ownedParent(parentDescriptor);
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PSECURITY_DESCRIPTOR inherited = nullptr;
    if (!::CreatePrivateObjectSecurityEx(parentDescriptor, nullptr, &inherited, nullptr, FALSE,
                                         SEF_DACL_AUTO_INHERIT | SEF_DEFAULT_OWNER_FROM_PARENT |
                                             SEF_DEFAULT_GROUP_FROM_PARENT | SEF_AVOID_PRIVILEGE_CHECK |
                                             SEF_AVOID_OWNER_CHECK,
                                         nullptr, &mapping))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    bool ok = ::GetSecurityDescriptorDacl(inherited, &present, &dacl, &defaulted) && present &&
              ::SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
    ::DestroyPrivateObjectSecurity(&inherited);
    return ok;
}

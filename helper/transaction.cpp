#include "helper/transaction.h"

#include <ntsecapi.h>

#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "util/md5.h"
#include "util/crc32.h"
#include "util/owned.h"
#include "util/path.h"

const wchar_t kStagingPrefix[] = L".qvstage-";

namespace {

// Inside the staging folder: the new files, what the commit moved aside,
// the list of the new files, and the two markers of the commit.
const wchar_t kNewFolder[] = L"\\new";
const wchar_t kOldFolder[] = L"\\old";
const wchar_t kNewList[] = L"\\new.lst";
const wchar_t kCommitting[] = L"\\committing";
const wchar_t kCommitted[] = L"\\committed";

std::wstring RandomHex() {
    unsigned char bytes[4] = {};
    if (!RtlGenRandom(bytes, sizeof bytes)) {
        const DWORD tick = ::GetTickCount() ^ ::GetCurrentThreadId();
        std::copy(reinterpret_cast<const unsigned char*>(&tick), reinterpret_cast<const unsigned char*>(&tick) + 4,
                  bytes);
    }
    wchar_t text[16];
    ::wsprintfW(text, L"%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

bool MakeParentOf(const std::wstring& path) {
    std::wstring folder, name;
    return SplitDirAndName(path, folder, name) && CreateDirectoryTree(folder);
}

bool Touch(const std::wstring& path) {
    UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// Moves a plain file within the volume; never a link, never over an entry.
bool MovePlainFile(const std::wstring& from, const std::wstring& to) {
    if (!IsPlainFile(from) || !MakeParentOf(to)) return false;
    return ::MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;
}

// Every file below `root`, as paths relative to it (links are not entered).
void RelativeFiles(const std::wstring& root, std::vector<std::wstring>& out) {
    PathList files;
    ListEntries(root, files, false, true);
    for (const std::wstring& file : files) out.push_back(file.substr(root.size() + 1));
}

// Undoes a commit: the new files go back into the staging folder, what was
// moved aside comes back. Works from what the folders hold, so that it also
// finishes the undo of a commit whose process was killed.
void UndoCommit(const std::wstring& folder, const std::wstring& stage, const std::vector<PayloadItem>& staged) {
    std::vector<std::wstring> newFiles;
    for (const PayloadItem& item : staged)
        if (!item.isFolder) newFiles.push_back(item.path);
    newFiles.push_back(kManifestName);
    for (const std::wstring& relative : newFiles) {
        const std::wstring staged = stage + kNewFolder + L"\\" + relative;
        const std::wstring placed = folder + L"\\" + relative;
        // Moved in already when its staged copy is gone.
        if (!FileExists(staged) && FileExists(placed)) MovePlainFile(placed, staged);
    }
    std::vector<std::wstring> aside;
    RelativeFiles(stage + kOldFolder, aside);
    for (const std::wstring& relative : aside) {
        const std::wstring placed = folder + L"\\" + relative;
        if (!FileExists(placed)) MovePlainFile(stage + kOldFolder + L"\\" + relative, placed);
    }
}

// What cannot be removed now (a file still in use) goes at the next restart,
// the folders with it, deepest first.
void RemoveNowOrAtRestart(const std::wstring& path) {
    if (DeletePath(path, true)) return;
    PathList folders;
    ListEntries(path, folders, true, true);
    std::sort(folders.begin(), folders.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : folders) ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Copies `in` to `out` while checking size and CRC-32 against the item; the
// MD5 for the manifest is computed on a second thread at the same time, so
// that it costs no time of its own on a machine with two cores.
bool CopyChecked(HANDLE in, HANDLE out, PayloadItem& item, std::vector<char>& buffer,
                 const CInstallTransaction::ByteProgress& progress) {
    std::vector<char> spare(buffer.size());
    CMd5 md5;
    std::uint32_t crc = 0;
    std::uint64_t copied = 0;
    std::future<void> hashing;
    char* reading = buffer.data();
    char* hashed = spare.data();
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in, reading, static_cast<DWORD>(buffer.size()), &got, nullptr)) break;
        if (hashing.valid()) hashing.get();
        if (got == 0) {
            item.md5 = md5.HexDigest();
            return copied == item.size && (!item.hasCrc || crc == item.crc);
        }
        copied += got;
        if (copied > item.size) break;  // grown since the extraction: not the archive's file
        std::swap(reading, hashed);
        hashing = std::async(std::launch::async, [&md5, hashed, got] { md5.Update(hashed, got); });
        crc = Crc32Update(crc, hashed, got);
        DWORD written = 0;
        if (!::WriteFile(out, hashed, got, &written, nullptr) || written != got) break;
        if (progress) progress(copied);
    }
    if (hashing.valid()) hashing.get();
    return false;
}

// A file moved in from the installer's private folder brings that folder's
// access list with it; it takes the installation folder's instead.
void InheritAccessFromFolder(const std::wstring& path) {
    ACL empty;
    if (!::InitializeAcl(&empty, sizeof empty, ACL_REVISION)) return;
    std::wstring copy = path;
    ::SetNamedSecurityInfoW(&copy[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &empty, nullptr);
}

// Reads a staged file once: its size and CRC-32 must be what the item says.
// Its MD5 is taken too unless the extraction already took it from the same
// bytes. `checked` counts the bytes read.
bool CheckStagedFile(const std::wstring& path, PayloadItem& item, std::vector<char>& buffer,
                     std::atomic<std::uint64_t>& checked, const std::function<void()>& afterChunk) {
    UniqueFile in(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) return false;
    CMd5 md5;
    std::uint32_t crc = 0;
    std::uint64_t read = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
        if (got == 0) break;
        read += got;
        if (read > item.size) return false;
        crc = Crc32Update(crc, buffer.data(), got);
        if (item.md5.empty()) md5.Update(buffer.data(), got);
        checked += got;
        if (afterChunk) afterChunk();
    }
    if (item.md5.empty()) item.md5 = md5.HexDigest();
    return read == item.size && (!item.hasCrc || crc == item.crc);
}

}  // namespace

CInstallTransaction::CInstallTransaction(std::wstring installFolder) : folder_(std::move(installFolder)) {
    while (folder_.size() > 3 && (folder_.back() == L'\\' || folder_.back() == L'/')) folder_.pop_back();
}

CInstallTransaction::~CInstallTransaction() {
    try {
        Rollback();
    } catch (...) {
    }
}

void CInstallTransaction::Recover(const std::wstring& installFolder) {
    if (installFolder.empty() || PathHasLink(installFolder)) return;
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW((installFolder + L"\\" + kStagingPrefix + L"*").c_str(), &data));
    if (!find) return;
    std::vector<std::wstring> stages;
    do {
        const std::wstring stage = installFolder + L"\\" + data.cFileName;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(stage)) stages.push_back(stage);
    } while (::FindNextFileW(find.get(), &data));
    find.reset();
    for (const std::wstring& stage : stages) {
        std::vector<PayloadItem> staged;
        if (FileExists(stage + kCommitting) && !FileExists(stage + kCommitted) &&
            ReadManifest(stage + kNewList, staged))
            UndoCommit(installFolder, stage, staged);
        RemoveNowOrAtRestart(stage);
    }
}

bool CInstallTransaction::Begin() {
    if (folder_.empty() || PathHasLink(folder_)) return false;
    if (FileExists(folder_) && !IsDirectoryPath(folder_)) return false;
    if (!FileExists(folder_)) {
        PathList prefixes;
        ListPathPrefixes(FullPath(folder_), prefixes);
        for (const std::wstring& prefix : prefixes) {
            if (prefix.size() <= 3 || FileExists(prefix)) continue;
            if (!::CreateDirectoryW(prefix.c_str(), nullptr)) return false;
            createdFolders_.push_back(prefix);
        }
        createdFolder_ = true;
    }
    for (int attempt = 0; attempt < 8 && stage_.empty(); ++attempt) {
        const std::wstring candidate = folder_ + L"\\" + kStagingPrefix + RandomHex();
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) stage_ = candidate;
    }
    if (stage_.empty()) return false;
    ::SetFileAttributesW(stage_.c_str(), FILE_ATTRIBUTE_HIDDEN);
    return ::CreateDirectoryW((stage_ + kNewFolder).c_str(), nullptr) &&
           ::CreateDirectoryW((stage_ + kOldFolder).c_str(), nullptr);
}

bool CInstallTransaction::StageFile(const std::wstring& source, const PayloadItem& item, std::vector<char>& buffer,
                                    const ByteProgress& progress) {
    if (stage_.empty() || !IsPlainFile(source) || PathHasLink(source)) return false;
    const std::wstring target = stage_ + kNewFolder + L"\\" + item.path;
    if (!MakeParentOf(target)) return false;
    UniqueFile in(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    UniqueFile out(
        ::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in || !out) return false;
    PayloadItem copied = item;
    if (!CopyChecked(in.get(), out.get(), copied, buffer, progress)) return false;
    FILETIME created, accessed, modified;
    if (::GetFileTime(in.get(), &created, &accessed, &modified)) ::SetFileTime(out.get(), nullptr, nullptr, &modified);
    out.reset();
    const DWORD attributes = ::GetFileAttributesW(source.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN))
        ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN);
    staged_.push_back(copied);
    return true;
}

bool CInstallTransaction::StageFiles(const std::wstring& payloadFolder, const std::vector<const PayloadItem*>& files,
                                     const ByteProgress& progress) {
    if (stage_.empty()) return false;
    // Moved where possible; files on another volume are copied (and checked
    // as they are copied).
    std::vector<PayloadItem> moved;
    std::vector<char> buffer(1 << 20);
    std::uint64_t copiedBytes = 0;
    for (const PayloadItem* item : files) {
        const std::wstring source = payloadFolder + L"\\" + item->path;
        const std::wstring target = stage_ + kNewFolder + L"\\" + item->path;
        if (!IsPlainFile(source) || PathHasLink(source)) return false;
        if (MakeParentOf(target) && ::MoveFileExW(source.c_str(), target.c_str(), 0)) {
            InheritAccessFromFolder(target);
            moved.push_back(*item);
            continue;
        }
        const std::uint64_t before = copiedBytes;
        if (!StageFile(source, *item, buffer, [&](std::uint64_t copied) {
                if (progress) progress(before + copied);
            }))
            return false;
        copiedBytes += item->size;
    }
    if (moved.empty()) return true;

    // Each moved file read once, two at a time; progress from this thread.
    std::atomic<std::uint64_t> checked{0};
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&](std::vector<char>& own, const std::function<void()>& afterChunk) {
        for (size_t index; !failed && (index = next++) < moved.size();)
            if (!CheckStagedFile(stage_ + kNewFolder + L"\\" + moved[index].path, moved[index], own, checked,
                                 afterChunk))
                failed = true;
    };
    std::vector<char> second(1 << 20);
    std::thread other([&] { work(second, nullptr); });
    work(buffer, [&] {
        if (progress) progress(copiedBytes + checked.load());
    });
    other.join();
    if (failed) return false;
    if (progress) progress(copiedBytes + checked.load());
    staged_.insert(staged_.end(), moved.begin(), moved.end());
    return true;
}

void CInstallTransaction::StageFolder(const std::wstring& relative) {
    PayloadItem folder;
    folder.path = relative;
    folder.isFolder = true;
    staged_.push_back(folder);
}

std::uint64_t CInstallTransaction::InstalledBytes() const {
    std::uint64_t total = 0;
    for (const PayloadItem& item : staged_) total += item.size;
    return total;
}

bool CInstallTransaction::CreateFolders() {
    for (const PayloadItem& item : staged_) {
        std::wstring folder = folder_ + L"\\" + item.path;
        if (!item.isFolder) {
            std::wstring name;
            if (!SplitDirAndName(folder, folder, name)) return false;
            while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
        }
        if (PathHasLink(folder)) return false;
        PathList prefixes;
        ListPathPrefixes(folder, prefixes);
        for (const std::wstring& prefix : prefixes) {
            if (prefix.size() <= folder_.size() || FileExists(prefix)) continue;
            if (!::CreateDirectoryW(prefix.c_str(), nullptr)) return false;
            createdFolders_.push_back(prefix);
        }
    }
    return true;
}

bool CInstallTransaction::MoveAside(const std::wstring& relative) {
    const std::wstring placed = folder_ + L"\\" + relative;
    const DWORD attributes = ::GetFileAttributesW(placed.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    // A folder, or a link, where a file of the installation belongs is not ours to move.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) || !IsPlainFile(placed)) return false;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(placed.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return MovePlainFile(placed, stage_ + kOldFolder + L"\\" + relative);
}

bool CInstallTransaction::MoveIn(const PayloadItem& item) {
    return MoveAside(item.path) && MovePlainFile(stage_ + kNewFolder + L"\\" + item.path, folder_ + L"\\" + item.path);
}

// Files of the previous installation that the new one does not have: moved
// aside too, but only while they are still exactly what was installed (a
// file changed since is the user's and stays).
void CInstallTransaction::RemoveOldFiles(const std::vector<PayloadItem>& old) {
    for (const PayloadItem& item : old) {
        if (item.isFolder || SameName(item.path, kManifestName)) continue;
        const bool kept = std::any_of(staged_.begin(), staged_.end(),
                                      [&item](const PayloadItem& now) { return SameName(now.path, item.path); });
        if (kept) continue;
        const std::wstring placed = folder_ + L"\\" + item.path;
        if (!IsPlainFile(placed) || item.md5.empty() || DigestFile(placed) != item.md5) continue;
        MoveAside(item.path);
    }
}

// Every folder the installation makes is listed, parents of files and of
// listed folders included, so that a later reinstall or uninstall removes
// them again once they are empty.
static void AddParentFolders(std::vector<PayloadItem>& items) {
    std::vector<std::wstring> folders;
    for (const PayloadItem& item : items) {
        std::wstring path = item.path;
        if (item.isFolder) folders.push_back(path);
        for (size_t slash; (slash = path.find_last_of(L"\\/")) != std::wstring::npos;) {
            path.resize(slash);
            folders.push_back(path);
        }
    }
    for (const std::wstring& folder : folders) {
        const bool listed = std::any_of(items.begin(), items.end(), [&folder](const PayloadItem& item) {
            return item.isFolder && SameName(item.path, folder);
        });
        if (listed || folder.empty()) continue;
        PayloadItem item;
        item.path = folder;
        item.isFolder = true;
        items.push_back(item);
    }
}

bool CInstallTransaction::CommitFiles() {
    if (stage_.empty() || committed_) return false;
    AddParentFolders(staged_);
    std::vector<PayloadItem> old;
    const std::wstring manifest = ManifestPath(folder_);
    if (IsPlainFile(manifest)) ReadManifest(manifest, old);
    if (!WriteManifest(stage_ + kNewList, staged_) ||
        !WriteManifest(stage_ + kNewFolder + L"\\" + kManifestName, staged_))
        return false;
    if (!Touch(stage_ + kCommitting)) return false;
    committing_ = true;
    bool ok = CreateFolders();
    for (const PayloadItem& item : staged_) {
        if (!ok) break;
        if (!item.isFolder) ok = MoveIn(item);
    }
    if (ok) {
        PayloadItem manifestItem;
        manifestItem.path = kManifestName;
        ok = MoveIn(manifestItem);
    }
    if (!ok) {
        Rollback();
        return false;
    }
    RemoveOldFiles(old);
    // Folders of the previous installation that are empty now.
    std::sort(old.begin(), old.end(),
              [](const PayloadItem& a, const PayloadItem& b) { return a.path.size() > b.path.size(); });
    for (const PayloadItem& item : old)
        if (item.isFolder && !IsLink(folder_ + L"\\" + item.path))
            ::RemoveDirectoryW((folder_ + L"\\" + item.path).c_str());
    return true;
}

void CInstallTransaction::Finish() {
    if (stage_.empty() || committed_) return;
    committed_ = true;
    Touch(stage_ + kCommitted);
    RemoveNowOrAtRestart(stage_);
    stage_.clear();
}

void CInstallTransaction::Rollback() {
    if (committed_ || stage_.empty()) return;
    if (committing_) UndoCommit(folder_, stage_, staged_);
    committing_ = false;
    RemoveNowOrAtRestart(stage_);
    stage_.clear();
    for (auto it = createdFolders_.rbegin(); it != createdFolders_.rend(); ++it) ::RemoveDirectoryW(it->c_str());
    createdFolders_.clear();
}

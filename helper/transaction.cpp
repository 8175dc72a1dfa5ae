#include "helper/transaction.h"

#include <ntsecapi.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "contract/install_folder.h"
#include "contract/private_folder.h"
#include "util/md5.h"
#include "util/crc32.h"
#include "util/owned.h"
#include "util/path.h"
#include "util/text.h"

const wchar_t kStagingPrefix[] = L".qvstage-";

namespace {

// Inside the staging folder: the new files, and what the commit moved aside.
const wchar_t kNewFolder[] = L"new";
const wchar_t kOldFolder[] = L"old";

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

// A relative file path split into the folder's components and the name.
bool SplitFile(const std::wstring& relative, std::vector<std::wstring>& folder, std::wstring& name) {
    if (!SplitRelative(relative, folder)) return false;
    name = folder.back();
    folder.pop_back();
    return true;
}

std::wstring Join(const std::wstring& base, const std::vector<std::wstring>& parts) {
    std::wstring path = base;
    for (const std::wstring& part : parts) path += L"\\" + part;
    return path;
}

// Opens the folder `parts` below `base` through handles, making missing
// levels when `create` (their full paths appended to `made`).
bool OpenBelow(const CHeldFolder& base, const std::vector<std::wstring>& parts, bool create, CHeldFolder& out,
               std::vector<std::wstring>* made = nullptr) {
    std::vector<CHeldFolder> chain;
    chain.reserve(parts.size());  // `current` points into it
    const CHeldFolder* current = &base;
    for (const std::wstring& part : parts) {
        chain.emplace_back();
        bool created = false;
        if (!chain.back().OpenChild(*current, part, create, nullptr, &created)) return false;
        if (created && made) made->push_back(chain.back().Path());
        current = &chain.back();
    }
    if (chain.empty()) return out.Duplicate(base);
    out = std::move(chain.back());
    return true;
}

// Reads an open file from its start: its size and CRC-32 must be what the
// item says. Its MD5 is taken too unless already known. `checked` counts
// the bytes read.
bool CheckOpenFile(HANDLE file, PayloadItem& item, std::vector<char>& buffer, std::atomic<std::uint64_t>& checked,
                   const std::function<void()>& afterChunk) {
    LARGE_INTEGER zero = {};
    if (!::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) return false;
    CMd5 md5;
    std::uint32_t crc = 0;
    std::uint64_t read = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
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

// The MD5 of an open file's content, from its start.
std::string DigestOpenFile(HANDLE file) {
    LARGE_INTEGER zero = {};
    if (!::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) return std::string();
    CMd5 md5;
    std::vector<char> buffer(1 << 16);
    DWORD got = 0;
    for (;;) {
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return std::string();
        if (got == 0) return md5.HexDigest();
        md5.Update(buffer.data(), got);
    }
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

// Copies an open payload file into the staging folder as a new file,
// checked as it goes, with the source's time and hidden attribute.
bool CopyInto(HANDLE in, const CHeldFolder& folder, const std::wstring& name, PayloadItem& item,
              std::vector<char>& buffer, const CInstallTransaction::ByteProgress& progress) {
    UniqueFile out = CreateChildFile(folder, name);
    if (!out || !CopyChecked(in, out.get(), item, buffer, progress)) {
        if (out) DeleteOnClose(out.get());
        return false;
    }
    FILE_BASIC_INFO source = {}, target = {};
    if (::GetFileInformationByHandleEx(in, FileBasicInfo, &source, sizeof source) &&
        ::GetFileInformationByHandleEx(out.get(), FileBasicInfo, &target, sizeof target)) {
        target.LastWriteTime = source.LastWriteTime;
        target.FileAttributes |= source.FileAttributes & FILE_ATTRIBUTE_HIDDEN;
        ::SetFileInformationByHandle(out.get(), FileBasicInfo, &target, sizeof target);
    }
    return true;
}

// Moves the file `relative` from below `from` to the same place below `to`
// (whose folders exist), never over an entry, never from or through a link.
// With `onlyIfMd5`, a file whose content is not that is left where it is
// (true). A missing file is nothing to move (true).
bool MoveBetween(const CHeldFolder& from, const CHeldFolder& to, const std::wstring& relative, bool createFolders,
                 bool takeRights, const std::string& onlyIfMd5 = std::string()) {
    std::vector<std::wstring> parts;
    std::wstring name;
    if (!SplitFile(relative, parts, name)) return false;
    CHeldFolder source, target;
    if (!OpenBelow(from, parts, false, source)) return !FileExists(Join(from.Path(), parts));
    EntryKind kind;
    UniqueFile file = OpenChildFile(source, name, FILE_READ_DATA | (takeRights ? READ_CONTROL | WRITE_DAC : 0), kind);
    if (kind == EntryKind::kMissing) return true;
    if (kind != EntryKind::kPlainFile) return false;
    if (!onlyIfMd5.empty() && DigestOpenFile(file.get()) != onlyIfMd5) return true;  // the user's by now
    if (!OpenBelow(to, parts, createFolders, target)) return false;
    if (!MoveInto(file.get(), target, name)) return false;
    // A file brings the access list of the folder it came from; placed in
    // the installation folder, it takes the one a new file there would have.
    if (takeRights) TakeRightsOf(target, file.get());
    return true;
}

// Whether the file `relative` below `base` exists (as anything).
bool Present(const CHeldFolder& base, const std::wstring& relative) {
    std::vector<std::wstring> parts;
    std::wstring name;
    if (!SplitFile(relative, parts, name)) return false;
    CHeldFolder folder;
    if (!OpenBelow(base, parts, false, folder)) return FileExists(Join(base.Path(), parts));
    EntryKind kind;
    OpenChildFile(folder, name, 0, kind);
    return kind != EntryKind::kMissing;
}

// Every folder the installation makes is listed, parents of files and of
// listed folders included, so that a later reinstall or uninstall removes
// them again once they are empty.
void AddParentFolders(std::vector<PayloadItem>& items) {
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

}  // namespace

CInstallTransaction::CInstallTransaction(std::wstring installFolder) : m_folder(std::move(installFolder)) {
    while (m_folder.size() > 3 && (m_folder.back() == L'\\' || m_folder.back() == L'/')) m_folder.pop_back();
}

CInstallTransaction::~CInstallTransaction() {
    try {
        Rollback();
    } catch (...) {
    }
}

void CInstallTransaction::ReleaseHandles() {
    m_new.Close();
    m_old.Close();
    m_stageFolder.Close();
    m_root.Close();
}

void CInstallTransaction::Abandon() {
    ReleaseHandles();
    m_stageName.clear();
    m_stage.clear();
    m_createdFolders.clear();
}

// A record that announces nothing to be undone needs no flush: lost, it
// costs at most a staging folder left over.
void CInstallTransaction::SaveRecord() {
    if (m_record.manifestMd5.empty() && m_record.stage.empty() && !m_record.committing)
        RemoveInstallRecord(m_folder);
    else
        WriteInstallRecord(m_record, false);
}

void CInstallTransaction::Recover() {
    ReservedFolders reserved;
    bool reservedKnown = false;
    for (const InstallRecord& record : ReadPendingInstallRecords()) {
        if (record.stage.empty()) continue;
        if (!reservedKnown) {
            reserved = CurrentReservedFolders(std::wstring());
            reservedKnown = true;
        }
        CInstallTransaction recovery(record.folder);
        recovery.m_record = record;
        recovery.m_stageName = record.stage;
        // Only a folder that an installation may have; the staging folder
        // must be there, inside it, and no link on the way.
        const bool usable = CheckInstallFolder(record.folder, reserved) == FolderVerdict::kAllowed &&
                            recovery.m_root.Open(record.folder) && recovery.OpenStage(false);
        if (usable && record.committing) {
            recovery.m_committing = true;
            recovery.Undo();
        }
        recovery.m_committing = false;
        const bool removed = usable && recovery.RemoveStage();
        recovery.m_record.committing = false;
        recovery.m_record.placed.clear();
        recovery.m_record.aside.clear();
        // A staging folder that is gone, or whose folder is no longer one an
        // installation may have, is forgotten; one that stays (a file in
        // use) is tried again next time.
        if (removed || !usable) recovery.m_record.stage.clear();
        recovery.SaveRecord();
        recovery.Abandon();
    }
}

bool CInstallTransaction::OpenRoot(bool create) {
    const std::wstring full = FullPath(m_folder);
    if (full.empty()) return false;
    if (create) {
        // Missing levels are made through handles, each below the one above.
        const size_t rootEnd = full.find(L'\\', full.compare(0, 2, L"\\\\") == 0 ? full.find(L'\\', 2) + 1 : 0);
        if (rootEnd == std::wstring::npos) return false;
        CHeldFolder top;
        std::vector<std::wstring> parts;
        if (!top.Open(full.substr(0, rootEnd + 1)) ||
            (full.size() > rootEnd + 1 && !SplitRelative(full.substr(rootEnd + 1), parts)))
            return false;
        CHeldFolder made;
        if (!OpenBelow(top, parts, true, made, &m_createdFolders)) return false;
    }
    return m_root.Open(full);
}

bool CInstallTransaction::OpenStage(bool create) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    UniqueLocalMem owned;
    if (create) {
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(CPrivateFolder::AccessListOfThisProcess().c_str(),
                                                                    SDDL_REVISION_1, &descriptor, nullptr))
            return false;
        owned.reset(descriptor);
    }
    bool created = false;
    if (!m_stageFolder.OpenChild(m_root, m_stageName, create, descriptor, &created) || (create && !created)) {
        m_stageFolder.Close();
        return false;
    }
    m_stage = m_stageFolder.Path();
    return m_new.OpenChild(m_stageFolder, kNewFolder, create) && m_old.OpenChild(m_stageFolder, kOldFolder, create);
}

bool CInstallTransaction::Begin() {
    if (m_folder.empty() || !m_stageName.empty()) return false;
    if (!OpenRoot(true)) return false;
    if (!ReadInstallRecord(m_folder, m_record)) {
        m_record = InstallRecord();
        m_record.folder = FullPath(m_folder);
    }
    for (int attempt = 0; attempt < 8 && m_stageName.empty(); ++attempt) {
        m_stageName = kStagingPrefix + RandomHex();
        m_record.stage = m_stageName;
        m_record.committing = false;
        m_record.placed.clear();
        m_record.aside.clear();
        // Recorded before it exists: a run killed from here on leaves a
        // record that names it (lost in a power cut, it leaves at most an
        // empty staging folder: no flush).
        if (!WriteInstallRecord(m_record, false)) {
            m_stageName.clear();
            return false;
        }
        if (!OpenStage(true)) {
            m_stageName.clear();
            m_new.Close();
            m_old.Close();
        }
    }
    return !m_stageName.empty();
}

bool CInstallTransaction::StageFile(const std::wstring& source, const PayloadItem& item, std::vector<char>& buffer,
                                    const ByteProgress& progress) {
    if (m_stageName.empty() || !IsPlainFile(source) || PathHasLink(source)) return false;
    std::vector<std::wstring> parts;
    std::wstring name;
    CHeldFolder target;
    if (!SplitFile(item.path, parts, name) || !OpenBelow(m_new, parts, true, target)) return false;
    UniqueFile in(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    PayloadItem copied = item;
    if (!in || !CopyInto(in.get(), target, name, copied, buffer, progress)) return false;
    m_staged.push_back(copied);
    return true;
}

bool CInstallTransaction::StageFiles(const std::wstring& payloadFolder, const std::vector<const PayloadItem*>& files,
                                     const ByteProgress& progress) {
    if (m_stageName.empty()) return false;
    CHeldFolder payload;
    if (!payload.Open(payloadFolder)) return false;
    // Moved where possible; files on another volume are copied (and checked
    // as they are copied).
    std::vector<PayloadItem> moved;
    std::vector<UniqueFile> movedFiles;
    std::vector<char> buffer(1 << 20);
    std::uint64_t copiedBytes = 0;
    for (const PayloadItem* item : files) {
        std::vector<std::wstring> parts;
        std::wstring name;
        CHeldFolder source, target;
        if (!SplitFile(item->path, parts, name) || !OpenBelow(payload, parts, false, source) ||
            !OpenBelow(m_new, parts, true, target))
            return false;
        EntryKind kind;
        UniqueFile file = OpenChildFile(source, name, FILE_READ_DATA, kind);
        if (kind != EntryKind::kPlainFile) return false;
        if (MoveInto(file.get(), target, name)) {
            moved.push_back(*item);
            movedFiles.push_back(std::move(file));
            continue;
        }
        const std::uint64_t before = copiedBytes;
        PayloadItem copied = *item;
        if (!CopyInto(file.get(), target, name, copied, buffer, [&](std::uint64_t bytes) {
                if (progress) progress(before + bytes);
            }))
            return false;
        m_staged.push_back(copied);
        copiedBytes += item->size;
    }
    if (moved.empty()) return true;

    // Each moved file read once through the handle it was moved by, two at
    // a time; progress from this thread.
    std::atomic<std::uint64_t> checked{0};
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&](std::vector<char>& own, const std::function<void()>& afterChunk) {
        for (size_t index; !failed && (index = next++) < moved.size();)
            if (!CheckOpenFile(movedFiles[index].get(), moved[index], own, checked, afterChunk)) failed = true;
    };
    std::vector<char> second(1 << 20);
    std::thread other([&] { work(second, nullptr); });
    work(buffer, [&] {
        if (progress) progress(copiedBytes + checked.load());
    });
    other.join();
    if (failed) return false;
    if (progress) progress(copiedBytes + checked.load());
    m_staged.insert(m_staged.end(), moved.begin(), moved.end());
    return true;
}

void CInstallTransaction::StageFolder(const std::wstring& relative) {
    PayloadItem folder;
    folder.path = relative;
    folder.isFolder = true;
    m_staged.push_back(folder);
}

std::uint64_t CInstallTransaction::InstalledBytes() const {
    std::uint64_t total = 0;
    for (const PayloadItem& item : m_staged) total += item.size;
    return total;
}

bool CInstallTransaction::CreateFolders() {
    for (const PayloadItem& item : m_staged) {
        std::vector<std::wstring> parts;
        std::wstring name;
        if (item.isFolder ? !SplitRelative(item.path, parts) : !SplitFile(item.path, parts, name)) return false;
        CHeldFolder folder;
        if (!OpenBelow(m_root, parts, true, folder, &m_createdFolders)) return false;
    }
    return true;
}

bool CInstallTransaction::MoveAside(const std::wstring& relative, const std::string& onlyIfMd5) {
    return MoveBetween(m_root, m_old, relative, true, false, onlyIfMd5);
}

bool CInstallTransaction::MoveIn(const std::wstring& relative) {
    return MoveAside(relative, std::string()) && MoveBetween(m_new, m_root, relative, false, true);
}

// The previous installation's manifest, read through a handle, counts only
// when it is the one the record names.
bool CInstallTransaction::ReadOldManifest(std::vector<PayloadItem>& old) {
    EntryKind kind;
    UniqueFile file = OpenChildFile(m_root, kManifestName, FILE_READ_DATA, kind);
    std::string text;
    if (kind != EntryKind::kPlainFile || !ReadWholeFile(file.get(), text)) return false;
    CMd5 md5;
    md5.Update(text.data(), text.size());
    return !m_record.manifestMd5.empty() && md5.HexDigest() == m_record.manifestMd5 && ParseManifest(text, old);
}

// Puts back what the record says the commit moved: the new files into the
// staging folder, then what was moved aside into place. Each step only
// where it is still to be done, so that it also finishes an undo that was
// itself cut short.
void CInstallTransaction::Undo() {
    for (auto it = m_record.placed.rbegin(); it != m_record.placed.rend(); ++it)
        if (!Present(m_new, *it)) MoveBetween(m_root, m_new, *it, true, false);
    for (const std::wstring& relative : m_record.aside)
        if (!Present(m_root, relative)) MoveBetween(m_old, m_root, relative, true, true);
}

bool CInstallTransaction::RemoveStage() {
    if (!m_stageFolder.IsOpen()) return false;
    m_new.Close();  // held folders cannot be removed
    m_old.Close();
    DeleteContents(m_stageFolder);
    m_stageFolder.Close();
    return RemoveEmptyChild(m_root, m_stageName);
}

bool CInstallTransaction::CommitFiles() {
    if (m_stageName.empty() || m_committed) return false;
    AddParentFolders(m_staged);
    std::vector<PayloadItem> old;
    ReadOldManifest(old);
    const std::string manifest = ManifestText(m_staged);
    {
        UniqueFile file = CreateChildFile(m_new, kManifestName);
        DWORD written = 0;
        if (!file ||
            !::WriteFile(file.get(), manifest.data(), static_cast<DWORD>(manifest.size()), &written, nullptr) ||
            written != manifest.size())
            return false;
    }
    CMd5 md5;
    md5.Update(manifest.data(), manifest.size());
    m_manifestMd5 = md5.HexDigest();

    // What moves, recorded before anything does.
    std::vector<std::wstring> placed;
    for (const PayloadItem& item : m_staged)
        if (!item.isFolder) placed.push_back(item.path);
    placed.push_back(kManifestName);
    std::vector<const PayloadItem*> dropped;  // the previous installation's files the new one has not
    for (const PayloadItem& item : old) {
        if (item.isFolder || item.md5.empty() || SameName(item.path, kManifestName)) continue;
        if (std::none_of(placed.begin(), placed.end(),
                         [&](const std::wstring& path) { return SameName(path, item.path); }))
            dropped.push_back(&item);
    }
    m_record.committing = true;
    m_record.placed = placed;
    m_record.aside = placed;
    for (const PayloadItem* item : dropped) m_record.aside.push_back(item->path);
    if (!WriteInstallRecord(m_record)) return false;
    m_committing = true;

    bool ok = CreateFolders();
    for (const std::wstring& relative : placed) {
        if (!ok) break;
        ok = MoveIn(relative);
    }
    if (!ok) {
        Rollback();
        return false;
    }
    // Files of the previous installation that the new one does not have:
    // moved aside too, but only while they are still exactly what was
    // installed (a file changed since is the user's and stays).
    for (const PayloadItem* item : dropped) MoveAside(item->path, item->md5);
    // Folders of the previous installation that are empty now, deepest first.
    std::sort(old.begin(), old.end(),
              [](const PayloadItem& a, const PayloadItem& b) { return a.path.size() > b.path.size(); });
    for (const PayloadItem& item : old) {
        std::vector<std::wstring> parts;
        std::wstring name;
        CHeldFolder parent;
        if (item.isFolder && SplitFile(item.path, parts, name) && OpenBelow(m_root, parts, false, parent))
            RemoveEmptyChild(parent, name);
    }
    return true;
}

void CInstallTransaction::Finish() {
    if (m_stageName.empty() || m_committed) return;
    m_committed = true;
    m_record.manifestMd5 = m_manifestMd5;
    m_record.committing = false;
    m_record.placed.clear();
    m_record.aside.clear();
    // On the disk before the previous installation's files go: a record
    // that still said the commit is under way would have the next
    // installation undo it, back to files that are no longer there.
    WriteInstallRecord(m_record);
    // What cannot go now (a file still in use) stays in the staging folder,
    // which the record names: the next installation removes it. Nothing is
    // left for the system to delete at restart by a path that a program of
    // the user could point elsewhere by then.
    if (RemoveStage()) {
        m_record.stage.clear();
        SaveRecord();
    }
    ReleaseHandles();
    m_stageName.clear();
    m_stage.clear();
}

void CInstallTransaction::Rollback() {
    if (m_committed || m_stageName.empty()) return;
    if (m_committing) Undo();
    m_committing = false;
    const bool removed = RemoveStage();
    m_record.committing = false;
    m_record.placed.clear();
    m_record.aside.clear();
    if (removed) m_record.stage.clear();
    SaveRecord();
    ReleaseHandles();
    m_stageName.clear();
    m_stage.clear();
    for (auto it = m_createdFolders.rbegin(); it != m_createdFolders.rend(); ++it) {
        const size_t slash = it->find_last_of(L'\\');
        CHeldFolder parent;
        if (slash != std::wstring::npos && parent.Open(it->substr(0, slash + 1)))
            RemoveEmptyChild(parent, it->substr(slash + 1));
    }
    m_createdFolders.clear();
}

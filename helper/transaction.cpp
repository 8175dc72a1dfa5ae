#include "helper/transaction.h"

#include <ntsecapi.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "contract/install_folder.h"
#include "contract/private_folder.h"
#include "helper/desktop_shortcut.h"
#include "sysenv/uninstall_entry.h"
#include "util/failed_call.h"
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

// The attributes an installed file carries over from the archive's.
const DWORD kCarriedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// Gives an open file the modification time and the attributes of `source`.
bool CarryAttributes(HANDLE file, const FILE_BASIC_INFO& source, const std::wstring& path) {
    FILE_BASIC_INFO target = {};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &target, sizeof target))
        return NoteFailedCall("GetFileInformationByHandleEx(FileBasicInfo)", path);
    target.LastWriteTime = source.LastWriteTime;
    target.FileAttributes =
        (target.FileAttributes & ~kCarriedAttributes) | (source.FileAttributes & kCarriedAttributes);
    if (target.FileAttributes == 0) target.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &target, sizeof target) ||
           NoteFailedCall("SetFileInformationByHandle(FileBasicInfo)", path);
}

// Copies an open payload file into the staging folder as a new file,
// checked as it goes, with the source's modification time and attributes.
bool CopyInto(HANDLE in, const CHeldFolder& folder, const std::wstring& name, PayloadItem& item,
              std::vector<char>& buffer, const CInstallTransaction::ByteProgress& progress) {
    UniqueFile out = CreateChildFile(folder, name);
    if (!out || !CopyChecked(in, out.get(), item, buffer, progress)) {
        if (out) DeleteOnClose(out.get());
        return false;
    }
    FILE_BASIC_INFO source = {};
    if (!::GetFileInformationByHandleEx(in, FileBasicInfo, &source, sizeof source))
        return NoteFailedCall("GetFileInformationByHandleEx(FileBasicInfo)", folder.Path() + L"\\" + name);
    return CarryAttributes(out.get(), source, folder.Path() + L"\\" + name);
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
    UniqueFile file = OpenChildFile(
        source, name, FILE_READ_DATA | (takeRights ? READ_CONTROL | WRITE_DAC | FILE_WRITE_ATTRIBUTES : 0), kind);
    if (kind == EntryKind::kMissing) return true;
    if (kind != EntryKind::kPlainFile) return false;
    if (!onlyIfMd5.empty() && DigestOpenFile(file.get()) != onlyIfMd5) return true;  // the user's by now
    if (!OpenBelow(to, parts, createFolders, target)) return false;
    FILE_BASIC_INFO before = {};
    if (takeRights && !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &before, sizeof before))
        return NoteFailedCall("GetFileInformationByHandleEx(FileBasicInfo)", source.Path() + L"\\" + name);
    if (!MoveInto(file.get(), target, name)) return false;
    // A file brings the access list of the folder it came from; placed in
    // the installation folder, it takes the one a new file there would have,
    // and keeps its attributes and time (which a new access list may reset).
    if (takeRights) {
        TakeRightsOf(target, file.get());
        CarryAttributes(file.get(), before, target.Path() + L"\\" + name);
    }
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

// Journal lines of the file steps: "file\t<relative path>" and
// "folder\t<path>" (relative to the installation folder, or full for the
// folders on the way to it).
const char kFileLine[] = "file\t";
const char kFolderLine[] = "folder\t";

std::vector<std::wstring> LinesWith(const JournalEntry& entry, const char* prefix) {
    std::vector<std::wstring> paths;
    const size_t length = std::strlen(prefix);
    for (const std::string& line : entry.lines)
        if (line.compare(0, length, prefix) == 0) paths.push_back(Utf8ToWide(line.substr(length)));
    return paths;
}

// Folders are removed deepest first.
void SortDeepestFirst(std::vector<std::wstring>& paths) {
    std::stable_sort(paths.begin(), paths.end(),
                     [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
}

}  // namespace

CInstallTransaction::CInstallTransaction(std::wstring installFolder) : m_folder(std::move(installFolder)) {
    m_folder = WithoutTrailingSeparators(m_folder);
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
    m_record.journal.clear();
}

// A record that announces nothing to be undone needs no flush: lost, it
// costs at most a staging folder left over.
bool CInstallTransaction::SaveRecord(bool flush) {
    if (m_record.manifestMd5.empty() && m_record.stage.empty() && m_record.journal.empty()) {
        RemoveInstallRecord(m_folder);
        return true;
    }
    return WriteInstallRecord(m_record, flush) ||
           NoteFailedCall("RegSetValueExW", L"the install record of " + m_record.folder);
}

void CInstallTransaction::Recover(CStepLog* log) {
    ReservedFolders reserved;
    bool reservedKnown = false;
    for (const InstallRecord& record : ReadPendingInstallRecords()) {
        if (!reservedKnown) {
            reserved = CurrentReservedFolders(std::wstring());
            reservedKnown = true;
        }
        CInstallTransaction recovery(record.folder);
        recovery.m_record = record;
        recovery.m_stageName = record.stage;
        // Files are touched only in a folder that an installation may have,
        // with the staging folder there, inside it, and no link on the way.
        const bool usable = CheckInstallFolder(record.folder, reserved) == FolderVerdict::kAllowed &&
                            recovery.m_root.Open(record.folder) && (record.stage.empty() || recovery.OpenStage(false));
        if (log) log->Line("recover", "an unfinished installation into " + WideToUtf8(record.folder));
        while (!recovery.m_record.journal.empty()) {
            const JournalEntry entry = recovery.m_record.journal.back();
            const bool touchesFiles = entry.step != "entry" && entry.step != "shortcut";
            ClearFailedCall();
            const bool undone = (touchesFiles && !usable) || recovery.Undo(entry);
            if (log) {
                if (!undone)
                    log->Failure("recover " + entry.step, "rollback failed", LastFailedCall());
                else
                    log->Line("recover " + entry.step,
                              touchesFiles && !usable
                                  ? "skipped: the folder is gone or not one an installation may have"
                                  : "rolled back");
            }
            recovery.m_record.journal.pop_back();
            recovery.SaveRecord(true);
        }
        // A staging folder that is gone, or whose folder is no longer one an
        // installation may have, is forgotten; one that stays (a file in
        // use) is tried again next time.
        if (!usable || recovery.m_record.stage.empty() || recovery.RemoveStage()) recovery.m_record.stage.clear();
        recovery.SaveRecord(false);
        recovery.Abandon();
    }
}

bool CInstallTransaction::OpenRoot(bool create) {
    const std::wstring full = FullPath(m_folder);
    if (full.empty()) return NoteRefusal("no full path", m_folder);
    if (create) {
        // Missing levels are made through handles, each below the one above,
        // once the journal names them.
        const size_t rootEnd = full.find(L'\\', full.compare(0, 2, L"\\\\") == 0 ? full.find(L'\\', 2) + 1 : 0);
        if (rootEnd == std::wstring::npos) return NoteRefusal("no drive or share", full);
        CHeldFolder top;
        std::vector<std::wstring> parts;
        if (!top.Open(full.substr(0, rootEnd + 1)) ||
            (full.size() > rootEnd + 1 && !SplitRelative(full.substr(rootEnd + 1), parts)))
            return false;
        JournalEntry& stage = m_record.journal.back();
        CHeldFolder level;
        level.Duplicate(top);
        for (size_t i = 0; i < parts.size(); ++i) {
            CHeldFolder next;
            if (next.OpenChild(level, parts[i], false)) {
                level = std::move(next);
                continue;
            }
            std::wstring path = level.Path();
            if (!path.empty() && path.back() == L'\\') path.pop_back();
            for (size_t j = i; j < parts.size(); ++j) {
                path += L"\\" + parts[j];
                stage.lines.push_back(kFolderLine + WideToUtf8(path));
            }
            if (!SaveRecord(true)) return false;
            CHeldFolder made;
            if (!OpenBelow(level, std::vector<std::wstring>(parts.begin() + i, parts.end()), true, made)) return false;
            break;
        }
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
    if (m_folder.empty() || !m_stageName.empty()) return NoteRefusal("begun twice or no folder", m_folder);
    if (!ReadInstallRecord(m_folder, m_record)) {
        m_record = InstallRecord();
        m_record.folder = FullPath(m_folder);
    }
    m_record.journal.clear();
    m_record.journal.push_back(JournalEntry{"stage", {}});
    if (!OpenRoot(true)) return false;
    for (int attempt = 0; attempt < 8 && m_stageName.empty(); ++attempt) {
        m_stageName = kStagingPrefix + RandomHex();
        m_record.stage = m_stageName;
        // Recorded before it exists: a run killed from here on leaves a
        // record that names it.
        if (!SaveRecord(true)) {
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

    // A file that the extraction checked as it wrote it (size and CRC-32
    // against the archive) and digested once it was closed comes with its
    // MD5; moved within the volume, its content is what was checked, so only
    // its size is confirmed, through the handle it was moved by. Any other
    // is read once through that handle, two at a time.
    std::vector<PayloadItem> unread;
    std::vector<UniqueFile> unreadFiles;
    std::uint64_t confirmedBytes = 0;
    for (size_t index = 0; index < moved.size(); ++index) {
        if (moved[index].md5.empty()) {
            unread.push_back(moved[index]);
            unreadFiles.push_back(std::move(movedFiles[index]));
            continue;
        }
        LARGE_INTEGER size = {};
        if (!::GetFileSizeEx(movedFiles[index].get(), &size) ||
            static_cast<std::uint64_t>(size.QuadPart) != moved[index].size)
            return NoteRefusal("not the size the archive states", m_new.Path() + L"\\" + moved[index].path);
        m_staged.push_back(moved[index]);
        confirmedBytes += moved[index].size;
    }
    copiedBytes += confirmedBytes;
    if (progress) progress(copiedBytes);
    moved.swap(unread);
    movedFiles.swap(unreadFiles);
    if (moved.empty()) return true;

    // Each file still unread is read once through the handle it was moved
    // by, two at a time; progress from this thread.
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

// Puts back what one step did, each part only where it is still to be done,
// so that it also finishes an undo that was itself cut short.
bool CInstallTransaction::Undo(const JournalEntry& entry) {
    bool ok = true;
    if (entry.step == "stage") {
        if (!m_stageName.empty()) {
            if (RemoveStage()) {
                m_record.stage.clear();
            } else {
                ok = false;
            }
        }
        std::vector<std::wstring> made = LinesWith(entry, kFolderLine);
        SortDeepestFirst(made);
        m_root.Close();
        for (const std::wstring& folder : made) {
            const size_t slash = folder.find_last_of(L'\\');
            CHeldFolder parent;
            if (slash != std::wstring::npos && parent.Open(folder.substr(0, slash + 1)))
                RemoveEmptyChild(parent, folder.substr(slash + 1));
        }
    } else if (entry.step == "aside") {
        for (const std::wstring& relative : LinesWith(entry, kFileLine))
            if (!Present(m_root, relative)) ok = MoveBetween(m_old, m_root, relative, true, true) && ok;
    } else if (entry.step == "place") {
        std::vector<std::wstring> files = LinesWith(entry, kFileLine);
        for (auto it = files.rbegin(); it != files.rend(); ++it)
            if (!Present(m_new, *it)) ok = MoveBetween(m_root, m_new, *it, true, false) && ok;
        std::vector<std::wstring> made = LinesWith(entry, kFolderLine);
        SortDeepestFirst(made);
        for (const std::wstring& folder : made) {
            std::vector<std::wstring> parts;
            std::wstring name;
            CHeldFolder parent;
            if (SplitFile(folder, parts, name) && OpenBelow(m_root, parts, false, parent))
                RemoveEmptyChild(parent, name);
        }
    } else if (entry.step == "manifest") {
        // Only the manifest this installation wrote.
        EntryKind kind;
        UniqueFile file = OpenChildFile(m_root, kManifestName, FILE_READ_DATA | FILE_WRITE_ATTRIBUTES, kind);
        if (kind == EntryKind::kPlainFile && !entry.lines.empty() && DigestOpenFile(file.get()) == entry.lines[0])
            ok = DeleteOnClose(file.get());
    } else if (entry.step == "entry") {
        CUninstallEntrySnapshot snapshot;
        ok = snapshot.FromLines(entry.lines) ? snapshot.Restore() : NoteRefusal("a damaged journal entry", m_folder);
    } else if (entry.step == "shortcut") {
        ok = CDesktopShortcut::RestoreFrom(entry.lines);
    }
    return ok;
}

bool CInstallTransaction::Journal(const std::string& step, std::vector<std::string> lines) {
    m_record.journal.push_back(JournalEntry{step, std::move(lines)});
    if (SaveRecord(true)) return true;
    m_record.journal.pop_back();
    return false;
}

bool CInstallTransaction::UndoStep(const std::string& step) {
    if (m_record.journal.empty() || m_record.journal.back().step != step) return true;
    const bool ok = Undo(m_record.journal.back());
    m_record.journal.pop_back();
    if (step == "stage") {
        ReleaseHandles();
        m_stageName.clear();
        m_stage.clear();
    }
    SaveRecord(!m_record.journal.empty());
    return ok;
}

std::vector<std::wstring> CInstallTransaction::Touched(const std::string& step) const {
    std::vector<std::wstring> paths;
    for (auto it = m_record.journal.rbegin(); it != m_record.journal.rend(); ++it) {
        if (it->step != step) continue;
        if (step == "stage" && !m_stage.empty()) paths.push_back(m_stage);
        if (step == "manifest") paths.push_back(m_folder + L"\\" + kManifestName);
        for (const std::wstring& folder : LinesWith(*it, kFolderLine))
            paths.push_back(step == "stage" ? folder : m_folder + L"\\" + folder);
        for (const std::wstring& file : LinesWith(*it, kFileLine)) paths.push_back(m_folder + L"\\" + file);
        break;
    }
    return paths;
}

bool CInstallTransaction::RemoveStage() {
    if (!m_stageFolder.IsOpen()) return false;
    m_new.Close();  // held folders cannot be removed
    m_old.Close();
    DeleteContents(m_stageFolder);
    m_stageFolder.Close();
    return RemoveEmptyChild(m_root, m_stageName);
}

bool CInstallTransaction::MoveAside() {
    if (m_stageName.empty() || m_finished) return NoteRefusal("nothing staged", m_folder);
    AddParentFolders(m_staged);
    m_previous.clear();
    // The previous installation's files, as its recorded manifest lists them.
    ReadRecordedManifest(m_root, m_previous);
    m_placed.clear();
    for (const PayloadItem& item : m_staged)
        if (!item.isFolder) m_placed.push_back(item.path);
    m_placed.push_back(kManifestName);
    m_dropped.clear();
    for (const PayloadItem& item : m_previous) {
        if (item.isFolder || item.md5.empty() || SameName(item.path, kManifestName)) continue;
        if (std::none_of(m_placed.begin(), m_placed.end(),
                         [&](const std::wstring& path) { return SameName(path, item.path); }))
            m_dropped.push_back(&item);
    }
    std::vector<std::string> lines;
    for (const std::wstring& path : m_placed) lines.push_back(kFileLine + WideToUtf8(path));
    for (const PayloadItem* item : m_dropped) lines.push_back(kFileLine + WideToUtf8(item->path));
    if (!Journal("aside", std::move(lines))) return false;
    // What the new installation replaces goes whatever it holds; a file of
    // the previous one that it drops only while it is exactly what was
    // installed (a file changed since is the user's and stays).
    for (const std::wstring& relative : m_placed)
        if (!MoveBetween(m_root, m_old, relative, true, false)) return false;
    for (const PayloadItem* item : m_dropped)
        if (!MoveBetween(m_root, m_old, item->path, true, false, item->md5)) return false;
    return true;
}

bool CInstallTransaction::Place() {
    if (m_stageName.empty() || m_finished) return NoteRefusal("nothing staged", m_folder);
    // The folders that are still to be made, each named before it is.
    std::vector<std::string> lines;
    std::vector<std::wstring> toMake;
    for (const PayloadItem& item : m_staged) {
        if (!item.isFolder) continue;
        std::vector<std::wstring> parts;
        CHeldFolder folder;
        if (!SplitRelative(item.path, parts)) return NoteRefusal("a path that leaves the folder", item.path);
        if (!OpenBelow(m_root, parts, false, folder)) {
            toMake.push_back(item.path);
            lines.push_back(kFolderLine + WideToUtf8(item.path));
        }
    }
    for (const std::wstring& path : m_placed)
        if (!SameName(path, kManifestName)) lines.push_back(kFileLine + WideToUtf8(path));
    if (!Journal("place", std::move(lines))) return false;
    // Parents first: the list is sorted shallowest first.
    std::stable_sort(toMake.begin(), toMake.end(),
                     [](const std::wstring& a, const std::wstring& b) { return a.size() < b.size(); });
    for (const std::wstring& relative : toMake) {
        std::vector<std::wstring> parts;
        CHeldFolder folder;
        if (!SplitRelative(relative, parts) || !OpenBelow(m_root, parts, true, folder)) return false;
    }
    for (const std::wstring& relative : m_placed)
        if (!SameName(relative, kManifestName) && !MoveBetween(m_new, m_root, relative, false, true)) return false;
    return true;
}

bool CInstallTransaction::WriteManifest() {
    if (m_stageName.empty() || m_finished) return NoteRefusal("nothing staged", m_folder);
    const std::string manifest = ManifestText(m_staged);
    CMd5 md5;
    md5.Update(manifest.data(), manifest.size());
    m_manifestMd5 = md5.HexDigest();
    if (!Journal("manifest", {m_manifestMd5})) return false;
    return WriteChildFile(m_root, kManifestName, manifest);
}

bool CInstallTransaction::CommitFiles() {
    if (MoveAside() && Place() && WriteManifest()) return true;
    Rollback();
    return false;
}

void CInstallTransaction::Finish() {
    if (m_stageName.empty() || m_finished) return;
    m_finished = true;
    m_record.manifestMd5 = m_manifestMd5;
    m_record.journal.clear();
    // On the disk before the previous installation's files go: a journal
    // that still held the steps would have the next installation undo them,
    // back to files that are no longer there.
    SaveRecord(true);
    // Folders of the previous installation that are empty now, deepest first.
    std::sort(m_previous.begin(), m_previous.end(),
              [](const PayloadItem& a, const PayloadItem& b) { return a.path.size() > b.path.size(); });
    for (const PayloadItem& item : m_previous) {
        std::vector<std::wstring> parts;
        std::wstring name;
        CHeldFolder parent;
        if (item.isFolder && SplitFile(item.path, parts, name) && OpenBelow(m_root, parts, false, parent))
            RemoveEmptyChild(parent, name);
    }
    // What cannot go now (a file still in use) stays in the staging folder,
    // which the record names: the next installation removes it. Nothing is
    // left for the system to delete at restart by a path that a program of
    // the user could point elsewhere by then.
    if (RemoveStage()) {
        m_record.stage.clear();
        SaveRecord(false);
    }
    ReleaseHandles();
    m_stageName.clear();
    m_stage.clear();
}

void CInstallTransaction::Rollback() {
    if (m_finished) return;
    while (!m_record.journal.empty()) UndoStep(m_record.journal.back().step);
    ReleaseHandles();
    m_stageName.clear();
    m_stage.clear();
}

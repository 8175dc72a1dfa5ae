// ImgKit.dll: installs the viewer from the extracted payload into the
// installation folder on a thread of its own, reporting progress in percent.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "helper/desktop_shortcut.h"
#include "helper/transaction.h"
#include "contract/payload_items.h"
#include "contract/install_record.h"
#include "sysenv/uninstall_entry.h"
#include "sysenv/user_folders.h"
#include "util/step_list.h"
#include "contract/setup_viewer_api.h"
#include "util/com_ptr.h"
#include "util/crc32.h"
#include "util/owned.h"
#include "util/path.h"
#include "util/text.h"

namespace {

const wchar_t kProductName[] = QV_PRODUCT_NAME;
const wchar_t kViewerExe[] = QV_VIEWER_EXE;
const wchar_t kUninstallerExe[] = QV_UNINSTALLER_EXE;

// The helper itself is part of the payload but not of the installation.
const wchar_t kHelperName[] = QV_HELPER_DLL;

struct Job {
    std::wstring payloadFolder;
    std::wstring installFolder;
    int32_t flags = 0;
    QvIntCallback status{};
    QvIntCallback progress{};

    void Status(int32_t code) const {
        if (status.invoke) status.invoke(status.context, code);
    }
    void Progress(int32_t percent) const {
        if (progress.invoke) progress.invoke(progress.context, percent);
    }
};

// Reports the share of bytes copied as whole percents in [0, 95], each one
// passed on the way (so that a page reacting to one value, such as 50, sees
// it whatever the sizes), never falling back and never beyond 95; the last
// points are for the shortcut and the uninstall entry.
class CPercentProgress {
public:
    CPercentProgress(const Job& job, unsigned long long total) : m_job(job), m_total(total) {}
    void Advance(unsigned long long copiedInAll) {
        if (copiedInAll > m_total) copiedInAll = m_total;
        const int percent = m_total == 0 ? 95 : static_cast<int>(copiedInAll * 95 / m_total);
        while (m_last < percent) m_job.Progress(++m_last);
    }

private:
    const Job& m_job;
    unsigned long long m_total;
    int m_last = 0;
};

bool IsHelperItself(const PayloadItem& item) { return !item.isFolder && SameName(item.path, kHelperName); }

// Files of the payload that the installation does not take: the helper
// itself and the list of digests.
bool IsNotInstalled(const PayloadItem& item) {
    return IsHelperItself(item) || (!item.isFolder && SameName(item.path, QV_PAYLOAD_CHECKSUMS));
}

// The payload's list of digests ("<md5>  <name>" lines, made when the payload
// was built) gives the manifest the digests the item list lacks (the
// extraction digests every file it writes) without reading the files for
// them; it counts only while it is itself what the archive holds. Files
// neither names are digested while they are checked.
void TakeListedDigests(const std::wstring& payloadFolder, std::vector<PayloadItem>& items) {
    const auto list = std::find_if(items.begin(), items.end(), [](const PayloadItem& item) {
        return !item.isFolder && SameName(item.path, QV_PAYLOAD_CHECKSUMS);
    });
    if (list == items.end() || !list->hasCrc || list->size > (1u << 20)) return;
    const std::wstring path = payloadFolder + L"\\" + list->path;
    if (!IsPlainFile(path)) return;
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text(static_cast<size_t>(list->size), '\0');
    DWORD got = 0;
    if (!file || (!text.empty() && !::ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr)) ||
        got != text.size() || Crc32Update(0, text.data(), text.size()) != list->crc)
        return;
    const std::vector<ListedDigest> listed = ParseDigestList(text);
    for (PayloadItem& item : items)
        if (!item.isFolder && item.md5.empty()) item.md5 = ListedDigestOf(listed, item.path);
}

BOOL CALLBACK PostQuitToInstaller(HWND window, LPARAM) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t cls[64] = {};
    if (process == ::GetCurrentProcessId() && ::GetClassNameW(window, cls, 64) &&
        ::lstrcmpW(cls, QV_INSTALLER_WINDOW_CLASS) == 0)
        ::PostMessageW(window, QV_WM_INSTALL_QUIT, 0, 0);
    return TRUE;
}

// The viewer could not be installed: tell the user, then let the installer end.
void FailInstallation(const Job& job, int32_t status) {
    job.Status(status);
    ::MessageBoxW(nullptr, L"\u5b89\u88c5\u5931\u8d25", kProductName, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    ::EnumWindows(PostQuitToInstaller, 0);
}

// Installs the payload's items into the installation folder, all or nothing,
// as a list of steps: staged and checked first, then the previous files
// moved aside, the new ones placed, the manifest, the uninstall entry and the
// shortcut (whose failure is only a warning), and last the removal of what
// was moved aside. A failed step has every step before it undone, last first,
// which leaves the previous installation (files, entry, shortcut) as it was.
// Each step journals its undo before it acts; a killed run is undone from
// the journal by the next one. Every step goes to the log.
int32_t Install(const Job& job, CStepLog& log) {
    job.Progress(0);
    log.Line("install", "from " + WideToUtf8(job.payloadFolder) + " into " + WideToUtf8(job.installFolder));
    // Exactly the items the installer extracted, never anything else that
    // may lie in the payload folder.
    std::vector<PayloadItem> items;
    if (!ReadPayloadItems(PayloadItemListPath(job.payloadFolder), items)) {
        log.Line("install", "no item list beside the payload");
        return QV_SETUP_NO_PAYLOAD;
    }
    TakeListedDigests(job.payloadFolder, items);
    std::vector<const PayloadItem*> files, folders;
    bool hasViewer = false, hasUninstaller = false;
    unsigned long long total = 0;
    for (const PayloadItem& item : items) {
        if (IsNotInstalled(item)) continue;
        (item.isFolder ? folders : files).push_back(&item);
        total += item.isFolder ? 0 : item.size;
        if (!item.isFolder && SameName(item.path, kViewerExe)) hasViewer = true;
        if (!item.isFolder && SameName(item.path, kUninstallerExe)) hasUninstaller = true;
    }
    if (!hasViewer) {
        log.Line("install", "the payload holds no viewer");
        return QV_SETUP_NO_PAYLOAD;
    }

    // What an earlier installation killed in the middle left behind, as the
    // protected journal says (never what a folder happens to hold).
    CInstallTransaction::Recover(&log);
    CInstallTransaction transaction(job.installFolder);
    CPercentProgress progress(job, total);
    const std::wstring viewer = job.installFolder + L"\\" + kViewerExe;
    CDesktopShortcut shortcut;
    int32_t failure = QV_SETUP_COPY_FAILED;
    std::wstring removedStage;  // what the last step removes, for the log
    auto undo = [&transaction](const char* step) {
        return [&transaction, step] { return transaction.UndoStep(step); };
    };
    auto touched = [&transaction](const char* step) {
        return [&transaction, step] { return transaction.Touched(step); };
    };

    CStepList steps(log);
    steps.Add(
        "stage",
        [&] {
            if (!transaction.Begin()) {
                failure = QV_SETUP_CANNOT_CREATE_FOLDER;
                return false;
            }
            for (const PayloadItem* folder : folders) transaction.StageFolder(folder->path);
            if (!transaction.StageFiles(job.payloadFolder, files,
                                        [&](std::uint64_t bytes) { progress.Advance(bytes); }))
                return false;
            progress.Advance(total);
            return true;
        },
        undo("stage"), touched("stage"));
    steps.Add(
        "aside", [&] { return transaction.MoveAside(); }, undo("aside"), touched("aside"));
    steps.Add(
        "place", [&] { return transaction.Place(); }, undo("place"), touched("place"));
    steps.Add(
        "manifest",
        [&] {
            if (!transaction.WriteManifest()) return false;
            job.Progress(96);
            return true;
        },
        undo("manifest"), touched("manifest"));
    steps.Add(
        "entry",
        [&] {
            failure = QV_SETUP_REGISTRY_FAILED;
            CUninstallEntrySnapshot before;
            if (!before.Take() || !transaction.Journal("entry", before.ToLines())) return false;
            UninstallEntryValues values;
            values.folder = job.installFolder;
            values.viewer = viewer;
            if (hasUninstaller) values.uninstaller = job.installFolder + L"\\" + kUninstallerExe;
            values.estimatedSizeKb = static_cast<DWORD>((transaction.InstalledBytes() + 1023) / 1024);
            values.installDate = TodayAsInstallDate();
            if (!WriteUninstallEntry(values)) return false;
            job.Progress(97);
            return true;
        },
        undo("entry"), [] { return std::vector<std::wstring>{L"HKEY_CURRENT_USER\\" + UninstallEntryKeyName()}; });
    if (job.flags & INSTALL_FLAG_DESKTOP_SHORTCUT)
        steps.Add(
            "shortcut",
            [&] {
                return shortcut.Save() && transaction.Journal("shortcut", shortcut.UndoLines()) &&
                       shortcut.Create(viewer, job.installFolder);
            },
            undo("shortcut"), [&] { return std::vector<std::wstring>{shortcut.Path()}; },
            /*bestEffort=*/true);
    steps.Add(
        "finish",
        [&] {
            job.Progress(98);
            removedStage = transaction.StagingFolder();
            transaction.Finish();
            job.Progress(99);
            return true;
        },
        nullptr, [&] { return std::vector<std::wstring>{removedStage}; });
    if (!steps.Run()) return failure;
    // A shortcut that cannot be made is no reason to undo the installation.
    if (!steps.Warnings().empty()) job.Status(QV_SETUP_SHORTCUT_FAILED);
    return QV_SETUP_OK;
}

// The user hears of a failure only once the previous state is back. No
// exception leaves the helper: one becomes a failure like any other.
void RunGuarded(const Job& job) {
    int32_t status = QV_SETUP_INTERNAL_ERROR;
    CStepLog log;
    try {
        status = Install(job, log);
    } catch (...) {
        log.Line("install", "stopped by an exception");
    }
    log.Line("install", status == QV_SETUP_OK ? "installed" : "not installed (status " + std::to_string(status) + ")");
    SaveSetupLog("install", log.Text());
    if (status != QV_SETUP_OK) return FailInstallation(job, status);
    job.Status(QV_SETUP_OK);
    job.Progress(100);
}

DWORD WINAPI InstallationThread(void* parameter) {
    std::unique_ptr<Job> job(static_cast<Job*>(parameter));
    RunGuarded(*job);
    return 0;
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl SetupViewer(const wchar_t* payloadFolder, const wchar_t* installFolder,
                                                          int32_t flags, QvIntCallback status, QvIntCallback progress) {
    std::unique_ptr<Job> job(new Job);
    job->flags = flags;
    job->status = status;
    job->progress = progress;
    if (!payloadFolder || !installFolder || !*payloadFolder || !*installFolder) {
        job->Status(QV_SETUP_BAD_ARGUMENTS);
        return;
    }
    // The texts are valid only during this call: the job keeps its own copies.
    job->payloadFolder = WithoutTrailingSeparators(payloadFolder);
    job->installFolder = WithoutTrailingSeparators(installFolder);
    UniqueHandle thread(::CreateThread(nullptr, 0, InstallationThread, job.get(), 0, nullptr));
    if (thread) {
        job.release();  // the thread owns it now
        return;
    }
    RunGuarded(*job);  // no thread to be had: install on the caller's
}

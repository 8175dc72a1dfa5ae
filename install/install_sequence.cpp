#include "install/install_sequence.h"

#include <cwchar>
#include <iterator>

#include "identity/machine_id.h"
#include "install/extract_payload.h"
#include "contract/install_folder.h"
#include "util/owned.h"
#include "settings/settings_store.h"
#include "sysenv/user_folders.h"
#include "util/crc32.h"
#include "util/md5.h"
#include "util/path.h"
#include "util/system_library.h"

const char kDefaultChannel[] = QV_DEFAULT_CHANNEL_A;
const char kProductVersion[] = QV_VERSION_A;

namespace {

const wchar_t kPrivatePrefix[] = QV_PRIVATE_FOLDER_PREFIX;
const wchar_t kPayloadSubfolder[] = L"\\payload";
const wchar_t kHelperName[] = QV_HELPER_DLL;

void Report(const QvIntCallback& callback, int32_t value) {
    if (callback.invoke) callback.invoke(callback.context, value);
}

// Records the four settings and reads them back: a store that cannot be
// written (a read-only or locked file, a link in the data folder) is caught
// here instead of leaving an installation without its settings.
bool RecordSettings(const InstallOptions& options) {
    // In this order: "join", then the machine identifier, gathered here on
    // the first call (WMI takes a while), then "uid".
    // One store for the writes and one, opened afresh, to read them back:
    // each store holds the data folder from the drive's root down.
    const std::string join = options.joinPlan ? "1" : "0";
    std::string uid;
    {
        CSettingsStore store;
        store.SetValue("join", join);
        uid = GetMachineId();
        store.SetValue("uid", uid);
        store.SetValue("channel", kDefaultChannel);
        store.SetValue("version", kProductVersion);
    }
    CSettingsStore written(CSettingsStore::Access::kReadOnly);
    const auto readsBack = [&written](const char* key, const std::string& value) {
        std::string stored;
        return written.GetValue(key, stored) && stored == value;
    };
    return readsBack("join", join) && readsBack("uid", uid) && readsBack("channel", kDefaultChannel) &&
           readsBack("version", kProductVersion);
}

// The content of an open file matches the archive's statement of it.
bool MatchesItem(HANDLE file, const PayloadItem& item) {
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) != item.size) return false;
    if (!item.hasCrc) return false;
    std::vector<char> buffer(1 << 16);
    std::uint32_t crc = 0;
    DWORD got = 0;
    while (::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0)
        crc = Crc32Update(crc, buffer.data(), got);
    return crc == item.crc;
}

// The runtime libraries shipped beside the installer, installed with the viewer.
const wchar_t kUiLibrary[] = L"DuiLib.dll";
const wchar_t kArchiveLibrary[] = L"7z.dll";
const wchar_t* const kBundleLibraries[] = {kUiLibrary, kArchiveLibrary};

const PayloadItem* FindTopLevelFile(const std::vector<PayloadItem>& items, const wchar_t* name) {
    for (const PayloadItem& item : items)
        if (!item.isFolder && ::CompareStringOrdinal(item.path.c_str(), -1, name, -1, TRUE) == CSTR_EQUAL) return &item;
    return nullptr;
}

}  // namespace

int32_t InstallFlags(const InstallOptions& options) {
    int32_t flags = 0;
    if (options.desktopShortcut) flags = INSTALL_FLAG_DESKTOP_SHORTCUT;
    if (options.joinPlan) flags |= INSTALL_FLAG_JOIN_PLAN;
    return flags;
}

CInstallSession::CInstallSession(const BundleSeal& seal)
    : seal_(seal), over_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CInstallSession::~CInstallSession() {
    Finish(0);
    // A helper still at work keeps its library for the rest of the process.
    (void)helper_.release();
}

void __cdecl CInstallSession::RelayStatus(void* context, int32_t value) {
    auto* session = static_cast<CInstallSession*>(context);
    Report(session->status_, value);
    if (QV_SETUP_STATUS_IS_FINAL(value)) session->MarkOver();
}

void __cdecl CInstallSession::RelayProgress(void* context, int32_t value) {
    auto* session = static_cast<CInstallSession*>(context);
    if (value >= 100) session->completed_ = true;
    Report(session->progress_, value);
    if (value >= 100) session->MarkOver();
}

// Remembers the thread that reported the end, so that the library is
// released only once that thread is gone.
void CInstallSession::MarkOver() {
    if (!over_ || ::WaitForSingleObject(over_.get(), 0) == WAIT_OBJECT_0) return;
    if (::GetCurrentThreadId() != callerThread_)
        reporter_.reset(::OpenThread(SYNCHRONIZE, FALSE, ::GetCurrentThreadId()));
    ::SetEvent(over_.get());
}

bool CInstallSession::HelperThreadsDone(DWORD timeoutMs) {
    if (!handedOver_.load()) return true;
    if (!over_ || ::WaitForSingleObject(over_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
    return !reporter_ || ::WaitForSingleObject(reporter_.get(), timeoutMs) == WAIT_OBJECT_0;
}

bool CInstallSession::WorkOver() const {
    return !handedOver_.load() || !over_ || ::WaitForSingleObject(over_.get(), 0) == WAIT_OBJECT_0;
}

void CInstallSession::Finish(DWORD timeoutMs) {
    if (HelperThreadsDone(timeoutMs)) helper_.reset();
    private_.Remove();
}

FolderVerdict CInstallSession::CheckFolder(const std::wstring& folder, const std::wstring& bundleFolder) {
    return CheckInstallFolder(folder, CurrentReservedFolders(bundleFolder));
}

int CInstallSession::Run(const InstallOptions& options, const std::wstring& bundleFolder, QvIntCallback status,
                         QvIntCallback progress) {
    status_ = status;
    progress_ = progress;
    if (CheckFolder(options.installFolder, bundleFolder) != FolderVerdict::kAllowed) return kInstallFolderRefused;
    // The archive's digest is taken on a thread of its own from here on,
    // while the settings are written and the archive is extracted.
    CStagedArchive archive;
    CFileDigestTask archiveDigest;
    if (archive.Hold(bundleFolder + L"\\payload.7z")) archiveDigest.Start(archive.File());
    if (!RecordSettings(options)) {
        Report(status_, QV_SETUP_SETTINGS_FAILED);
        return kInstallSettingsFailed;
    }
    const int prepared = Prepare(options, bundleFolder, archive, archiveDigest);
    if (prepared != kInstallHandedOver) return prepared;
    return HandOver(options);
}

// Stages and extracts everything into the private folder. The bundle's
// libraries are copied there and used only from there, once they match the
// seal; the archive is extracted from its staged name while the bundle's file
// stays held, and its content counts only once its digest matches too.
int CInstallSession::Prepare(const InstallOptions& options, const std::wstring& bundleFolder, CStagedArchive& archive,
                             CFileDigestTask& archiveDigest) {
    installFolder_ = options.installFolder;
    if (archive.File() == INVALID_HANDLE_VALUE) return kInstallExtractFailed;  // missing, or held by a writer
    if (!private_.Create(CUserFolders::Instance().TempFolder(), kPrivatePrefix)) return kInstallExtractFailed;
    payloadFolder_ = private_.Path() + kPayloadSubfolder;

    // The installation folder is not touched here: the helper installs
    // everything (the runtime libraries too) once the payload is complete.
    // 7z.dll stays held from its check until it has been loaded and freed.
    UniqueFile archiveLibrary = CopyChecked(bundleFolder + L"\\" + kArchiveLibrary,
                                            private_.Path() + L"\\" + kArchiveLibrary, seal_.archiveLibrary);
    if (!archiveLibrary) return kInstallExtractFailed;
    if (!CopyChecked(bundleFolder + L"\\" + kUiLibrary, private_.Path() + L"\\" + kUiLibrary, seal_.uiLibrary))
        return kInstallExtractFailed;
    if (!archive.Stage(private_.Path() + L"\\payload.7z")) return kInstallExtractFailed;

    const int extracted = ExtractPayload(payloadFolder_, archive.Path(), private_.Path(), &items_);
    archiveLibrary.reset();
    if (!archiveDigest.Matches(seal_.archive) || extracted != kPayloadExtracted) return kInstallExtractFailed;
    for (const wchar_t* library : kBundleLibraries) AddBundleFile(private_.Path(), library);
    if (!WritePayloadItems(PayloadItemListPath(payloadFolder_), items_)) return kInstallExtractFailed;
    return kInstallHandedOver;
}

// A checked library of the private folder joins the payload as one more
// item (unless the archive has its own of that name).
void CInstallSession::AddBundleFile(const std::wstring& folder, const wchar_t* name) {
    if (FindTopLevelFile(items_, name)) return;
    const std::wstring target = payloadFolder_ + L"\\" + name;
    if (!CopyPath(folder + L"\\" + name, target)) return;
    UniqueFile file(::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return;
    PayloadItem item;
    item.path = name;
    std::vector<char> buffer(1 << 16);
    DWORD got = 0;
    CMd5 md5;
    while (::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
        item.crc = Crc32Update(item.crc, buffer.data(), got);
        md5.Update(buffer.data(), got);
        item.size += got;
    }
    item.hasCrc = true;
    item.md5 = md5.HexDigest();
    items_.push_back(item);
}

// Loads the helper library the archive holds (and nothing else that may lie
// there by now) and calls its entry point.
int CInstallSession::HandOver(const InstallOptions& options) {
    const PayloadItem* item = FindTopLevelFile(items_, kHelperName);
    if (!item) return kInstallHelperFailed;
    const std::wstring helperPath = payloadFolder_ + L"\\" + kHelperName;
    {
        // Held open without write or delete sharing from the check until the
        // library is mapped: nobody can change or replace it in between.
        UniqueFile held(::CreateFileW(helperPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!held || !IsPlainFile(helperPath) || !MatchesItem(held.get(), *item)) {
            Report(status_, QV_SETUP_PAYLOAD_CHANGED);
            return kInstallHelperFailed;
        }
        helper_.reset(LoadLibraryFromPath(helperPath.c_str()));
    }
    if (!helper_) {
        wchar_t diagnostic[600];
        std::swprintf(diagnostic, std::size(diagnostic), L"GetModule Last error: %lu and %ls", ::GetLastError(),
                      helperPath.c_str());
        ::OutputDebugStringW(diagnostic);
        return kInstallHelperFailed;
    }
    auto setupViewer = reinterpret_cast<SetupViewerFn>(
        reinterpret_cast<void*>(::GetProcAddress(helper_.get(), QV_SETUP_VIEWER_EXPORT)));
    if (!setupViewer) {
        wchar_t diagnostic[64];
        std::swprintf(diagnostic, std::size(diagnostic), L"GetProcAddress Last error: %lu", ::GetLastError());
        ::OutputDebugStringW(diagnostic);
        return kInstallEntryMissing;
    }
    handedOver_ = true;
    callerThread_ = ::GetCurrentThreadId();
    const QvIntCallback status = {&RelayStatus, this};
    const QvIntCallback progress = {&RelayProgress, this};
    setupViewer(payloadFolder_.c_str(), installFolder_.c_str(), InstallFlags(options), status, progress);
    return kInstallHandedOver;
}

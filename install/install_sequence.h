#pragma once
// The install sequence behind the install buttons, without any window: it
// records the settings, makes the installer's private folder, stages the
// archive and the runtime libraries, extracts the payload, checks and loads
// the helper library and hands the installation to it. What the helper
// reports reaches the caller through the two callbacks.
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "install/bundle_seal.h"
#include "contract/install_folder.h"
#include "contract/payload_items.h"
#include "contract/private_folder.h"
#include "contract/setup_viewer_api.h"

// The channel recorded by an installation, and the product version.
extern const char kDefaultChannel[];
extern const char kProductVersion[];

struct InstallOptions {
    std::wstring installFolder;  // used exactly as given
    bool desktopShortcut = true;
    bool joinPlan = true;
};

enum InstallResult : int {
    kInstallHandedOver = 0,      // SetupViewer was called; its progress follows
    kInstallSettingsFailed = 1,  // the settings did not read back as written
    kInstallExtractFailed = 2,   // no private folder, a bundle file missing or not as sealed, or the payload
                                 // could not be extracted
    kInstallHelperFailed = 3,    // ImgKit.dll is missing, not what the archive holds, or cannot be loaded
    kInstallEntryMissing = 4,    // ImgKit.dll has no SetupViewer
    kInstallFolderRefused = 5,   // the installation folder is invalid or reserved; nothing was done
};

// The flags word for SetupViewer.
int32_t InstallFlags(const InstallOptions& options);

// One installation: the private folder, the loaded helper and the relay of
// the helper's reports. It lives until the process ends, since the helper
// may report from its own threads after SetupViewer has returned.
class CInstallSession {
public:
    // `seal` states the digests of the bundle's files (Install.exe passes
    // what its resource holds): the session uses payload.7z, 7z.dll and
    // DuiLib.dll only when they match.
    explicit CInstallSession(const BundleSeal& seal);
    ~CInstallSession();
    CInstallSession(const CInstallSession&) = delete;
    CInstallSession& operator=(const CInstallSession&) = delete;

    // Whether an installation may go to `folder` (the installer runs from
    // `bundleFolder`).
    static FolderVerdict CheckFolder(const std::wstring& folder, const std::wstring& bundleFolder);

    // Runs the sequence once; the result is one of InstallResult. The
    // installation folder is not touched before the payload is extracted and
    // checked: the helper installs everything. The bundle's archive is held
    // open, shared for reading only, from the start until its extraction has
    // ended, and its digest is taken meanwhile; nothing of the payload is
    // used unless it matches the seal. The
    // callbacks receive every status and progress value, the installer's own
    // status included (QV_SETUP_SETTINGS_FAILED).
    int Run(const InstallOptions& options, const std::wstring& bundleFolder, QvIntCallback status,
            QvIntCallback progress);

    // True once the helper's work is over (100 or a final status), or when
    // nothing was handed over.
    bool WorkOver() const;
    // Waits up to `timeoutMs` for the helper's work to end and for the thread
    // that reported its end to finish, then releases the helper library and
    // removes the private folder with everything in it. A helper still at
    // work stays loaded; what cannot go then is removed at the next restart.
    // Called when the installer ends.
    void Finish(DWORD timeoutMs);

    // The folder the helper was asked to install into (empty before).
    const std::wstring& InstallFolder() const { return installFolder_; }
    // The payload folder inside the private folder (empty before).
    const std::wstring& PayloadFolder() const { return payloadFolder_; }
    // True once the helper reported 100.
    bool Completed() const { return completed_.load(); }
    // True once SetupViewer was called: from then on the helper may call the
    // callbacks at any time, so their targets must stay.
    bool HandedOver() const { return handedOver_.load(); }

private:
    static void __cdecl RelayStatus(void* context, int32_t value);
    static void __cdecl RelayProgress(void* context, int32_t value);
    int Prepare(const InstallOptions& options, const std::wstring& bundleFolder, CStagedArchive& archive,
                CFileDigestTask& archiveDigest);
    int HandOver(const InstallOptions& options);
    void AddBundleFile(const std::wstring& bundleFolder, const wchar_t* name);
    void MarkOver();
    bool HelperThreadsDone(DWORD timeoutMs);

    const BundleSeal seal_;
    QvIntCallback status_{};
    QvIntCallback progress_{};
    CPrivateFolder private_;
    std::wstring installFolder_;
    std::wstring payloadFolder_;
    std::vector<PayloadItem> items_;
    UniqueModule helper_;
    std::atomic<bool> handedOver_{false};
    std::atomic<bool> completed_{false};
    UniqueHandle over_;      // manual-reset event, set when the helper's work is over
    UniqueHandle reporter_;  // the helper's thread that reported the end (none: the caller's own)
    DWORD callerThread_ = 0;
};

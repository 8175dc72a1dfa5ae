// The install sequence behind the two install buttons: settings, staging,
// payload extraction and the hand-over to the helper library.
#include <windows.h>

#include <cwchar>
#include <iterator>
#include <string>

#include "app/main_wnd.h"
#include "identity/machine_id.h"
#include "install/extract_payload.h"
#include "install/install_folder.h"
#include "settings/settings_store.h"
#include "sysenv/user_folders.h"
#include "util/path.h"

namespace {

const wchar_t kAgreementNotice[] = L"请先阅读并同意<<Quiview许可协议>>";
const wchar_t kNoticeCaption[] = L"提示";
const wchar_t kExtractFailed[] = L"解压失败";
const wchar_t kInstallFailed[] = L"安装失败";
const wchar_t kProductCaption[] = L"Quiview";
const wchar_t kPayloadSubfolder[] = L"\\Quiview\\1.0.1";

void __cdecl StatusThunk(void* context, int32_t value) { static_cast<CMainWnd*>(context)->ReportStatus(value); }
void __cdecl ProgressThunk(void* context, int32_t value) {
    static_cast<CMainWnd*>(context)->ReportProgress(value);
}

}  // namespace

void CMainWnd::ReportStatus(int32_t value) { m_lastStatus.store(value, std::memory_order_relaxed); }

// Called by the helper library from any thread: only posts.
void CMainWnd::ReportProgress(int32_t value) {
    ::PostMessageW(m_hWnd, WM_INSTALL_PROGRESS, 0, static_cast<LPARAM>(value));
}

void CMainWnd::EndWithMessage(const wchar_t* text) {
    ::MessageBoxW(nullptr, text, kProductCaption, MB_OK);
    ::PostQuitMessage(0);
}

void CMainWnd::StartInstall() {
    if (!m_agreed) {
        ::MessageBoxW(nullptr, kAgreementNotice, kNoticeCaption, MB_OK);
        return;
    }
    m_installDir = static_cast<const wchar_t*>(m_dirEdit->GetText());

    m_beginPage->SetVisible(false);
    m_endPage->SetVisible(true);
    // The sequence below runs on this thread without returning to the message
    // loop: paint the progress page now rather than after the extraction.
    ::UpdateWindow(m_hWnd);

    int32_t flags = 0;
    if (m_desktopShortcut) flags = INSTALL_FLAG_DESKTOP_SHORTCUT;
    if (m_joinPlan) {
        flags |= INSTALL_FLAG_JOIN_PLAN;
        SetJoin("1");
    } else {
        SetJoin("0");
    }
    // The helper keeps its own copies; this object lives until the process ends.
    const QvIntCallback status = {&StatusThunk, this};
    const QvIntCallback progress = {&ProgressThunk, this};

    SetUid(GetMachineId());
    SetChannel(kDefaultChannel);
    SetVersion(kProductVersion);

    const std::wstring installFolder = m_installDir;
    const std::wstring payloadFolder = CUserFolders::Instance().TempFolder() + kPayloadSubfolder;
    CreateDirectoryTree(payloadFolder);
    // Only the product's own folder is cleared; a folder of the user's (a
    // drive, Documents, ...) keeps its content and receives the files.
    if (IsProductFolder(installFolder)) DeletePath(installFolder, false);

    const std::wstring installerFolder = ModuleFolder();
    const std::wstring sourceArchive = installerFolder + L"\\payload.7z";
    CopyPath(installerFolder + L"\\DuiLib.dll", installFolder + L"\\DuiLib.dll");
    CopyPath(installerFolder + L"\\7z.dll", installFolder + L"\\7z.dll");
    CopyPath(sourceArchive, payloadFolder + L"\\payload.7z");

    if (ExtractPayload(payloadFolder, sourceArchive) != kPayloadExtracted) {
        EndWithMessage(kExtractFailed);
        return;
    }

    const std::wstring helperPath = payloadFolder + L"\\ImgKit.dll";
    m_helperModule = ::LoadLibraryW(helperPath.c_str());
    if (!m_helperModule) {
        wchar_t diagnostic[600];
        std::swprintf(diagnostic, std::size(diagnostic), L"GetModule Last error: %lu and %ls", ::GetLastError(),
                      helperPath.c_str());
        ::OutputDebugStringW(diagnostic);
        EndWithMessage(kInstallFailed);
        return;
    }
    auto setupViewer = reinterpret_cast<SetupViewerFn>(
        reinterpret_cast<void*>(::GetProcAddress(m_helperModule, QV_SETUP_VIEWER_EXPORT)));
    if (!setupViewer) {
        wchar_t diagnostic[64];
        std::swprintf(diagnostic, std::size(diagnostic), L"GetProcAddress Last error: %lu", ::GetLastError());
        ::OutputDebugStringW(diagnostic);
        EndWithMessage(kInstallFailed);
        return;
    }
    setupViewer(payloadFolder.c_str(), installFolder.c_str(), flags, status, progress);
}

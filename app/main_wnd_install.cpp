// The window's part of an installation: the agreement notice, the switch to
// the progress page, the two callbacks that bring the helper's reports to
// the window, and the message that ends the installer when the sequence fails.
#include <windows.h>

#include "qv_product.h"
#include "app/main_wnd.h"
#include "util/path.h"

namespace {

const wchar_t kAgreementNotice[] = L"请先阅读并同意<<Quiview许可协议>>";
const wchar_t kNoticeCaption[] = L"提示";
const wchar_t kSettingsFailed[] = L"无法写入设置文件，安装已取消。";
const wchar_t kExtractFailed[] = L"解压失败";
const wchar_t kInstallFailed[] = L"安装失败";
const wchar_t kProductCaption[] = QV_PRODUCT_NAME;
const wchar_t kInvalidFolderText[] = L"您输入的文件夹无效。";
const wchar_t kInvalidFolderCaption[] = L"选择文件夹";
const wchar_t kReservedFolderText[] = L"不能安装到这个文件夹，请另选一个文件夹。";

void __cdecl StatusThunk(void* context, int32_t value) { static_cast<CMainWnd*>(context)->ReportStatus(value); }
void __cdecl ProgressThunk(void* context, int32_t value) { static_cast<CMainWnd*>(context)->ReportProgress(value); }

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
    // A folder no installation may take: said so, and the page stays as it was.
    switch (CInstallSession::CheckFolder(m_installDir, ModuleFolder())) {
    case FolderVerdict::kAllowed: break;
    case FolderVerdict::kInvalid: ::MessageBoxW(nullptr, kInvalidFolderText, kInvalidFolderCaption, MB_OK); return;
    case FolderVerdict::kReserved: ::MessageBoxW(nullptr, kReservedFolderText, kProductCaption, MB_OK); return;
    }

    m_beginPage->SetVisible(false);
    m_endPage->SetVisible(true);
    // The sequence runs on this thread without returning to the message
    // loop: paint the progress page now rather than after the extraction.
    ::UpdateWindow(m_hWnd);

    InstallOptions options;
    options.installFolder = m_installDir;
    options.desktopShortcut = m_desktopShortcut;
    options.joinPlan = m_joinPlan;
    // The helper keeps copies of these; this object lives as long as it may call them.
    const QvIntCallback status = {&StatusThunk, this};
    const QvIntCallback progress = {&ProgressThunk, this};
    switch (m_session.Run(options, ModuleFolder(), status, progress)) {
    case kInstallHandedOver: return;
    case kInstallSettingsFailed: EndWithMessage(kSettingsFailed); return;
    case kInstallExtractFailed: EndWithMessage(kExtractFailed); return;
    default: EndWithMessage(kInstallFailed); return;
    }
}

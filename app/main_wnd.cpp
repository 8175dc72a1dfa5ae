// The installer window: message routing, the click dispatch, check boxes,
// views, progress display, page preparation, the folder dialog and the
// finish actions.
#include "qv_product.h"
#include "app/main_wnd.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <iterator>

#include "install/channel_detector.h"
#include "settings/settings_store.h"
#include "sysenv/browser.h"
#include "sysenv/system_helpers.h"
#include "sysenv/user_folders.h"
#include "sysenv/user_process.h"
#include "util/com_scope.h"
#include "util/owned.h"
#include "util/held_folder.h"
#include "util/path.h"
#include "util/text.h"
#include "settings/settings_file.h"

const wchar_t kInstallerTitle[] = QV_PRODUCT_NAME L"安装";
const wchar_t kWebHost[] = L"www.quiview.com";

const wchar_t kCheckedImage[] = L"file='checkbox.png' source='14,0,28,14' dest='0,5,14,19'";
// The doubled quote at the end is part of the description the skin has always
// been given; the picture reader takes the quoted values and skips the rest.
const wchar_t kUncheckedImage[] = L"file='checkbox.png' source='0,0,14,14' dest='0,5,14,19''";

namespace {

const wchar_t kViewerFile[] = QV_VIEWER_EXE;
const wchar_t kFolderDialogTitle[] = L"从下面选文件夹目录:";
const wchar_t kInvalidFolderText[] = L"您输入的文件夹无效。";
const wchar_t kInvalidFolderCaption[] = L"选择文件夹";
const wchar_t kAppendedFolder[] = L"\\Quiview";

// Controls of the main view; the custom view shows the second list instead.
const wchar_t* const kMainViewControls[] = {L"chk_agree", L"btn_agree",  L"chk_join",
                                            L"btn_join",  L"btn_custom", L"btn_inst"};
const wchar_t* const kCustomViewControls[] = {L"labelInst", L"edit_dir",  L"btn_select",
                                              L"chk_sc",    L"btn_insts", L"btn_ret"};
const wchar_t* const kFinishedHidden[] = {L"label_insting", L"label_persent", L"prg_inst"};
const wchar_t* const kFinishedShown[] = {L"btn_expe", L"btn_use", L"btn_mine", L"btn_closee"};

// A chosen folder is usable when a directory search for exactly that path
// finds a folder; a path ending in a separator (a drive root) finds nothing.
bool IsExistingFolderEntry(const std::wstring& path) {
    if (path.empty()) return false;
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW(path.c_str(), &data));
    return find && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

CMainWnd::CMainWnd(CInstallSession& session) : m_session(session) {}
CMainWnd::~CMainWnd() = default;

const wchar_t* CMainWnd::GetWindowClassName() const { return QV_INSTALLER_WINDOW_CLASS; }
UINT CMainWnd::GetClassStyle() const { return CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS; }
CDuiString CMainWnd::GetSkinFolder() { return L"res\\"; }
CDuiString CMainWnd::GetSkinFile() { return L"inst.xml"; }
UILIB_RESOURCETYPE CMainWnd::GetResourceType() const { return UILIB_ZIPRESOURCE; }
const wchar_t* CMainWnd::GetResourceID() const { return MAKEINTRESOURCEW(212); }

void CMainWnd::OnFinalMessage(HWND hWnd) {
    WindowImplBase::OnFinalMessage(hWnd);
    // Without its window the installer has nothing left to show: end it
    // rather than keep an invisible process that holds the single-instance
    // mutex (a plain WM_CLOSE, as a task manager sends, destroys the window).
    ::PostQuitMessage(0);
    // A helper library that was handed the installation may still call back
    // into this object from its own threads; then the object stays until the
    // process ends.
    if (!m_session.HandedOver()) delete this;
}

void CMainWnd::InitWindow() {
    m_progressBar = static_cast<CProgressUI*>(m_PaintManager.FindControl(L"prg_inst"));
    m_dirEdit = static_cast<CRichEditUI*>(m_PaintManager.FindControl(L"edit_dir"));
    m_beginPage = m_PaintManager.FindControl(L"inst_begin");
    m_endPage = m_PaintManager.FindControl(L"inst_end");
}

void CMainWnd::PrepareWindow() {
    ShowWindow(false, false);

    CChannelDetector detector{std::wstring()};
    std::string channel = WideToUtf8(detector.Channel());
    if (channel.empty()) channel = kDefaultChannel;

    // Every run starts from an empty settings store. Only a file of that name
    // goes (read-only too), through the data folder held from the drive's
    // root down: a folder or a link of that name stays, and so does all of
    // a data folder reached through a link (the store then refuses to write
    // through either).
    {
        CHeldFolder data;
        if (data.Open(SettingsFolder())) DeleteChildFile(data, kSettingsFileName, true);
    }
    SetChannelAndVersion(channel, kProductVersion);

    SetIcon(128);
    CenterWindow();
    ShowWindow(true);
}

// The installation at work is never cut off (a task list, the taskbar): it
// ends by itself, completed or rolled back. Otherwise the close goes on as
// the base class has it (the system destroys the window).
LRESULT CMainWnd::OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    if (InstallationAtWork()) {
        bHandled = TRUE;
        return 0;
    }
    return WindowImplBase::OnClose(uMsg, wParam, lParam, bHandled);
}

// Messages the base class has no hook of its own for.
LRESULT CMainWnd::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    switch (uMsg) {
    case WM_NCLBUTTONDBLCLK:
        // A double click on the caption strip neither maximises nor restores.
        bHandled = TRUE;
        return 0;
    case WM_INSTALL_PROGRESS: bHandled = TRUE; return OnInstallProgress(static_cast<int>(lParam));
    case WM_INSTALL_QUIT:
        // Ends the message loop; the message itself still takes the default way.
        ::PostQuitMessage(0);
        bHandled = FALSE;
        return 0;
    default: return WindowImplBase::HandleCustomMessage(uMsg, wParam, lParam, bHandled);
    }
}

bool CMainWnd::InstallationAtWork() const { return m_session.HandedOver() && !m_session.WorkOver(); }

LRESULT CMainWnd::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        bHandled = TRUE;
        // Alt+F4 while the helper works is refused, as the page offers no close button then.
        if (InstallationAtWork()) return 0;
        ::PostQuitMessage(0);
        return 0;
    }
    const bool wasZoomed = ::IsZoomed(m_hWnd) != FALSE;
    LRESULT lRes = CWindowWnd::HandleMessage(uMsg, wParam, lParam);
    const bool zoomed = ::IsZoomed(m_hWnd) != FALSE;
    if (zoomed != wasZoomed) {
        if (CControlUI* maxButton = m_PaintManager.FindControl(L"maxbtn")) maxButton->SetVisible(!zoomed);
        if (CControlUI* restoreButton = m_PaintManager.FindControl(L"restorebtn")) restoreButton->SetVisible(zoomed);
    }
    return lRes;
}

void CMainWnd::Notify(TNotifyUI& msg) {
    if (msg.sType == L"windowinit") {
        PreparePage();
        return;
    }
    if (msg.sType != L"click" || !msg.pSender) return;
    CDuiString name = msg.pSender->GetName();
    if (name == L"btn_min" || name == L"btn_mine") {
        SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (name == L"btn_close" || name == L"btn_closee") {
        SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (name == L"chk_agree") {
        ToggleAgree();
    } else if (name == L"btn_agree") {
        OpenAgreementPage();
    } else if (name == L"chk_join") {
        ToggleJoin();
    } else if (name == L"btn_join") {
        OpenExperiencePage();
    } else if (name == L"btn_custom") {
        ShowCustomPage();
    } else if (name == L"btn_inst" || name == L"btn_insts") {
        StartInstall();
    } else if (name == L"btn_select") {
        BrowseInstallFolder();
    } else if (name == L"chk_sc") {
        ToggleShortcut();
    } else if (name == L"btn_ret") {
        ShowMainPage();
    } else if (name == L"btn_expe") {
        LaunchViewer();
        SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (name == L"btn_use") {
        SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    }
}

// The picture shows the state; assistive technology is told it as well.
void CMainWnd::SetCheckImage(const wchar_t* name, bool checked) {
    CControlUI* box = m_PaintManager.FindControl(name);
    box->SetForeImage(checked ? kCheckedImage : kUncheckedImage);
    box->SetAccessibleChecked(checked);
}

void CMainWnd::ToggleAgree() {
    m_agreed = !m_agreed;
    SetCheckImage(L"chk_agree", m_agreed);
}

void CMainWnd::ToggleJoin() {
    m_joinPlan = !m_joinPlan;
    SetCheckImage(L"chk_join", m_joinPlan);
}

void CMainWnd::ToggleShortcut() {
    m_desktopShortcut = !m_desktopShortcut;
    SetCheckImage(L"chk_sc", m_desktopShortcut);
}

void CMainWnd::ApplyCheckImages() {
    SetCheckImage(L"chk_agree", m_agreed);
    SetCheckImage(L"chk_join", m_joinPlan);
    SetCheckImage(L"chk_sc", m_desktopShortcut);
}

void CMainWnd::ShowControls(const wchar_t* const* names, size_t count, bool visible) {
    for (size_t i = 0; i < count; ++i) m_PaintManager.FindControl(names[i])->SetVisible(visible);
}

void CMainWnd::ShowCustomPage() {
    ShowControls(kMainViewControls, std::size(kMainViewControls), false);
    ShowControls(kCustomViewControls, std::size(kCustomViewControls), true);
}

void CMainWnd::ShowMainPage() {
    ShowControls(kMainViewControls, std::size(kMainViewControls), true);
    ShowControls(kCustomViewControls, std::size(kCustomViewControls), false);
}

LRESULT CMainWnd::OnInstallProgress(int percent) {
    CDuiString text;
    text.Format(L"%d%%", percent);
    m_PaintManager.FindControl(L"label_persent")->SetText(text);
    m_progressBar->SetValue(percent);
    if (percent == 50) {
        m_endPage->SetBkImage(L"ing2.png");
    } else if (percent == 100) {
        m_endPage->SetBkImage(L"end.png");
        m_endPage->SetAccessibleName(L"安装完成");  // the page's name, read out on the change
        ShowControls(kFinishedHidden, std::size(kFinishedHidden), false);
        ShowControls(kFinishedShown, std::size(kFinishedShown), true);
    }
    return 0;
}

void CMainWnd::PreparePage() {
    m_progressBar->SetMinValue(0);
    m_progressBar->SetMaxValue(100);
    m_installDir = InstallFolder();

    PARAFORMAT2 format = {};
    format.cbSize = sizeof format;
    format.dwMask = PFM_STARTINDENT;
    format.dxStartIndent = 6;
    m_dirEdit->SetParaFormat(format);
    m_dirEdit->SetTextColor(0x000000);
    m_dirEdit->SetText(m_installDir.c_str());
    ApplyCheckImages();
}

void CMainWnd::BrowseInstallFolder() {
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW info = {};
    info.hwndOwner = m_hWnd;
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName;
    info.lpszTitle = kFolderDialogTitle;
    info.ulFlags = BIF_NEWDIALOGSTYLE;

    // OLE for the folder dialog, ended on every way out.
    CComScope ole(CComScope::kOle);
    UniqueCoTaskMem<ITEMIDLIST> item(::SHBrowseForFolderW(&info));
    if (!item) return;  // cancelled: nothing changes

    wchar_t path[MAX_PATH] = {};
    if (!::SHGetPathFromIDListW(item.get(), path)) path[0] = L'\0';
    if (!IsExistingFolderEntry(path)) {
        ::MessageBoxW(nullptr, kInvalidFolderText, kInvalidFolderCaption, MB_OK);
        return;
    }
    std::wstring folder = std::wstring(path) + kAppendedFolder;
    item.reset();
    ole.end();
    m_dirEdit->SetText(folder.c_str());
    m_installDir = folder;
}

// The browser is whatever program the user's registry names (any program of
// the user can change that), so it runs as the user without the installer's
// elevation and handles, like the viewer.
void CMainWnd::OpenWebPage(const wchar_t* path) {
    std::wstring address = std::wstring(L"http://") + kWebHost + path;
    std::wstring browser = DefaultBrowserPath();
    if (!browser.empty()) {
        StartAsInteractiveUser(browser, address, std::wstring(), SW_SHOWNORMAL);
    } else {
        // No browser program is known: the address is opened with whatever
        // the system associates with it.
        OpenAsInteractiveUser(address);
    }
}

void CMainWnd::OpenAgreementPage() { OpenWebPage(L"/protocol.html"); }
void CMainWnd::OpenExperiencePage() { OpenWebPage(L"/userexperience.html"); }

// The viewer this run installed, started for the user without the
// installer's elevation and handles, with the hidden show state (the viewer
// shows its own window) and the installer's own working folder. Its folder
// is the one the installation went to, never what the registry (which any
// program of the user can change) says now.
void CMainWnd::LaunchViewer() {
    if (!m_session.Completed()) return;
    std::wstring folder = m_session.InstallFolder();
    folder = WithoutTrailingSeparators(folder);
    StartAsInteractiveUser(folder + L"\\" + kViewerFile, std::wstring(), std::wstring(), SW_HIDE);
}

#pragma once
// The installer window: the skinned first page (main and custom view), the
// progress page that becomes the finish page, the install options and the
// actions behind every control.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "install/install_sequence.h"
#include "contract/setup_viewer_api.h"
#include "uilib/uilib.h"

// Installer window messages.
constexpr UINT WM_INSTALL_PROGRESS = QV_WM_INSTALL_PROGRESS;  // lParam = percent
constexpr UINT WM_INSTALL_QUIT = QV_WM_INSTALL_QUIT;          // ends the installer

// Fixed values of the installer.
extern const wchar_t kInstallerTitle[];
extern const wchar_t kWebHost[];

// The two pictures of a check box (foreground image of the chk_ buttons).
extern const wchar_t kCheckedImage[];
extern const wchar_t kUncheckedImage[];

class CMainWnd : public WindowImplBase {
public:
    // The session runs the installation; it must outlive the window object.
    explicit CMainWnd(CInstallSession& session);
    ~CMainWnd() override;

    // Hides the window, records the channel and version in a fresh settings
    // store, sets the icon, centres the window and shows it.
    void PrepareWindow();

    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;

    // Hooks of the base class's message dispatch.
    LRESULT OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    // The installer's own messages and the caption's double click.
    LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
    LRESULT OnInstallProgress(int percent);

    // Check boxes and the two views of the first page.
    void ToggleAgree();
    void ToggleJoin();
    void ToggleShortcut();
    void ApplyCheckImages();
    void ShowCustomPage();
    void ShowMainPage();

    // Page preparation and the folder choice.
    void PreparePage();
    void BrowseInstallFolder();

    // Actions that reach outside the installer.
    void OpenAgreementPage();
    void OpenExperiencePage();
    void LaunchViewer();

    // The window's part of an installation (agreement notice, page switch,
    // messages); the sequence itself runs in the install session.
    void StartInstall();
    void ReportStatus(int32_t value);
    void ReportProgress(int32_t value);

protected:
    const wchar_t* GetWindowClassName() const override;
    UINT GetClassStyle() const override;
    void OnFinalMessage(HWND hWnd) override;
    CDuiString GetSkinFolder() override;
    CDuiString GetSkinFile() override;
    UILIB_RESOURCETYPE GetResourceType() const override;
    const wchar_t* GetResourceID() const override;

private:
    void SetCheckImage(const wchar_t* name, bool checked);
    void ShowControls(const wchar_t* const* names, size_t count, bool visible);
    void OpenWebPage(const wchar_t* path);
    void EndWithMessage(const wchar_t* text);
    // True while the helper installs (handed over, not yet done or failed).
    bool InstallationAtWork() const;

    CProgressUI* m_progressBar = nullptr;
    CRichEditUI* m_dirEdit = nullptr;
    CControlUI* m_beginPage = nullptr;
    CControlUI* m_endPage = nullptr;
    bool m_desktopShortcut = true;
    bool m_agreed = true;
    bool m_joinPlan = true;
    std::wstring m_installDir;
    // Written by the status callback, possibly from a thread of the helper.
    std::atomic<int32_t> m_lastStatus{0};
    CInstallSession& m_session;
};

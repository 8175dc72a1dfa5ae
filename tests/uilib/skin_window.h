#pragma once
// A window on the installer's skin for the tests: loads inst.xml from the
// skin archive resource, switches the views the installer shows, and reports
// every notification to a callback.
#include <functional>
#include <string>

#include "uilib/uilib.h"

class SkinTestWindow : public WindowImplBase {
public:
    std::function<void(const std::wstring& type, const std::wstring& sender)> onNotify;
    std::wstring skinFile = L"inst.xml";
    // Set by InitWindow: the layout's controls were there when it ran.
    bool initWindowFoundControls = false;

    CPaintManagerUI& Manager() { return m_PaintManager; }
    CControlUI* Find(const wchar_t* name) { return m_PaintManager.FindControl(name); }

    // The two views of the first page, as the installer switches them.
    void ShowCustomView(bool custom);
    // The progress page at a percentage; 100 shows the finished state.
    void ShowProgress(int percent);

protected:
    const wchar_t* GetWindowClassName() const override { return L"UISkinTestFrame"; }
    UINT GetClassStyle() const override { return CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS; }
    CDuiString GetSkinFolder() override { return L"res\\"; }
    CDuiString GetSkinFile() override { return skinFile.c_str(); }
    UILIB_RESOURCETYPE GetResourceType() const override { return UILIB_ZIPRESOURCE; }
    const wchar_t* GetResourceID() const override { return MAKEINTRESOURCEW(212); }
    void Notify(TNotifyUI& msg) override;
    void InitWindow() override;
};

// WindowImplBase: skin loading and the default handling of a borderless
// skinned window.
#include <cstring>
#include <string>

#include "uilib/builder.h"
#include "uilib/uiwindow.h"
#include "util/owned.h"

WindowImplBase::WindowImplBase() : m_zipData(NULL) {}

WindowImplBase::~WindowImplBase() {
    // A window that outlives its object must not reach it any more.
    if (m_hWnd && ::IsWindow(m_hWnd)) ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    CPaintManagerUI::FreeResourceData(m_zipData);
}

void WindowImplBase::InitWindow() {}

void WindowImplBase::OnClick(TNotifyUI& msg) {
    CDuiString name = msg.pSender ? msg.pSender->GetName() : CDuiString();
    if (name == L"closebtn") {
        Close();
    } else if (name == L"minbtn") {
        SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (name == L"maxbtn") {
        SendMessage(WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    } else if (name == L"restorebtn") {
        SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
    }
}

LRESULT WindowImplBase::ResponseDefaultKeyEvent(WPARAM /*wParam*/) { return FALSE; }
UILIB_RESOURCETYPE WindowImplBase::GetResourceType() const { return UILIB_FILE; }
CDuiString WindowImplBase::GetZIPFileName() const { return CDuiString(); }
const wchar_t* WindowImplBase::GetResourceID() const { return NULL; }

LRESULT WindowImplBase::OnClose(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

// No frame is drawn: the active state only matters to minimised windows.
LRESULT WindowImplBase::OnNcActivate(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
    if (::IsIconic(m_hWnd)) bHandled = FALSE;
    return wParam == 0 ? TRUE : FALSE;
}

// The client area is the whole window: no caption, no borders.
LRESULT WindowImplBase::OnNcCalcSize(UINT, WPARAM, LPARAM, BOOL&) { return 0; }

LRESULT WindowImplBase::OnWindowPosChanging(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnNcPaint(UINT, WPARAM, LPARAM, BOOL&) { return 0; }

// The caption strip of the skin moves the window, except over controls that
// take clicks.
LRESULT WindowImplBase::OnNcHitTest(UINT, WPARAM, LPARAM lParam, BOOL&) {
    POINT pt = {short(LOWORD(lParam)), short(HIWORD(lParam))};
    ::ScreenToClient(m_hWnd, &pt);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    RECT caption = m_PaintManager.GetCaptionRect();
    if (pt.x >= client.left + caption.left && pt.x < client.right - caption.right && pt.y >= caption.top &&
        pt.y < caption.bottom) {
        CControlUI* c = m_PaintManager.FindControl(pt);
        if (c && std::wcscmp(c->GetClass(), L"ButtonUI") != 0 && std::wcscmp(c->GetClass(), L"OptionUI") != 0 &&
            std::wcscmp(c->GetClass(), L"TextUI") != 0 && std::wcscmp(c->GetClass(), L"RichEditUI") != 0)
            return HTCAPTION;
    }
    return HTCLIENT;
}

LRESULT WindowImplBase::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    auto* mmi = reinterpret_cast<MINMAXINFO*>(lParam);
    HMONITOR monitor = ::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO mi;
    mi.cbSize = sizeof mi;
    if (monitor && ::GetMonitorInfoW(monitor, &mi)) {
        RECT work = mi.rcWork;
        ::OffsetRect(&work, -mi.rcMonitor.left, -mi.rcMonitor.top);
        mmi->ptMaxPosition.x = work.left;
        mmi->ptMaxPosition.y = work.top;
        mmi->ptMaxSize.x = work.right;
        mmi->ptMaxSize.y = work.bottom;
    }
    SIZE minInfo = m_PaintManager.GetMinInfo();
    if (minInfo.cx > 0) mmi->ptMinTrackSize.x = minInfo.cx;
    if (minInfo.cy > 0) mmi->ptMinTrackSize.y = minInfo.cy;
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnMouseWheel(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnMouseHover(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnSize(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    SIZE corner = m_PaintManager.GetRoundCorner();
    if (!::IsIconic(m_hWnd) && (corner.cx != 0 || corner.cy != 0)) {
        RECT rc;
        ::GetWindowRect(m_hWnd, &rc);
        ::OffsetRect(&rc, -rc.left, -rc.top);
        rc.right++;
        rc.bottom++;
        UniqueGdiObject rgn(::CreateRoundRectRgn(rc.left, rc.top, rc.right, rc.bottom, corner.cx, corner.cy));
        // On success the system owns the region; otherwise it is ours to free.
        if (rgn && ::SetWindowRgn(m_hWnd, static_cast<HRGN>(rgn.get()), TRUE)) (void)rgn.release();
    }
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnChar(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        Close();
        return 0;
    }
    bool zoomed = ::IsZoomed(m_hWnd) != FALSE;
    LRESULT lRes = CWindowWnd::HandleMessage(uMsg, wParam, lParam);
    if (zoomed != (::IsZoomed(m_hWnd) != FALSE)) {
        CControlUI* maxBtn = m_PaintManager.FindControl(L"maxbtn");
        CControlUI* restoreBtn = m_PaintManager.FindControl(L"restorebtn");
        if (maxBtn) maxBtn->SetVisible(zoomed);
        if (restoreBtn) restoreBtn->SetVisible(!zoomed);
    }
    bHandled = TRUE;
    return lRes;
}

LONG WindowImplBase::GetStyle() {
    LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    style &= ~(WS_CAPTION | WS_THICKFRAME | WS_BORDER | WS_DLGFRAME | WS_MAXIMIZEBOX);
    style |= WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_MINIMIZEBOX;
    return style;
}

LRESULT WindowImplBase::OnCreate(UINT, WPARAM, LPARAM, BOOL&) {
    ::SetWindowLongW(m_hWnd, GWL_STYLE, GetStyle());
    ::SetWindowPos(m_hWnd, NULL, 0, 0, 0, 0,
                   SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_PaintManager.Init(m_hWnd);
    m_PaintManager.AddPreMessageFilter(this);

    // Find the skin and its layout.
    CDuiString skinFile = GetSkinFile();
    BYTE* layout = NULL;
    DWORD layoutSize = 0;
    switch (GetResourceType()) {
    case UILIB_ZIPRESOURCE: {
        HINSTANCE module = CPaintManagerUI::GetResourceDll();
        HRSRC res = ::FindResourceW(module, GetResourceID(), L"ZIPRES");
        HGLOBAL loaded = res ? ::LoadResource(module, res) : NULL;
        const void* bytes = loaded ? ::LockResource(loaded) : NULL;
        DWORD size = res ? ::SizeofResource(module, res) : 0;
        if (!bytes || !m_PaintManager.SetResourceZip(bytes, size)) return -1;
        break;
    }
    case UILIB_ZIP: {
        CPaintManagerUI::FreeResourceData(m_zipData);
        m_zipData = NULL;
        DWORD size = 0;
        CDuiString zipPath = CPaintManagerUI::GetResourcePath() + GetZIPFileName();
        if (!m_PaintManager.LoadResourceData(zipPath, &m_zipData, &size) ||
            !m_PaintManager.SetResourceZip(m_zipData, size))
            return -1;
        break;
    }
    case UILIB_RESOURCE: {
        HINSTANCE module = CPaintManagerUI::GetResourceDll();
        HRSRC res = ::FindResourceW(module, skinFile, L"XML");
        HGLOBAL loaded = res ? ::LoadResource(module, res) : NULL;
        const void* bytes = loaded ? ::LockResource(loaded) : NULL;
        if (!bytes) return -1;
        layoutSize = ::SizeofResource(module, res);
        layout = new BYTE[layoutSize];
        std::memcpy(layout, bytes, layoutSize);
        break;
    }
    case UILIB_FILE:
    default: m_PaintManager.SetSkinFolder(GetSkinFolder()); break;
    }
    if (!layout && !m_PaintManager.LoadResourceData(skinFile, &layout, &layoutSize)) return -1;

    std::string error;
    CControlUI* root =
        uilib::BuildLayout(reinterpret_cast<const char*>(layout), layoutSize, &m_PaintManager, this, error);
    CPaintManagerUI::FreeResourceData(layout);
    if (!root) {
        std::wstring message = L"skin layout: ";
        for (char c : error) message += wchar_t(static_cast<unsigned char>(c));
        ::OutputDebugStringW(message.c_str());
        // Without its controls the window is unusable: refuse creation.
        return -1;
    }
    m_PaintManager.AttachDialog(root);
    m_PaintManager.AddNotifier(this);
    InitWindow();
    return 0;
}

LRESULT WindowImplBase::OnKeyDown(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}
LRESULT WindowImplBase::OnKillFocus(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}
LRESULT WindowImplBase::OnSetFocus(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}
LRESULT WindowImplBase::OnLButtonDown(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}
LRESULT WindowImplBase::OnLButtonUp(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}
LRESULT WindowImplBase::OnMouseMove(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}
LRESULT WindowImplBase::HandleCustomMessage(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    return 0;
}

LRESULT WindowImplBase::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    LRESULT lRes = 0;
    BOOL bHandled = TRUE;
    switch (uMsg) {
    case WM_CREATE: lRes = OnCreate(uMsg, wParam, lParam, bHandled); break;
    case WM_CLOSE: lRes = OnClose(uMsg, wParam, lParam, bHandled); break;
    case WM_DESTROY: lRes = OnDestroy(uMsg, wParam, lParam, bHandled); break;
    case WM_NCACTIVATE: lRes = OnNcActivate(uMsg, wParam, lParam, bHandled); break;
    case WM_NCCALCSIZE: lRes = OnNcCalcSize(uMsg, wParam, lParam, bHandled); break;
    case WM_NCPAINT: lRes = OnNcPaint(uMsg, wParam, lParam, bHandled); break;
    case WM_NCHITTEST: lRes = OnNcHitTest(uMsg, wParam, lParam, bHandled); break;
    case WM_GETMINMAXINFO: lRes = OnGetMinMaxInfo(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEWHEEL: lRes = OnMouseWheel(uMsg, wParam, lParam, bHandled); break;
    case WM_SIZE: lRes = OnSize(uMsg, wParam, lParam, bHandled); break;
    case WM_CHAR: lRes = OnChar(uMsg, wParam, lParam, bHandled); break;
    case WM_SYSCOMMAND: lRes = OnSysCommand(uMsg, wParam, lParam, bHandled); break;
    case WM_KEYDOWN: lRes = OnKeyDown(uMsg, wParam, lParam, bHandled); break;
    case WM_KILLFOCUS: lRes = OnKillFocus(uMsg, wParam, lParam, bHandled); break;
    case WM_SETFOCUS: lRes = OnSetFocus(uMsg, wParam, lParam, bHandled); break;
    case WM_LBUTTONUP: lRes = OnLButtonUp(uMsg, wParam, lParam, bHandled); break;
    case WM_LBUTTONDOWN: lRes = OnLButtonDown(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEMOVE: lRes = OnMouseMove(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEHOVER: lRes = OnMouseHover(uMsg, wParam, lParam, bHandled); break;
    case WM_WINDOWPOSCHANGING: lRes = OnWindowPosChanging(uMsg, wParam, lParam, bHandled); break;
    default: bHandled = FALSE; break;
    }
    if (!bHandled) lRes = HandleCustomMessage(uMsg, wParam, lParam, bHandled);
    if (bHandled) return lRes;
    if (m_PaintManager.MessageHandler(uMsg, wParam, lParam, lRes)) return lRes;
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

void WindowImplBase::Notify(TNotifyUI& msg) {
    if (!NotifyPump(msg) && msg.sType == L"click") OnClick(msg);
}

LRESULT WindowImplBase::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM /*lParam*/, bool& bHandled) {
    if (uMsg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
        LRESULT r = ResponseDefaultKeyEvent(wParam);
        bHandled = r != FALSE;
        return r;
    }
    return FALSE;
}

CControlUI* WindowImplBase::CreateControl(const wchar_t* /*pstrClass*/) { return NULL; }

void WindowImplBase::OnFinalMessage(HWND hWnd) {
    m_PaintManager.RemovePreMessageFilter(this);
    m_PaintManager.RemoveNotifier(this);
    CWindowWnd::OnFinalMessage(hWnd);
}

// CPaintManagerUI: layout, double-buffered painting, mouse and keyboard
// input, the keyboard focus, fonts, pictures, the skin source, the shadow
// window, the display scale and the window's accessible object.
#include <ole2.h>
#include <oleacc.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "uilib/accessible.h"
#include "uilib/dpi.h"
#include "uilib/focus_order.h"
#include "uilib/picture.h"
#include "uilib/uimanager.h"
#include "uilib/zip_reader.h"
#include "util/com_ptr.h"
#include "util/com_scope.h"
#include "util/owned.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

using uilib::Picture;

namespace {

HINSTANCE g_instance = NULL;
HINSTANCE g_resourceDll = NULL;
std::wstring g_resourcePath;
std::vector<CPaintManagerUI*> g_managers;  // UI thread only

std::wstring Lower(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(&s[0], DWORD(s.size()));
    return s;
}

struct FontEntry {
    UniqueGdiObject font;
    std::wstring face;
    int size = 0;  // layout units: pixels at 96 DPI
    bool bold = false, underline = false, italic = false;
};

// The DPI of a window: its own where the system knows it (Windows 10 1607
// and later, Wine), else the system's.
UINT WindowDpi(HWND hwnd) {
    typedef UINT(WINAPI * GetDpiForWindowFn)(HWND);
    static const GetDpiForWindowFn getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && hwnd) {
        UINT dpi = getDpiForWindow(hwnd);
        if (dpi) return dpi;
    }
    CWindowDc screen(NULL);
    int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
    return dpi > 0 ? UINT(dpi) : uilib::kBaseDpi;
}

// Posted to the window to press a control for assistive technology
// (lParam: the control's accessible id).
UINT ActivateMessage() {
    static const UINT message = RegisterWindowMessageW(L"UIAccessibleActivate");
    return message;
}

bool Usable(CControlUI* c) { return c && c->IsVisible() && c->IsEnabled(); }
bool Pressable(CControlUI* c) { return c && c->GetInterface(L"Button") != NULL; }
HWND HostWindow(CControlUI* c) {
    auto* edit = c ? static_cast<CRichEditUI*>(c->GetInterface(L"RichEdit")) : NULL;
    return edit ? edit->GetHostWindow() : NULL;
}

HFONT MakeFont(const std::wstring& face, int size, bool bold, bool underline, bool italic) {
    LOGFONTW lf;
    std::memset(&lf, 0, sizeof lf);
    lf.lfHeight = -size;
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = italic;
    lf.lfUnderline = underline;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = CLEARTYPE_QUALITY;
    lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
    return CreateFontIndirectW(&lf);
}

// The shadow: a layered, click-through popup below the main window.
class ShadowWindow {
public:
    ~ShadowWindow() { Destroy(); }

    void Destroy() {
        if (hwnd_) DestroyWindow(hwnd_);
        hwnd_ = NULL;
        size_ = SIZE{0, 0};
    }
    HWND Handle() const { return hwnd_; }

    // The next placement draws the shadow anew (the scale changed).
    void Redraw() { size_ = SIZE{0, 0}; }

    // Follows the main window: hidden with it, shown and placed around it.
    // `corner` is in pixels.
    void Follow(HWND main, CPaintManagerUI* manager, const RECT& corner) {
        if (!IsWindowVisible(main) || IsIconic(main) || IsZoomed(main)) {
            if (hwnd_ && IsWindowVisible(hwnd_)) ShowWindow(hwnd_, SW_HIDE);
            return;
        }
        if (!hwnd_ && !Create()) return;
        RECT rc;
        GetWindowRect(main, &rc);
        SIZE win = {rc.right - rc.left, rc.bottom - rc.top};
        POINT pos = {rc.left - corner.left, rc.top - corner.top};
        SIZE full = {win.cx + corner.left + corner.right, win.cy + corner.top + corner.bottom};
        if (full.cx != size_.cx || full.cy != size_.cy) {
            UniqueGdiObject bmp(manager->CreateShadowBitmap(win));
            if (!bmp) return;
            CWindowDc screen(NULL);
            UniqueMemDc mem(CreateCompatibleDC(screen.get()));
            HGDIOBJ old = SelectObject(mem.get(), bmp.get());
            POINT zero = {0, 0};
            BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            UpdateLayeredWindow(hwnd_, screen.get(), &pos, &full, mem.get(), &zero, 0, &bf, ULW_ALPHA);
            SelectObject(mem.get(), old);
            size_ = full;
        }
        SetWindowPos(hwnd_, main, pos.x, pos.y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    }

private:
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m == WM_NCHITTEST) return HTTRANSPARENT;
        if (m == WM_MOUSEACTIVATE) return MA_NOACTIVATE;
        return DefWindowProcW(h, m, w, l);
    }
    bool Create() {
        static const wchar_t* kClass = L"UIShadowWnd";
        WNDCLASSW wc;
        std::memset(&wc, 0, sizeof wc);
        wc.lpfnWndProc = Proc;
        wc.hInstance = CPaintManagerUI::GetInstance();
        wc.hCursor = LoadCursorW(NULL, IDC_ARROW);
        wc.lpszClassName = kClass;
        if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
        hwnd_ = CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kClass, L"",
                                WS_POPUP, 0, 0, 0, 0, NULL, NULL, CPaintManagerUI::GetInstance(), NULL);
        return hwnd_ != NULL;
    }

    HWND hwnd_ = NULL;
    SIZE size_ = {0, 0};
};

struct NameQuery {
    const wchar_t* name;
};

CControlUI* CALLBACK FindByName(CControlUI* c, LPVOID data) {
    const wchar_t* want = static_cast<NameQuery*>(data)->name;
    return c->GetName() == want ? c : NULL;
}

CControlUI* CALLBACK FindAny(CControlUI* c, LPVOID) { return c; }

// Posted to the window to place its shadow once the first frame is painted.
UINT ShadowMessage() {
    static const UINT message = RegisterWindowMessageW(L"UIShadowFollow");
    return message;
}

CControlUI* CALLBACK CollectAll(CControlUI* c, LPVOID data) {
    static_cast<std::vector<CControlUI*>*>(data)->push_back(c);
    return NULL;
}

// Every control of a tree in layout order (a container before its children).
std::vector<CControlUI*> AllControls(CControlUI* root) {
    std::vector<CControlUI*> all;
    if (root) root->FindControl(CollectAll, &all, UIFIND_ALL);
    return all;
}

}  // namespace

struct CPaintManagerUI::Impl {
    CPaintManagerUI* owner = NULL;
    HWND hwnd = NULL;
    CControlUI* root = NULL;
    std::vector<INotifyUI*> notifiers;
    std::vector<IMessageFilterUI*> preFilters;
    std::vector<IMessageFilterUI*> filters;

    SIZE initSize = {0, 0};
    RECT caption = {0, 0, 0, 0};
    SIZE roundCorner = {0, 0};
    SIZE minInfo = {0, 0};
    bool transparent = false;

    bool showShadow = false;
    std::wstring shadowImage;
    RECT shadowCorner = {0, 0, 0, 0};
    ShadowWindow shadow;

    std::vector<FontEntry> fonts;
    FontEntry defaultFont;
    bool hasDefaultFont = false;
    UniqueGdiObject fallbackFont;

    const void* zipData = nullptr;
    uilib::ZipArchive zip;
    bool hasZip = false;
    std::wstring skinFolder;
    std::map<std::wstring, std::unique_ptr<Picture>> pictures;  // null: could not be loaded
    // A picture as named in the layout -> the variant drawn at this DPI.
    struct Resolved {
        Picture* picture;
        UINT dpi;
    };
    std::map<std::wstring, Resolved> resolved;

    UINT dpi = uilib::kBaseDpi;
    RECT captionScaled = {0, 0, 0, 0};

    CControlUI* focus = NULL;
    bool focusMark = false;
    CControlUI* spacePressed = NULL;  // Space is down on this button
    DWORD focusColor = 0;

    // OLE, started by the window for a client's first question when the
    // program had not started COM; it ends with the accessible object.
    CComScope ole;
    CComPtr<IAccessible> accessible;
    std::vector<std::pair<CControlUI*, LONG>> accIds;
    LONG nextAccId = 1;
    // What assistive technology saw after the last layout pass.
    bool accSnapshot = false;
    std::vector<CControlUI*> accLast;
    std::wstring accLastName;

    bool updateNeeded = true;
    bool windowInitSent = false;
    UniqueMemDc offDc;
    UniqueGdiObject offBitmap;
    HGDIOBJ offOld = NULL;
    SIZE offSize = {0, 0};

    CControlUI* hover = NULL;
    CControlUI* pressed = NULL;
    bool mouseTracking = false;
    POINT lastMouse = {0, 0};

    int Scale(int v) const { return uilib::ScaleValue(v, dpi); }

    HFONT Font(int index) {
        if (index >= 0 && size_t(index) < fonts.size()) return static_cast<HFONT>(fonts[size_t(index)].font.get());
        if (hasDefaultFont) return static_cast<HFONT>(defaultFont.font.get());
        if (!fallbackFont) {
            NONCLIENTMETRICSW ncm;
            std::memset(&ncm, 0, sizeof ncm);
            ncm.cbSize = sizeof ncm;
            SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
            fallbackFont.reset(CreateFontIndirectW(&ncm.lfMessageFont));
        }
        return static_cast<HFONT>(fallbackFont.get());
    }

    void ReleaseOffscreen() {
        if (offDc && offOld) SelectObject(offDc.get(), offOld);
        offOld = NULL;
        offBitmap.reset();
        offDc.reset();
        offSize = SIZE{0, 0};
    }

    HDC Offscreen(HDC like, int cx, int cy) {
        if (offDc && offSize.cx == cx && offSize.cy == cy) return offDc.get();
        ReleaseOffscreen();
        offDc.reset(CreateCompatibleDC(like));
        offBitmap.reset(uilib::CreateDib32(cx, cy, nullptr));
        if (!offDc || !offBitmap) {
            ReleaseOffscreen();
            return NULL;
        }
        offOld = SelectObject(offDc.get(), offBitmap.get());
        offSize = SIZE{cx, cy};
        return offDc.get();
    }

    void Layout() {
        if (!root || !hwnd) return;
        RECT rc;
        GetClientRect(hwnd, &rc);
        if (rc.right <= rc.left || rc.bottom <= rc.top) return;
        updateNeeded = false;
        // The tree may move controls by itself: force every position anew.
        // It is laid out in units of 96 DPI; the controls scale their pixels.
        RECT logical = {0, 0, uilib::UnscaleValue(rc.right, dpi), uilib::UnscaleValue(rc.bottom, dpi)};
        root->SetPos(logical);
        for (CControlUI* c : AllControls(root)) c->OnLayoutDone(c->IsVisible());
        AfterLayout();
    }

    // The controls assistive technology sees now.
    std::vector<CControlUI*> Accessible() const {
        std::vector<CControlUI*> seen;
        for (CControlUI* c : AllControls(root))
            if (c->IsVisible() && c->GetAccessibleRole() != UIROLE_NONE) seen.push_back(c);
        return seen;
    }

    std::wstring ClientName() const {
        for (CControlUI* c : AllControls(root)) {
            if (!c->IsVisible() || !c->GetInterface(L"Container")) continue;
            CDuiString name = c->GetAccessibleName();
            if (!name.IsEmpty()) return name.GetData();
        }
        wchar_t text[256] = {};
        if (hwnd) GetWindowTextW(hwnd, text, 256);
        return text;
    }

    bool HasSystemFocus() const {
        HWND f = ::GetFocus();
        return f && (f == hwnd || IsChild(hwnd, f));
    }

    void Notify(DWORD event, LONG child) {
        if (hwnd) NotifyWinEvent(event, hwnd, OBJID_CLIENT, child);
    }

    // After the controls have moved or changed visibility: the focus leaves
    // a control that can no longer take it, and assistive technology hears
    // of a new page (the client's name) or new controls (reorder).
    void AfterLayout() {
        if (focus && !Usable(focus)) {
            HWND host = HostWindow(focus);
            if (spacePressed == focus) spacePressed = NULL;
            focus = NULL;
            if (host && ::GetFocus() == host) ::SetFocus(hwnd);
            if (HasSystemFocus()) Notify(EVENT_OBJECT_FOCUS, CHILDID_SELF);
        }
        std::vector<CControlUI*> now = Accessible();
        std::wstring name = ClientName();
        if (accSnapshot) {
            if (name != accLastName) Notify(EVENT_OBJECT_NAMECHANGE, CHILDID_SELF);
            if (now != accLast) Notify(EVENT_OBJECT_REORDER, CHILDID_SELF);
        }
        accSnapshot = true;
        accLast.swap(now);
        accLastName.swap(name);
    }

    void DrawFocusMark(HDC dc) {
        if (!focusMark || !Usable(focus)) return;
        RECT r = owner->GetFocusMarkRect(focus);
        if (IsRectEmpty(&r)) return;
        DWORD argb = focus->GetFocusColor() ? focus->GetFocusColor() : focusColor ? focusColor : 0xFF000000;
        UniqueGdiObject brush(CreateSolidBrush(RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF)));
        int t = Scale(1);
        RECT edges[4] = {{r.left, r.top, r.right, r.top + t},
                         {r.left, r.bottom - t, r.right, r.bottom},
                         {r.left, r.top + t, r.left + t, r.bottom - t},
                         {r.right - t, r.top + t, r.right, r.bottom - t}};
        for (const RECT& e : edges) FillRect(dc, &e, static_cast<HBRUSH>(brush.get()));
    }

    CControlUI* FindKeyButton(bool isDefault) const {
        for (CControlUI* c : AllControls(root))
            if (Usable(c) && Pressable(c) && (isDefault ? c->IsDefaultButton() : c->IsCancelButton())) return c;
        return NULL;
    }

    void EndSpacePress() {
        CControlUI* c = spacePressed;
        spacePressed = NULL;
        if (c) Event(c, UIEVENT_KILLCAPTURE, lastMouse, 0, 0);
    }

    // The keys of the keyboard interface, for the window or a control's own
    // window (`target`); true when consumed.
    bool Key(HWND target, UINT message, WPARAM key, LPARAM lParam) {
        if (!root) return false;
        if (message == WM_KEYUP && key == VK_SPACE && spacePressed) {
            CControlUI* c = spacePressed;
            EndSpacePress();
            if (c == focus && Usable(c)) c->Activate();
            return true;
        }
        if (message != WM_KEYDOWN) return false;
        if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
        switch (key) {
        case VK_TAB: owner->MoveFocus(GetKeyState(VK_SHIFT) >= 0); return true;
        case VK_SPACE: {
            // In a text box Space is typed.
            if (target != hwnd || !Usable(focus) || !Pressable(focus)) return false;
            if (!(lParam & 0x40000000) && !spacePressed) {  // not a repeat
                spacePressed = focus;
                RECT r = focus->GetPos();
                POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
                Event(focus, UIEVENT_BUTTONDOWN, centre, 0, 0);
            }
            return true;
        }
        case VK_RETURN: {
            CControlUI* c = NULL;
            if (Usable(focus) && Pressable(focus)) {
                DWORD role = focus->GetAccessibleRole();
                if (role == ROLE_SYSTEM_PUSHBUTTON || role == ROLE_SYSTEM_LINK) c = focus;
            }
            if (!c) c = FindKeyButton(true);
            if (!c) return false;
            c->Activate();
            return true;
        }
        case VK_ESCAPE: {
            CControlUI* c = FindKeyButton(false);
            if (!c) return false;
            c->Activate();
            return true;
        }
        default: return false;
        }
    }

    // A picture as the layout names it, in the variant drawn nearest to the
    // window's DPI; `variantDpi` tells its scale. Null if it cannot be loaded.
    Picture* Resolve(const std::wstring& file, UINT* variantDpi) {
        std::wstring key = Lower(file);
        auto it = resolved.find(key);
        if (it == resolved.end()) {
            Resolved r = {NULL, uilib::kBaseDpi};
            if (dpi != uilib::kBaseDpi) {
                unsigned present = 0;
                for (unsigned i = 0; i < sizeof uilib::kVariantDpis / sizeof uilib::kVariantDpis[0]; ++i)
                    if (Exists(uilib::VariantName(file, uilib::kVariantDpis[i]))) present |= 1u << i;
                UINT chosen = uilib::ChooseVariant(dpi, present);
                if (chosen != uilib::kBaseDpi) {
                    r.picture = Load(uilib::VariantName(file, chosen));
                    if (r.picture) r.dpi = chosen;
                }
            }
            if (!r.picture) r.picture = Load(file);
            it = resolved.emplace(key, r).first;
        }
        if (variantDpi) *variantDpi = it->second.dpi;
        return it->second.picture;
    }

    bool Exists(const std::wstring& name) const {
        if (hasZip) return zip.Find(name) >= 0;
        std::wstring path = name;
        bool absolute = path.size() > 1 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'));
        if (!absolute) path = g_resourcePath + skinFolder + path;
        return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    Picture* Load(const std::wstring& file) {
        std::wstring key = Lower(file);
        auto it = pictures.find(key);
        if (it == pictures.end()) {
            std::unique_ptr<Picture> pic;
            BYTE* data = NULL;
            DWORD len = 0;
            if (owner->LoadResourceData(file.c_str(), &data, &len)) {
                pic.reset(new Picture);
                if (!uilib::DecodePicture(data, len, *pic)) pic.reset();
                CPaintManagerUI::FreeResourceData(data);
            }
            it = pictures.emplace(key, std::move(pic)).first;
        }
        return it->second.get();
    }

    // Ends the accessible object's service: clients that still hold it get
    // errors from now on.
    void ReleaseAccessible() {
        if (accessible) {
            uilib::DetachWindowAccessible(accessible.get());
            CoDisconnectObject(accessible.get(), 0);
            accessible.reset();
        }
        ole.end();
    }

    void Paint(HDC target, const RECT& area) {
        RECT client;
        GetClientRect(hwnd, &client);
        HDC off = Offscreen(target, client.right, client.bottom);
        if (!off) return;
        HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        FillRect(off, &area, white);
        if (root) {
            int saved = SaveDC(off);
            IntersectClipRect(off, area.left, area.top, area.right, area.bottom);
            root->DoPaint(off, area);
            DrawFocusMark(off);
            RestoreDC(off, saved);
        }
        BitBlt(target, area.left, area.top, area.right - area.left, area.bottom - area.top, off, area.left, area.top,
               SRCCOPY);
    }

    void Event(CControlUI* c, int type, POINT pt, WPARAM w, LPARAM l) {
        if (!c) return;
        TEventUI e;
        e.Type = type;
        e.pSender = c;
        e.dwTimestamp = GetTickCount();
        e.ptMouse = pt;
        e.wParam = w;
        e.lParam = l;
        c->DoEvent(e);
    }
};

// -------------------------------------------------------------- process-wide

CPaintManagerUI::CPaintManagerUI() : m_impl(new Impl) { m_impl->owner = this; }

CPaintManagerUI::~CPaintManagerUI() {
    g_managers.erase(std::remove(g_managers.begin(), g_managers.end(), this), g_managers.end());
    m_impl->ReleaseAccessible();
    CControlUI* root = m_impl->root;
    m_impl->root = NULL;
    m_impl->hover = m_impl->pressed = m_impl->focus = m_impl->spacePressed = NULL;
    delete root;
    m_impl->ReleaseOffscreen();
    delete m_impl;
}

void CPaintManagerUI::SetInstance(HINSTANCE hInst) { g_instance = hInst; }
HINSTANCE CPaintManagerUI::GetInstance() { return g_instance; }

CDuiString CPaintManagerUI::GetInstancePath() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(g_instance, buf.data(), DWORD(buf.size()));
        if (n == 0) return CDuiString();
        if (n < buf.size()) {
            std::wstring path(buf.data(), n);
            size_t slash = path.find_last_of(L"\\/");
            return CDuiString(path.c_str(), slash == std::wstring::npos ? 0 : int(slash + 1));
        }
        if (buf.size() >= 32768) return CDuiString();
        buf.resize(buf.size() * 2);
    }
}

void CPaintManagerUI::SetResourcePath(const wchar_t* path) {
    g_resourcePath = path ? path : L"";
    if (!g_resourcePath.empty() && g_resourcePath.back() != L'\\' && g_resourcePath.back() != L'/')
        g_resourcePath += L'\\';
}
CDuiString CPaintManagerUI::GetResourcePath() { return CDuiString(g_resourcePath.c_str()); }
void CPaintManagerUI::SetResourceDll(HINSTANCE hInst) { g_resourceDll = hInst; }
HINSTANCE CPaintManagerUI::GetResourceDll() { return g_resourceDll ? g_resourceDll : g_instance; }

int CPaintManagerUI::MessageLoop() {
    MSG msg;
    std::memset(&msg, 0, sizeof msg);
    for (;;) {
        BOOL got = GetMessageW(&msg, NULL, 0, 0);
        if (got == 0 || got == -1) break;
        if (!CPaintManagerUI::TranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return int(msg.wParam);
}

bool CPaintManagerUI::TranslateMessage(const MSG* msg) {
    if (!msg || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return false;
    // Keyboard messages go first to the pre-filters of the window they (or
    // their child control) belong to.
    HWND top = GetAncestor(msg->hwnd, GA_ROOT);
    std::vector<CPaintManagerUI*> managers = g_managers;
    for (CPaintManagerUI* m : managers) {
        if (m->m_impl->hwnd != top) continue;
        LRESULT lRes = 0;
        if (m->PreMessageHandler(msg->message, msg->wParam, msg->lParam, lRes)) return true;
        // Then the keyboard interface, also for keys a control's own window
        // (a text box) would take: Tab, Enter and Escape.
        if (m->m_impl->Key(msg->hwnd, msg->message, msg->wParam, msg->lParam)) return true;
    }
    return false;
}

// ---------------------------------------------------------------- one window

void CPaintManagerUI::Init(HWND hWnd) {
    m_impl->hwnd = hWnd;
    m_impl->dpi = WindowDpi(hWnd);
    m_impl->captionScaled = ScaleRect(m_impl->caption);
    if (std::find(g_managers.begin(), g_managers.end(), this) == g_managers.end()) g_managers.push_back(this);
}

HWND CPaintManagerUI::GetPaintWindow() const { return m_impl->hwnd; }
CControlUI* CPaintManagerUI::GetRoot() const { return m_impl->root; }

bool CPaintManagerUI::AttachDialog(CControlUI* root) {
    if (!root) return false;
    delete m_impl->root;
    m_impl->hover = m_impl->pressed = m_impl->focus = m_impl->spacePressed = NULL;
    m_impl->accIds.clear();
    m_impl->accSnapshot = false;
    m_impl->accLast.clear();
    m_impl->root = root;
    m_impl->updateNeeded = true;
    root->SetManager(this, NULL, false);
    // Controls that own system windows create them now the window exists.
    std::vector<CControlUI*> all;
    root->FindControl(CollectAll, &all, UIFIND_ALL);
    for (CControlUI* c : all) c->Init();
    Invalidate();
    return true;
}

template <class T>
static bool AddUnique(std::vector<T*>& v, T* item) {
    if (!item || std::find(v.begin(), v.end(), item) != v.end()) return false;
    v.push_back(item);
    return true;
}
template <class T>
static bool RemoveItem(std::vector<T*>& v, T* item) {
    auto it = std::find(v.begin(), v.end(), item);
    if (it == v.end()) return false;
    v.erase(it);
    return true;
}

bool CPaintManagerUI::AddNotifier(INotifyUI* n) { return AddUnique(m_impl->notifiers, n); }
bool CPaintManagerUI::RemoveNotifier(INotifyUI* n) { return RemoveItem(m_impl->notifiers, n); }
bool CPaintManagerUI::AddPreMessageFilter(IMessageFilterUI* f) { return AddUnique(m_impl->preFilters, f); }
bool CPaintManagerUI::RemovePreMessageFilter(IMessageFilterUI* f) { return RemoveItem(m_impl->preFilters, f); }
bool CPaintManagerUI::AddMessageFilter(IMessageFilterUI* f) { return AddUnique(m_impl->filters, f); }
bool CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* f) { return RemoveItem(m_impl->filters, f); }

namespace {

// Offers a message to each filter in order (a copy of the list: a filter may
// remove itself); the first that handles it ends its way.
bool RunFilters(std::vector<IMessageFilterUI*> filters, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    for (IMessageFilterUI* f : filters) {
        bool handled = false;
        LRESULT r = f->MessageHandler(uMsg, wParam, lParam, handled);
        if (handled) {
            lRes = r;
            return true;
        }
    }
    return false;
}

}  // namespace

bool CPaintManagerUI::PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    return RunFilters(m_impl->preFilters, uMsg, wParam, lParam, lRes);
}

// Routes one message of the window: the message filters first, then the
// manager's own posted messages, then each family of system messages to its
// handler. Every handler returns true when it consumed the message (lRes
// holds the result) and false when default handling should follow.
bool CPaintManagerUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    if (!m_impl->hwnd) return false;
    if (RunFilters(m_impl->filters, uMsg, wParam, lParam, lRes)) return true;
    // Registered messages: their numbers are known only at run time.
    if (uMsg == ShadowMessage() || uMsg == ActivateMessage()) return OnOwnMessage(uMsg, lParam, lRes);
    switch (uMsg) {
    case WM_ERASEBKGND:
    case WM_PAINT:
    case WM_PRINTCLIENT: return OnPaintMessage(uMsg, wParam, lRes);
    case WM_SIZE:
    case WM_WINDOWPOSCHANGED:
    case WM_SHOWWINDOW:
    case WM_DPICHANGED: return OnPlacementMessage(uMsg, wParam, lParam, lRes);
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SETFOCUS:
    case WM_KILLFOCUS: return OnKeyboardMessage(uMsg, wParam, lParam, lRes);
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
    case WM_SETCURSOR: return OnMouseMessage(uMsg, wParam, lParam, lRes);
    case WM_DESTROY:
    case WM_GETOBJECT: return OnLifetimeMessage(uMsg, wParam, lParam, lRes);
    // WM_COMMAND, WM_NOTIFY and the rest take the default way.
    default: return false;
    }
}

// What the manager posts to its own window: the shadow's first showing and
// a control pressed for assistive technology.
bool CPaintManagerUI::OnOwnMessage(UINT uMsg, LPARAM lParam, LRESULT& lRes) {
    Impl& d = *m_impl;
    if (uMsg == ShadowMessage()) {
        if (d.showShadow) d.shadow.Follow(d.hwnd, this, ScaleRect(d.shadowCorner));
        lRes = 0;
        return true;
    }
    if (uMsg == ActivateMessage()) {
        CControlUI* c = FindAccessibleId(LONG(lParam));
        if (Usable(c) && Pressable(c)) c->Activate();
        lRes = 0;
        return true;
    }
    return false;
}

// Painting: the background is part of the double-buffered picture.
bool CPaintManagerUI::OnPaintMessage(UINT uMsg, WPARAM wParam, LRESULT& lRes) {
    Impl& d = *m_impl;
    switch (uMsg) {
    case WM_ERASEBKGND: lRes = 1; return true;
    case WM_PAINT: {
        if (d.updateNeeded) d.Layout();
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(d.hwnd, &ps);
        if (ps.rcPaint.right > ps.rcPaint.left && ps.rcPaint.bottom > ps.rcPaint.top) d.Paint(hdc, ps.rcPaint);
        EndPaint(d.hwnd, &ps);
        // The first frame is on screen: the window is now initialised.
        if (!d.windowInitSent && d.root && IsWindowVisible(d.hwnd)) {
            d.windowInitSent = true;
            SendNotify(d.root, L"windowinit");
            // The shadow (a layered window and the first picture decoded)
            // comes after the first frame, so the window shows without waiting for it.
            if (d.showShadow) PostMessageW(d.hwnd, ShadowMessage(), 0, 0);
        }
        lRes = 0;
        return true;
    }
    case WM_PRINTCLIENT:
        RenderTo(reinterpret_cast<HDC>(wParam));
        lRes = 0;
        return true;
    default: return false;
    }
}

// Size, position, visibility and display scale of the window.
bool CPaintManagerUI::OnPlacementMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    Impl& d = *m_impl;
    switch (uMsg) {
    case WM_SIZE:
        if (d.root && wParam != SIZE_MINIMIZED) {
            d.updateNeeded = true;
            InvalidateRect(d.hwnd, NULL, FALSE);
        }
        return false;
    case WM_WINDOWPOSCHANGED:
    case WM_SHOWWINDOW:
        if (d.showShadow) {
            if (uMsg == WM_SHOWWINDOW && !wParam) {
                if (d.shadow.Handle()) ShowWindow(d.shadow.Handle(), SW_HIDE);
            } else if (uMsg == WM_WINDOWPOSCHANGED && (d.shadow.Handle() || d.windowInitSent)) {
                d.shadow.Follow(d.hwnd, this, ScaleRect(d.shadowCorner));
            }
        }
        return false;
    case WM_DPICHANGED: {
        SetDpi(LOWORD(wParam));
        // Placed where the system suggests, at the size the layout asks for.
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        if (suggested) {
            int cx = d.initSize.cx > 0 ? Scale(d.initSize.cx) : suggested->right - suggested->left;
            int cy = d.initSize.cy > 0 ? Scale(d.initSize.cy) : suggested->bottom - suggested->top;
            SetWindowPos(d.hwnd, NULL, suggested->left, suggested->top, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
        }
        lRes = 0;
        return true;
    }
    default: return false;
    }
}

// The keyboard interface and the window's system focus.
bool CPaintManagerUI::OnKeyboardMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    Impl& d = *m_impl;
    switch (uMsg) {
    case WM_KEYDOWN:
    case WM_KEYUP:
        // Keys the message loop did not hand to TranslateMessage.
        if (d.Key(d.hwnd, uMsg, wParam, lParam)) {
            lRes = 0;
            return true;
        }
        return false;
    case WM_SETFOCUS:
        // The window itself has the system focus: a text box no longer has it.
        if (HostWindow(d.focus))
            SetFocus(NULL);
        else if (d.focus)
            d.Notify(EVENT_OBJECT_FOCUS, -GetAccessibleId(d.focus));
        return false;
    case WM_KILLFOCUS: {
        d.EndSpacePress();
        // Focus going into a control's own window (a click into the text box).
        HWND to = reinterpret_cast<HWND>(wParam);
        // The system is moving the focus now: only the record follows.
        if (to && IsChild(d.hwnd, to) && to != HostWindow(d.focus)) {
            for (CControlUI* c : AllControls(d.root)) {
                if (HostWindow(c) == to && Usable(c)) {
                    if (d.focus && d.focusMark) Invalidate(GetFocusMarkRect(d.focus));
                    d.focus = c;
                    d.focusMark = false;
                    break;
                }
            }
        }
        return false;
    }
    default: return false;
    }
}

// The mouse: hover, press, release and capture as control events, and the
// cursor of the control under the pointer.
bool CPaintManagerUI::OnMouseMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    Impl& d = *m_impl;
    POINT pt = {short(LOWORD(lParam)), short(HIWORD(lParam))};
    switch (uMsg) {
    case WM_MOUSEMOVE: {
        if (!d.mouseTracking) {
            TRACKMOUSEEVENT tme = {sizeof tme, TME_LEAVE, d.hwnd, 0};
            d.mouseTracking = TrackMouseEvent(&tme) != FALSE;
        }
        d.lastMouse = pt;
        CControlUI* now = FindControl(pt);
        if (now != d.hover) {
            CControlUI* old = d.hover;
            d.hover = now;
            d.Event(old, UIEVENT_MOUSELEAVE, pt, wParam, lParam);
            d.Event(now, UIEVENT_MOUSEENTER, pt, wParam, lParam);
        }
        if (d.pressed)
            d.Event(d.pressed, UIEVENT_MOUSEMOVE, pt, wParam, lParam);
        else if (now)
            d.Event(now, UIEVENT_MOUSEMOVE, pt, wParam, lParam);
        lRes = 0;
        return true;
    }
    case WM_MOUSELEAVE: {
        d.mouseTracking = false;
        CControlUI* old = d.hover;
        d.hover = NULL;
        d.Event(old, UIEVENT_MOUSELEAVE, d.lastMouse, wParam, lParam);
        lRes = 0;
        return true;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        ::SetFocus(d.hwnd);
        d.lastMouse = pt;
        CControlUI* target = FindControl(pt);
        // A click takes the focus to a tab stop, without the keyboard's mark.
        if (d.focusMark) {
            d.focusMark = false;
            if (d.focus) Invalidate(GetFocusMarkRect(d.focus));
        }
        if (target && target->IsTabStop() && Usable(target)) SetFocus(target);
        if (target && target->IsEnabled()) {
            d.pressed = target;
            ::SetCapture(d.hwnd);
            d.Event(target, uMsg == WM_LBUTTONDOWN ? UIEVENT_BUTTONDOWN : UIEVENT_DBLCLICK, pt, wParam, lParam);
        }
        lRes = 0;
        return true;
    }
    case WM_LBUTTONUP: {
        d.lastMouse = pt;
        CControlUI* target = d.pressed;
        d.pressed = NULL;
        if (GetCapture() == d.hwnd) ::ReleaseCapture();
        // Last: the notification may lead anywhere.
        d.Event(target, UIEVENT_BUTTONUP, pt, wParam, lParam);
        lRes = 0;
        return true;
    }
    case WM_CAPTURECHANGED:
        if (d.pressed && reinterpret_cast<HWND>(lParam) != d.hwnd) {
            CControlUI* target = d.pressed;
            d.pressed = NULL;
            d.Event(target, UIEVENT_KILLCAPTURE, d.lastMouse, 0, 0);
        }
        return false;
    case WM_SETCURSOR: {
        if (LOWORD(lParam) != HTCLIENT || reinterpret_cast<HWND>(wParam) != d.hwnd) return false;
        POINT cur;
        GetCursorPos(&cur);
        ScreenToClient(d.hwnd, &cur);
        CControlUI* c = FindControl(cur);
        if (!c) return false;
        d.Event(c, UIEVENT_SETCURSOR, cur, wParam, lParam);
        lRes = TRUE;
        return true;
    }
    default: return false;
    }
}

// The window's end, and its accessible object for assistive technology.
bool CPaintManagerUI::OnLifetimeMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    Impl& d = *m_impl;
    switch (uMsg) {
    case WM_DESTROY:
        d.shadow.Destroy();
        d.ReleaseAccessible();
        return false;
    case WM_GETOBJECT: {
        if (LONG(lParam) != LONG(OBJID_CLIENT) || !d.root) return false;
        if (!d.accessible) d.accessible = uilib::CreateWindowAccessible(this);
        LRESULT r = uilib::AccLresultFromObject(IID_IAccessible, wParam, d.accessible.get());
        if (r == LRESULT(CO_E_NOTINITIALIZED) && !d.ole.ok() && SUCCEEDED(d.ole.start(CComScope::kOle))) {
            // A program that never started COM: the window does, for as long as it lives.
            r = uilib::AccLresultFromObject(IID_IAccessible, wParam, d.accessible.get());
        }
        if (r < 0) return false;
        lRes = r;
        return true;
    }
    default: return false;
    }
}

CControlUI* CPaintManagerUI::FindControl(const wchar_t* name) const {
    if (!m_impl->root || !name) return NULL;
    NameQuery q = {name};
    return m_impl->root->FindControl(FindByName, &q, UIFIND_ALL);
}

CControlUI* CPaintManagerUI::FindControl(POINT pt) const {
    if (!m_impl->root) return NULL;
    return m_impl->root->FindControl(FindAny, &pt, UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST);
}

void CPaintManagerUI::SendNotify(CControlUI* control, const wchar_t* type, WPARAM wParam, LPARAM lParam) {
    TNotifyUI msg;
    msg.sType = type;
    msg.pSender = control;
    msg.dwTimestamp = GetTickCount();
    msg.ptMouse = m_impl->lastMouse;
    msg.wParam = wParam;
    msg.lParam = lParam;
    SendNotify(msg);
}

void CPaintManagerUI::SendNotify(TNotifyUI& msg) {
    std::vector<INotifyUI*> notifiers = m_impl->notifiers;
    for (INotifyUI* n : notifiers) n->Notify(msg);
}

SIZE CPaintManagerUI::GetInitSize() const { return m_impl->initSize; }
// The layout's window size is in units of 96 DPI; the window is scaled.
void CPaintManagerUI::SetInitSize(int cx, int cy) {
    m_impl->initSize = SIZE{cx, cy};
    if (m_impl->hwnd && cx > 0 && cy > 0)
        SetWindowPos(m_impl->hwnd, NULL, 0, 0, Scale(cx), Scale(cy), SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}
// The caption strip, round corners and minimum size in pixels.
RECT& CPaintManagerUI::GetCaptionRect() { return m_impl->captionScaled; }
void CPaintManagerUI::SetCaptionRect(const RECT& rc) {
    m_impl->caption = rc;
    m_impl->captionScaled = ScaleRect(rc);
}
SIZE CPaintManagerUI::GetRoundCorner() const {
    return SIZE{Scale(m_impl->roundCorner.cx), Scale(m_impl->roundCorner.cy)};
}
void CPaintManagerUI::SetRoundCorner(int cx, int cy) { m_impl->roundCorner = SIZE{cx, cy}; }
SIZE CPaintManagerUI::GetMinInfo() const { return SIZE{Scale(m_impl->minInfo.cx), Scale(m_impl->minInfo.cy)}; }
void CPaintManagerUI::SetMinInfo(int cx, int cy) { m_impl->minInfo = SIZE{cx, cy}; }
void CPaintManagerUI::SetTransparent(bool transparent) { m_impl->transparent = transparent; }
bool CPaintManagerUI::IsTransparent() const { return m_impl->transparent; }

void CPaintManagerUI::SetShadow(bool show, const wchar_t* image, const RECT& corner) {
    m_impl->showShadow = show && image && *image;
    m_impl->shadowImage = image ? image : L"";
    m_impl->shadowCorner = corner;
    if (!m_impl->showShadow) m_impl->shadow.Destroy();
}
bool CPaintManagerUI::IsShadowShown() const { return m_impl->showShadow; }
HWND CPaintManagerUI::GetShadowWindow() const { return m_impl->shadow.Handle(); }

HBITMAP CPaintManagerUI::CreateShadowBitmap(SIZE windowSize) {
    Impl& d = *m_impl;
    if (d.shadowImage.empty() || windowSize.cx <= 0 || windowSize.cy <= 0) return NULL;
    UINT variantDpi = uilib::kBaseDpi;
    Picture* pic = d.Resolve(d.shadowImage, &variantDpi);
    if (!pic) return NULL;
    // The corners in the picture's pixels and in the window's.
    RECT source = uilib::ScaleRect(d.shadowCorner, variantDpi);
    RECT c = ScaleRect(d.shadowCorner);
    int w = windowSize.cx + c.left + c.right, h = windowSize.cy + c.top + c.bottom;
    unsigned char* bits = nullptr;
    HBITMAP bmp = uilib::CreateDib32(w, h, &bits);
    if (!bmp) return NULL;
    uilib::NineGridCopy(*pic, source, c, bits, w, h, true);
    return bmp;
}

int CPaintManagerUI::AddFont(const wchar_t* face, int size, bool bold, bool underline, bool italic) {
    FontEntry e;
    e.face = face ? face : L"";
    e.size = size;
    e.bold = bold;
    e.underline = underline;
    e.italic = italic;
    e.font.reset(MakeFont(e.face, Scale(size), bold, underline, italic));
    m_impl->fonts.push_back(std::move(e));
    return int(m_impl->fonts.size()) - 1;
}

void CPaintManagerUI::SetDefaultFont(const wchar_t* face, int size, bool bold, bool underline, bool italic) {
    FontEntry& e = m_impl->defaultFont;
    e.face = face ? face : L"";
    e.size = size;
    e.bold = bold;
    e.underline = underline;
    e.italic = italic;
    e.font.reset(MakeFont(e.face, Scale(size), bold, underline, italic));
    m_impl->hasDefaultFont = bool(e.font);
}

HFONT CPaintManagerUI::GetFont(int index) const { return m_impl->Font(index); }
int CPaintManagerUI::GetFontCount() const { return int(m_impl->fonts.size()); }
DWORD CPaintManagerUI::GetDefaultDisabledColor() const { return 0xFFA7A6AA; }

bool CPaintManagerUI::SetResourceZip(const void* data, unsigned size) {
    m_impl->pictures.clear();
    m_impl->resolved.clear();
    m_impl->hasZip = m_impl->zip.Open(data, size);
    m_impl->zipData = m_impl->hasZip ? data : nullptr;
    return m_impl->hasZip;
}

void CPaintManagerUI::SetSkinFolder(const wchar_t* folder) {
    m_impl->skinFolder = folder ? folder : L"";
    m_impl->resolved.clear();
}

bool CPaintManagerUI::LoadResourceData(const wchar_t* name, BYTE** data, DWORD* size) const {
    if (!name || !data || !size) return false;
    *data = NULL;
    *size = 0;
    std::string bytes;
    if (m_impl->hasZip) {
        if (!m_impl->zip.Extract(name, bytes)) return false;
    } else {
        std::wstring path = name;
        bool absolute = path.size() > 1 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'));
        if (!absolute) path = g_resourcePath + m_impl->skinFolder + path;
        HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        if (f == INVALID_HANDLE_VALUE) return false;
        COwned<FileHandleTraits> file(f);
        LARGE_INTEGER len;
        if (!GetFileSizeEx(f, &len) || len.QuadPart > 64 * 1024 * 1024) return false;
        bytes.resize(size_t(len.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() && (!ReadFile(f, &bytes[0], DWORD(bytes.size()), &got, NULL) || got != bytes.size()))
            return false;
    }
    *data = new BYTE[bytes.size() + 1];
    std::memcpy(*data, bytes.data(), bytes.size());
    (*data)[bytes.size()] = 0;
    *size = DWORD(bytes.size());
    return true;
}

void CPaintManagerUI::FreeResourceData(BYTE* data) { delete[] data; }

// The size of the picture as the layout names it (its 1x drawing).
bool CPaintManagerUI::GetImageSize(const wchar_t* file, SIZE* size) {
    if (!file || !*file) return false;
    Picture* pic = m_impl->Load(file);
    if (!pic) return false;
    if (size) *size = SIZE{pic->width, pic->height};
    return true;
}

// Source rectangles and corners are in the layout's units of the 1x
// picture; the variant drawn for the window's DPI scales them by its own
// factor, destinations by the window's.
bool CPaintManagerUI::DrawImage(HDC hDC, const RECT& rcItem, const RECT& rcPaint, const wchar_t* description) {
    uilib::PictureDescription desc;
    if (!uilib::ParsePictureDescription(description, desc)) return false;
    UINT variantDpi = uilib::kBaseDpi;
    const Picture* pic = m_impl->Resolve(desc.file, &variantDpi);
    if (!pic) return false;
    RECT source = desc.hasSource ? uilib::ScaleRect(desc.source, variantDpi) : RECT{0, 0, pic->width, pic->height};
    RECT dest = rcItem;
    if (desc.hasDest) {
        RECT d = ScaleRect(desc.dest);
        dest = RECT{rcItem.left + d.left, rcItem.top + d.top, rcItem.left + d.right, rcItem.top + d.bottom};
    }
    RECT clip;
    if (!IntersectRect(&clip, &rcItem, &rcPaint)) return true;
    uilib::DrawPicture(hDC, *pic, dest, source, uilib::ScaleRect(desc.corner, variantDpi), ScaleRect(desc.corner),
                       desc.fade, clip);
    return true;
}

void CPaintManagerUI::NeedUpdate() {
    m_impl->updateNeeded = true;
    Invalidate();
}
void CPaintManagerUI::Invalidate() {
    if (m_impl->hwnd) InvalidateRect(m_impl->hwnd, NULL, FALSE);
}
void CPaintManagerUI::Invalidate(const RECT& rc) {
    if (m_impl->hwnd) InvalidateRect(m_impl->hwnd, &rc, FALSE);
}

void CPaintManagerUI::RenderTo(HDC hDC) {
    if (!m_impl->hwnd || !hDC) return;
    if (m_impl->updateNeeded) m_impl->Layout();
    RECT client;
    GetClientRect(m_impl->hwnd, &client);
    m_impl->Paint(hDC, client);
}

void CPaintManagerUI::SetCapture() {
    if (m_impl->hwnd) ::SetCapture(m_impl->hwnd);
}
void CPaintManagerUI::ReleaseCapture() {
    if (GetCapture() == m_impl->hwnd) ::ReleaseCapture();
    m_impl->pressed = NULL;
}
bool CPaintManagerUI::IsCaptured() const { return m_impl->hwnd && GetCapture() == m_impl->hwnd; }

void CPaintManagerUI::ReapObjects(CControlUI* control) {
    if (!control) return;
    Impl& d = *m_impl;
    if (d.hover == control) d.hover = NULL;
    if (d.pressed == control) d.pressed = NULL;
    if (d.focus == control) d.focus = NULL;
    if (d.spacePressed == control) d.spacePressed = NULL;
    d.accIds.erase(std::remove_if(d.accIds.begin(), d.accIds.end(),
                                  [control](const std::pair<CControlUI*, LONG>& p) { return p.first == control; }),
                   d.accIds.end());
    d.accLast.erase(std::remove(d.accLast.begin(), d.accLast.end(), control), d.accLast.end());
}

// ---------------------------------------------------------------- keyboard focus

CControlUI* CPaintManagerUI::GetFocus() const { return m_impl->focus; }

void CPaintManagerUI::SetFocus(CControlUI* control, bool showMark) {
    Impl& d = *m_impl;
    if (control && (!Usable(control) || control->GetManager() != this)) return;
    CControlUI* old = d.focus;
    if (old && (d.focusMark || showMark)) Invalidate(GetFocusMarkRect(old));
    if (old != control) d.EndSpacePress();
    d.focus = control;
    if (control) d.focusMark = showMark;
    // The system focus: a text box's own window, else the window itself.
    HWND host = HostWindow(control);
    HWND want = host ? host : d.hwnd;
    if (want && ::GetFocus() != want) ::SetFocus(want);
    if (host && showMark) ::SendMessageW(host, EM_SETSEL, 0, -1);  // Tab selects the whole text
    if (control && d.focusMark) Invalidate(GetFocusMarkRect(control));
    // A text box's own window announces itself when it takes the focus.
    if (control != old && control && !host && d.HasSystemFocus())
        d.Notify(EVENT_OBJECT_FOCUS, -GetAccessibleId(control));
}

bool CPaintManagerUI::MoveFocus(bool forward) {
    std::vector<CControlUI*> stops;
    for (CControlUI* c : AllControls(m_impl->root))
        if (c->IsTabStop()) stops.push_back(c);
    std::unique_ptr<bool[]> usable(new bool[stops.size() + 1]);
    int current = -1;
    for (size_t i = 0; i < stops.size(); ++i) {
        usable[i] = Usable(stops[i]) && (!stops[i]->GetInterface(L"RichEdit") || HostWindow(stops[i]));
        if (stops[i] == m_impl->focus) current = int(i);
    }
    int next = uilib::NextFocus(usable.get(), int(stops.size()), current, forward);
    if (next < 0) return false;
    SetFocus(stops[size_t(next)], true);
    return true;
}

bool CPaintManagerUI::IsFocusMarkShown() const { return m_impl->focusMark && Usable(m_impl->focus); }

// The mark surrounds what the control shows: for a control with text, the
// text as drawn and the pictures placed beside it; else the whole control.
RECT CPaintManagerUI::GetFocusMarkRect(CControlUI* control) {
    RECT empty = {0, 0, 0, 0};
    if (!control) return empty;
    Impl& d = *m_impl;
    RECT pos = control->GetPos();
    RECT content = pos;
    auto* label = static_cast<CLabelUI*>(control->GetInterface(L"Label"));
    CDuiString text = control->GetText();
    if (label && !control->GetInterface(L"RichEdit") && !text.IsEmpty() && d.hwnd) {
        CWindowDc window(d.hwnd);
        HDC screen = window.get();
        HGDIOBJ oldFont = SelectObject(screen, GetFont(label->GetFont()));
        RECT pad = ScaleRect(label->GetTextPadding());
        RECT box = {pos.left + pad.left, pos.top + pad.top, pos.right - pad.right, pos.bottom - pad.bottom};
        UINT style = label->GetTextStyle();
        RECT calc = box;
        DrawTextW(screen, text, text.GetLength(), &calc,
                  (style & ~(DT_VCENTER | DT_BOTTOM | DT_CENTER | DT_RIGHT)) | DT_CALCRECT | DT_NOPREFIX);
        SelectObject(screen, oldFont);
        int w = calc.right - calc.left, h = calc.bottom - calc.top;
        int x = box.left, y = box.top;
        if (style & DT_CENTER)
            x = box.left + (box.right - box.left - w) / 2;
        else if (style & DT_RIGHT)
            x = box.right - w;
        if ((style & DT_SINGLELINE) && (style & DT_VCENTER))
            y = box.top + (box.bottom - box.top - h) / 2;
        else if ((style & DT_SINGLELINE) && (style & DT_BOTTOM))
            y = box.bottom - h;
        RECT drawn = {x, y, x + w, y + h};
        IntersectRect(&content, &drawn, &pos);
        const wchar_t* pictures[2] = {control->GetForeImage(), NULL};
        if (auto* button = static_cast<CButtonUI*>(control->GetInterface(L"Button")))
            pictures[1] = button->GetNormalImage();
        for (const wchar_t* p : pictures) {
            uilib::PictureDescription desc;
            if (!p || !uilib::ParsePictureDescription(p, desc) || !desc.hasDest) continue;
            RECT r = ScaleRect(desc.dest);
            OffsetRect(&r, pos.left, pos.top);
            UnionRect(&content, &content, &r);
        }
    }
    int outset = Scale(2) + Scale(1);
    InflateRect(&content, outset, outset);
    return content;
}

void CPaintManagerUI::SetFocusColor(DWORD color) { m_impl->focusColor = color; }
DWORD CPaintManagerUI::GetFocusColor() const { return m_impl->focusColor; }

// ---------------------------------------------------------------- display scale

UINT CPaintManagerUI::GetDpi() const { return m_impl->dpi; }
int CPaintManagerUI::Scale(int value) const { return uilib::ScaleValue(value, m_impl->dpi); }
RECT CPaintManagerUI::ScaleRect(const RECT& rc) const { return uilib::ScaleRect(rc, m_impl->dpi); }

void CPaintManagerUI::SetDpi(UINT dpi) {
    Impl& d = *m_impl;
    if (dpi == 0 || dpi == d.dpi) return;
    d.dpi = dpi;
    d.captionScaled = ScaleRect(d.caption);
    d.resolved.clear();
    // New fonts; the old ones live until the controls that hold them (a text
    // box's own window) have taken the new ones in the layout pass below.
    std::vector<UniqueGdiObject> retired;
    for (FontEntry& f : d.fonts) {
        retired.push_back(std::move(f.font));
        f.font.reset(MakeFont(f.face, Scale(f.size), f.bold, f.underline, f.italic));
    }
    if (d.hasDefaultFont) {
        FontEntry& f = d.defaultFont;
        retired.push_back(std::move(f.font));
        f.font.reset(MakeFont(f.face, Scale(f.size), f.bold, f.underline, f.italic));
    }
    d.shadow.Redraw();
    if (d.hwnd && d.initSize.cx > 0 && d.initSize.cy > 0)
        SetWindowPos(d.hwnd, NULL, 0, 0, Scale(d.initSize.cx), Scale(d.initSize.cy),
                     SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    d.Layout();
    Invalidate();
}

// ---------------------------------------------------------------- assistive technology

int CPaintManagerUI::GetAccessibleCount() const { return int(m_impl->Accessible().size()); }

CControlUI* CPaintManagerUI::GetAccessibleAt(int index) const {
    std::vector<CControlUI*> seen = m_impl->Accessible();
    return index >= 0 && size_t(index) < seen.size() ? seen[size_t(index)] : NULL;
}

int CPaintManagerUI::GetAccessibleIndex(CControlUI* control) const {
    std::vector<CControlUI*> seen = m_impl->Accessible();
    auto it = std::find(seen.begin(), seen.end(), control);
    return it == seen.end() ? -1 : int(it - seen.begin());
}

LONG CPaintManagerUI::GetAccessibleId(CControlUI* control) {
    if (!control) return 0;
    for (const auto& p : m_impl->accIds)
        if (p.first == control) return p.second;
    LONG id = m_impl->nextAccId++;
    m_impl->accIds.emplace_back(control, id);
    return id;
}

CControlUI* CPaintManagerUI::FindAccessibleId(LONG id) const {
    for (const auto& p : m_impl->accIds)
        if (p.second == id) return p.first;
    return NULL;
}

CDuiString CPaintManagerUI::GetAccessibleName() const { return CDuiString(m_impl->ClientName().c_str()); }

void CPaintManagerUI::NotifyAccessibleEvent(DWORD event, CControlUI* control) {
    if (!m_impl->hwnd) return;
    if (!control) {
        m_impl->Notify(event, CHILDID_SELF);
        return;
    }
    // Hidden controls are not in the tree: nothing to tell.
    if (!control->IsVisible() || control->GetAccessibleRole() == UIROLE_NONE) return;
    m_impl->Notify(event, -GetAccessibleId(control));
}

bool CPaintManagerUI::PostActivate(CControlUI* control) {
    if (!m_impl->hwnd || !Usable(control) || !Pressable(control)) return false;
    return ::PostMessageW(m_impl->hwnd, ActivateMessage(), 0, LPARAM(GetAccessibleId(control))) != FALSE;
}

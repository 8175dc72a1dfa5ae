// CPaintManagerUI: layout, double-buffered painting, mouse input, fonts,
// pictures, the skin source and the shadow window.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "uilib/picture.h"
#include "uilib/uimanager.h"
#include "uilib/zip_reader.h"

using uilib::Picture;
using uilib::UniqueGdiObject;
using uilib::UniqueMemDc;

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
    int size = 0;
    bool bold = false, underline = false, italic = false;
};

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

    // Follows the main window: hidden with it, shown and placed around it.
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
            HDC screen = GetDC(NULL);
            UniqueMemDc mem(CreateCompatibleDC(screen));
            HGDIOBJ old = SelectObject(mem.get(), bmp.get());
            POINT zero = {0, 0};
            BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            UpdateLayeredWindow(hwnd_, screen, &pos, &full, mem.get(), &zero, 0, &bf, ULW_ALPHA);
            SelectObject(mem.get(), old);
            ReleaseDC(NULL, screen);
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

}  // namespace

struct CPaintManagerUI::Impl {
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
        root->SetPos(rc);
        std::vector<CControlUI*> all;
        root->FindControl(CollectAll, &all, UIFIND_ALL);
        for (CControlUI* c : all) c->OnLayoutDone(c->IsVisible());
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

CPaintManagerUI::CPaintManagerUI() : m_impl(new Impl) {}

CPaintManagerUI::~CPaintManagerUI() {
    g_managers.erase(std::remove(g_managers.begin(), g_managers.end(), this), g_managers.end());
    CControlUI* root = m_impl->root;
    m_impl->root = NULL;
    m_impl->hover = m_impl->pressed = NULL;
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
    }
    return false;
}

// ---------------------------------------------------------------- one window

void CPaintManagerUI::Init(HWND hWnd) {
    m_impl->hwnd = hWnd;
    if (std::find(g_managers.begin(), g_managers.end(), this) == g_managers.end()) g_managers.push_back(this);
}

HWND CPaintManagerUI::GetPaintWindow() const { return m_impl->hwnd; }
CControlUI* CPaintManagerUI::GetRoot() const { return m_impl->root; }

bool CPaintManagerUI::AttachDialog(CControlUI* root) {
    if (!root) return false;
    delete m_impl->root;
    m_impl->hover = m_impl->pressed = NULL;
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

bool CPaintManagerUI::PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    std::vector<IMessageFilterUI*> filters = m_impl->preFilters;
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

bool CPaintManagerUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    Impl& d = *m_impl;
    if (!d.hwnd) return false;
    {
        std::vector<IMessageFilterUI*> filters = d.filters;
        for (IMessageFilterUI* f : filters) {
            bool handled = false;
            LRESULT r = f->MessageHandler(uMsg, wParam, lParam, handled);
            if (handled) {
                lRes = r;
                return true;
            }
        }
    }
    POINT pt = {short(LOWORD(lParam)), short(HIWORD(lParam))};
    if (uMsg == ShadowMessage()) {
        if (d.showShadow) d.shadow.Follow(d.hwnd, this, d.shadowCorner);
        lRes = 0;
        return true;
    }
    switch (uMsg) {
    case WM_ERASEBKGND:
        lRes = 1;
        return true;
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
                d.shadow.Follow(d.hwnd, this, d.shadowCorner);
            }
        }
        return false;
    case WM_DESTROY:
        d.shadow.Destroy();
        return false;
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
        if (d.pressed) d.Event(d.pressed, UIEVENT_MOUSEMOVE, pt, wParam, lParam);
        else if (now) d.Event(now, UIEVENT_MOUSEMOVE, pt, wParam, lParam);
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
    case WM_COMMAND:
    case WM_NOTIFY:
        return false;
    default:
        return false;
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
void CPaintManagerUI::SetInitSize(int cx, int cy) {
    m_impl->initSize = SIZE{cx, cy};
    if (m_impl->hwnd && cx > 0 && cy > 0)
        SetWindowPos(m_impl->hwnd, NULL, 0, 0, cx, cy, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}
RECT& CPaintManagerUI::GetCaptionRect() { return m_impl->caption; }
void CPaintManagerUI::SetCaptionRect(const RECT& rc) { m_impl->caption = rc; }
SIZE CPaintManagerUI::GetRoundCorner() const { return m_impl->roundCorner; }
void CPaintManagerUI::SetRoundCorner(int cx, int cy) { m_impl->roundCorner = SIZE{cx, cy}; }
SIZE CPaintManagerUI::GetMinInfo() const { return m_impl->minInfo; }
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
    GetImageSize(d.shadowImage.c_str(), nullptr);  // loads it
    auto it = d.pictures.find(Lower(d.shadowImage));
    if (it == d.pictures.end() || !it->second) return NULL;
    const RECT& c = d.shadowCorner;
    int w = windowSize.cx + c.left + c.right, h = windowSize.cy + c.top + c.bottom;
    unsigned char* bits = nullptr;
    HBITMAP bmp = uilib::CreateDib32(w, h, &bits);
    if (!bmp) return NULL;
    uilib::NineGridCopy(*it->second, c, bits, w, h, true);
    return bmp;
}

int CPaintManagerUI::AddFont(const wchar_t* face, int size, bool bold, bool underline, bool italic) {
    FontEntry e;
    e.face = face ? face : L"";
    e.size = size;
    e.bold = bold;
    e.underline = underline;
    e.italic = italic;
    e.font.reset(MakeFont(e.face, size, bold, underline, italic));
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
    e.font.reset(MakeFont(e.face, size, bold, underline, italic));
    m_impl->hasDefaultFont = bool(e.font);
}

HFONT CPaintManagerUI::GetFont(int index) const { return m_impl->Font(index); }
int CPaintManagerUI::GetFontCount() const { return int(m_impl->fonts.size()); }
DWORD CPaintManagerUI::GetDefaultDisabledColor() const { return 0xFFA7A6AA; }

bool CPaintManagerUI::SetResourceZip(const void* data, unsigned size) {
    m_impl->pictures.clear();
    m_impl->hasZip = m_impl->zip.Open(data, size);
    m_impl->zipData = m_impl->hasZip ? data : nullptr;
    return m_impl->hasZip;
}

void CPaintManagerUI::SetSkinFolder(const wchar_t* folder) { m_impl->skinFolder = folder ? folder : L""; }

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
        Owned<FileHandleTraits> file(f);
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

bool CPaintManagerUI::GetImageSize(const wchar_t* file, SIZE* size) {
    if (!file || !*file) return false;
    std::wstring key = Lower(file);
    auto it = m_impl->pictures.find(key);
    if (it == m_impl->pictures.end()) {
        std::unique_ptr<Picture> pic;
        BYTE* data = NULL;
        DWORD len = 0;
        if (LoadResourceData(file, &data, &len)) {
            pic.reset(new Picture);
            if (!uilib::DecodePicture(data, len, *pic)) pic.reset();
            FreeResourceData(data);
        }
        it = m_impl->pictures.emplace(key, std::move(pic)).first;
    }
    if (!it->second) return false;
    if (size) *size = SIZE{it->second->width, it->second->height};
    return true;
}

bool CPaintManagerUI::DrawImage(HDC hDC, const RECT& rcItem, const RECT& rcPaint, const wchar_t* description) {
    uilib::PictureDescription desc;
    if (!uilib::ParsePictureDescription(description, desc)) return false;
    SIZE sz;
    if (!GetImageSize(desc.file.c_str(), &sz)) return false;
    const Picture& pic = *m_impl->pictures[Lower(desc.file)];
    RECT source = desc.hasSource ? desc.source : RECT{0, 0, sz.cx, sz.cy};
    RECT dest = rcItem;
    if (desc.hasDest) {
        dest = RECT{rcItem.left + desc.dest.left, rcItem.top + desc.dest.top, rcItem.left + desc.dest.right,
                    rcItem.top + desc.dest.bottom};
    }
    RECT clip;
    if (!IntersectRect(&clip, &rcItem, &rcPaint)) return true;
    uilib::DrawPicture(hDC, pic, dest, source, desc.corner, desc.fade, clip);
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
    if (m_impl->hover == control) m_impl->hover = NULL;
    if (m_impl->pressed == control) m_impl->pressed = NULL;
}

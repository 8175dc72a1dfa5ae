// CDuiString, CDuiRect, CNotifyPump and CWindowWnd.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "uilib/uimanager.h"

// ---------------------------------------------------------------- CDuiString

CDuiString::CDuiString() : m_data(m_small), m_length(0), m_capacity(15) { m_small[0] = 0; }

CDuiString::CDuiString(const wchar_t* text, int length) : CDuiString() { Assign(text, length); }

CDuiString::CDuiString(wchar_t ch) : CDuiString() { Assign(&ch, 1); }

CDuiString::CDuiString(const CDuiString& other) : CDuiString() { Assign(other.m_data, other.m_length); }

CDuiString::~CDuiString() {
    if (m_data != m_small) delete[] m_data;
}

void CDuiString::Reserve(int capacity) {
    if (capacity <= m_capacity) return;
    int grown = m_capacity * 2 > capacity ? m_capacity * 2 : capacity;
    wchar_t* fresh = new wchar_t[size_t(grown) + 1];
    std::memcpy(fresh, m_data, (size_t(m_length) + 1) * sizeof(wchar_t));
    if (m_data != m_small) delete[] m_data;
    m_data = fresh;
    m_capacity = grown;
}

void CDuiString::Assign(const wchar_t* text, int length) {
    if (!text) text = L"";
    if (length < 0) length = int(std::wcslen(text));
    if (text >= m_data && text <= m_data + m_length) {
        // Assigning a part of ourselves.
        CDuiString copy(text, length);
        Assign(copy.m_data, copy.m_length);
        return;
    }
    Reserve(length);
    std::memcpy(m_data, text, size_t(length) * sizeof(wchar_t));
    m_length = length;
    m_data[m_length] = 0;
}

void CDuiString::Append(const wchar_t* text, int length) {
    if (!text) return;
    if (length < 0) length = int(std::wcslen(text));
    if (text >= m_data && text <= m_data + m_length) {
        CDuiString copy(text, length);
        Append(copy.m_data, copy.m_length);
        return;
    }
    Reserve(m_length + length);
    std::memcpy(m_data + m_length, text, size_t(length) * sizeof(wchar_t));
    m_length += length;
    m_data[m_length] = 0;
}

CDuiString& CDuiString::operator=(const CDuiString& other) {
    if (this != &other) Assign(other.m_data, other.m_length);
    return *this;
}
CDuiString& CDuiString::operator=(const wchar_t* text) {
    Assign(text);
    return *this;
}
CDuiString& CDuiString::operator+=(const CDuiString& other) {
    Append(other.m_data, other.m_length);
    return *this;
}
CDuiString& CDuiString::operator+=(const wchar_t* text) {
    Append(text);
    return *this;
}
CDuiString& CDuiString::operator+=(wchar_t ch) {
    Append(&ch, 1);
    return *this;
}
CDuiString CDuiString::operator+(const CDuiString& other) const {
    CDuiString r(*this);
    r += other;
    return r;
}
CDuiString CDuiString::operator+(const wchar_t* text) const {
    CDuiString r(*this);
    r += text;
    return r;
}
bool CDuiString::operator==(const wchar_t* text) const { return Compare(text) == 0; }
bool CDuiString::operator==(const CDuiString& other) const {
    return m_length == other.m_length && std::wmemcmp(m_data, other.m_data, size_t(m_length)) == 0;
}
bool CDuiString::operator!=(const wchar_t* text) const { return Compare(text) != 0; }
bool CDuiString::operator!=(const CDuiString& other) const { return !(*this == other); }
bool CDuiString::operator<(const CDuiString& other) const { return Compare(other.m_data) < 0; }
wchar_t CDuiString::operator[](int index) const { return index >= 0 && index < m_length ? m_data[index] : L'\0'; }
CDuiString::operator const wchar_t*() const { return m_data; }
const wchar_t* CDuiString::GetData() const { return m_data; }
int CDuiString::GetLength() const { return m_length; }
bool CDuiString::IsEmpty() const { return m_length == 0; }
void CDuiString::Empty() {
    m_length = 0;
    m_data[0] = 0;
}
int CDuiString::Compare(const wchar_t* text) const { return std::wcscmp(m_data, text ? text : L""); }
int CDuiString::CompareNoCase(const wchar_t* text) const { return lstrcmpiW(m_data, text ? text : L""); }
int CDuiString::Find(wchar_t ch, int start) const {
    if (start < 0 || start > m_length) return -1;
    const wchar_t* p = std::wcschr(m_data + start, ch);
    return p ? int(p - m_data) : -1;
}
int CDuiString::Find(const wchar_t* text, int start) const {
    if (!text || start < 0 || start > m_length) return -1;
    const wchar_t* p = std::wcsstr(m_data + start, text);
    return p ? int(p - m_data) : -1;
}
CDuiString CDuiString::Left(int count) const {
    if (count < 0) count = 0;
    if (count > m_length) count = m_length;
    return CDuiString(m_data, count);
}
CDuiString CDuiString::Mid(int start, int count) const {
    if (start < 0) start = 0;
    if (start > m_length) start = m_length;
    if (count < 0 || start + count > m_length) count = m_length - start;
    return CDuiString(m_data + start, count);
}
CDuiString CDuiString::Right(int count) const {
    if (count < 0) count = 0;
    if (count > m_length) count = m_length;
    return CDuiString(m_data + m_length - count, count);
}
void CDuiString::MakeLower() {
    if (m_length) CharLowerBuffW(m_data, DWORD(m_length));
}
int CDuiString::Format(const wchar_t* format, ...) {
    std::vector<wchar_t> buf(256);
    for (;;) {
        va_list args;
        va_start(args, format);
        int n = _vsnwprintf(buf.data(), buf.size() - 1, format, args);
        va_end(args);
        if (n >= 0 && size_t(n) < buf.size() - 1) {
            Assign(buf.data(), n);
            return n;
        }
        if (buf.size() > (1u << 20)) {
            Empty();
            return -1;
        }
        buf.resize(buf.size() * 2);
    }
}

// ------------------------------------------------------------------ CDuiRect

CDuiRect::CDuiRect() { left = top = right = bottom = 0; }
CDuiRect::CDuiRect(const RECT& rc) {
    left = rc.left;
    top = rc.top;
    right = rc.right;
    bottom = rc.bottom;
}
CDuiRect::CDuiRect(int l, int t, int r, int b) {
    left = l;
    top = t;
    right = r;
    bottom = b;
}
int CDuiRect::GetWidth() const { return right - left; }
int CDuiRect::GetHeight() const { return bottom - top; }
bool CDuiRect::IsNull() const { return left == 0 && right == 0 && top == 0 && bottom == 0; }
bool CDuiRect::IsPtIn(POINT pt) const { return ::PtInRect(this, pt) != FALSE; }
void CDuiRect::Empty() { left = top = right = bottom = 0; }
void CDuiRect::Join(const RECT& rc) {
    if (rc.left < left) left = rc.left;
    if (rc.top < top) top = rc.top;
    if (rc.right > right) right = rc.right;
    if (rc.bottom > bottom) bottom = rc.bottom;
}
void CDuiRect::Offset(int cx, int cy) { ::OffsetRect(this, cx, cy); }
void CDuiRect::Inflate(int cx, int cy) { ::InflateRect(this, cx, cy); }
void CDuiRect::Deflate(int cx, int cy) { ::InflateRect(this, -cx, -cy); }
void CDuiRect::Intersect(const RECT& rc) {
    RECT r;
    if (!::IntersectRect(&r, this, &rc)) r = RECT{0, 0, 0, 0};
    *static_cast<RECT*>(this) = r;
}

// --------------------------------------------------------------- CNotifyPump

struct CNotifyPump::VirtualWnds {
    std::vector<std::pair<std::wstring, CNotifyPump*>> list;
};

CNotifyPump::CNotifyPump() : m_virtual(new VirtualWnds) {}
CNotifyPump::~CNotifyPump() { delete m_virtual; }

bool CNotifyPump::AddVirtualWnd(const wchar_t* name, CNotifyPump* pump) {
    if (!name || !*name || !pump) return false;
    for (auto& v : m_virtual->list)
        if (v.first == name) return false;
    m_virtual->list.emplace_back(name, pump);
    return true;
}

bool CNotifyPump::RemoveVirtualWnd(const wchar_t* name) {
    for (auto it = m_virtual->list.begin(); it != m_virtual->list.end(); ++it) {
        if (it->first == (name ? name : L"")) {
            m_virtual->list.erase(it);
            return true;
        }
    }
    return false;
}

const DUI_MSGMAP* CNotifyPump::GetMessageMap() const {
    static const DUI_MSGMAP_ENTRY entries[] = {{nullptr, nullptr, nullptr}};
    static const DUI_MSGMAP map = {nullptr, entries};
    return &map;
}

bool CNotifyPump::NotifyPump(TNotifyUI& msg) {
    if (!msg.sVirtualWnd.IsEmpty()) {
        for (auto& v : m_virtual->list)
            if (msg.sVirtualWnd == v.first.c_str()) return v.second->NotifyPump(msg);
    }
    CDuiString senderName = msg.pSender ? msg.pSender->GetName() : CDuiString();
    for (const DUI_MSGMAP* map = GetMessageMap(); map; map = map->pBaseMap) {
        for (const DUI_MSGMAP_ENTRY* e = map->lpEntries; e && e->sMsgType; ++e) {
            if (msg.sType != e->sMsgType) continue;
            if (e->sCtrlName && senderName != e->sCtrlName) continue;
            if (e->pfn) {
                (this->*(e->pfn))(msg);
                return true;
            }
        }
    }
    return false;
}

// ---------------------------------------------------------------- CWindowWnd

CWindowWnd::CWindowWnd() : m_hWnd(NULL), m_OldWndProc(::DefWindowProcW), m_bSubclassed(false) {}
CWindowWnd::~CWindowWnd() {}

HWND CWindowWnd::GetHWND() const { return m_hWnd; }
CWindowWnd::operator HWND() const { return m_hWnd; }

const wchar_t* CWindowWnd::GetSuperClassName() const { return NULL; }
UINT CWindowWnd::GetClassStyle() const { return 0; }

bool CWindowWnd::RegisterWindowClass() {
    WNDCLASSW wc;
    std::memset(&wc, 0, sizeof wc);
    wc.style = GetClassStyle();
    wc.lpfnWndProc = CWindowWnd::__WndProc;
    wc.hInstance = CPaintManagerUI::GetInstance();
    wc.hCursor = ::LoadCursorW(NULL, IDC_ARROW);
    wc.lpszClassName = GetWindowClassName();
    ATOM ret = ::RegisterClassW(&wc);
    return ret != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool CWindowWnd::RegisterSuperclass() {
    WNDCLASSEXW wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    if (!::GetClassInfoExW(NULL, GetSuperClassName(), &wc) &&
        !::GetClassInfoExW(CPaintManagerUI::GetInstance(), GetSuperClassName(), &wc))
        return false;
    m_OldWndProc = wc.lpfnWndProc;
    wc.lpfnWndProc = CWindowWnd::__ControlProc;
    wc.hInstance = CPaintManagerUI::GetInstance();
    wc.lpszClassName = GetWindowClassName();
    ATOM ret = ::RegisterClassExW(&wc);
    return ret != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND hwndParent, const wchar_t* pstrName, DWORD dwStyle, DWORD dwExStyle, const RECT& rc,
                        HMENU hMenu) {
    return Create(hwndParent, pstrName, dwStyle, dwExStyle, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                  hMenu);
}

HWND CWindowWnd::Create(HWND hwndParent, const wchar_t* pstrName, DWORD dwStyle, DWORD dwExStyle, int x, int y, int cx,
                        int cy, HMENU hMenu) {
    if (GetSuperClassName() != NULL && !RegisterSuperclass()) return NULL;
    if (GetSuperClassName() == NULL && !RegisterWindowClass()) return NULL;
    m_hWnd = ::CreateWindowExW(dwExStyle, GetWindowClassName(), pstrName, dwStyle, x, y, cx, cy, hwndParent, hMenu,
                               CPaintManagerUI::GetInstance(), this);
    return m_hWnd;
}

HWND CWindowWnd::Subclass(HWND hWnd) {
    if (!::IsWindow(hWnd)) return NULL;
    m_OldWndProc =
        reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(__WndProc)));
    if (!m_OldWndProc) return NULL;
    ::SetPropW(hWnd, L"WndX", this);
    m_bSubclassed = true;
    m_hWnd = hWnd;
    return m_hWnd;
}

void CWindowWnd::Unsubclass() {
    if (!m_bSubclassed || !::IsWindow(m_hWnd)) return;
    ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_OldWndProc));
    m_OldWndProc = ::DefWindowProcW;
    ::RemovePropW(m_hWnd, L"WndX");
    m_bSubclassed = false;
}

void CWindowWnd::ShowWindow(bool bShow, bool bTakeFocus) {
    if (!::IsWindow(m_hWnd)) return;
    ::ShowWindow(m_hWnd, bShow ? (bTakeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
}

UINT CWindowWnd::ShowModal() {
    if (!::IsWindow(m_hWnd)) return UINT(-1);
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
    if (owner) ::EnableWindow(owner, FALSE);
    UINT ret = 0;
    MSG msg;
    while (::IsWindow(m_hWnd) && ::GetMessageW(&msg, NULL, 0, 0)) {
        if (msg.message == WM_CLOSE && msg.hwnd == m_hWnd) {
            ret = UINT(msg.wParam);
            if (owner) ::EnableWindow(owner, TRUE);
            if (owner) ::SetFocus(owner);
        }
        if (!CPaintManagerUI::TranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (msg.message == WM_QUIT) break;
    }
    if (owner) ::EnableWindow(owner, TRUE);
    if (msg.message == WM_QUIT) ::PostQuitMessage(int(msg.wParam));
    return ret;
}

void CWindowWnd::Close(UINT nRet) {
    if (::IsWindow(m_hWnd)) PostMessage(WM_CLOSE, WPARAM(nRet), 0L);
}

void CWindowWnd::CenterWindow() {
    if (!::IsWindow(m_hWnd)) return;
    RECT rcDlg;
    ::GetWindowRect(m_hWnd, &rcDlg);
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    HMONITOR monitor = ::MonitorFromWindow(owner ? owner : m_hWnd, MONITOR_DEFAULTTONEAREST);
    MONITORINFO mi;
    mi.cbSize = sizeof mi;
    RECT rcArea;
    if (monitor && ::GetMonitorInfoW(monitor, &mi))
        rcArea = mi.rcWork;
    else
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcArea, 0);
    RECT rcCenter = rcArea;
    if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &rcCenter);
    int w = rcDlg.right - rcDlg.left, h = rcDlg.bottom - rcDlg.top;
    int x = (rcCenter.left + rcCenter.right) / 2 - w / 2;
    int y = (rcCenter.top + rcCenter.bottom) / 2 - h / 2;
    // Keep the window on the work area.
    if (x + w > rcArea.right) x = rcArea.right - w;
    if (x < rcArea.left) x = rcArea.left;
    if (y + h > rcArea.bottom) y = rcArea.bottom - h;
    if (y < rcArea.top) y = rcArea.top;
    ::SetWindowPos(m_hWnd, NULL, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::SetIcon(UINT nRes) {
    HINSTANCE inst = CPaintManagerUI::GetResourceDll();
    HICON big = static_cast<HICON>(::LoadImageW(inst, MAKEINTRESOURCEW(nRes), IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR | LR_SHARED));
    if (big) ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    HICON small =
        static_cast<HICON>(::LoadImageW(inst, MAKEINTRESOURCEW(nRes), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                        ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR | LR_SHARED));
    if (small) ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

LRESULT CWindowWnd::SendMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::PostMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageW(m_hWnd, uMsg, wParam, lParam);
}

void CWindowWnd::ResizeClient(int cx, int cy) {
    RECT rc;
    if (!::GetClientRect(m_hWnd, &rc)) return;
    if (cx != -1) rc.right = cx;
    if (cy != -1) rc.bottom = cy;
    DWORD style = DWORD(::GetWindowLongW(m_hWnd, GWL_STYLE));
    DWORD exStyle = DWORD(::GetWindowLongW(m_hWnd, GWL_EXSTYLE));
    if (!::AdjustWindowRectEx(&rc, style, !(style & WS_CHILD) && ::GetMenu(m_hWnd) != NULL, exStyle)) return;
    ::SetWindowPos(m_hWnd, NULL, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                   SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

LRESULT CWindowWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcW(m_OldWndProc, m_hWnd, uMsg, wParam, lParam);
}

void CWindowWnd::OnFinalMessage(HWND /*hWnd*/) {}

LRESULT CALLBACK CWindowWnd::__WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* self = NULL;
    if (uMsg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<LPCREATESTRUCTW>(lParam);
        self = static_cast<CWindowWnd*>(cs->lpCreateParams);
        self->m_hWnd = hWnd;
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CWindowWnd*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (!self) self = static_cast<CWindowWnd*>(::GetPropW(hWnd, L"WndX"));
        if (uMsg == WM_NCDESTROY && self) {
            LRESULT lRes = ::CallWindowProcW(self->m_OldWndProc, hWnd, uMsg, wParam, lParam);
            ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
            if (self->m_bSubclassed) self->Unsubclass();
            self->m_hWnd = NULL;
            self->OnFinalMessage(hWnd);
            return lRes;
        }
    }
    if (self) return self->HandleMessage(uMsg, wParam, lParam);
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::__ControlProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* self = NULL;
    if (uMsg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<LPCREATESTRUCTW>(lParam);
        self = static_cast<CWindowWnd*>(cs->lpCreateParams);
        ::SetPropW(hWnd, L"WndX", self);
        self->m_hWnd = hWnd;
    } else {
        self = static_cast<CWindowWnd*>(::GetPropW(hWnd, L"WndX"));
        if (uMsg == WM_NCDESTROY && self) {
            LRESULT lRes = ::CallWindowProcW(self->m_OldWndProc, hWnd, uMsg, wParam, lParam);
            if (self->m_bSubclassed) self->Unsubclass();
            ::RemovePropW(hWnd, L"WndX");
            self->m_hWnd = NULL;
            self->OnFinalMessage(hWnd);
            return lRes;
        }
    }
    if (self) return self->HandleMessage(uMsg, wParam, lParam);
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

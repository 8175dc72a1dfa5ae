// The controls: base control, containers and layouts, label, text, button,
// option, progress bar and rich-edit box.
#include <ole2.h>
#include <oleacc.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "uilib/attributes.h"
#include "uilib/uimanager.h"
#include "util/owned.h"
#include "util/system_library.h"

using uilib::ParseBool;
using uilib::ParseColor;
using uilib::ParseRect;

namespace {

COLORREF ToColorRef(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

bool IsName(const wchar_t* a, const wchar_t* b) { return std::wcscmp(a, b) == 0; }

// Role names of the layout attribute "accrole".
DWORD ParseRole(const wchar_t* value) {
    static const struct {
        const wchar_t* name;
        DWORD role;
    } roles[] = {
        {L"pushbutton", ROLE_SYSTEM_PUSHBUTTON},
        {L"checkbutton", ROLE_SYSTEM_CHECKBUTTON},
        {L"radiobutton", ROLE_SYSTEM_RADIOBUTTON},
        {L"link", ROLE_SYSTEM_LINK},
        {L"statictext", ROLE_SYSTEM_STATICTEXT},
        {L"text", ROLE_SYSTEM_TEXT},
        {L"progressbar", ROLE_SYSTEM_PROGRESSBAR},
        {L"graphic", ROLE_SYSTEM_GRAPHIC},
        {L"none", UIROLE_NONE},
    };
    for (const auto& r : roles)
        if (_wcsicmp(value, r.name) == 0) return r.role;
    return UIROLE_DEFAULT;
}

}  // namespace

// ------------------------------------------------------------------ CControlUI

CControlUI::CControlUI()
    : m_pManager(NULL),
      m_pParent(NULL),
      m_dwBkColor(0),
      m_dwBorderColor(0),
      m_nBorderSize(0),
      m_rcItem{0, 0, 0, 0},
      m_rcPadding{0, 0, 0, 0},
      m_rcFloat{0, 0, 0, 0},
      m_cxyFixed{0, 0},
      m_bVisible(true),
      m_bInternVisible(true),
      m_bEnabled(true),
      m_bFloat(false),
      m_rcLayout{0, 0, 0, 0},
      m_dwAccRole(UIROLE_DEFAULT),
      m_bAccChecked(false),
      m_nTabStop(-1),
      m_bDefaultButton(false),
      m_bCancelButton(false),
      m_dwFocusColor(0) {}

CControlUI::~CControlUI() {
    if (m_pManager) m_pManager->ReapObjects(this);
}

CDuiString CControlUI::GetName() const { return m_sName; }
void CControlUI::SetName(const wchar_t* name) { m_sName = name; }
const wchar_t* CControlUI::GetClass() const { return L"ControlUI"; }
LPVOID CControlUI::GetInterface(const wchar_t* name) { return IsName(name, L"Control") ? this : NULL; }

CDuiString CControlUI::GetText() const { return m_sText; }
void CControlUI::SetText(const wchar_t* text) {
    if (m_sText == (text ? text : L"")) return;
    m_sText = text;
    Invalidate();
    // The text is the name assistive technology reads, unless one is set.
    if (m_pManager && m_sAccName.IsEmpty()) m_pManager->NotifyAccessibleEvent(EVENT_OBJECT_NAMECHANGE, this);
}

DWORD CControlUI::GetBkColor() const { return m_dwBkColor; }
void CControlUI::SetBkColor(DWORD color) {
    m_dwBkColor = color;
    Invalidate();
}
const wchar_t* CControlUI::GetBkImage() const { return m_sBkImage; }
void CControlUI::SetBkImage(const wchar_t* description) {
    m_sBkImage = description;
    Invalidate();
}
const wchar_t* CControlUI::GetForeImage() const { return m_sForeImage; }
void CControlUI::SetForeImage(const wchar_t* description) {
    m_sForeImage = description;
    Invalidate();
}
DWORD CControlUI::GetBorderColor() const { return m_dwBorderColor; }
void CControlUI::SetBorderColor(DWORD color) {
    m_dwBorderColor = color;
    Invalidate();
}
int CControlUI::GetBorderSize() const { return m_nBorderSize; }
void CControlUI::SetBorderSize(int size) {
    m_nBorderSize = size < 0 ? 0 : size;
    Invalidate();
}

const RECT& CControlUI::GetPos() const { return m_rcItem; }
const RECT& CControlUI::GetLayoutPos() const { return m_rcLayout; }
// The layout works in units of 96 DPI; the control's pixels follow the
// window's scale.
void CControlUI::SetPos(RECT rc) {
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;
    RECT device = m_pManager ? m_pManager->ScaleRect(rc) : rc;
    if (std::memcmp(&rc, &m_rcLayout, sizeof rc) == 0 && std::memcmp(&device, &m_rcItem, sizeof device) == 0) return;
    RECT old = m_rcItem;
    m_rcLayout = rc;
    m_rcItem = device;
    if (m_pManager) {
        m_pManager->Invalidate(old);
        m_pManager->Invalidate(m_rcItem);
    }
}
int CControlUI::GetFixedWidth() const { return m_cxyFixed.cx; }
void CControlUI::SetFixedWidth(int cx) {
    m_cxyFixed.cx = cx < 0 ? 0 : cx;
    NeedParentUpdate();
}
int CControlUI::GetFixedHeight() const { return m_cxyFixed.cy; }
void CControlUI::SetFixedHeight(int cy) {
    m_cxyFixed.cy = cy < 0 ? 0 : cy;
    NeedParentUpdate();
}
RECT CControlUI::GetPadding() const { return m_rcPadding; }
void CControlUI::SetPadding(RECT rc) {
    m_rcPadding = rc;
    NeedParentUpdate();
}
bool CControlUI::IsFloat() const { return m_bFloat; }
void CControlUI::SetFloat(bool floating) {
    m_bFloat = floating;
    NeedParentUpdate();
}
RECT CControlUI::GetFloatPos() const { return m_rcFloat; }
void CControlUI::SetFloatPos(RECT rc) {
    m_rcFloat = rc;
    m_cxyFixed.cx = rc.right - rc.left;
    m_cxyFixed.cy = rc.bottom - rc.top;
    NeedParentUpdate();
}

bool CControlUI::IsVisible() const { return m_bVisible && m_bInternVisible; }
void CControlUI::SetVisible(bool visible) {
    if (m_bVisible == visible) return;
    bool wasVisible = IsVisible();
    m_bVisible = visible;
    if (IsVisible() != wasVisible) NeedParentUpdate();
}
void CControlUI::SetInternVisible(bool visible) { m_bInternVisible = visible; }
bool CControlUI::IsEnabled() const { return m_bEnabled; }
void CControlUI::SetEnabled(bool enable) {
    if (m_bEnabled == enable) return;
    m_bEnabled = enable;
    Invalidate();
    if (m_pManager) m_pManager->NotifyAccessibleEvent(EVENT_OBJECT_STATECHANGE, this);
}

CControlUI* CControlUI::GetParent() const { return m_pParent; }
CPaintManagerUI* CControlUI::GetManager() const { return m_pManager; }
void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    m_pManager = manager;
    m_pParent = parent;
    if (init && parent) Init();
}

CControlUI* CControlUI::FindControl(FINDCONTROLPROC proc, LPVOID data, UINT flags) {
    if ((flags & UIFIND_VISIBLE) && !IsVisible()) return NULL;
    if ((flags & UIFIND_ENABLED) && !IsEnabled()) return NULL;
    if ((flags & UIFIND_HITTEST) && !::PtInRect(&m_rcItem, *static_cast<POINT*>(data))) return NULL;
    return proc(this, data);
}

void CControlUI::Init() { DoInit(); }
void CControlUI::DoInit() {}
void CControlUI::DoEvent(TEventUI& event) {
    if (event.Type == UIEVENT_SETCURSOR) ::SetCursor(::LoadCursorW(NULL, IDC_ARROW));
}
bool CControlUI::Activate() { return IsVisible() && IsEnabled(); }

void CControlUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    RECT rc;
    if (IsName(name, L"name"))
        SetName(value);
    else if (IsName(name, L"text"))
        SetText(value);
    else if (IsName(name, L"pos")) {
        if (ParseRect(value, rc)) SetFloatPos(rc);
    } else if (IsName(name, L"float"))
        SetFloat(ParseBool(value));
    else if (IsName(name, L"width"))
        SetFixedWidth(_wtoi(value));
    else if (IsName(name, L"height"))
        SetFixedHeight(_wtoi(value));
    else if (IsName(name, L"padding")) {
        if (ParseRect(value, rc)) SetPadding(rc);
    } else if (IsName(name, L"visible"))
        SetVisible(ParseBool(value));
    else if (IsName(name, L"enabled"))
        SetEnabled(ParseBool(value));
    else if (IsName(name, L"bkcolor"))
        SetBkColor(ParseColor(value));
    else if (IsName(name, L"bkimage"))
        SetBkImage(value);
    else if (IsName(name, L"foreimage"))
        SetForeImage(value);
    else if (IsName(name, L"bordercolor"))
        SetBorderColor(ParseColor(value));
    else if (IsName(name, L"bordersize"))
        SetBorderSize(_wtoi(value));
    else if (IsName(name, L"accrole"))
        SetAccessibleRole(ParseRole(value));
    else if (IsName(name, L"accname"))
        SetAccessibleName(value);
    else if (IsName(name, L"accchecked"))
        SetAccessibleChecked(ParseBool(value));
    else if (IsName(name, L"tabstop"))
        SetTabStop(ParseBool(value));
    else if (IsName(name, L"default"))
        SetDefaultButton(ParseBool(value));
    else if (IsName(name, L"cancel"))
        SetCancelButton(ParseBool(value));
    else if (IsName(name, L"focuscolor"))
        SetFocusColor(ParseColor(value));
}

SIZE CControlUI::EstimateSize(SIZE /*available*/) { return m_cxyFixed; }

void CControlUI::DoPaint(HDC hDC, const RECT& rcPaint) {
    RECT inter;
    if (!::IntersectRect(&inter, &rcPaint, &m_rcItem)) return;
    PaintBkColor(hDC);
    PaintBkImage(hDC);
    PaintStatusImage(hDC);
    PaintForeImage(hDC);
    PaintText(hDC);
    PaintBorder(hDC);
}

void CControlUI::PaintBkColor(HDC hDC) {
    if ((m_dwBkColor >> 24) == 0) return;
    UniqueGdiObject brush(::CreateSolidBrush(ToColorRef(m_dwBkColor)));
    ::FillRect(hDC, &m_rcItem, static_cast<HBRUSH>(brush.get()));
}
void CControlUI::PaintBkImage(HDC hDC) {
    if (!m_sBkImage.IsEmpty()) DrawImage(hDC, m_sBkImage);
}
void CControlUI::PaintStatusImage(HDC /*hDC*/) {}
void CControlUI::PaintForeImage(HDC hDC) {
    if (!m_sForeImage.IsEmpty()) DrawImage(hDC, m_sForeImage);
}
void CControlUI::PaintText(HDC /*hDC*/) {}
void CControlUI::PaintBorder(HDC hDC) {
    if (m_nBorderSize <= 0 || (m_dwBorderColor >> 24) == 0) return;
    UniqueGdiObject brush(::CreateSolidBrush(ToColorRef(m_dwBorderColor)));
    const RECT& r = m_rcItem;
    int b = m_pManager ? m_pManager->Scale(m_nBorderSize) : m_nBorderSize;
    RECT edges[4] = {{r.left, r.top, r.right, r.top + b},
                     {r.left, r.bottom - b, r.right, r.bottom},
                     {r.left, r.top + b, r.left + b, r.bottom - b},
                     {r.right - b, r.top + b, r.right, r.bottom - b}};
    for (const RECT& e : edges) ::FillRect(hDC, &e, static_cast<HBRUSH>(brush.get()));
}

void CControlUI::Invalidate() {
    if (m_pManager && IsVisible()) m_pManager->Invalidate(m_rcItem);
}
void CControlUI::NeedUpdate() {
    if (m_pManager) m_pManager->NeedUpdate();
}
void CControlUI::NeedParentUpdate() {
    if (m_pManager) m_pManager->NeedUpdate();
}
bool CControlUI::DrawImage(HDC hDC, const wchar_t* description) {
    if (!m_pManager) return false;
    return m_pManager->DrawImage(hDC, m_rcItem, m_rcItem, description);
}
void CControlUI::OnLayoutDone(bool /*effectivelyVisible*/) {}

DWORD CControlUI::GetAccessibleRole() const {
    if (m_dwAccRole != UIROLE_DEFAULT) return m_dwAccRole;
    CControlUI* self = const_cast<CControlUI*>(this);
    if (self->GetInterface(L"Container")) return UIROLE_NONE;
    if (self->GetInterface(L"RichEdit")) return ROLE_SYSTEM_TEXT;
    if (self->GetInterface(L"Progress")) return ROLE_SYSTEM_PROGRESSBAR;
    if (auto* option = static_cast<COptionUI*>(self->GetInterface(L"Option")))
        return option->GetGroup().IsEmpty() ? ROLE_SYSTEM_CHECKBUTTON : ROLE_SYSTEM_RADIOBUTTON;
    if (self->GetInterface(L"Button")) return ROLE_SYSTEM_PUSHBUTTON;
    if (self->GetInterface(L"Label")) return ROLE_SYSTEM_STATICTEXT;
    return UIROLE_NONE;
}
void CControlUI::SetAccessibleRole(DWORD role) { m_dwAccRole = role; }

CDuiString CControlUI::GetAccessibleName() const {
    if (!m_sAccName.IsEmpty()) return m_sAccName;
    // A text box's text is its value, not its name.
    if (const_cast<CControlUI*>(this)->GetInterface(L"RichEdit")) return CDuiString();
    return m_sText;
}
void CControlUI::SetAccessibleName(const wchar_t* name) {
    if (m_sAccName == (name ? name : L"")) return;
    m_sAccName = name;
    if (m_pManager) m_pManager->NotifyAccessibleEvent(EVENT_OBJECT_NAMECHANGE, this);
}

bool CControlUI::IsAccessibleChecked() const {
    if (auto* option = static_cast<COptionUI*>(const_cast<CControlUI*>(this)->GetInterface(L"Option")))
        return option->IsSelected();
    return m_bAccChecked;
}
void CControlUI::SetAccessibleChecked(bool checked) {
    if (m_bAccChecked == checked) return;
    m_bAccChecked = checked;
    if (m_pManager) m_pManager->NotifyAccessibleEvent(EVENT_OBJECT_STATECHANGE, this);
}

bool CControlUI::IsTabStop() const {
    if (m_nTabStop >= 0) return m_nTabStop != 0;
    CControlUI* self = const_cast<CControlUI*>(this);
    return self->GetInterface(L"Button") != NULL || self->GetInterface(L"RichEdit") != NULL;
}
void CControlUI::SetTabStop(bool tabStop) { m_nTabStop = tabStop ? 1 : 0; }
bool CControlUI::IsDefaultButton() const { return m_bDefaultButton; }
void CControlUI::SetDefaultButton(bool isDefault) { m_bDefaultButton = isDefault; }
bool CControlUI::IsCancelButton() const { return m_bCancelButton; }
void CControlUI::SetCancelButton(bool isCancel) { m_bCancelButton = isCancel; }
DWORD CControlUI::GetFocusColor() const { return m_dwFocusColor; }
void CControlUI::SetFocusColor(DWORD color) { m_dwFocusColor = color; }
bool CControlUI::IsFocused() const { return m_pManager && m_pManager->GetFocus() == this; }
void CControlUI::SetFocus() {
    if (m_pManager) m_pManager->SetFocus(this);
}

// ---------------------------------------------------------------- CContainerUI

CContainerUI::CContainerUI() : m_items(NULL), m_count(0), m_capacity(0), m_rcInset{0, 0, 0, 0} {}

CContainerUI::~CContainerUI() {
    for (int i = 0; i < m_count; ++i) delete m_items[i];
    delete[] m_items;
}

const wchar_t* CContainerUI::GetClass() const { return L"ContainerUI"; }
LPVOID CContainerUI::GetInterface(const wchar_t* name) {
    if (IsName(name, L"Container")) return this;
    return CControlUI::GetInterface(name);
}

CControlUI* CContainerUI::GetItemAt(int index) const { return index >= 0 && index < m_count ? m_items[index] : NULL; }
int CContainerUI::GetCount() const { return m_count; }
int CContainerUI::GetItemIndex(CControlUI* control) const {
    for (int i = 0; i < m_count; ++i)
        if (m_items[i] == control) return i;
    return -1;
}

bool CContainerUI::Grow() {
    if (m_count < m_capacity) return true;
    int cap = m_capacity ? m_capacity * 2 : 8;
    CControlUI** fresh = new CControlUI*[size_t(cap)];
    for (int i = 0; i < m_count; ++i) fresh[i] = m_items[i];
    delete[] m_items;
    m_items = fresh;
    m_capacity = cap;
    return true;
}

bool CContainerUI::Add(CControlUI* control) { return AddAt(control, m_count); }

bool CContainerUI::AddAt(CControlUI* control, int index) {
    if (!control || index < 0 || index > m_count || !Grow()) return false;
    for (int i = m_count; i > index; --i) m_items[i] = m_items[i - 1];
    m_items[index] = control;
    ++m_count;
    control->SetManager(m_pManager, this, m_pManager != NULL);
    control->SetInternVisible(IsVisible());
    NeedUpdate();
    return true;
}

bool CContainerUI::Remove(CControlUI* control) {
    int index = GetItemIndex(control);
    if (index < 0) return false;
    for (int i = index; i + 1 < m_count; ++i) m_items[i] = m_items[i + 1];
    --m_count;
    delete control;
    NeedUpdate();
    return true;
}

void CContainerUI::RemoveAll() {
    for (int i = 0; i < m_count; ++i) delete m_items[i];
    m_count = 0;
    NeedUpdate();
}

RECT CContainerUI::GetInset() const { return m_rcInset; }
void CContainerUI::SetInset(RECT rc) {
    m_rcInset = rc;
    NeedUpdate();
}

void CContainerUI::SetVisible(bool visible) {
    if (m_bVisible == visible) return;
    CControlUI::SetVisible(visible);
    for (int i = 0; i < m_count; ++i) m_items[i]->SetInternVisible(IsVisible());
}

void CContainerUI::SetInternVisible(bool visible) {
    CControlUI::SetInternVisible(visible);
    for (int i = 0; i < m_count; ++i) m_items[i]->SetInternVisible(IsVisible());
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
    for (int i = 0; i < m_count; ++i) m_items[i]->SetManager(manager, this, init);
    CControlUI::SetManager(manager, parent, init);
}

CControlUI* CContainerUI::FindControl(FINDCONTROLPROC proc, LPVOID data, UINT flags) {
    if ((flags & UIFIND_VISIBLE) && !IsVisible()) return NULL;
    if ((flags & UIFIND_ENABLED) && !IsEnabled()) return NULL;
    bool hit = (flags & UIFIND_HITTEST) != 0;
    if (hit && !::PtInRect(&m_rcItem, *static_cast<POINT*>(data))) return NULL;
    if (!hit) {
        CControlUI* me = proc(this, data);
        if (me) return me;
    }
    if (flags & UIFIND_TOP_FIRST) {
        for (int i = m_count - 1; i >= 0; --i)
            if (CControlUI* c = m_items[i]->FindControl(proc, data, flags)) return c;
    } else {
        for (int i = 0; i < m_count; ++i)
            if (CControlUI* c = m_items[i]->FindControl(proc, data, flags)) return c;
    }
    return hit ? proc(this, data) : NULL;
}

void CContainerUI::DoPaint(HDC hDC, const RECT& rcPaint) {
    RECT inter;
    if (!::IntersectRect(&inter, &rcPaint, &m_rcItem)) return;
    CControlUI::DoPaint(hDC, rcPaint);
    int saved = ::SaveDC(hDC);
    ::IntersectClipRect(hDC, inter.left, inter.top, inter.right, inter.bottom);
    for (int i = 0; i < m_count; ++i) {
        CControlUI* c = m_items[i];
        if (!c->IsVisible()) continue;
        c->DoPaint(hDC, inter);
    }
    ::RestoreDC(hDC, saved);
}

void CContainerUI::SetFloatPos(CControlUI* child) {
    RECT f = child->GetFloatPos();
    int w = child->GetFixedWidth(), h = child->GetFixedHeight();
    RECT rc = {m_rcLayout.left + f.left, m_rcLayout.top + f.top, 0, 0};
    rc.right = rc.left + (w > 0 ? w : f.right - f.left);
    rc.bottom = rc.top + (h > 0 ? h : f.bottom - f.top);
    child->SetPos(rc);
}

void CContainerUI::StackChildren(RECT rc, bool vertical) {
    CControlUI::SetPos(rc);
    const RECT inner = {rc.left + m_rcInset.left, rc.top + m_rcInset.top, rc.right - m_rcInset.right,
                        rc.bottom - m_rcInset.bottom};
    const SIZE avail = {inner.right - inner.left, inner.bottom - inner.top};
    // The axis the children follow one another on ("along") and the other one.
    auto along = [vertical](const SIZE& s) { return vertical ? s.cy : s.cx; };
    auto across = [vertical](const SIZE& s) { return vertical ? s.cx : s.cy; };
    auto before = [vertical](const RECT& p) { return vertical ? p.top : p.left; };
    auto after = [vertical](const RECT& p) { return vertical ? p.bottom : p.right; };
    auto side = [vertical](const RECT& p) { return vertical ? p.left : p.top; };
    auto otherSide = [vertical](const RECT& p) { return vertical ? p.right : p.bottom; };

    int fixed = 0, adjustable = 0;
    for (int i = 0; i < m_count; ++i) {
        CControlUI* c = m_items[i];
        if (!c->IsVisible() || c->IsFloat()) continue;
        const SIZE sz = c->EstimateSize(avail);
        const RECT pad = c->GetPadding();
        if (along(sz) == 0) ++adjustable;
        fixed += along(sz) + before(pad) + after(pad);
    }
    int share = adjustable ? (along(avail) - fixed) / adjustable : 0;
    if (share < 0) share = 0;
    int position = vertical ? inner.top : inner.left;
    const int start = vertical ? inner.left : inner.top;
    for (int i = 0; i < m_count; ++i) {
        CControlUI* c = m_items[i];
        if (!c->IsVisible()) continue;
        if (c->IsFloat()) {
            SetFloatPos(c);
            continue;
        }
        const SIZE sz = c->EstimateSize(avail);
        const RECT pad = c->GetPadding();
        const int length = along(sz) ? along(sz) : share;
        const int breadth = across(sz) ? across(sz) : across(avail) - side(pad) - otherSide(pad);
        position += before(pad);
        const int from = start + side(pad);
        const RECT child = vertical ? RECT{from, position, from + breadth, position + length}
                                    : RECT{position, from, position + length, from + breadth};
        c->SetPos(child);
        position += length + after(pad);
    }
}

void CContainerUI::SetPos(RECT rc) {
    CControlUI::SetPos(rc);
    RECT inner = {rc.left + m_rcInset.left, rc.top + m_rcInset.top, rc.right - m_rcInset.right,
                  rc.bottom - m_rcInset.bottom};
    for (int i = 0; i < m_count; ++i) {
        CControlUI* c = m_items[i];
        if (!c->IsVisible()) continue;
        if (c->IsFloat())
            SetFloatPos(c);
        else
            c->SetPos(inner);
    }
}

void CContainerUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    RECT rc;
    if (IsName(name, L"inset")) {
        if (ParseRect(value, rc)) SetInset(rc);
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

// ------------------------------------------------------------ layouts

const wchar_t* CVerticalLayoutUI::GetClass() const { return L"VerticalLayoutUI"; }
LPVOID CVerticalLayoutUI::GetInterface(const wchar_t* name) {
    if (IsName(name, L"VerticalLayout")) return this;
    return CContainerUI::GetInterface(name);
}

void CVerticalLayoutUI::SetPos(RECT rc) { StackChildren(rc, true); }

const wchar_t* CHorizontalLayoutUI::GetClass() const { return L"HorizontalLayoutUI"; }
LPVOID CHorizontalLayoutUI::GetInterface(const wchar_t* name) {
    if (IsName(name, L"HorizontalLayout")) return this;
    return CContainerUI::GetInterface(name);
}

void CHorizontalLayoutUI::SetPos(RECT rc) { StackChildren(rc, false); }

// -------------------------------------------------------------------- CLabelUI

CLabelUI::CLabelUI()
    : m_dwTextColor(0xFF000000),
      m_dwDisabledTextColor(0),
      m_iFont(-1),
      m_uTextStyle(DT_LEFT | DT_VCENTER | DT_SINGLELINE),
      m_rcTextPadding{0, 0, 0, 0} {}

const wchar_t* CLabelUI::GetClass() const { return L"LabelUI"; }
LPVOID CLabelUI::GetInterface(const wchar_t* name) {
    if (IsName(name, L"Label")) return this;
    return CControlUI::GetInterface(name);
}
void CLabelUI::SetTextStyle(UINT style) {
    m_uTextStyle = style;
    Invalidate();
}
UINT CLabelUI::GetTextStyle() const { return m_uTextStyle; }
void CLabelUI::SetTextColor(DWORD color) {
    m_dwTextColor = color;
    Invalidate();
}
DWORD CLabelUI::GetTextColor() const { return m_dwTextColor; }
void CLabelUI::SetDisabledTextColor(DWORD color) {
    m_dwDisabledTextColor = color;
    Invalidate();
}
void CLabelUI::SetFont(int index) {
    m_iFont = index;
    Invalidate();
}
int CLabelUI::GetFont() const { return m_iFont; }
RECT CLabelUI::GetTextPadding() const { return m_rcTextPadding; }
void CLabelUI::SetTextPadding(RECT rc) {
    m_rcTextPadding = rc;
    Invalidate();
}

void CLabelUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    RECT rc;
    if (IsName(name, L"align")) {
        m_uTextStyle &= ~(DT_LEFT | DT_CENTER | DT_RIGHT);
        if (std::wcsstr(value, L"center"))
            m_uTextStyle |= DT_CENTER;
        else if (std::wcsstr(value, L"right"))
            m_uTextStyle |= DT_RIGHT;
        else
            m_uTextStyle |= DT_LEFT;
    } else if (IsName(name, L"valign")) {
        m_uTextStyle &= ~(DT_TOP | DT_VCENTER | DT_BOTTOM);
        if (std::wcsstr(value, L"top"))
            m_uTextStyle |= DT_TOP;
        else if (std::wcsstr(value, L"bottom"))
            m_uTextStyle |= DT_BOTTOM;
        else
            m_uTextStyle |= DT_VCENTER;
    } else if (IsName(name, L"endellipsis")) {
        if (ParseBool(value))
            m_uTextStyle |= DT_END_ELLIPSIS;
        else
            m_uTextStyle &= ~DT_END_ELLIPSIS;
    } else if (IsName(name, L"multiline")) {
        if (ParseBool(value)) {
            m_uTextStyle &= ~DT_SINGLELINE;
            m_uTextStyle |= DT_WORDBREAK;
        } else {
            m_uTextStyle |= DT_SINGLELINE;
            m_uTextStyle &= ~DT_WORDBREAK;
        }
    } else if (IsName(name, L"textcolor")) {
        SetTextColor(ParseColor(value));
    } else if (IsName(name, L"disabledtextcolor")) {
        SetDisabledTextColor(ParseColor(value));
    } else if (IsName(name, L"font")) {
        SetFont(_wtoi(value));
    } else if (IsName(name, L"textpadding")) {
        if (ParseRect(value, rc)) SetTextPadding(rc);
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

void CLabelUI::DrawTextIn(HDC hDC, DWORD color) {
    if (m_sText.IsEmpty() || !m_pManager) return;
    RECT pad = m_pManager->ScaleRect(m_rcTextPadding);
    RECT rc = {m_rcItem.left + pad.left, m_rcItem.top + pad.top, m_rcItem.right - pad.right,
               m_rcItem.bottom - pad.bottom};
    int saved = ::SaveDC(hDC);
    ::IntersectClipRect(hDC, m_rcItem.left, m_rcItem.top, m_rcItem.right, m_rcItem.bottom);
    ::SelectObject(hDC, m_pManager->GetFont(m_iFont));
    ::SetBkMode(hDC, TRANSPARENT);
    ::SetTextColor(hDC, ToColorRef(color));
    ::DrawTextW(hDC, m_sText, m_sText.GetLength(), &rc, m_uTextStyle | DT_NOPREFIX);
    ::RestoreDC(hDC, saved);
}

void CLabelUI::PaintText(HDC hDC) {
    DWORD color = m_dwTextColor;
    if (!IsEnabled()) color = m_dwDisabledTextColor ? m_dwDisabledTextColor : m_pManager->GetDefaultDisabledColor();
    DrawTextIn(hDC, color);
}

// --------------------------------------------------------------------- CTextUI

CTextUI::CTextUI() { m_uTextStyle = DT_LEFT | DT_TOP | DT_WORDBREAK; }
const wchar_t* CTextUI::GetClass() const { return L"TextUI"; }
LPVOID CTextUI::GetInterface(const wchar_t* name) {
    if (IsName(name, L"Text")) return this;
    return CLabelUI::GetInterface(name);
}

// ------------------------------------------------------------------- CButtonUI

CButtonUI::CButtonUI() : m_uButtonState(0), m_dwHotTextColor(0), m_dwPushedTextColor(0) {
    m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
}

const wchar_t* CButtonUI::GetClass() const { return L"ButtonUI"; }
LPVOID CButtonUI::GetInterface(const wchar_t* name) {
    if (IsName(name, L"Button")) return this;
    return CLabelUI::GetInterface(name);
}

void CButtonUI::SetNormalImage(const wchar_t* d) {
    m_sNormalImage = d;
    Invalidate();
}
void CButtonUI::SetHotImage(const wchar_t* d) {
    m_sHotImage = d;
    Invalidate();
}
void CButtonUI::SetPushedImage(const wchar_t* d) {
    m_sPushedImage = d;
    Invalidate();
}
void CButtonUI::SetDisabledImage(const wchar_t* d) {
    m_sDisabledImage = d;
    Invalidate();
}
void CButtonUI::SetHotTextColor(DWORD color) { m_dwHotTextColor = color; }
void CButtonUI::SetPushedTextColor(DWORD color) { m_dwPushedTextColor = color; }
const wchar_t* CButtonUI::GetNormalImage() const { return m_sNormalImage; }
UINT CButtonUI::GetButtonState() const { return m_uButtonState; }

bool CButtonUI::Activate() {
    if (!CControlUI::Activate()) return false;
    if (m_pManager) m_pManager->SendNotify(this, L"click");
    return true;
}

void CButtonUI::SetEnabled(bool enable) {
    CControlUI::SetEnabled(enable);
    if (!enable) m_uButtonState = 0;
}

void CButtonUI::SetVisible(bool visible) {
    CControlUI::SetVisible(visible);
    if (!IsVisible()) m_uButtonState = 0;
}

void CButtonUI::DoEvent(TEventUI& event) {
    switch (event.Type) {
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
        if (IsEnabled() && ::PtInRect(&m_rcItem, event.ptMouse)) {
            m_uButtonState |= UISTATE_PUSHED | UISTATE_CAPTURED;
            Invalidate();
        }
        return;
    case UIEVENT_MOUSEMOVE:
        if (m_uButtonState & UISTATE_CAPTURED) {
            UINT old = m_uButtonState;
            if (::PtInRect(&m_rcItem, event.ptMouse))
                m_uButtonState |= UISTATE_PUSHED;
            else
                m_uButtonState &= ~UISTATE_PUSHED;
            if (old != m_uButtonState) Invalidate();
        }
        return;
    case UIEVENT_BUTTONUP:
        if (m_uButtonState & UISTATE_CAPTURED) {
            m_uButtonState &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
            Invalidate();
            // A click needs the release over this very control, on top.
            if (::PtInRect(&m_rcItem, event.ptMouse) && m_pManager && m_pManager->FindControl(event.ptMouse) == this)
                Activate();
        }
        return;
    case UIEVENT_KILLCAPTURE:
        if (m_uButtonState & (UISTATE_PUSHED | UISTATE_CAPTURED)) {
            m_uButtonState &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
            Invalidate();
        }
        return;
    case UIEVENT_MOUSEENTER:
        if (IsEnabled()) {
            m_uButtonState |= UISTATE_HOT;
            Invalidate();
        }
        return;
    case UIEVENT_MOUSELEAVE:
        if (m_uButtonState & UISTATE_HOT) {
            m_uButtonState &= ~UISTATE_HOT;
            Invalidate();
        }
        return;
    case UIEVENT_SETCURSOR: ::SetCursor(::LoadCursorW(NULL, IsEnabled() ? IDC_HAND : IDC_ARROW)); return;
    default: CLabelUI::DoEvent(event);
    }
}

void CButtonUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (IsName(name, L"normalimage"))
        SetNormalImage(value);
    else if (IsName(name, L"hotimage"))
        SetHotImage(value);
    else if (IsName(name, L"pushedimage"))
        SetPushedImage(value);
    else if (IsName(name, L"disabledimage"))
        SetDisabledImage(value);
    else if (IsName(name, L"hottextcolor"))
        SetHotTextColor(ParseColor(value));
    else if (IsName(name, L"pushedtextcolor"))
        SetPushedTextColor(ParseColor(value));
    else
        CLabelUI::SetAttribute(name, value);
}

void CButtonUI::PaintText(HDC hDC) {
    DWORD color = m_dwTextColor;
    if (!IsEnabled())
        color = m_dwDisabledTextColor ? m_dwDisabledTextColor : m_pManager->GetDefaultDisabledColor();
    else if ((m_uButtonState & UISTATE_PUSHED) && m_dwPushedTextColor)
        color = m_dwPushedTextColor;
    else if ((m_uButtonState & UISTATE_HOT) && m_dwHotTextColor)
        color = m_dwHotTextColor;
    DrawTextIn(hDC, color);
}

void CButtonUI::PaintStatusImage(HDC hDC) {
    const CDuiString* pick = &m_sNormalImage;
    if (!IsEnabled() && !m_sDisabledImage.IsEmpty())
        pick = &m_sDisabledImage;
    else if ((m_uButtonState & UISTATE_PUSHED) && !m_sPushedImage.IsEmpty())
        pick = &m_sPushedImage;
    else if ((m_uButtonState & UISTATE_HOT) && !m_sHotImage.IsEmpty())
        pick = &m_sHotImage;
    if (!pick->IsEmpty()) DrawImage(hDC, *pick);
}

// ------------------------------------------------------------------- COptionUI

COptionUI::COptionUI() : m_bSelected(false) {}
COptionUI::~COptionUI() {}
const wchar_t* COptionUI::GetClass() const { return L"OptionUI"; }
LPVOID COptionUI::GetInterface(const wchar_t* name) {
    if (IsName(name, L"Option")) return this;
    return CButtonUI::GetInterface(name);
}
bool COptionUI::IsSelected() const { return m_bSelected; }
CDuiString COptionUI::GetGroup() const { return m_sGroup; }
void COptionUI::SetGroup(const wchar_t* group) { m_sGroup = group; }
void COptionUI::SetSelectedImage(const wchar_t* d) {
    m_sSelectedImage = d;
    Invalidate();
}

namespace {
struct GroupQuery {
    const CDuiString* group;
    COptionUI* except;
};
CControlUI* CALLBACK CollectGroupMember(CControlUI* c, LPVOID data) {
    auto* q = static_cast<GroupQuery*>(data);
    if (c == q->except) return NULL;
    auto* opt = static_cast<COptionUI*>(c->GetInterface(L"Option"));
    if (opt && opt->IsSelected() && opt->GetGroup() == *q->group) opt->Selected(false, true);
    return NULL;  // visit every control
}
}  // namespace

void COptionUI::Selected(bool selected, bool notify) {
    if (m_bSelected == selected) return;
    m_bSelected = selected;
    if (selected)
        m_uButtonState |= UISTATE_SELECTED;
    else
        m_uButtonState &= ~UISTATE_SELECTED;
    if (selected && !m_sGroup.IsEmpty() && m_pManager && m_pManager->GetRoot()) {
        GroupQuery q = {&m_sGroup, this};
        m_pManager->GetRoot()->FindControl(CollectGroupMember, &q, UIFIND_ALL);
    }
    if (m_pManager) m_pManager->NotifyAccessibleEvent(EVENT_OBJECT_STATECHANGE, this);
    if (notify && m_pManager) m_pManager->SendNotify(this, L"selectchanged");
    Invalidate();
}

bool COptionUI::Activate() {
    if (!CButtonUI::Activate()) return false;
    if (!m_sGroup.IsEmpty())
        Selected(true);
    else
        Selected(!m_bSelected);
    return true;
}

void COptionUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (IsName(name, L"group"))
        SetGroup(value);
    else if (IsName(name, L"selected"))
        Selected(ParseBool(value), false);
    else if (IsName(name, L"selectedimage"))
        SetSelectedImage(value);
    else
        CButtonUI::SetAttribute(name, value);
}

void COptionUI::PaintStatusImage(HDC hDC) {
    if (m_bSelected && !m_sSelectedImage.IsEmpty())
        DrawImage(hDC, m_sSelectedImage);
    else
        CButtonUI::PaintStatusImage(hDC);
}

// ----------------------------------------------------------------- CProgressUI

CProgressUI::CProgressUI() : m_bHorizontal(true), m_nMin(0), m_nMax(100), m_nValue(0) {
    m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
}
const wchar_t* CProgressUI::GetClass() const { return L"ProgressUI"; }
LPVOID CProgressUI::GetInterface(const wchar_t* name) {
    if (IsName(name, L"Progress")) return this;
    return CLabelUI::GetInterface(name);
}
bool CProgressUI::IsHorizontal() const { return m_bHorizontal; }
void CProgressUI::SetHorizontal(bool horizontal) {
    m_bHorizontal = horizontal;
    Invalidate();
}
int CProgressUI::GetMinValue() const { return m_nMin; }
void CProgressUI::SetMinValue(int value) {
    m_nMin = value;
    if (m_nValue < m_nMin) m_nValue = m_nMin;
    Invalidate();
}
int CProgressUI::GetMaxValue() const { return m_nMax; }
void CProgressUI::SetMaxValue(int value) {
    m_nMax = value;
    if (m_nValue > m_nMax) m_nValue = m_nMax;
    Invalidate();
}
int CProgressUI::GetValue() const { return m_nValue; }
void CProgressUI::SetValue(int value) {
    if (value < m_nMin) value = m_nMin;
    if (value > m_nMax) value = m_nMax;
    if (value == m_nValue) return;
    m_nValue = value;
    Invalidate();
    if (m_pManager) m_pManager->NotifyAccessibleEvent(EVENT_OBJECT_VALUECHANGE, this);
}

void CProgressUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (IsName(name, L"hor"))
        SetHorizontal(ParseBool(value));
    else if (IsName(name, L"min"))
        SetMinValue(_wtoi(value));
    else if (IsName(name, L"max"))
        SetMaxValue(_wtoi(value));
    else if (IsName(name, L"value"))
        SetValue(_wtoi(value));
    else
        CLabelUI::SetAttribute(name, value);
}

void CProgressUI::PaintStatusImage(HDC hDC) {
    if (m_sForeImage.IsEmpty() || m_nMax <= m_nMin || !m_pManager) return;
    RECT fill = m_rcItem;
    long span = m_nValue - m_nMin, range = m_nMax - m_nMin;
    if (m_bHorizontal)
        fill.right = fill.left + MulDiv(m_rcItem.right - m_rcItem.left, span, range);
    else
        fill.top = fill.bottom - MulDiv(m_rcItem.bottom - m_rcItem.top, span, range);
    if (fill.right <= fill.left || fill.bottom <= fill.top) return;
    m_pManager->DrawImage(hDC, fill, fill, m_sForeImage);
}

// The foreground picture is the fill, drawn by PaintStatusImage.
void CProgressUI::PaintForeImage(HDC /*hDC*/) {}

// ----------------------------------------------------------------- CRichEditUI

CRichEditUI::CRichEditUI()
    : m_hEdit(NULL),
      m_hFont(NULL),
      m_bMultiLine(false),
      m_bAutoHScroll(true),
      m_bAutoVScroll(false),
      m_bReadOnly(false),
      m_nLimit(0),
      m_bHasParaFormat(false) {
    std::memset(&m_paraFormat, 0, sizeof m_paraFormat);
    m_rcTextPadding = RECT{2, 2, 2, 2};
}

CRichEditUI::~CRichEditUI() {
    if (m_hEdit && ::IsWindow(m_hEdit)) ::DestroyWindow(m_hEdit);
}

const wchar_t* CRichEditUI::GetClass() const { return L"RichEditUI"; }
LPVOID CRichEditUI::GetInterface(const wchar_t* name) {
    if (IsName(name, L"RichEdit")) return this;
    return CLabelUI::GetInterface(name);
}

HWND CRichEditUI::GetHostWindow() const { return m_hEdit; }

CDuiString CRichEditUI::GetText() const {
    if (!m_hEdit) return m_sText;
    int n = ::GetWindowTextLengthW(m_hEdit);
    if (n <= 0) return CDuiString();
    wchar_t* buf = new wchar_t[size_t(n) + 1];
    int got = ::GetWindowTextW(m_hEdit, buf, n + 1);
    CDuiString r(buf, got > 0 ? got : 0);
    delete[] buf;
    return r;
}

void CRichEditUI::SetText(const wchar_t* text) {
    m_sText = text;
    if (m_hEdit) {
        ::SetWindowTextW(m_hEdit, m_sText);
        ApplyCharColor();
        if (m_bHasParaFormat) ::SendMessageW(m_hEdit, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&m_paraFormat));
    }
    Invalidate();
    if (m_pManager) m_pManager->NotifyAccessibleEvent(EVENT_OBJECT_VALUECHANGE, this);
}

bool CRichEditUI::SetParaFormat(PARAFORMAT2& pf) {
    std::memcpy(&m_paraFormat, &pf, sizeof m_paraFormat);
    m_paraFormat.cbSize = sizeof(PARAFORMAT2);
    m_bHasParaFormat = true;
    if (!m_hEdit) return true;
    // The whole text is one paragraph: select it so the format applies to it.
    CHARRANGE all = {0, -1}, keep;
    ::SendMessageW(m_hEdit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&keep));
    ::SendMessageW(m_hEdit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
    LRESULT ok = ::SendMessageW(m_hEdit, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&pf));
    ::SendMessageW(m_hEdit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&keep));
    return ok != 0;
}

void CRichEditUI::SetTextColor(DWORD color) {
    m_dwTextColor = color;
    ApplyCharColor();
}
DWORD CRichEditUI::GetTextColor() const { return m_dwTextColor; }

void CRichEditUI::ApplyCharColor() {
    if (!m_hEdit) return;
    CHARFORMAT2W cf;
    std::memset(&cf, 0, sizeof cf);
    cf.cbSize = sizeof cf;
    cf.dwMask = CFM_COLOR;
    cf.crTextColor = ToColorRef(m_dwTextColor);
    ::SendMessageW(m_hEdit, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&cf));
    ::SendMessageW(m_hEdit, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
}

bool CRichEditUI::IsMultiLine() const { return m_bMultiLine; }
void CRichEditUI::SetMultiLine(bool multiline) { m_bMultiLine = multiline; }
bool CRichEditUI::IsReadOnly() const { return m_bReadOnly; }
void CRichEditUI::SetReadOnly(bool readonly) {
    m_bReadOnly = readonly;
    if (m_hEdit) ::SendMessageW(m_hEdit, EM_SETREADONLY, readonly, 0);
}
int CRichEditUI::GetLimitText() const { return m_nLimit; }
void CRichEditUI::SetLimitText(int chars) {
    m_nLimit = chars;
    if (m_hEdit) ::SendMessageW(m_hEdit, EM_EXLIMITTEXT, 0, chars > 0 ? chars : 0x7FFFFFFE);
}

void CRichEditUI::DoInit() {
    if (m_hEdit || !m_pManager || !m_pManager->GetPaintWindow()) return;
    // From the system folder only: never a copy planted beside the program.
    static HMODULE lib = LoadSystemLibrary(L"msftedit.dll");
    static HMODULE lib20 = lib ? NULL : LoadSystemLibrary(L"riched20.dll");
    const wchar_t* cls = lib ? L"RICHEDIT50W" : (lib20 ? L"RichEdit20W" : NULL);
    if (!cls) return;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    if (m_bMultiLine) style |= ES_MULTILINE | (m_bAutoVScroll ? ES_AUTOVSCROLL : 0);
    if (m_bAutoHScroll) style |= ES_AUTOHSCROLL;
    if (m_bReadOnly) style |= ES_READONLY;
    m_hEdit = ::CreateWindowExW(WS_EX_NOPARENTNOTIFY, cls, L"", style, 0, 0, 0, 0, m_pManager->GetPaintWindow(), NULL,
                                CPaintManagerUI::GetInstance(), NULL);
    if (!m_hEdit) return;
    ::SendMessageW(m_hEdit, EM_SETTEXTMODE, TM_PLAINTEXT | TM_SINGLELEVELUNDO | TM_SINGLECODEPAGE, 0);
    m_hFont = m_pManager->GetFont(m_iFont);
    ::SendMessageW(m_hEdit, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), FALSE);
    ::SendMessageW(m_hEdit, EM_EXLIMITTEXT, 0, m_nLimit > 0 ? m_nLimit : 0x7FFFFFFE);
    ::SendMessageW(m_hEdit, EM_SETEVENTMASK, 0, ENM_CHANGE);
    if (!IsEnabled()) ::EnableWindow(m_hEdit, FALSE);
    ::SetWindowTextW(m_hEdit, m_sText);
    ApplyCharColor();
    if (m_bHasParaFormat) SetParaFormat(m_paraFormat);
}

void CRichEditUI::SetEnabled(bool enable) {
    CControlUI::SetEnabled(enable);
    if (m_hEdit) ::EnableWindow(m_hEdit, enable);
}

void CRichEditUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (IsName(name, L"multiline"))
        m_bMultiLine = ParseBool(value);
    else if (IsName(name, L"autohscroll"))
        m_bAutoHScroll = ParseBool(value);
    else if (IsName(name, L"autovscroll"))
        m_bAutoVScroll = ParseBool(value);
    else if (IsName(name, L"readonly"))
        SetReadOnly(ParseBool(value));
    else if (IsName(name, L"maxchar"))
        SetLimitText(_wtoi(value));
    else
        CLabelUI::SetAttribute(name, value);
}

// The child window draws the text; the control draws background and border.
void CRichEditUI::PaintText(HDC /*hDC*/) {}

void CRichEditUI::ApplyFormatRect() {
    if (!m_hEdit) return;
    RECT client;
    ::GetClientRect(m_hEdit, &client);
    RECT pad = m_pManager ? m_pManager->ScaleRect(m_rcTextPadding) : m_rcTextPadding;
    RECT fmt = {client.left + pad.left, client.top + pad.top, client.right - pad.right, client.bottom - pad.bottom};
    if (fmt.right <= fmt.left || fmt.bottom <= fmt.top) return;
    ::SendMessageW(m_hEdit, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&fmt));
}

void CRichEditUI::OnLayoutDone(bool effectivelyVisible) {
    if (!m_hEdit) return;
    // A change of scale brings new fonts; the old ones are deleted after
    // this pass, so a hidden box takes the new one too.
    HFONT font = m_pManager ? m_pManager->GetFont(m_iFont) : m_hFont;
    bool refont = font != m_hFont;
    if (refont) {
        m_hFont = font;
        ::SendMessageW(m_hEdit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        ApplyCharColor();
    }
    if (!effectivelyVisible) {
        if (::IsWindowVisible(m_hEdit)) ::ShowWindow(m_hEdit, SW_HIDE);
        return;
    }
    int b = m_pManager ? m_pManager->Scale(m_nBorderSize) : m_nBorderSize;
    RECT inner = {m_rcItem.left + b, m_rcItem.top + b, m_rcItem.right - b, m_rcItem.bottom - b};
    RECT current;
    ::GetWindowRect(m_hEdit, &current);
    ::MapWindowPoints(NULL, ::GetParent(m_hEdit), reinterpret_cast<POINT*>(&current), 2);
    if (refont || std::memcmp(&current, &inner, sizeof inner) != 0) {
        ::MoveWindow(m_hEdit, inner.left, inner.top, inner.right - inner.left, inner.bottom - inner.top, TRUE);
        ApplyFormatRect();
    }
    if (!::IsWindowVisible(m_hEdit)) {
        ApplyFormatRect();
        ::ShowWindow(m_hEdit, SW_SHOWNOACTIVATE);
    }
}

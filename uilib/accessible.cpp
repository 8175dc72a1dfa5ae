#include "uilib/accessible.h"

#include <climits>
#include <cwchar>
#include <new>

#include "uilib/uimanager.h"
#include "util/com_object.h"
#include "util/com_ptr.h"
#include "util/owned.h"
#include "util/system_library.h"
#include "util/variant.h"

namespace uilib {
namespace {

// --- oleacc.dll, loaded on first use ------------------------------------------

struct Oleacc {
    typedef LRESULT(WINAPI* LresultFromObjectFn)(REFIID, WPARAM, LPUNKNOWN);
    typedef HRESULT(WINAPI* ObjectFromWindowFn)(HWND, DWORD, REFIID, void**);
    LresultFromObjectFn lresultFromObject = nullptr;
    ObjectFromWindowFn objectFromWindow = nullptr;
};

template <class Fn>
Fn Proc(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const Oleacc& Library() {
    static const Oleacc library = [] {
        Oleacc l;
        // Loaded for the rest of the process (clients may call back any time),
        // from the system folder only.
        if (HMODULE module = LoadSystemLibrary(L"oleacc.dll")) {
            l.lresultFromObject = Proc<Oleacc::LresultFromObjectFn>(module, "LresultFromObject");
            l.objectFromWindow = Proc<Oleacc::ObjectFromWindowFn>(module, "AccessibleObjectFromWindow");
        }
        return l;
    }();
    return library;
}

// --- what a control tells ---------------------------------------------------------

bool Usable(CControlUI* c) { return c->IsVisible() && c->IsEnabled(); }
bool Pressable(CControlUI* c) { return c->GetInterface(L"Button") != nullptr; }
CRichEditUI* AsRichEdit(CControlUI* c) { return static_cast<CRichEditUI*>(c->GetInterface(L"RichEdit")); }

// Whether the system focus is in the window (itself or a control's own window).
bool FocusIn(HWND hwnd) {
    HWND f = ::GetFocus();
    return hwnd && f && (f == hwnd || ::IsChild(hwnd, f));
}

// Null for an empty text: "no name" rather than an empty one.
HRESULT Text(const CDuiString& text, BSTR* out) {
    *out = text.IsEmpty() ? nullptr : ::SysAllocStringLen(text.GetData(), UINT(text.GetLength()));
    if (!text.IsEmpty() && !*out) return E_OUTOFMEMORY;
    return *out ? S_OK : S_FALSE;
}

void SetI4(VARIANT* v, LONG value) {
    ::VariantInit(v);
    v->vt = VT_I4;
    v->lVal = value;
}

// The default actions as Windows names them in Simplified Chinese.
const wchar_t* DefaultAction(CControlUI* c) {
    if (!Pressable(c) || !Usable(c)) return nullptr;
    switch (c->GetAccessibleRole()) {
    case ROLE_SYSTEM_CHECKBUTTON: return c->IsAccessibleChecked() ? L"清除" : L"选中";
    case ROLE_SYSTEM_RADIOBUTTON: return L"选中";
    case ROLE_SYSTEM_LINK: return L"跳转";
    default: return L"按下";
    }
}

// The rich edit's own accessible object, or null.
CComPtr<IAccessible> OwnObject(CRichEditUI* edit) {
    CComPtr<IAccessible> own;
    HWND host = edit->GetHostWindow();
    if (host) AccObjectFromWindow(host, OBJID_CLIENT, IID_IAccessible, own.outVoid());
    return own;
}

// --- enumeration of the children -----------------------------------------------

// A new enumerator of child ids 1 .. count from a position on, handed out
// with its one reference (what IEnumVARIANT::Clone returns).
HRESULT NewChildEnum(LONG count, LONG cursor, IEnumVARIANT** out);

// Child ids 1 .. count from a position on.
class ChildEnum final : public CComObject<ComInterface<IEnumVARIANT, &IID_IEnumVARIANT>> {
public:
    ChildEnum(LONG count, LONG cursor) : count_(count), cursor_(cursor) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* items, ULONG* fetched) override {
        return NextOf(count_, cursor_, celt, items, fetched);
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override { return SkipOf(count_, cursor_, celt); }
    HRESULT STDMETHODCALLTYPE Reset() override {
        cursor_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override { return NewChildEnum(count_, cursor_, out); }

    static HRESULT NextOf(LONG count, LONG& cursor, ULONG celt, VARIANT* items, ULONG* fetched) {
        if (!items || (celt > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < celt && cursor < count) SetI4(&items[n++], ++cursor);
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    static HRESULT SkipOf(LONG count, LONG& cursor, ULONG celt) {
        LONG left = count - cursor;
        if (LONG(celt) > left || celt > ULONG(LONG_MAX)) {
            cursor = count;
            return S_FALSE;
        }
        cursor += LONG(celt);
        return S_OK;
    }

private:
    LONG count_;
    LONG cursor_;
};

HRESULT NewChildEnum(LONG count, LONG cursor, IEnumVARIANT** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        *out = MakeCom<ChildEnum>(count, cursor).detach();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// --- the window's client -------------------------------------------------------------

class WindowAccessible final : public CComObject<ComInterface<IAccessible, &IID_IDispatch, &IID_IAccessible>,
                                                 ComInterface<IEnumVARIANT, &IID_IEnumVARIANT>> {
public:
    explicit WindowAccessible(CPaintManagerUI* manager) : manager_(manager), cursor_(0) {}
    void Detach() { manager_ = nullptr; }

    // IDispatch: clients use the interface's own methods.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (!parent) return E_POINTER;
        *parent = nullptr;
        if (!manager_) return RPC_E_DISCONNECTED;
        return AccObjectFromWindow(Window(), OBJID_WINDOW, IID_IDispatch, reinterpret_cast<void**>(parent));
    }

    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        if (!manager_) return RPC_E_DISCONNECTED;
        *count = manager_->GetAccessibleCount();
        return S_OK;
    }

    // The controls are simple elements: no object of their own.
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        CControlUI* c = nullptr;
        HRESULT hr = Find(child, &c);
        if (FAILED(hr)) return hr;
        if (!c) return QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out));
        return S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        CControlUI* c = nullptr;
        HRESULT hr = Find(child, &c);
        if (FAILED(hr)) return hr;
        return Text(c ? c->GetAccessibleName() : manager_->GetAccessibleName(), name);
    }

    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        if (!value) return E_POINTER;
        *value = nullptr;
        CControlUI* c = nullptr;
        HRESULT hr = Find(child, &c);
        if (FAILED(hr)) return hr;
        if (!c) return S_FALSE;
        if (auto* bar = static_cast<CProgressUI*>(c->GetInterface(L"Progress"))) {
            int range = bar->GetMaxValue() - bar->GetMinValue();
            int percent = range > 0 ? MulDiv(bar->GetValue() - bar->GetMinValue(), 100, range) : 0;
            CDuiString text;
            text.Format(L"%d%%", percent);
            return Text(text, value);
        }
        if (CRichEditUI* edit = AsRichEdit(c)) {
            // What the box's own object says, else the text it holds.
            if (CComPtr<IAccessible> own = OwnObject(edit)) {
                VARIANT self;
                SetI4(&self, CHILDID_SELF);
                UniqueBstr text;
                if (own->get_accValue(self, text.out()) == S_OK && text) {
                    *value = text.release();
                    return S_OK;
                }
            }
            return Text(edit->GetText(), value);
        }
        return S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override { return Nothing(child, text); }

    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!role) return E_POINTER;
        ::VariantInit(role);
        CControlUI* c = nullptr;
        HRESULT hr = Find(child, &c);
        if (FAILED(hr)) return hr;
        SetI4(role, c ? LONG(c->GetAccessibleRole()) : ROLE_SYSTEM_CLIENT);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (!state) return E_POINTER;
        ::VariantInit(state);
        CControlUI* c = nullptr;
        HRESULT hr = Find(child, &c);
        if (FAILED(hr)) return hr;
        SetI4(state, LONG(c ? StateOf(c) : ClientState()));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override { return Nothing(child, text); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        if (!file || !topic) return E_POINTER;
        *topic = 0;
        return Nothing(child, file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
        return Nothing(child, text);
    }

    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (!focus) return E_POINTER;
        ::VariantInit(focus);
        if (!manager_) return RPC_E_DISCONNECTED;
        if (!FocusIn(Window())) return S_FALSE;
        int index = manager_->GetAccessibleIndex(manager_->GetFocus());
        SetI4(focus, index >= 0 ? index + 1 : CHILDID_SELF);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (!selection) return E_POINTER;
        ::VariantInit(selection);
        return manager_ ? S_FALSE : RPC_E_DISCONNECTED;
    }

    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        if (!action) return E_POINTER;
        *action = nullptr;
        CControlUI* c = nullptr;
        HRESULT hr = Find(child, &c);
        if (FAILED(hr)) return hr;
        const wchar_t* name = c ? DefaultAction(c) : nullptr;
        return Text(CDuiString(name), action);
    }

    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        CControlUI* c = nullptr;
        HRESULT hr = Find(child, &c);
        if (FAILED(hr)) return hr;
        if (flags != SELFLAG_TAKEFOCUS) return DISP_E_MEMBERNOTFOUND;
        if (c && !(c->IsTabStop() && Usable(c))) return S_FALSE;
        manager_->SetFocus(c, c != nullptr);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
        if (!left || !top || !width || !height) return E_POINTER;
        *left = *top = *width = *height = 0;
        CControlUI* c = nullptr;
        HRESULT hr = Find(child, &c);
        if (FAILED(hr)) return hr;
        RECT r;
        if (c) {
            if (!c->IsVisible()) return S_FALSE;
            r = c->GetPos();
        } else {
            ::GetClientRect(Window(), &r);
        }
        ::MapWindowPoints(Window(), nullptr, reinterpret_cast<POINT*>(&r), 2);
        *left = r.left;
        *top = r.top;
        *width = r.right - r.left;
        *height = r.bottom - r.top;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        if (!end) return E_POINTER;
        ::VariantInit(end);
        CControlUI* c = nullptr;
        HRESULT hr = Find(start, &c);
        if (FAILED(hr)) return hr;
        LONG count = manager_->GetAccessibleCount();
        if (!c) {
            // From the client: to its first or last child. Its own siblings
            // are the window's business.
            if (count == 0 || (direction != NAVDIR_FIRSTCHILD && direction != NAVDIR_LASTCHILD)) return S_FALSE;
            SetI4(end, direction == NAVDIR_FIRSTCHILD ? 1 : count);
            return S_OK;
        }
        int index = manager_->GetAccessibleIndex(c);
        if (index < 0) return S_FALSE;
        LONG to = 0;
        switch (direction) {
        case NAVDIR_NEXT: to = index + 2 <= count ? index + 2 : 0; break;
        case NAVDIR_PREVIOUS: to = index; break;
        case NAVDIR_UP:
        case NAVDIR_DOWN:
        case NAVDIR_LEFT:
        case NAVDIR_RIGHT: to = Nearest(c, direction); break;
        case NAVDIR_FIRSTCHILD:
        case NAVDIR_LASTCHILD: return S_FALSE;  // simple elements have no children
        default: return E_INVALIDARG;
        }
        if (to <= 0) return S_FALSE;
        SetI4(end, to);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
        if (!child) return E_POINTER;
        ::VariantInit(child);
        if (!manager_) return RPC_E_DISCONNECTED;
        POINT pt = {x, y};
        ::ScreenToClient(Window(), &pt);
        RECT client;
        ::GetClientRect(Window(), &client);
        if (!::PtInRect(&client, pt)) return S_FALSE;
        // The topmost control there, or the container it lies in.
        int index = -1;
        for (CControlUI* c = manager_->FindControl(pt); c && index < 0; c = c->GetParent())
            index = manager_->GetAccessibleIndex(c);
        SetI4(child, index >= 0 ? index + 1 : CHILDID_SELF);
        return S_OK;
    }

    // Pressed once the call has returned: the click may open a dialog or
    // run the whole installation, which a client must not wait for.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        CControlUI* c = nullptr;
        HRESULT hr = Find(child, &c);
        if (FAILED(hr)) return hr;
        if (!c || !DefaultAction(c)) return DISP_E_MEMBERNOTFOUND;
        return manager_->PostActivate(c) ? S_OK : E_FAIL;
    }

    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        CControlUI* c = nullptr;
        HRESULT hr = Find(child, &c);
        if (FAILED(hr)) return hr;
        CRichEditUI* edit = c ? AsRichEdit(c) : nullptr;
        if (!edit) return DISP_E_MEMBERNOTFOUND;
        if (!Usable(c) || edit->IsReadOnly()) return E_ACCESSDENIED;
        edit->SetText(value ? value : L"");
        return S_OK;
    }

    // IEnumVARIANT: the children now visible, as ids 1 .. count.
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* items, ULONG* fetched) override {
        if (!manager_) return RPC_E_DISCONNECTED;
        return ChildEnum::NextOf(manager_->GetAccessibleCount(), cursor_, celt, items, fetched);
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        if (!manager_) return RPC_E_DISCONNECTED;
        return ChildEnum::SkipOf(manager_->GetAccessibleCount(), cursor_, celt);
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        cursor_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!manager_) return RPC_E_DISCONNECTED;
        return NewChildEnum(manager_->GetAccessibleCount(), cursor_, out);
    }

private:
    HWND Window() const { return manager_->GetPaintWindow(); }

    // The control a child id names (null: the client itself).
    HRESULT Find(const VARIANT& child, CControlUI** c) const {
        *c = nullptr;
        if (!manager_) return RPC_E_DISCONNECTED;
        if (child.vt != VT_I4) return E_INVALIDARG;
        LONG id = child.lVal;
        if (id == CHILDID_SELF) return S_OK;
        if (id > 0)
            *c = manager_->GetAccessibleAt(id - 1);
        else if (id != LONG_MIN)
            *c = manager_->FindAccessibleId(-id);
        if (!*c || (*c)->GetAccessibleRole() == UIROLE_NONE) return E_INVALIDARG;
        return S_OK;
    }

    // For the properties nothing here has.
    HRESULT Nothing(const VARIANT& child, BSTR* text) const {
        if (!text) return E_POINTER;
        *text = nullptr;
        CControlUI* c = nullptr;
        HRESULT hr = Find(child, &c);
        return FAILED(hr) ? hr : S_FALSE;
    }

    DWORD ClientState() const {
        HWND hwnd = Window();
        DWORD s = STATE_SYSTEM_FOCUSABLE;
        if (!::IsWindowVisible(hwnd)) s |= STATE_SYSTEM_INVISIBLE;
        if (::GetFocus() == hwnd && !manager_->GetFocus()) s |= STATE_SYSTEM_FOCUSED;
        return s;
    }

    DWORD StateOf(CControlUI* c) const {
        DWORD s = 0;
        if (!c->IsVisible()) s |= STATE_SYSTEM_INVISIBLE;
        if (!c->IsEnabled()) s |= STATE_SYSTEM_UNAVAILABLE;
        if (c->IsTabStop() && Usable(c)) s |= STATE_SYSTEM_FOCUSABLE;
        if (manager_->GetFocus() == c && FocusIn(Window())) s |= STATE_SYSTEM_FOCUSED;
        switch (c->GetAccessibleRole()) {
        case ROLE_SYSTEM_CHECKBUTTON:
        case ROLE_SYSTEM_RADIOBUTTON:
            if (c->IsAccessibleChecked()) s |= STATE_SYSTEM_CHECKED;
            break;
        case ROLE_SYSTEM_LINK: s |= STATE_SYSTEM_LINKED; break;
        case ROLE_SYSTEM_PUSHBUTTON:
            if (c->IsDefaultButton()) s |= STATE_SYSTEM_DEFAULT;
            break;
        case ROLE_SYSTEM_STATICTEXT:
        case ROLE_SYSTEM_PROGRESSBAR: s |= STATE_SYSTEM_READONLY; break;
        default: break;
        }
        if (auto* button = static_cast<CButtonUI*>(c->GetInterface(L"Button"))) {
            if (button->GetButtonState() & UISTATE_PUSHED) s |= STATE_SYSTEM_PRESSED;
            if (button->GetButtonState() & UISTATE_HOT) s |= STATE_SYSTEM_HOTTRACKED;
        }
        if (CRichEditUI* edit = AsRichEdit(c)) {
            if (edit->IsReadOnly()) s |= STATE_SYSTEM_READONLY;
            // What the box's own object adds (protected text, its own focus).
            if (CComPtr<IAccessible> own = OwnObject(edit)) {
                VARIANT self;
                SetI4(&self, CHILDID_SELF);
                CVariant state;
                if (own->get_accState(self, state.out()) == S_OK && state->vt == VT_I4)
                    s |= DWORD(state->lVal) & (STATE_SYSTEM_PROTECTED | STATE_SYSTEM_READONLY);
            }
        }
        return s;
    }

    // The child nearest to `from` in a direction: among those whose centre
    // lies within 45 degrees of it.
    LONG Nearest(CControlUI* from, long direction) const {
        RECT a = from->GetPos();
        long ax = (a.left + a.right) / 2, ay = (a.top + a.bottom) / 2;
        LONG best = 0;
        long long bestDistance = 0;
        int count = manager_->GetAccessibleCount();
        for (int i = 0; i < count; ++i) {
            CControlUI* c = manager_->GetAccessibleAt(i);
            if (c == from) continue;
            RECT b = c->GetPos();
            long dx = (b.left + b.right) / 2 - ax, dy = (b.top + b.bottom) / 2 - ay;
            long along = direction == NAVDIR_DOWN    ? dy
                         : direction == NAVDIR_UP    ? -dy
                         : direction == NAVDIR_RIGHT ? dx
                                                     : -dx;
            long across = direction == NAVDIR_DOWN || direction == NAVDIR_UP ? dx : dy;
            if (along <= 0 || (across < 0 ? -across : across) > along) continue;
            long long distance = (long long)dx * dx + (long long)dy * dy;
            if (!best || distance < bestDistance) {
                best = i + 1;
                bestDistance = distance;
            }
        }
        return best;
    }

    CPaintManagerUI* manager_;
    LONG cursor_;
};

}  // namespace

CComPtr<IAccessible> CreateWindowAccessible(CPaintManagerUI* manager) { return MakeCom<WindowAccessible>(manager); }

void DetachWindowAccessible(IAccessible* object) {
    if (object) static_cast<WindowAccessible*>(object)->Detach();
}

LRESULT AccLresultFromObject(REFIID riid, WPARAM wParam, IUnknown* object) {
    const Oleacc& l = Library();
    return l.lresultFromObject ? l.lresultFromObject(riid, wParam, object) : LRESULT(E_NOTIMPL);
}

HRESULT AccObjectFromWindow(HWND hwnd, DWORD objectId, REFIID riid, void** object) {
    const Oleacc& l = Library();
    if (!l.objectFromWindow) {
        if (object) *object = nullptr;
        return E_NOTIMPL;
    }
    return l.objectFromWindow(hwnd, objectId, riid, object);
}

}  // namespace uilib

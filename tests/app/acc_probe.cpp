// Reads the installer window as assistive technology does, from another
// process, through MSAA (AccessibleObjectFromWindow and the standard proxy):
//   acc_probe tree              the client, then one line per child from its
//                               IEnumVARIANT: "id<TAB>role<TAB>states<TAB>name
//                               <TAB>value<TAB>default action<TAB>x,y,w,h"
//                               (screen pixels; states comma separated)
//   acc_probe chain             the children's names by accNavigate (first
//                               child, then next until none), one a line
//   acc_probe focus             the focused child's name ("-" for none,
//                               "<client>" for the client itself)
//   acc_probe do NAME           accDoDefaultAction on the child named NAME
//   acc_probe select NAME       accSelect(SELFLAG_TAKEFOCUS) on it
//   acc_probe setvalue NAME T   put_accValue
//   acc_probe hit X Y           the name of the child at a screen point
//   acc_probe nav NAME DIR      the name reached from NAME (next, previous,
//                               up, down, left, right)
//   acc_probe name ID           name and states of a child id (negative ids
//                               name a control for the window's life)
//   acc_probe events FILE       appends "event<TAB>object<TAB>child" for
//                               each WinEvent of the window's client until
//                               FILE.stop exists or the window is gone
// --class NAME first picks another window class. Exit code 0 on success,
// 2 when the window is not there, 3 when the child is not, 4 when a call fails.
#include <windows.h>
#include <ole2.h>
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "contract/setup_viewer_api.h"
#include "util/com_ptr.h"
#include "util/text.h"

namespace {

HWND g_window = nullptr;
FILE* g_events = nullptr;
std::wstring g_stopFile;

void Print(const std::wstring& text) {
    std::string bytes = WideToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

VARIANT Child(LONG id) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::wstring Take(BSTR text) {
    std::wstring s = text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
    ::SysFreeString(text);
    return s;
}

std::wstring RoleName(LONG role) {
    switch (role) {
    case ROLE_SYSTEM_CLIENT: return L"client";
    case ROLE_SYSTEM_PUSHBUTTON: return L"pushbutton";
    case ROLE_SYSTEM_CHECKBUTTON: return L"checkbutton";
    case ROLE_SYSTEM_RADIOBUTTON: return L"radiobutton";
    case ROLE_SYSTEM_LINK: return L"link";
    case ROLE_SYSTEM_STATICTEXT: return L"statictext";
    case ROLE_SYSTEM_TEXT: return L"text";
    case ROLE_SYSTEM_PROGRESSBAR: return L"progressbar";
    case ROLE_SYSTEM_GRAPHIC: return L"graphic";
    default: return L"role" + std::to_wstring(role);
    }
}

std::wstring StateNames(LONG state) {
    static const struct {
        LONG bit;
        const wchar_t* name;
    } names[] = {{STATE_SYSTEM_UNAVAILABLE, L"unavailable"}, {STATE_SYSTEM_FOCUSED, L"focused"},
                 {STATE_SYSTEM_PRESSED, L"pressed"},         {STATE_SYSTEM_CHECKED, L"checked"},
                 {STATE_SYSTEM_READONLY, L"readonly"},       {STATE_SYSTEM_HOTTRACKED, L"hot"},
                 {STATE_SYSTEM_DEFAULT, L"default"},         {STATE_SYSTEM_INVISIBLE, L"invisible"},
                 {STATE_SYSTEM_FOCUSABLE, L"focusable"},     {STATE_SYSTEM_LINKED, L"linked"},
                 {STATE_SYSTEM_PROTECTED, L"protected"}};
    std::wstring out;
    for (const auto& n : names) {
        if (!(state & n.bit)) continue;
        if (!out.empty()) out += L",";
        out += n.name;
    }
    return out.empty() ? L"-" : out;
}

struct Element {
    LONG id = 0;
    std::wstring role, states, name, value, action, where;
};

Element Describe(IAccessible* acc, LONG id) {
    Element e;
    e.id = id;
    VARIANT child = Child(id), v;
    BSTR text = nullptr;
    ::VariantInit(&v);
    if (acc->get_accRole(child, &v) == S_OK && v.vt == VT_I4) e.role = RoleName(v.lVal);
    ::VariantClear(&v);
    if (acc->get_accState(child, &v) == S_OK && v.vt == VT_I4) e.states = StateNames(v.lVal);
    ::VariantClear(&v);
    acc->get_accName(child, &text);
    e.name = Take(text);
    text = nullptr;
    acc->get_accValue(child, &text);
    e.value = Take(text);
    text = nullptr;
    acc->get_accDefaultAction(child, &text);
    e.action = Take(text);
    long x = 0, y = 0, w = 0, h = 0;
    acc->accLocation(&x, &y, &w, &h, child);
    e.where = std::to_wstring(x) + L"," + std::to_wstring(y) + L"," + std::to_wstring(w) + L"," + std::to_wstring(h);
    return e;
}

void PrintElement(const Element& e) {
    Print(std::to_wstring(e.id) + L"\t" + e.role + L"\t" + e.states + L"\t" + e.name + L"\t" + e.value + L"\t" +
          e.action + L"\t" + e.where);
}

// The children as the client's IEnumVARIANT hands them out (ids).
std::vector<LONG> Children(IAccessible* acc) {
    long count = 0;
    acc->get_accChildCount(&count);
    std::vector<VARIANT> items(size_t(count > 0 ? count : 1));
    LONG got = 0;
    std::vector<LONG> ids;
    if (FAILED(::AccessibleChildren(acc, 0, count, items.data(), &got))) return ids;
    for (LONG i = 0; i < got; ++i) {
        if (items[size_t(i)].vt == VT_I4) ids.push_back(items[size_t(i)].lVal);
        ::VariantClear(&items[size_t(i)]);
    }
    return ids;
}

// The visible child of that name, or 0.
LONG FindByName(IAccessible* acc, const std::wstring& name) {
    for (LONG id : Children(acc)) {
        BSTR text = nullptr;
        acc->get_accName(Child(id), &text);
        if (Take(text) == name) return id;
    }
    return 0;
}

std::wstring NameOf(IAccessible* acc, const VARIANT& v) {
    if (v.vt == VT_EMPTY) return L"-";
    if (v.vt != VT_I4) return L"?";
    if (v.lVal == CHILDID_SELF) return L"<client>";
    BSTR text = nullptr;
    acc->get_accName(v, &text);
    return Take(text);
}

const wchar_t* EventName(DWORD event) {
    switch (event) {
    case EVENT_OBJECT_FOCUS: return L"focus";
    case EVENT_OBJECT_STATECHANGE: return L"state";
    case EVENT_OBJECT_VALUECHANGE: return L"value";
    case EVENT_OBJECT_NAMECHANGE: return L"name";
    case EVENT_OBJECT_REORDER: return L"reorder";
    default: return nullptr;
    }
}

// Only what the event says: its state is read later, never in here.
void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    const wchar_t* name = EventName(event);
    if (!name || hwnd != g_window || object != OBJID_CLIENT) return;
    std::string line =
        WideToUtf8(std::wstring(name) + L"\t" + std::to_wstring(object) + L"\t" + std::to_wstring(child)) + "\n";
    std::fwrite(line.data(), 1, line.size(), g_events);
    std::fflush(g_events);
}

int RecordEvents(const std::wstring& file) {
    g_events = _wfopen(file.c_str(), L"ab");
    if (!g_events) return 4;
    g_stopFile = file + L".stop";
    // Every process: Wine 8 delivers nothing to a hook limited to one
    // process that also skips its own. The callback keeps the window's events.
    HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_REORDER, EVENT_OBJECT_VALUECHANGE, nullptr, OnEvent, 0, 0,
                                           WINEVENT_OUTOFCONTEXT);
    if (!hook) return 4;
    // Ready: the test starts acting once this line is there.
    std::fputs("ready\n", g_events);
    std::fflush(g_events);
    UINT_PTR timer = ::SetTimer(nullptr, 0, 100, nullptr);
    DWORD started = ::GetTickCount();
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && (::GetFileAttributesW(g_stopFile.c_str()) != INVALID_FILE_ATTRIBUTES ||
                                        !::IsWindow(g_window) || ::GetTickCount() - started > 300000))
            break;
        ::DispatchMessageW(&msg);
    }
    ::KillTimer(nullptr, timer);
    ::UnhookWinEvent(hook);
    std::fclose(g_events);
    return 0;
}

long Direction(const std::wstring& name) {
    if (name == L"next") return NAVDIR_NEXT;
    if (name == L"previous") return NAVDIR_PREVIOUS;
    if (name == L"up") return NAVDIR_UP;
    if (name == L"down") return NAVDIR_DOWN;
    if (name == L"left") return NAVDIR_LEFT;
    if (name == L"right") return NAVDIR_RIGHT;
    return 0;
}

int Run(std::vector<std::wstring> args) {
    std::wstring windowClass = QV_INSTALLER_WINDOW_CLASS;
    if (args.size() >= 2 && args[0] == L"--class") {
        windowClass = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return 1;
    g_window = ::FindWindowW(windowClass.c_str(), nullptr);
    if (!g_window) return 2;
    const std::wstring& command = args[0];
    if (command == L"events" && args.size() == 2) return RecordEvents(args[1]);

    CComPtr<IAccessible> acc;
    if (FAILED(::AccessibleObjectFromWindow(g_window, OBJID_CLIENT, IID_IAccessible, acc.outVoid())) || !acc) return 4;
    if (command == L"tree") {
        Element client = Describe(acc.get(), CHILDID_SELF);
        PrintElement(client);
        long count = 0;
        acc->get_accChildCount(&count);
        std::vector<LONG> ids = Children(acc.get());
        if (LONG(ids.size()) != count) Print(L"count mismatch " + std::to_wstring(count));
        for (LONG id : ids) PrintElement(Describe(acc.get(), id));
        return 0;
    }
    if (command == L"chain") {
        VARIANT at, next;
        ::VariantInit(&next);
        HRESULT hr = acc->accNavigate(NAVDIR_FIRSTCHILD, Child(CHILDID_SELF), &next);
        for (int guard = 0; hr == S_OK && next.vt == VT_I4 && guard < 100; ++guard) {
            Print(NameOf(acc.get(), next));
            at = next;
            ::VariantInit(&next);
            hr = acc->accNavigate(NAVDIR_NEXT, at, &next);
        }
        return 0;
    }
    if (command == L"focus") {
        VARIANT v;
        ::VariantInit(&v);
        if (FAILED(acc->get_accFocus(&v))) return 4;
        Print(NameOf(acc.get(), v));
        return 0;
    }
    if (command == L"hit" && args.size() == 3) {
        VARIANT v;
        ::VariantInit(&v);
        if (FAILED(acc->accHitTest(_wtoi(args[1].c_str()), _wtoi(args[2].c_str()), &v))) return 4;
        Print(NameOf(acc.get(), v));
        return 0;
    }
    if (command == L"name" && args.size() == 2) {
        Element e = Describe(acc.get(), _wtoi(args[1].c_str()));
        Print(e.name + L"\t" + e.states);
        return 0;
    }
    if (args.size() < 2) return 1;
    LONG id = FindByName(acc.get(), args[1]);
    if (!id) return 3;
    if (command == L"do") return acc->accDoDefaultAction(Child(id)) == S_OK ? 0 : 4;
    if (command == L"select") return acc->accSelect(SELFLAG_TAKEFOCUS, Child(id)) == S_OK ? 0 : 4;
    if (command == L"setvalue" && args.size() == 3) {
        BSTR value = ::SysAllocString(args[2].c_str());
        HRESULT hr = acc->put_accValue(Child(id), value);
        ::SysFreeString(value);
        return hr == S_OK ? 0 : 4;
    }
    if (command == L"nav" && args.size() == 3) {
        VARIANT v;
        ::VariantInit(&v);
        if (FAILED(acc->accNavigate(Direction(args[2]), Child(id), &v))) return 4;
        Print(NameOf(acc.get(), v));
        return 0;
    }
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(::OleInitialize(nullptr))) return 4;
    int code = Run(std::vector<std::wstring>(argv + 1, argv + argc));
    ::OleUninitialize();
    return code;
}

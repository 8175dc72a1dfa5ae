// The skin window as assistive technology and the keyboard see it: its
// accessible object (read in the same process here; tests/app reads the
// installer from another one), the tab order, the focus and its mark.
#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "skin_window.h"
#include "uilib/picture.h"
#include "util/com_ptr.h"

namespace {

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

VARIANT Id(LONG id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::wstring Take(BSTR b) {
    std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
    SysFreeString(b);
    return s;
}

class AccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
        window.onNotify = [this](const std::wstring& type, const std::wstring& sender) {
            if (type == L"click") clicks.push_back(sender);
        };
        ASSERT_NE(window.Create(nullptr, L"uilib access test", 0x81, 0, 0, 0, 800, 572), nullptr);
        SetWindowPos(window, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        window.ShowWindow(true);
        SetFocus(window);
        LayOut();
        ASSERT_TRUE(SUCCEEDED(AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible, acc.outVoid())));
    }
    void TearDown() override {
        acc.reset();
        if (IsWindow(window)) DestroyWindow(window);
        Pump();
        OleUninitialize();
    }
    // Lays the tree out as a paint does.
    void LayOut() {
        HDC dc = CreateCompatibleDC(nullptr);
        SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        DeleteDC(dc);
    }
    std::wstring Name(LONG id) {
        BSTR b = nullptr;
        acc->get_accName(Id(id), &b);
        return Take(b);
    }
    LONG Prop(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), LONG id) {
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ((acc.get()->*get)(Id(id), &v), S_OK);
        return v.vt == VT_I4 ? v.lVal : -1;
    }
    LONG Role(LONG id) { return Prop(&IAccessible::get_accRole, id); }
    LONG State(LONG id) { return Prop(&IAccessible::get_accState, id); }
    std::wstring Text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), LONG id) {
        BSTR b = nullptr;
        (acc.get()->*get)(Id(id), &b);
        return Take(b);
    }
    // The children's names in the order IEnumVARIANT hands them out.
    std::vector<std::wstring> Names() {
        long count = 0;
        acc->get_accChildCount(&count);
        std::vector<VARIANT> v(size_t(count) + 1);
        LONG got = 0;
        EXPECT_TRUE(SUCCEEDED(AccessibleChildren(acc.get(), 0, count, v.data(), &got)));
        std::vector<std::wstring> names;
        for (LONG i = 0; i < got; ++i) {
            EXPECT_EQ(v[size_t(i)].vt, VT_I4);
            names.push_back(Name(v[size_t(i)].lVal));
        }
        return names;
    }
    LONG Navigate(long direction, LONG from) {
        VARIANT v;
        VariantInit(&v);
        HRESULT hr = acc->accNavigate(direction, Id(from), &v);
        return hr == S_OK && v.vt == VT_I4 ? v.lVal : 0;
    }
    std::wstring Focused() {
        CControlUI* f = window.Manager().GetFocus();
        return f ? f->GetName().GetData() : L"-";
    }

    SkinTestWindow window;
    CComPtr<IAccessible> acc;
    std::vector<std::wstring> clicks;
};

// Names, roles and places per page are checked from another process in
// tests/app; here the finer points of states, actions and child ids.
TEST_F(AccessTest, StatesActionsAndIdsThatOutliveAView) {
    EXPECT_EQ(Name(CHILDID_SELF), L"安装选项");
    EXPECT_EQ(Role(CHILDID_SELF), ROLE_SYSTEM_CLIENT);
    EXPECT_EQ(Names(), std::vector<std::wstring>({L"最小化", L"关闭", L"已阅读并接受《Quiview协议》",
                                                  L"《Quiview协议》", L"参加《Quiview用户体验改善计划》",
                                                  L"《Quiview用户体验改善计划》", L"自定义安装", L"立即安装"}));
    EXPECT_EQ(State(1), STATE_SYSTEM_FOCUSABLE);
    EXPECT_EQ(State(3), STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_CHECKED);
    EXPECT_EQ(State(4), STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_LINKED);
    EXPECT_EQ(State(8), STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_DEFAULT);
    EXPECT_EQ(Text(&IAccessible::get_accDefaultAction, 1), L"按下");
    EXPECT_EQ(Text(&IAccessible::get_accDefaultAction, 3), L"清除");
    EXPECT_EQ(Text(&IAccessible::get_accDefaultAction, 4), L"跳转");
    // The window tells the box's state; its action follows.
    window.Find(L"chk_agree")->SetAccessibleChecked(false);
    EXPECT_EQ(State(3), STATE_SYSTEM_FOCUSABLE);
    EXPECT_EQ(Text(&IAccessible::get_accDefaultAction, 3), L"选中");
    window.Find(L"btn_inst")->SetEnabled(false);
    EXPECT_EQ(State(8), STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_DEFAULT);
    EXPECT_EQ(acc->accDoDefaultAction(Id(8)), DISP_E_MEMBERNOTFOUND);
    BSTR b = nullptr;
    EXPECT_EQ(acc->get_accName(Id(9), &b), E_INVALIDARG);

    // A control's lifelong id still names it in another view, hidden.
    LONG agree = window.Manager().GetAccessibleId(window.Find(L"chk_agree"));
    window.ShowCustomView(true);
    LayOut();
    EXPECT_EQ(Name(3), L"安装位置:");
    EXPECT_EQ(Name(-agree), L"已阅读并接受《Quiview协议》");
    EXPECT_EQ(State(-agree), STATE_SYSTEM_INVISIBLE);
    window.Find(L"edit_dir")->SetText(L"C:\\Program Files\\Quiview");
    EXPECT_EQ(Role(4), ROLE_SYSTEM_TEXT);
    EXPECT_EQ(Text(&IAccessible::get_accValue, 4), L"C:\\Program Files\\Quiview");
    static_cast<CRichEditUI*>(window.Find(L"edit_dir"))->SetReadOnly(true);
    BSTR typed = SysAllocString(L"D:\\看图");
    EXPECT_EQ(acc->put_accValue(Id(4), typed), E_ACCESSDENIED);
    SysFreeString(typed);
    EXPECT_TRUE(State(4) & STATE_SYSTEM_READONLY);
}

TEST_F(AccessTest, NavigationHitTestAndEnumeration) {
    EXPECT_EQ(Navigate(NAVDIR_FIRSTCHILD, CHILDID_SELF), 1);
    EXPECT_EQ(Navigate(NAVDIR_LASTCHILD, CHILDID_SELF), 8);
    EXPECT_EQ(Navigate(NAVDIR_NEXT, 3), 4);
    EXPECT_EQ(Navigate(NAVDIR_NEXT, 8), 0);
    EXPECT_EQ(Navigate(NAVDIR_PREVIOUS, 1), 0);
    EXPECT_EQ(Navigate(NAVDIR_RIGHT, 3), 4);  // the agreement box, then its link
    EXPECT_EQ(Navigate(NAVDIR_DOWN, 5), 8);   // the plan box, then the install button below
    EXPECT_EQ(Navigate(NAVDIR_UP, 8), 5);
    EXPECT_EQ(Navigate(NAVDIR_FIRSTCHILD, 3), 0);

    VARIANT hit;
    VariantInit(&hit);
    // Over both boxes' overlap the link lies on top; outside the window nothing.
    ASSERT_EQ(acc->accHitTest(40 + 150, 30 + 300, &hit), S_OK);
    EXPECT_EQ(Name(hit.lVal), L"《Quiview协议》");
    EXPECT_EQ(acc->accHitTest(40 + 700, 30 + 150, &hit), S_FALSE);

    CComPtr<IEnumVARIANT> children;
    ASSERT_EQ(acc->QueryInterface(IID_IEnumVARIANT, children.outVoid()), S_OK);
    VARIANT items[10];
    ULONG got = 0;
    ASSERT_EQ(children->Reset(), S_OK);
    ASSERT_EQ(children->Next(3, items, &got), S_OK);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(items[2].lVal, 3);
    ASSERT_EQ(children->Skip(2), S_OK);
    CComPtr<IEnumVARIANT> copy;
    ASSERT_EQ(children->Clone(copy.out()), S_OK);
    EXPECT_EQ(children->Next(10, items, &got), S_FALSE);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(items[0].lVal, 6);
    EXPECT_EQ(children->Skip(1), S_FALSE);
    // The copy goes on from where the original was.
    ASSERT_EQ(copy->Next(1, items, &got), S_OK);
    EXPECT_EQ(items[0].lVal, 6);
}

TEST_F(AccessTest, TabOrderFocusTakingAndDefaultActions) {
    std::vector<std::wstring> order;
    for (int i = 0; i < 9; ++i) {
        ASSERT_TRUE(window.Manager().MoveFocus(true));
        order.push_back(Focused());
    }
    EXPECT_EQ(order, std::vector<std::wstring>({L"btn_min", L"btn_close", L"chk_agree", L"btn_agree", L"chk_join",
                                                L"btn_join", L"btn_custom", L"btn_inst", L"btn_min"}));
    window.Manager().MoveFocus(false);
    EXPECT_EQ(Focused(), L"btn_inst");
    EXPECT_TRUE(window.Manager().IsFocusMarkShown());
    VARIANT f;
    VariantInit(&f);
    ASSERT_EQ(acc->get_accFocus(&f), S_OK);
    EXPECT_EQ(Name(f.lVal), L"立即安装");
    EXPECT_TRUE(State(8) & STATE_SYSTEM_FOCUSED);

    // The focused button goes with its view; Tab goes on in the new one and
    // takes the system focus into the folder box.
    window.Manager().SetFocus(window.Find(L"btn_custom"), true);
    window.ShowCustomView(true);
    LayOut();
    EXPECT_EQ(Focused(), L"-");
    for (int i = 0; i < 3; ++i) window.Manager().MoveFocus(true);
    EXPECT_EQ(Focused(), L"edit_dir");
    EXPECT_EQ(GetFocus(), static_cast<CRichEditUI*>(window.Find(L"edit_dir"))->GetHostWindow());
    window.Manager().MoveFocus(true);
    EXPECT_EQ(GetFocus(), window.GetHWND());
    window.ShowCustomView(false);
    LayOut();

    // accSelect takes the focus; accDoDefaultAction presses once the call is over.
    ASSERT_EQ(acc->accSelect(SELFLAG_TAKEFOCUS, Id(5)), S_OK);
    EXPECT_EQ(Focused(), L"chk_join");
    EXPECT_EQ(acc->accSelect(SELFLAG_TAKESELECTION, Id(5)), DISP_E_MEMBERNOTFOUND);
    ASSERT_EQ(acc->accDoDefaultAction(Id(7)), S_OK);
    EXPECT_TRUE(clicks.empty());
    Pump();
    EXPECT_EQ(clicks, std::vector<std::wstring>({L"btn_custom"}));
    EXPECT_EQ(acc->accDoDefaultAction(Id(CHILDID_SELF)), DISP_E_MEMBERNOTFOUND);
}

// The mark surrounds what the control shows, in the skin's colours: orange
// on the page, white on the banner.
TEST_F(AccessTest, FocusMarkIsDrawnOnlyAfterTheKeyboardMovedTheFocus) {
    auto pixel = [this](int x, int y) {
        RECT rc;
        GetClientRect(window, &rc);
        unsigned char* bits = nullptr;
        UniqueGdiObject dib(uilib::CreateDib32(rc.right, rc.bottom, &bits));
        UniqueMemDc dc(CreateCompatibleDC(nullptr));
        HGDIOBJ old = SelectObject(dc.get(), dib.get());
        SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT);
        GdiFlush();
        const unsigned char* p = bits + (size_t(y) * size_t(rc.right) + size_t(x)) * 4;
        unsigned rgb = p[2] << 16 | p[1] << 8 | p[0];
        SelectObject(dc.get(), old);
        return rgb;
    };
    // chk_agree's box starts at x 30: the mark's left side is 3 pixels out.
    unsigned before = pixel(27, 301);
    window.Manager().SetFocus(window.Find(L"chk_agree"), false);
    EXPECT_EQ(pixel(27, 301), before);
    window.Manager().SetFocus(window.Find(L"chk_agree"), true);
    EXPECT_EQ(pixel(27, 301), 0xF27A2Eu);
    RECT mark = window.Manager().GetFocusMarkRect(window.Find(L"chk_agree"));
    EXPECT_EQ(mark.left, 27);
    EXPECT_LT(mark.right, 160);  // around the text, not the whole control
    window.Manager().SetFocus(window.Find(L"btn_close"), true);
    EXPECT_EQ(pixel(27, 301), before);
    EXPECT_EQ(pixel(581, 15), 0xFFFFFFu);
}

}  // namespace

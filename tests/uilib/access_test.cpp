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
    ComPtr<IAccessible> acc;
    std::vector<std::wstring> clicks;
};

TEST_F(AccessTest, FirstPageNamesRolesStatesPlacesAndActions) {
    EXPECT_EQ(Name(CHILDID_SELF), L"安装选项");
    EXPECT_EQ(Role(CHILDID_SELF), ROLE_SYSTEM_CLIENT);
    struct Expect {
        const wchar_t* name;
        LONG role;
        LONG states;
        RECT layout;
        const wchar_t* action;
    } expected[] = {
        {L"最小化", ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE, {564, 10, 574, 20}, L"按下"},
        {L"关闭", ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE, {584, 10, 594, 20}, L"按下"},
        {L"已阅读并接受《Quiview协议》", ROLE_SYSTEM_CHECKBUTTON, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_CHECKED,
         {30, 292, 160, 311}, L"清除"},
        {L"《Quiview协议》", ROLE_SYSTEM_LINK, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_LINKED, {138, 292, 283, 311},
         L"跳转"},
        {L"参加《Quiview用户体验改善计划》", ROLE_SYSTEM_CHECKBUTTON, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_CHECKED,
         {328, 292, 384, 311}, L"清除"},
        {L"《Quiview用户体验改善计划》", ROLE_SYSTEM_LINK, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_LINKED,
         {372, 292, 602, 311}, L"跳转"},
        {L"自定义安装", ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE, {490, 415, 610, 434}, L"按下"},
        {L"立即安装", ROLE_SYSTEM_PUSHBUTTON, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_DEFAULT, {210, 365, 413, 428},
         L"按下"},
    };
    long count = 0;
    ASSERT_EQ(acc->get_accChildCount(&count), S_OK);
    ASSERT_EQ(count, LONG(std::size(expected)));
    for (LONG id = 1; id <= count; ++id) {
        const Expect& e = expected[id - 1];
        EXPECT_EQ(Name(id), e.name);
        EXPECT_EQ(Role(id), e.role) << id;
        EXPECT_EQ(State(id), e.states) << id;
        EXPECT_EQ(Text(&IAccessible::get_accDefaultAction, id), e.action) << id;
        long x, y, w, h;
        ASSERT_EQ(acc->accLocation(&x, &y, &w, &h, Id(id)), S_OK);
        EXPECT_EQ(x, 40 + e.layout.left) << id;
        EXPECT_EQ(y, 30 + e.layout.top) << id;
        EXPECT_EQ(w, e.layout.right - e.layout.left) << id;
        EXPECT_EQ(h, e.layout.bottom - e.layout.top) << id;
    }
    EXPECT_EQ(Names(), std::vector<std::wstring>({expected[0].name, expected[1].name, expected[2].name,
                                                  expected[3].name, expected[4].name, expected[5].name,
                                                  expected[6].name, expected[7].name}));
    // The window tells the box's state; its action follows.
    window.Find(L"chk_agree")->SetAccessibleChecked(false);
    EXPECT_EQ(State(3), STATE_SYSTEM_FOCUSABLE);
    EXPECT_EQ(Text(&IAccessible::get_accDefaultAction, 3), L"选中");
    VARIANT bad = Id(9);
    BSTR b = nullptr;
    EXPECT_EQ(acc->get_accName(bad, &b), E_INVALIDARG);
}

TEST_F(AccessTest, OtherViewsTellTheirValuesAndLifelongIdsOutliveAView) {
    LONG agree = window.Manager().GetAccessibleId(window.Find(L"chk_agree"));
    window.ShowCustomView(true);
    window.Find(L"edit_dir")->SetText(L"C:\\Program Files\\Quiview");
    LayOut();
    EXPECT_EQ(Names(), std::vector<std::wstring>({L"最小化", L"关闭", L"安装位置:", L"安装位置", L"浏览",
                                                  L"创建桌面快捷方式", L"立即安装", L"返回"}));
    EXPECT_EQ(Role(3), ROLE_SYSTEM_STATICTEXT);
    EXPECT_EQ(Role(4), ROLE_SYSTEM_TEXT);
    EXPECT_EQ(Text(&IAccessible::get_accValue, 4), L"C:\\Program Files\\Quiview");
    BSTR typed = SysAllocString(L"D:\\看图");
    EXPECT_EQ(acc->put_accValue(Id(4), typed), S_OK);
    SysFreeString(typed);
    EXPECT_EQ(window.Find(L"edit_dir")->GetText(), L"D:\\看图");
    // The hidden box keeps its id; it is there but invisible.
    EXPECT_EQ(Name(-agree), L"已阅读并接受《Quiview协议》");
    EXPECT_TRUE(State(-agree) & STATE_SYSTEM_INVISIBLE);

    window.ShowProgress(37);
    LayOut();
    EXPECT_EQ(Name(CHILDID_SELF), L"安装进度");
    EXPECT_EQ(Names(), std::vector<std::wstring>({L"正在安装:", L"37%", L"安装进度"}));
    EXPECT_EQ(Role(3), ROLE_SYSTEM_PROGRESSBAR);
    EXPECT_EQ(Text(&IAccessible::get_accValue, 3), L"37%");
    EXPECT_EQ(Text(&IAccessible::get_accDefaultAction, 3), L"");
    window.ShowProgress(100);
    LayOut();
    EXPECT_EQ(Names(), std::vector<std::wstring>({L"最小化", L"关闭", L"立即体验", L"查看帮助"}));
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
    // Over both boxes' overlap the link lies on top.
    ASSERT_EQ(acc->accHitTest(40 + 150, 30 + 300, &hit), S_OK);
    EXPECT_EQ(Name(hit.lVal), L"《Quiview协议》");
    ASSERT_EQ(acc->accHitTest(40 + 300, 30 + 150, &hit), S_OK);  // the banner
    EXPECT_EQ(hit.lVal, CHILDID_SELF);
    EXPECT_EQ(acc->accHitTest(40 + 700, 30 + 150, &hit), S_FALSE);
    EXPECT_EQ(hit.vt, VT_EMPTY);

    ComPtr<IEnumVARIANT> children;
    ASSERT_EQ(acc->QueryInterface(IID_IEnumVARIANT, children.outVoid()), S_OK);
    VARIANT items[10];
    ULONG got = 0;
    ASSERT_EQ(children->Reset(), S_OK);
    ASSERT_EQ(children->Next(3, items, &got), S_OK);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(items[2].lVal, 3);
    ASSERT_EQ(children->Skip(2), S_OK);
    ComPtr<IEnumVARIANT> copy;
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
    window.Find(L"btn_inst")->SetEnabled(false);
    EXPECT_EQ(State(8), STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_DEFAULT);
    EXPECT_EQ(acc->accDoDefaultAction(Id(8)), DISP_E_MEMBERNOTFOUND);
}

// The mark surrounds what the control shows, in the skin's colours: orange
// on the page, white on the banner.
TEST_F(AccessTest, FocusMarkIsDrawnOnlyAfterTheKeyboardMovedTheFocus) {
    auto pixel = [this](int x, int y) {
        RECT rc;
        GetClientRect(window, &rc);
        unsigned char* bits = nullptr;
        uilib::UniqueGdiObject dib(uilib::CreateDib32(rc.right, rc.bottom, &bits));
        uilib::UniqueMemDc dc(CreateCompatibleDC(nullptr));
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

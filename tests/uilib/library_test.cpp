// The library's own string, the notification pump with its message map, and
// option groups.
#include <gtest/gtest.h>

#include <string>

#include "uilib/uilib.h"

namespace {

TEST(DuiString, GrowsComparesAndSlices) {
    CDuiString s(L"C:\\Users");
    s += L"\\安装";
    s += L'\\';
    EXPECT_EQ(s, L"C:\\Users\\安装\\");
    EXPECT_EQ(s.GetLength(), 12);
    EXPECT_EQ(s.Left(2), L"C:");
    EXPECT_EQ(s.Mid(3, 5), L"Users");
    EXPECT_EQ(s.Mid(9), L"安装\\");
    EXPECT_EQ(s.Right(3), L"安装\\");
    EXPECT_EQ(s.Mid(50), L"");
    EXPECT_EQ(s.Find(L'\\'), 2);
    EXPECT_EQ(s.Find(L"安装"), 9);
    EXPECT_EQ(s.Find(L"none"), -1);
    EXPECT_EQ(s.CompareNoCase(L"c:\\USERS\\安装\\"), 0);
    EXPECT_NE(s, L"C:\\Users");
    EXPECT_EQ(s[100], L'\0');

    // Appending a part of itself, and growing past the small buffer.
    CDuiString t(L"abc");
    t.Append(t.GetData() + 1);
    EXPECT_EQ(t, L"abcbc");
    std::wstring big;
    for (int i = 0; i < 500; ++i) {
        t += L"0123456789";
        big += L"0123456789";
    }
    EXPECT_EQ(std::wstring(t.GetData()), L"abcbc" + big);
    CDuiString copy = t;
    t = L"x";
    EXPECT_EQ(copy.GetLength(), 5005);
    EXPECT_EQ(t, L"x");

    CDuiString f;
    f.Format(L"%d%%", 37);
    EXPECT_EQ(f, L"37%");
    f.Format(L"%ls|%ls", big.c_str(), L"end");
    EXPECT_EQ(f.GetLength(), 5004);
    EXPECT_EQ(f.Right(4), L"|end");
    CDuiString n(nullptr);
    EXPECT_TRUE(n.IsEmpty());
}

class MappedPump : public CNotifyPump {
public:
    std::wstring seen;
    void OnOk(TNotifyUI&) { seen += L"ok;"; }
    void OnAnyClick(TNotifyUI& msg) { seen += L"click:" + std::wstring(msg.pSender->GetName().GetData()) + L";"; }

protected:
    const DUI_MSGMAP* GetMessageMap() const override {
        static const DUI_MSGMAP_ENTRY entries[] = {{L"click", L"btn_ok", static_cast<DUI_PMSG>(&MappedPump::OnOk)},
                                                   {L"click", nullptr, static_cast<DUI_PMSG>(&MappedPump::OnAnyClick)},
                                                   {nullptr, nullptr, nullptr}};
        static const DUI_MSGMAP map = {CNotifyPump::GetMessageMap(), entries};
        return &map;
    }
};

TNotifyUI Message(const wchar_t* type, CControlUI* sender) {
    TNotifyUI msg;
    msg.sType = type;
    msg.pSender = sender;
    msg.dwTimestamp = 0;
    msg.ptMouse = POINT{0, 0};
    msg.wParam = 0;
    msg.lParam = 0;
    return msg;
}

TEST(NotifyPump, RoutesByTypeNameAndVirtualWindow) {
    CButtonUI ok, other;
    ok.SetName(L"btn_ok");
    other.SetName(L"btn_other");
    MappedPump pump, sub;
    TNotifyUI m = Message(L"click", &ok);
    EXPECT_TRUE(pump.NotifyPump(m));
    m = Message(L"click", &other);
    EXPECT_TRUE(pump.NotifyPump(m));
    m = Message(L"windowinit", &ok);
    EXPECT_FALSE(pump.NotifyPump(m));
    EXPECT_EQ(pump.seen, L"ok;click:btn_other;");

    ASSERT_TRUE(pump.AddVirtualWnd(L"sub", &sub));
    EXPECT_FALSE(pump.AddVirtualWnd(L"sub", &sub));
    m = Message(L"click", &ok);
    m.sVirtualWnd = L"sub";
    EXPECT_TRUE(pump.NotifyPump(m));
    EXPECT_EQ(sub.seen, L"ok;");
    EXPECT_EQ(pump.seen, L"ok;click:btn_other;");
    EXPECT_TRUE(pump.RemoveVirtualWnd(L"sub"));
    EXPECT_FALSE(pump.RemoveVirtualWnd(L"sub"));
}

TEST(Controls, OptionGroupsAndContainers) {
    CVerticalLayoutUI* root = new CVerticalLayoutUI;
    COptionUI* a = new COptionUI;
    COptionUI* b = new COptionUI;
    COptionUI* lone = new COptionUI;
    a->SetGroup(L"g");
    b->SetGroup(L"g");
    root->Add(a);
    root->Add(b);
    root->Add(lone);
    CPaintManagerUI manager;
    manager.AttachDialog(root);
    a->Selected(true, false);
    EXPECT_TRUE(a->IsSelected());
    b->Selected(true, false);
    EXPECT_TRUE(b->IsSelected());
    EXPECT_FALSE(a->IsSelected());
    lone->Selected(true, false);
    EXPECT_TRUE(b->IsSelected());
    EXPECT_STREQ(a->GetClass(), L"OptionUI");
    EXPECT_NE(a->GetInterface(L"Button"), nullptr);
    EXPECT_EQ(root->GetInterface(L"Button"), nullptr);

    // A hidden container hides its children; they come back with it.
    EXPECT_EQ(root->GetCount(), 3);
    root->SetVisible(false);
    EXPECT_FALSE(lone->IsVisible());
    root->SetVisible(true);
    EXPECT_TRUE(lone->IsVisible());
    EXPECT_TRUE(root->Remove(lone));
    EXPECT_EQ(root->GetCount(), 2);
    EXPECT_EQ(root->GetItemIndex(b), 1);
}

TEST(Controls, VerticalFlowHonoursPaddingAndHiddenSiblings) {
    CVerticalLayoutUI* root = new CVerticalLayoutUI;
    CControlUI* first = new CControlUI;
    CControlUI* hidden = new CControlUI;
    CControlUI* flow = new CControlUI;
    CControlUI* fill = new CControlUI;
    first->SetFixedHeight(100);
    hidden->SetFixedHeight(50);
    hidden->SetVisible(false);
    flow->SetFixedWidth(40);
    flow->SetFixedHeight(20);
    flow->SetPadding(RECT{10, 5, 0, 7});
    root->Add(first);
    root->Add(hidden);
    root->Add(flow);
    root->Add(fill);
    root->SetPos(RECT{0, 0, 300, 400});
    RECT r = first->GetPos();
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 300);
    EXPECT_EQ(r.bottom, 100);
    r = flow->GetPos();
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 105);
    EXPECT_EQ(r.right, 50);
    EXPECT_EQ(r.bottom, 125);
    r = fill->GetPos();
    EXPECT_EQ(r.top, 132);
    EXPECT_EQ(r.bottom, 400);
    delete root;
}

}  // namespace

// The library with the real skin: a window renders into a bitmap, and the
// pixels prove the layout, the pictures and the visibility rules.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "skin_window.h"
#include "uilib/picture.h"
#include "uilib/zip_reader.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace {

const wchar_t kChecked[] = L"file='checkbox.png' source='14,0,28,14' dest='0,5,14,19'";
const wchar_t kUnchecked[] = L"file='checkbox.png' source='0,0,14,14' dest='0,5,14,19''";

// The skin archive linked into this program.
uilib::ZipArchive& Skin() {
    static uilib::ZipArchive zip;
    static bool opened = [] {
        HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(212), L"ZIPRES");
        HGLOBAL h = res ? LoadResource(nullptr, res) : nullptr;
        return h && zip.Open(LockResource(h), SizeofResource(nullptr, res));
    }();
    EXPECT_TRUE(opened);
    return zip;
}

// One picture of the skin, decoded.
const uilib::Picture& SkinPicture(const std::wstring& name) {
    static std::vector<std::pair<std::wstring, std::unique_ptr<uilib::Picture>>> cache;
    for (auto& p : cache)
        if (p.first == name) return *p.second;
    std::string bytes;
    EXPECT_TRUE(Skin().Extract(name, bytes)) << Skin().Error();
    std::unique_ptr<uilib::Picture> pic(new uilib::Picture);
    EXPECT_TRUE(uilib::DecodePicture(bytes.data(), bytes.size(), *pic));
    cache.emplace_back(name, std::move(pic));
    return *cache.back().second;
}

// RGB of an opaque picture pixel (the test fails if it is not opaque).
uint32_t PicturePixel(const std::wstring& name, int x, int y) {
    const uilib::Picture& pic = SkinPicture(name);
    const unsigned char* p = pic.bits + (size_t(y) * size_t(pic.width) + size_t(x)) * 4;
    EXPECT_EQ(p[3], 255) << "pixel " << x << "," << y << " of the picture is not opaque";
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
}

// A picture pixel drawn over an opaque background colour (premultiplied
// alpha), as RGB.
uint32_t Blended(const std::wstring& name, int x, int y, uint32_t background) {
    const uilib::Picture& pic = SkinPicture(name);
    const unsigned char* p = pic.bits + (size_t(y) * size_t(pic.width) + size_t(x)) * 4;
    uint32_t out = 0;
    for (int c = 0; c < 3; ++c) {
        unsigned bg = (background >> (8 * c)) & 0xFF;
        out |= uint32_t(p[c] + bg * (255 - p[3]) / 255) << (8 * c);
    }
    return out;
}

// Colours equal within rounding.
bool Near(uint32_t a, uint32_t b) {
    for (int c = 0; c < 3; ++c) {
        int d = int((a >> (8 * c)) & 0xFF) - int((b >> (8 * c)) & 0xFF);
        if (d < -2 || d > 2) return false;
    }
    return true;
}

struct Frame {
    int width = 0, height = 0;
    std::vector<uint32_t> px;
    uint32_t At(int x, int y) const { return px[size_t(y) * size_t(width) + size_t(x)] & 0xFFFFFF; }
};

// Lets the window paint itself into a bitmap, as it paints on screen.
Frame Render(HWND hwnd) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    Frame f;
    f.width = rc.right;
    f.height = rc.bottom;
    unsigned char* bits = nullptr;
    UniqueGdiObject dib(uilib::CreateDib32(f.width, f.height, &bits));
    UniqueMemDc dc(CreateCompatibleDC(nullptr));
    HGDIOBJ old = SelectObject(dc.get(), dib.get());
    SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT);
    GdiFlush();
    f.px.resize(size_t(f.width) * size_t(f.height));
    std::memcpy(f.px.data(), bits, f.px.size() * 4);
    SelectObject(dc.get(), old);
    return f;
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

class SkinWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
        window.onNotify = [this](const std::wstring& type, const std::wstring& sender) {
            events.push_back(type == L"click" ? type + L" " + sender : type);
        };
        ASSERT_NE(window.Create(nullptr, L"uilib render test", 0x81, 0, 0, 0, 800, 572), nullptr);
    }
    void TearDown() override {
        if (IsWindow(window)) DestroyWindow(window);
        Pump();
    }
    SkinTestWindow window;
    std::vector<std::wstring> events;
};

TEST_F(SkinWindowTest, WindowTakesTheSkinSizeWithoutFrame) {
    RECT wr, cr;
    GetWindowRect(window, &wr);
    GetClientRect(window, &cr);
    EXPECT_EQ(wr.right - wr.left, 608);
    EXPECT_EQ(wr.bottom - wr.top, 456);
    EXPECT_EQ(cr.right, 608);
    EXPECT_EQ(cr.bottom, 456);
    LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME), 0);
    RECT caption = window.Manager().GetCaptionRect();
    EXPECT_EQ(caption.left, 0);
    EXPECT_EQ(caption.top, 0);
    EXPECT_EQ(caption.right, 0);
    EXPECT_EQ(caption.bottom, 80);
    EXPECT_EQ(window.Manager().GetRoundCorner().cx, 0);
    EXPECT_EQ(window.Manager().GetRoundCorner().cy, 0);
    EXPECT_EQ(window.Manager().GetFontCount(), 6);
    EXPECT_TRUE(window.initWindowFoundControls);
}

TEST_F(SkinWindowTest, ControlsHaveTheirKindsAndPlaces) {
    struct Expect {
        const wchar_t* name;
        const wchar_t* cls;
        RECT pos;
    } expected[] = {
        {L"btn_min", L"ButtonUI", {564, 10, 574, 20}},      {L"btn_close", L"ButtonUI", {584, 10, 594, 20}},
        {L"chk_agree", L"ButtonUI", {30, 292, 160, 311}},   {L"btn_agree", L"ButtonUI", {138, 292, 283, 311}},
        {L"chk_join", L"ButtonUI", {328, 292, 384, 311}},   {L"btn_join", L"ButtonUI", {372, 292, 602, 311}},
        {L"btn_custom", L"ButtonUI", {490, 415, 610, 434}}, {L"btn_inst", L"ButtonUI", {210, 365, 413, 428}},
    };
    Render(window);
    for (const auto& e : expected) {
        CControlUI* c = window.Find(e.name);
        ASSERT_NE(c, nullptr) << e.name;
        EXPECT_STREQ(c->GetClass(), e.cls) << e.name;
        RECT p = c->GetPos();
        EXPECT_TRUE(EqualRect(&p, &e.pos))
            << e.name << " at " << p.left << "," << p.top << "," << p.right << "," << p.bottom;
    }
    EXPECT_STREQ(window.Find(L"labelInst")->GetClass(), L"LabelUI");
    EXPECT_STREQ(window.Find(L"edit_dir")->GetClass(), L"RichEditUI");
    EXPECT_STREQ(window.Find(L"prg_inst")->GetClass(), L"ProgressUI");
    EXPECT_EQ(window.Find(L"chk_agree")->GetText(), L"已阅读并接受");
    EXPECT_EQ(window.Find(L"btn_join")->GetText(), L"《Quiview用户体验改善计划》");
    EXPECT_EQ(window.Find(L"no_such_control"), nullptr);
}

TEST_F(SkinWindowTest, FirstPageShowsBackgroundAndCheckedBoxes) {
    Frame f = Render(window);
    // Background where no control is.
    EXPECT_EQ(f.At(300, 20), PicturePixel(L"begin.png", 300, 20));
    EXPECT_EQ(f.At(20, 200), PicturePixel(L"begin.png", 20, 200));
    // The checked half of checkbox.png in the box area of the two boxes.
    EXPECT_EQ(f.At(30 + 11, 297 + 11), PicturePixel(L"checkbox.png", 14 + 11, 11));
    EXPECT_EQ(f.At(328 + 3, 297 + 11), PicturePixel(L"checkbox.png", 14 + 3, 11));
    // The install button's normal half, placed by the page's flow.
    EXPECT_EQ(f.At(210 + 20, 365 + 30), PicturePixel(L"instb.png", 20, 30));
    // Hidden controls of the custom view leave the background alone.
    EXPECT_EQ(f.At(482 + 20, 310 + 4), PicturePixel(L"begin.png", 482 + 20, 310 + 4));
    EXPECT_EQ(f.At(401 + 20, 400 + 20), PicturePixel(L"begin.png", 401 + 20, 400 + 20));
    EXPECT_EQ(f.At(32, 330), PicturePixel(L"begin.png", 32, 330));
    // Text is drawn (grey) in the agreement box's text area.
    int inked = 0;
    for (int y = 292; y < 311; ++y)
        for (int x = 46; x < 138; ++x)
            if (f.At(x, y) != PicturePixel(L"begin.png", x, y)) ++inked;
    EXPECT_GT(inked, 100);
}

TEST_F(SkinWindowTest, ForeImageSwitchesTheBoxPicture) {
    CControlUI* box = window.Find(L"chk_agree");
    box->SetForeImage(kUnchecked);
    Frame f = Render(window);
    // The unchecked picture lies over the box's normal picture, the same one.
    uint32_t once = Blended(L"checkbox.png", 0, 7, PicturePixel(L"begin.png", 30, 304));
    EXPECT_TRUE(Near(f.At(30, 297 + 7), Blended(L"checkbox.png", 0, 7, once)));
    EXPECT_NE(f.At(30 + 11, 297 + 11), PicturePixel(L"checkbox.png", 14 + 11, 11));
    EXPECT_EQ(f.At(30 + 11, 297 + 11), PicturePixel(L"checkbox.png", 11, 11));
    box->SetForeImage(kChecked);
    f = Render(window);
    EXPECT_EQ(f.At(30 + 11, 297 + 11), PicturePixel(L"checkbox.png", 14 + 11, 11));
    EXPECT_STREQ(box->GetForeImage(), kChecked);
}

TEST_F(SkinWindowTest, CustomViewShowsFolderControls) {
    HWND edit = static_cast<CRichEditUI*>(window.Find(L"edit_dir"))->GetHostWindow();
    ASSERT_NE(edit, nullptr);
    Render(window);
    EXPECT_FALSE(IsWindowVisible(edit));

    window.ShowWindow(true);
    window.ShowCustomView(true);
    Frame f = Render(window);
    // modify.png is 40 high: its 42-high source is cut to the picture.
    uint32_t border = Blended(L"modify.png", 20, 4, PicturePixel(L"begin.png", 502, 314));
    EXPECT_TRUE(Near(f.At(482 + 20, 310 + 4), border)) << std::hex << f.At(502, 314) << " " << border;
    EXPECT_NE(f.At(482 + 20, 310 + 4), PicturePixel(L"begin.png", 502, 314));
    EXPECT_EQ(f.At(482 + 20, 310 + 41), PicturePixel(L"begin.png", 482 + 20, 310 + 41));
    EXPECT_EQ(f.At(401 + 30, 400 + 20), PicturePixel(L"insts.png", 30, 20));
    EXPECT_EQ(f.At(30 + 11, 297 + 11), PicturePixel(L"begin.png", 30 + 11, 297 + 11));  // box hidden
    EXPECT_EQ(f.At(32, 330), 0xD1D1D1u);                                                // the folder box's border
    EXPECT_TRUE(IsWindowVisible(edit));
    RECT er;
    GetWindowRect(edit, &er);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&er), 2);
    EXPECT_EQ(er.left, 33);
    EXPECT_EQ(er.top, 311);
    EXPECT_EQ(er.right, 481);
    EXPECT_EQ(er.bottom, 351);

    window.ShowCustomView(false);
    Render(window);
    EXPECT_FALSE(IsWindowVisible(edit));
}

TEST_F(SkinWindowTest, RichEditKeepsTextColourAndFormat) {
    auto* edit = static_cast<CRichEditUI*>(window.Find(L"edit_dir"));
    PARAFORMAT2 pf;
    std::memset(&pf, 0, sizeof pf);
    pf.cbSize = sizeof pf;
    pf.dwMask = PFM_STARTINDENT;
    pf.dxStartIndent = 6;
    EXPECT_TRUE(edit->SetParaFormat(pf));
    edit->SetTextColor(0x000000);
    edit->SetText(L"D:\\程序 文件\\Quiview");
    EXPECT_EQ(edit->GetText(), L"D:\\程序 文件\\Quiview");
    PARAFORMAT2 got;
    std::memset(&got, 0, sizeof got);
    got.cbSize = sizeof got;
    SendMessageW(edit->GetHostWindow(), EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&got));
    EXPECT_EQ(got.dxStartIndent, 6);
    // The user's typing is what GetText reports.
    SetWindowTextW(edit->GetHostWindow(), L"E:\\Apps");
    EXPECT_EQ(edit->GetText(), L"E:\\Apps");
}

TEST_F(SkinWindowTest, ProgressPageFillsInProportion) {
    window.ShowProgress(50);
    Frame f = Render(window);
    uint32_t fill = PicturePixel(L"pt.png", 0, 1), track = PicturePixel(L"pb.png", 0, 1);
    EXPECT_EQ(f.At(40 + 10, 391), fill);
    EXPECT_EQ(f.At(40 + 270, 391), fill);
    EXPECT_EQ(f.At(40 + 274, 391), track);
    EXPECT_EQ(f.At(580, 391), track);
    EXPECT_EQ(f.At(300, 100), PicturePixel(L"ing2.png", 300, 100));
    // Hidden finish buttons are not drawn.
    EXPECT_EQ(f.At(108 + 80, 355 + 40), PicturePixel(L"ing2.png", 108 + 80, 355 + 40));

    auto* bar = static_cast<CProgressUI*>(window.Find(L"prg_inst"));
    bar->SetValue(250);
    EXPECT_EQ(bar->GetValue(), 100);
    bar->SetValue(-5);
    EXPECT_EQ(bar->GetValue(), 0);
    f = Render(window);
    EXPECT_EQ(f.At(40 + 10, 391), track);

    window.ShowProgress(100);
    f = Render(window);
    EXPECT_EQ(f.At(300, 60), PicturePixel(L"end.png", 300, 60));
    EXPECT_EQ(f.At(108 + 80, 355 + 40), PicturePixel(L"expe.png", 80, 40));
    EXPECT_EQ(f.At(327 + 4, 355 + 26), PicturePixel(L"use.png", 4, 26));
    EXPECT_EQ(f.At(40 + 10, 391), PicturePixel(L"end.png", 40 + 10, 391));
}

TEST_F(SkinWindowTest, FindControlByPointTakesTopmostVisible) {
    Render(window);
    CDuiRect r;
    EXPECT_EQ(window.Manager().FindControl(POINT{569, 15})->GetName(), L"btn_min");
    EXPECT_EQ(window.Manager().FindControl(POINT{300, 40})->GetName(), L"inst_begin");
    // chk_agree and btn_agree overlap; the later one is on top.
    EXPECT_EQ(window.Manager().FindControl(POINT{150, 300})->GetName(), L"btn_agree");
    // btn_select is hidden: the page is found there.
    EXPECT_EQ(window.Manager().FindControl(POINT{540, 330})->GetName(), L"inst_begin");
    EXPECT_EQ(window.Manager().FindControl(POINT{700, 700}), nullptr);
}

TEST_F(SkinWindowTest, WindowInitComesOnceAfterTheFirstPaint) {
    Pump();
    EXPECT_TRUE(events.empty());
    window.ShowWindow(true);
    UpdateWindow(window);
    Pump();
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    window.ShowWindow(false);
    window.ShowWindow(true);
    UpdateWindow(window);
    Pump();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], L"windowinit");
}

TEST_F(SkinWindowTest, ShadowFollowsTheWindow) {
    window.ShowWindow(true);
    Pump();
    HWND shadow = window.Manager().GetShadowWindow();
    ASSERT_NE(shadow, nullptr);
    EXPECT_TRUE(IsWindowVisible(shadow));
    LONG ex = GetWindowLongW(shadow, GWL_EXSTYLE);
    EXPECT_EQ(ex & (WS_EX_LAYERED | WS_EX_TRANSPARENT), WS_EX_LAYERED | WS_EX_TRANSPARENT);
    SetWindowPos(window, nullptr, 100, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RECT sr;
    GetWindowRect(shadow, &sr);
    EXPECT_EQ(sr.left, 100 - 23);
    EXPECT_EQ(sr.top, 80 - 13);
    EXPECT_EQ(sr.right, 100 + 608 + 23);
    EXPECT_EQ(sr.bottom, 80 + 456 + 33);
    // The window sits above its shadow.
    EXPECT_EQ(GetWindow(window, GW_HWNDNEXT), shadow);
    window.ShowWindow(false);
    EXPECT_FALSE(IsWindowVisible(shadow));
    window.ShowWindow(true);
    EXPECT_TRUE(IsWindowVisible(shadow));
}

TEST_F(SkinWindowTest, ShadowBitmapIsCutFromThePicture) {
    UniqueGdiObject bmp(window.Manager().CreateShadowBitmap(SIZE{608, 456}));
    ASSERT_TRUE(bmp);
    DIBSECTION ds;
    ASSERT_EQ(GetObjectW(bmp.get(), sizeof ds, &ds), int(sizeof ds));
    const int w = 608 + 46, h = 456 + 46;
    ASSERT_EQ(ds.dsBm.bmWidth, w);
    ASSERT_EQ(ds.dsBm.bmHeight, h);
    const unsigned char* bits = static_cast<const unsigned char*>(ds.dsBm.bmBits);
    const uilib::Picture& pic = SkinPicture(L"shadow.png");
    auto px = [&](int x, int y) { return bits + (size_t(y) * w + x) * 4; };
    auto src = [&](int x, int y) { return pic.bits + (size_t(y) * pic.width + x) * 4; };
    // Corners unscaled, the window's area clear, every pixel premultiplied.
    EXPECT_EQ(std::memcmp(px(5, 5), src(5, 5), 4), 0);
    EXPECT_EQ(std::memcmp(px(w - 3, h - 3), src(pic.width - 3, pic.height - 3), 4), 0);
    EXPECT_EQ(std::memcmp(px(w / 2, h - 20), src(pic.width / 2, pic.height - 20), 4), 0);
    int shaded = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const unsigned char* p = px(x, y);
            ASSERT_LE(p[0], p[3]);
            ASSERT_LE(p[1], p[3]);
            ASSERT_LE(p[2], p[3]);
            bool inside = x >= 23 && x < w - 23 && y >= 13 && y < h - 33;
            if (inside)
                ASSERT_EQ(p[3], 0) << x << "," << y;
            else if (p[3] > 0)
                ++shaded;
        }
    }
    EXPECT_GT(shaded, (w + h) * 10);
}

// A move to a monitor of another scale: the window, its controls, fonts,
// caption strip and shadow follow, pictures come from the 1.5x drawings, and
// back at 96 DPI every pixel is what it was.
// Messages the window answers without input: the background is left to the
// double-buffered paint, the cursor follows the control under the pointer,
// and the shadow ends with the window.
TEST_F(SkinWindowTest, EraseCursorAndDestroyReachTheManager) {
    UniqueMemDc dc(CreateCompatibleDC(nullptr));
    EXPECT_NE(SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc.get()), 0), 0);

    Render(window);
    auto cursorOver = [this](POINT client) {
        ClientToScreen(window, &client);
        SetCursorPos(client.x, client.y);
        SetCursor(nullptr);
        LRESULT answered = SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(static_cast<HWND>(window)),
                                        MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return answered ? GetCursor() : nullptr;
    };
    RECT button = window.Find(L"btn_inst")->GetPos();
    EXPECT_EQ(cursorOver(POINT{(button.left + button.right) / 2, (button.top + button.bottom) / 2}),
              LoadCursorW(nullptr, IDC_HAND));
    EXPECT_EQ(cursorOver(POINT{300, 40}), LoadCursorW(nullptr, IDC_ARROW));  // the page

    window.ShowWindow(true);
    Pump();
    HWND shadow = window.Manager().GetShadowWindow();
    ASSERT_NE(shadow, nullptr);
    DestroyWindow(window);
    EXPECT_FALSE(IsWindow(shadow));
}

TEST_F(SkinWindowTest, DpiChangeRelayoutsAndComesBackPixelForPixel) {
    window.ShowWindow(true);
    Pump();
    Frame before = Render(window);
    RECT suggested = {100, 80, 100 + 912, 80 + 684};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    RECT wr;
    GetWindowRect(window, &wr);
    EXPECT_EQ(wr.left, 100);
    EXPECT_EQ(wr.top, 80);
    EXPECT_EQ(wr.right - wr.left, 912);
    EXPECT_EQ(wr.bottom - wr.top, 684);
    EXPECT_EQ(window.Manager().GetDpi(), 144u);
    EXPECT_EQ(window.Manager().GetCaptionRect().bottom, 120);
    Frame f = Render(window);
    for (const wchar_t* name :
         {L"btn_min", L"btn_close", L"chk_agree", L"btn_agree", L"chk_join", L"btn_join", L"btn_custom", L"btn_inst"}) {
        RECT layout = window.Find(name)->GetLayoutPos(), pos = window.Find(name)->GetPos();
        EXPECT_EQ(pos.left, (layout.left * 3 + 1) / 2) << name;
        EXPECT_EQ(pos.top, (layout.top * 3 + 1) / 2) << name;
        EXPECT_EQ(pos.right, (layout.right * 3 + 1) / 2) << name;
        EXPECT_EQ(pos.bottom, (layout.bottom * 3 + 1) / 2) << name;
    }
    RECT flow = window.Find(L"btn_inst")->GetLayoutPos();
    EXPECT_EQ(flow.left, 210);
    EXPECT_EQ(flow.top, 365);
    // Pictures 1:1 from the 1.5x drawings: the page, and the checked box at
    // the scaled destination 0,8,21,29 of chk_agree at 45,438.
    EXPECT_EQ(f.At(450, 30), PicturePixel(L"begin@1.5x.png", 450, 30));
    EXPECT_EQ(f.At(20, 300), PicturePixel(L"begin@1.5x.png", 20, 300));
    EXPECT_EQ(f.At(45 + 16, 446 + 16), PicturePixel(L"checkbox@1.5x.png", 21 + 16, 16));
    // The flow button's 304.5 x 94.5 source meets a 305 x 94 rectangle: a row off at most.
    EXPECT_TRUE(Near(f.At(315 + 30, 548 + 45), PicturePixel(L"instb@1.5x.png", 30, 45)));
    // Fonts 1.5 times as high: the default one (16) and the install button's (24).
    for (int font : {-1, 2}) {
        LOGFONTW lf = {};
        ASSERT_TRUE(GetObjectW(window.Manager().GetFont(font), sizeof lf, &lf));
        EXPECT_EQ(lf.lfHeight, font < 0 ? -24 : -36);
    }
    UniqueGdiObject shadow(window.Manager().CreateShadowBitmap(SIZE{912, 684}));
    BITMAP bm;
    ASSERT_TRUE(GetObjectW(shadow.get(), sizeof bm, &bm));
    EXPECT_EQ(bm.bmWidth, 912 + 35 + 35);
    EXPECT_EQ(bm.bmHeight, 684 + 20 + 50);

    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&suggested));
    Frame back = Render(window);
    ASSERT_EQ(back.width, 608);
    ASSERT_EQ(back.height, 456);
    size_t differing = 0;
    for (size_t i = 0; i < back.px.size(); ++i) differing += (back.px[i] & 0xFFFFFF) != (before.px[i] & 0xFFFFFF);
    EXPECT_EQ(differing, 0u);
}

TEST(SkinWindowCreation, MissingLayoutRefusesTheWindow) {
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    SkinTestWindow window;
    window.skinFile = L"missing.xml";
    EXPECT_EQ(window.Create(nullptr, L"uilib broken skin", 0x81, 0, 0, 0, 800, 572), nullptr);
    EXPECT_FALSE(IsWindow(window.GetHWND()));
}

TEST(SkinWindowCreation, InstancePathEndsInSeparator) {
    CPaintManagerUI::SetInstance(GetModuleHandleW(nullptr));
    CDuiString path = CPaintManagerUI::GetInstancePath();
    ASSERT_GT(path.GetLength(), 3);
    EXPECT_EQ(path[path.GetLength() - 1], L'\\');
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(std::wstring(self).find(path.GetData()), 0u);
    CPaintManagerUI::SetResourcePath((path + L"resource\\inst").GetData());
    EXPECT_EQ(CPaintManagerUI::GetResourcePath(), path + L"resource\\inst\\");
}

// The resources the installer links: version information, manifest, icon.
TEST(InstallerResources, VersionManifestAndIcon) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    DWORD handle = 0, size = GetFileVersionInfoSizeW(self, &handle);
    ASSERT_GT(size, 0u);
    std::vector<unsigned char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(self, 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00010001u);
    auto text = [&](const wchar_t* key) {
        wchar_t* value = nullptr;
        UINT n = 0;
        std::wstring q = std::wstring(L"\\StringFileInfo\\080404b0\\") + key;
        if (!VerQueryValueW(info.data(), q.c_str(), reinterpret_cast<void**>(&value), &n) || !value)
            return std::wstring();
        return std::wstring(value);
    };
    EXPECT_EQ(text(L"FileDescription"), L"Quiview安装程序");
    EXPECT_EQ(text(L"ProductName"), L"Install Module");
    EXPECT_EQ(text(L"OriginalFilename"), L"Install.exe");

    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(res, nullptr);
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(nullptr, res))),
                         SizeofResource(nullptr, res));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                           "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                           "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(manifest.find(os), std::string::npos) << os;
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
    EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);

    HICON icon =
        static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128), IMAGE_ICON, 32, 32, 0));
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
}

}  // namespace

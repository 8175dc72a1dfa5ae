// Picture descriptions, source clipping and attribute values.
#include <gtest/gtest.h>

#include "uilib/attributes.h"
#include "uilib/picture.h"

namespace {

bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(PictureDescription, ReadsFileSourceAndDest) {
    uilib::PictureDescription d;
    ASSERT_TRUE(uilib::ParsePictureDescription(L"file='checkbox.png' source='14,0,28,14' dest='0,5,14,19'", d));
    EXPECT_EQ(d.file, L"checkbox.png");
    EXPECT_TRUE(d.hasSource);
    EXPECT_TRUE(Same(d.source, RECT{14, 0, 28, 14}));
    EXPECT_TRUE(d.hasDest);
    EXPECT_TRUE(Same(d.dest, RECT{0, 5, 14, 19}));
    EXPECT_EQ(d.fade, 255);
    // The unchecked description ends in a stray quote.
    ASSERT_TRUE(uilib::ParsePictureDescription(L"file='checkbox.png' source='0,0,14,14' dest='0,5,14,19''", d));
    EXPECT_TRUE(Same(d.source, RECT{0, 0, 14, 14}));
    EXPECT_TRUE(Same(d.dest, RECT{0, 5, 14, 19}));
    ASSERT_TRUE(uilib::ParsePictureDescription(L"begin.png", d));
    EXPECT_EQ(d.file, L"begin.png");
    EXPECT_FALSE(d.hasSource);
    ASSERT_TRUE(uilib::ParsePictureDescription(L"file='Shadow.png' corner='23,13,23,33' fade='300'", d));
    EXPECT_TRUE(Same(d.corner, RECT{23, 13, 23, 33}));
    EXPECT_EQ(d.fade, 255);
    EXPECT_FALSE(uilib::ParsePictureDescription(L"", d));
    EXPECT_FALSE(uilib::ParsePictureDescription(L"source='1,2,3,4'", d));
    ASSERT_TRUE(uilib::ParsePictureDescription(L"file='a.png' source='1,2,x,4'", d));
    EXPECT_FALSE(d.hasSource);
}

TEST(PictureClipping, SourcePastThePictureKeepsScale) {
    // 222 wide on the 220-wide insts.png: the last two columns are not drawn.
    RECT s{111, 0, 222, 41}, d{401, 400, 512, 441};
    ASSERT_TRUE(uilib::ClipToPicture(s, d, 220, 42));
    EXPECT_TRUE(Same(s, RECT{111, 0, 220, 41}));
    EXPECT_TRUE(Same(d, RECT{401, 400, 510, 441}));
    // 42 high on the 40-high modify.png.
    s = RECT{0, 0, 111, 42};
    d = RECT{482, 310, 593, 352};
    ASSERT_TRUE(uilib::ClipToPicture(s, d, 220, 40));
    EXPECT_TRUE(Same(d, RECT{482, 310, 593, 350}));
    // Stretched: the destination shrinks by the scaled share.
    s = RECT{0, 0, 10, 3};
    d = RECT{0, 0, 100, 3};
    ASSERT_TRUE(uilib::ClipToPicture(s, d, 8, 3));
    EXPECT_EQ(d.right, 80);
    // Wholly outside, or empty: nothing to draw.
    s = RECT{300, 0, 310, 10};
    d = RECT{0, 0, 10, 10};
    EXPECT_FALSE(uilib::ClipToPicture(s, d, 220, 40));
    s = RECT{5, 5, 5, 10};
    EXPECT_FALSE(uilib::ClipToPicture(s, d, 220, 40));
}

TEST(AttributeValues, ColoursAndFlags) {
    EXPECT_EQ(uilib::ParseColor(L"#FF9E9E9E"), 0xFF9E9E9Eu);
    EXPECT_EQ(uilib::ParseColor(L"0xFFB15911"), 0xFFB15911u);
    EXPECT_EQ(uilib::ParseColor(L"#D1D1D1"), 0xFFD1D1D1u);
    EXPECT_EQ(uilib::ParseColor(L"#12345"), 0u);
    EXPECT_TRUE(uilib::ParseBool(L"TRUE"));
    EXPECT_FALSE(uilib::ParseBool(L"false"));
    EXPECT_FALSE(uilib::ParseBool(nullptr));
    RECT r;
    EXPECT_TRUE(uilib::ParseRect(L" 1, 2 ,3,4", r));
    EXPECT_FALSE(uilib::ParseRect(L"1,2,3", r));
}

}  // namespace

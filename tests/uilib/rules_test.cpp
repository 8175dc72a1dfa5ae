// The pure rules of display scale and focus order.
#include <gtest/gtest.h>

#include "uilib/dpi.h"
#include "uilib/focus_order.h"

namespace {

TEST(DisplayScale, ValuesRoundHalvesAwayFromZeroAndRectanglesScaleEdgeByEdge) {
    EXPECT_EQ(uilib::ScaleValue(608, 96), 608);
    EXPECT_EQ(uilib::ScaleValue(608, 144), 912);
    EXPECT_EQ(uilib::ScaleValue(203, 144), 305);  // 304.5
    EXPECT_EQ(uilib::ScaleValue(1, 144), 2);
    EXPECT_EQ(uilib::ScaleValue(-3, 144), -5);  // -4.5
    EXPECT_EQ(uilib::ScaleValue(13, 120), 16);  // 16.25
    EXPECT_EQ(uilib::ScaleValue(7, 192), 14);
    EXPECT_EQ(uilib::UnscaleValue(912, 144), 608);
    EXPECT_EQ(uilib::UnscaleValue(685, 144), 457);  // 456.67
    EXPECT_EQ(uilib::UnscaleValue(50, 0), 50);
    // Neighbours that share an edge in the layout still share it: the flow
    // button (210,365)-(413,428) and a control starting at its right edge.
    RECT a = uilib::ScaleRect(RECT{210, 365, 413, 428}, 144);
    RECT b = uilib::ScaleRect(RECT{413, 365, 500, 428}, 144);
    EXPECT_EQ(a.left, 315);
    EXPECT_EQ(a.top, 548);
    EXPECT_EQ(a.right, 620);
    EXPECT_EQ(a.bottom, 642);
    EXPECT_EQ(a.right, b.left);
}

TEST(DisplayScale, PictureVariantsAreNamedAndTheNearestIsChosen) {
    EXPECT_EQ(uilib::VariantName(L"begin.png", 96), L"begin.png");
    EXPECT_EQ(uilib::VariantName(L"begin.png", 144), L"begin@1.5x.png");
    EXPECT_EQ(uilib::VariantName(L"Shadow.png", 192), L"Shadow@2x.png");
    EXPECT_EQ(uilib::VariantName(L"sub.dir/pic", 192), L"sub.dir/pic@2x");
    const unsigned all = 7, only1x = 1, no15 = 5;
    EXPECT_EQ(uilib::ChooseVariant(96, all), 96u);
    EXPECT_EQ(uilib::ChooseVariant(110, all), 96u);   // nearer 1x
    EXPECT_EQ(uilib::ChooseVariant(120, all), 144u);  // 1.25, half way: the larger
    EXPECT_EQ(uilib::ChooseVariant(144, all), 144u);
    EXPECT_EQ(uilib::ChooseVariant(168, all), 192u);  // 1.75: a tie goes to the larger
    EXPECT_EQ(uilib::ChooseVariant(288, all), 192u);
    EXPECT_EQ(uilib::ChooseVariant(144, only1x), 96u);
    EXPECT_EQ(uilib::ChooseVariant(144, no15), 192u);  // tie between 1x and 2x
    EXPECT_EQ(uilib::ChooseVariant(100, 0), 96u);
}

TEST(FocusOrder, TabWrapsSkipsUnusableAndStartsAtEitherEnd) {
    const bool usable[] = {true, false, true, true, false};
    EXPECT_EQ(uilib::NextFocus(usable, 5, -1, true), 0);
    EXPECT_EQ(uilib::NextFocus(usable, 5, -1, false), 3);
    EXPECT_EQ(uilib::NextFocus(usable, 5, 0, true), 2);
    EXPECT_EQ(uilib::NextFocus(usable, 5, 3, true), 0);   // wraps
    EXPECT_EQ(uilib::NextFocus(usable, 5, 0, false), 3);  // wraps backward
    // The focused control became unusable: the search goes on from its place.
    EXPECT_EQ(uilib::NextFocus(usable, 5, 1, true), 2);
    EXPECT_EQ(uilib::NextFocus(usable, 5, 4, false), 3);
    const bool one[] = {false, true, false};
    EXPECT_EQ(uilib::NextFocus(one, 3, 1, true), 1);  // the only stop stays
    const bool none[] = {false, false};
    EXPECT_EQ(uilib::NextFocus(none, 2, -1, true), -1);
    EXPECT_EQ(uilib::NextFocus(none, 0, -1, true), -1);
}

}  // namespace

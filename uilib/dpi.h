#pragma once
// Display scale: layout values are given for 96 dots per inch and turned
// into device pixels by the window's DPI; skin pictures come drawn at 1x,
// 1.5x and 2x ("name.png", "name@1.5x.png", "name@2x.png").
#include <windows.h>

#include <string>

namespace uilib {

constexpr UINT kBaseDpi = 96;

// v * dpi / 96, rounded to the nearest integer (halves away from zero).
int ScaleValue(int v, UINT dpi);
// The inverse for sizes the system hands over in device pixels.
int UnscaleValue(int v, UINT dpi);
// Every edge scaled on its own, so that rectangles which share an edge in
// the layout still share it on screen.
RECT ScaleRect(const RECT& rc, UINT dpi);

// The picture variants a skin may carry, by their DPI.
constexpr UINT kVariantDpis[] = {96, 144, 192};

// The name of a picture's variant: "begin.png" at 144 is "begin@1.5x.png",
// at 192 "begin@2x.png", at 96 the name itself.
std::wstring VariantName(const std::wstring& file, UINT variantDpi);

// Of the variants present (bit i set: kVariantDpis[i] exists), the one whose
// scale is nearest to dpi; on a tie the larger one, which is drawn smaller
// rather than blown up. 96 when none is marked present.
UINT ChooseVariant(UINT dpi, unsigned present);

}  // namespace uilib

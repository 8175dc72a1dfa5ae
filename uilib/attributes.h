#pragma once
// Reading attribute values of the layout: colours, yes/no values, rectangles.
#include <windows.h>

#include "uilib/picture.h"

namespace uilib {

// "#AARRGGBB", "#RRGGBB" (opaque), "0xAARRGGBB" or a decimal number; 0 if unreadable.
DWORD ParseColor(const wchar_t* text);
// "true" (any case) or "1".
bool ParseBool(const wchar_t* text);

}  // namespace uilib

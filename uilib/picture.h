#pragma once
// Skin pictures: decoding PNG (and the other formats GDI+ reads) into 32-bit
// premultiplied bitmaps, reading picture descriptions, and drawing pictures
// with source and destination rectangles and nine-grid corners.
#include <windows.h>

#include <string>

#include "util/owned.h"

namespace uilib {

// A decoded picture: a top-down 32-bit DIB section with premultiplied alpha.
struct Picture {
    UniqueGdiObject bitmap;
    unsigned char* bits = nullptr;  // BGRA rows, width * 4 bytes each
    int width = 0;
    int height = 0;
};

// Creates a top-down 32-bit DIB section of the given size, zero-filled.
HBITMAP CreateDib32(int width, int height, unsigned char** bits);

// Decodes an encoded picture; false if GDI+ cannot read it.
bool DecodePicture(const void* data, size_t size, Picture& out);

// "file='a.png' source='l,t,r,b' dest='l,t,r,b' corner='l,t,r,b' fade='n'",
// or a bare file name. Unknown keys and stray characters are ignored.
struct PictureDescription {
    std::wstring file;
    RECT source{0, 0, 0, 0};
    bool hasSource = false;
    RECT dest{0, 0, 0, 0};
    bool hasDest = false;
    RECT corner{0, 0, 0, 0};
    int fade = 255;
};
bool ParsePictureDescription(const wchar_t* text, PictureDescription& out);

// Four comma-separated integers ("l,t,r,b"); false unless all four are there.
bool ParseRect(const wchar_t* text, RECT& out);

// Clips a source rectangle to the picture (0, 0, width, height) and shrinks
// the destination by the same share, so that the part drawn keeps its scale
// and place. False if nothing is left to draw.
bool ClipToPicture(RECT& source, RECT& dest, int width, int height);

// Draws `source` of the picture into `dest` (stretched), cut into nine parts
// at `corner` in the picture and at `destCorner` in the destination (equal
// corners are drawn unscaled), blended by the picture's alpha and `fade`.
void DrawPicture(HDC hdc, const Picture& pic, const RECT& dest, const RECT& source, const RECT& corner,
                 const RECT& destCorner, int fade, const RECT& clip);

// Nine-grid resampling into a 32-bit premultiplied buffer of the given size:
// the picture's corners (`corner`) become the destination's (`destCorner`),
// 1:1 where they are equal, edges and centre stretched (nearest pixel). With
// `skipCentre` the centre stays transparent.
void NineGridCopy(const Picture& pic, const RECT& corner, const RECT& destCorner, unsigned char* dst, int dstWidth,
                  int dstHeight, bool skipCentre);

}  // namespace uilib

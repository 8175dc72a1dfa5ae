#include "uilib/picture.h"

#include <cstdlib>
#include <cstring>
#include <cwctype>

#include "util/com_ptr.h"
#include "util/gdiplus_api.h"

namespace uilib {

HBITMAP CreateDib32(int width, int height, unsigned char** bits) {
    BITMAPINFO bi;
    std::memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* p = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    if (!bmp) return nullptr;
    std::memset(p, 0, size_t(width) * size_t(height) * 4);
    if (bits) *bits = static_cast<unsigned char*>(p);
    return bmp;
}

bool DecodePicture(const void* data, size_t size, Picture& out) {
    using namespace Gdiplus;
    const GdiplusApi* gdiplus = GetGdiplus();
    if (!data || size == 0 || !gdiplus) return false;
    UniqueGlobalMem mem(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!mem) return false;
    void* p = GlobalLock(mem.get());
    if (!p) return false;
    std::memcpy(p, data, size);
    GlobalUnlock(mem.get());
    CComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(mem.get(), TRUE, stream.out()))) return false;
    (void)mem.release();  // the stream frees the memory now
    UniqueGpBitmap bitmap;
    if (gdiplus->CreateBitmapFromStream(stream.get(), bitmap.out()) != Ok) return false;
    UINT w = 0, h = 0;
    gdiplus->GetImageWidth(bitmap.get(), &w);
    gdiplus->GetImageHeight(bitmap.get(), &h);
    if (w == 0 || h == 0 || w > 16384 || h > 16384) return false;

    unsigned char* bits = nullptr;
    UniqueGdiObject dib(CreateDib32(int(w), int(h), &bits));
    if (!dib) return false;
    GpRect rect(0, 0, INT(w), INT(h));
    BitmapData locked;
    locked.Width = w;
    locked.Height = h;
    locked.Stride = INT(w * 4);
    locked.PixelFormat = PixelFormat32bppPARGB;
    locked.Scan0 = bits;
    locked.Reserved = 0;
    // Decode straight into the DIB's rows as premultiplied BGRA.
    if (gdiplus->BitmapLockBits(bitmap.get(), &rect, ImageLockModeRead | ImageLockModeUserInputBuf,
                                PixelFormat32bppPARGB, &locked) != Ok)
        return false;
    gdiplus->BitmapUnlockBits(bitmap.get(), &locked);
    GdiFlush();
    out.bitmap = std::move(dib);
    out.bits = bits;
    out.width = int(w);
    out.height = int(h);
    return true;
}

bool ParseRect(const wchar_t* text, RECT& out) {
    if (!text) return false;
    long v[4];
    const wchar_t* p = text;
    for (int i = 0; i < 4; ++i) {
        while (*p == L' ') ++p;
        wchar_t* end = nullptr;
        v[i] = std::wcstol(p, &end, 10);
        if (end == p) return false;
        p = end;
        while (*p == L' ') ++p;
        if (i < 3) {
            if (*p != L',') return false;
            ++p;
        }
    }
    out = RECT{v[0], v[1], v[2], v[3]};
    return true;
}

bool ParsePictureDescription(const wchar_t* text, PictureDescription& out) {
    out = PictureDescription();
    if (!text) return false;
    const wchar_t* p = text;
    while (*p == L' ') ++p;
    if (!std::wcschr(p, L'=')) {
        // A bare file name.
        out.file = p;
        while (!out.file.empty() && out.file.back() == L' ') out.file.pop_back();
        return !out.file.empty();
    }
    while (*p) {
        // key
        while (*p && !std::iswalpha(*p)) ++p;  // stray quotes and spaces
        const wchar_t* k = p;
        while (*p && std::iswalnum(*p)) ++p;
        std::wstring key(k, p);
        while (*p == L' ') ++p;
        if (*p != L'=') continue;
        ++p;
        while (*p == L' ') ++p;
        std::wstring value;
        if (*p == L'\'' || *p == L'"') {
            wchar_t q = *p++;
            const wchar_t* v = p;
            while (*p && *p != q) ++p;
            value.assign(v, p);
            if (*p) ++p;
        } else {
            const wchar_t* v = p;
            while (*p && *p != L' ') ++p;
            value.assign(v, p);
        }
        if (key == L"file" || key == L"res") {
            out.file = value;
        } else if (key == L"source") {
            out.hasSource = ParseRect(value.c_str(), out.source);
        } else if (key == L"dest") {
            out.hasDest = ParseRect(value.c_str(), out.dest);
        } else if (key == L"corner") {
            ParseRect(value.c_str(), out.corner);
        } else if (key == L"fade") {
            out.fade = std::wcstol(value.c_str(), nullptr, 10);
            if (out.fade < 0) out.fade = 0;
            if (out.fade > 255) out.fade = 255;
        }
    }
    return !out.file.empty();
}

bool ClipToPicture(RECT& source, RECT& dest, int width, int height) {
    long sw = source.right - source.left, sh = source.bottom - source.top;
    long dw = dest.right - dest.left, dh = dest.bottom - dest.top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return false;
    RECT s = source, d = dest;
    if (s.left < 0) {
        d.left += MulDiv(-s.left, dw, sw);
        s.left = 0;
    }
    if (s.top < 0) {
        d.top += MulDiv(-s.top, dh, sh);
        s.top = 0;
    }
    if (s.right > width) {
        d.right -= MulDiv(s.right - width, dw, sw);
        s.right = width;
    }
    if (s.bottom > height) {
        d.bottom -= MulDiv(s.bottom - height, dh, sh);
        s.bottom = height;
    }
    if (s.right <= s.left || s.bottom <= s.top || d.right <= d.left || d.bottom <= d.top) return false;
    source = s;
    dest = d;
    return true;
}

namespace {

void BlendPart(HDC hdc, HDC src, const RECT& d, const RECT& s, int fade) {
    if (d.right <= d.left || d.bottom <= d.top || s.right <= s.left || s.bottom <= s.top) return;
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, BYTE(fade), AC_SRC_ALPHA};
    // The system's own blend in gdi32 (msimg32's AlphaBlend only forwards to it).
    GdiAlphaBlend(hdc, d.left, d.top, d.right - d.left, d.bottom - d.top, src, s.left, s.top, s.right - s.left,
                  s.bottom - s.top, bf);
}

}  // namespace

void DrawPicture(HDC hdc, const Picture& pic, const RECT& dest, const RECT& source, const RECT& corner,
                 const RECT& destCorner, int fade, const RECT& clip) {
    RECT s = source, d = dest;
    if (!ClipToPicture(s, d, pic.width, pic.height)) return;
    RECT visible;
    if (!IntersectRect(&visible, &d, &clip)) return;
    UniqueMemDc mem(CreateCompatibleDC(hdc));
    if (!mem) return;
    HGDIOBJ old = SelectObject(mem.get(), pic.bitmap.get());
    int saved = SaveDC(hdc);
    IntersectClipRect(hdc, clip.left, clip.top, clip.right, clip.bottom);
    if (corner.left == 0 && corner.top == 0 && corner.right == 0 && corner.bottom == 0) {
        BlendPart(hdc, mem.get(), d, s, fade);
    } else {
        const long sx[4] = {s.left, s.left + corner.left, s.right - corner.right, s.right};
        const long sy[4] = {s.top, s.top + corner.top, s.bottom - corner.bottom, s.bottom};
        const long dx[4] = {d.left, d.left + destCorner.left, d.right - destCorner.right, d.right};
        const long dy[4] = {d.top, d.top + destCorner.top, d.bottom - destCorner.bottom, d.bottom};
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col)
                BlendPart(hdc, mem.get(), RECT{dx[col], dy[row], dx[col + 1], dy[row + 1]},
                          RECT{sx[col], sy[row], sx[col + 1], sy[row + 1]}, fade);
    }
    RestoreDC(hdc, saved);
    SelectObject(mem.get(), old);
}

void NineGridCopy(const Picture& pic, const RECT& corner, const RECT& destCorner, unsigned char* dst, int dstWidth,
                  int dstHeight, bool skipCentre) {
    if (!pic.bits || pic.width <= 0 || pic.height <= 0 || dstWidth <= 0 || dstHeight <= 0) return;
    // Maps a destination coordinate to the source along one axis: the first
    // `lead` and last `trail` destination pixels onto the source's `srcLead`
    // and `srcTrail` (1:1 when equal), the middle stretched.
    auto map = [](int x, int dstLen, int srcLen, int lead, int trail, int srcLead, int srcTrail, bool& middle) {
        middle = false;
        if (x < lead) {
            int sx = lead == srcLead ? x : int((long long)x * srcLead / lead);
            return sx < srcLen ? sx : srcLen - 1;
        }
        if (x >= dstLen - trail) {
            int back = dstLen - x;  // 1 .. trail
            int sb = trail == srcTrail ? back : int(((long long)back * srcTrail + trail - 1) / trail);
            int sx = srcLen - sb;
            return sx < 0 ? 0 : sx;
        }
        middle = true;
        int srcMid = srcLen - srcLead - srcTrail, dstMid = dstLen - lead - trail;
        if (srcMid <= 0 || dstMid <= 0) return srcLead < srcLen ? srcLead : srcLen - 1;
        return srcLead + int((long long)(x - lead) * srcMid / dstMid);
    };
    for (int y = 0; y < dstHeight; ++y) {
        bool midY;
        int sy = map(y, dstHeight, pic.height, destCorner.top, destCorner.bottom, corner.top, corner.bottom, midY);
        for (int x = 0; x < dstWidth; ++x) {
            bool midX;
            int sx = map(x, dstWidth, pic.width, destCorner.left, destCorner.right, corner.left, corner.right, midX);
            unsigned char* out = dst + (size_t(y) * size_t(dstWidth) + size_t(x)) * 4;
            if (skipCentre && midX && midY) {
                std::memset(out, 0, 4);
                continue;
            }
            std::memcpy(out, pic.bits + (size_t(sy) * size_t(pic.width) + size_t(sx)) * 4, 4);
        }
    }
}

}  // namespace uilib

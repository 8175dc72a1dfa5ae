#pragma once
// GDI+ loaded at run time from the system folder, never resolved from the
// program's own folder (it is no system-protected library, so a copy planted
// beside a program would otherwise win). The GDI+ headers serve for the
// types only; every call goes through this table.
#include <windows.h>
#include <objidl.h>
#if defined(_MSC_VER)
// The compiler's GDI+ headers use min and max, which NOMINMAX takes away.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#endif
#include <gdiplus.h>

#include "util/owned.h"

struct GdiplusApi {
    using Status = Gdiplus::GpStatus;
    Status(WINAPI* CreateBitmapFromStream)(IStream*, Gdiplus::GpBitmap**);
    Status(WINAPI* LoadImageFromStream)(IStream*, Gdiplus::GpImage**);
    Status(WINAPI* GetImageWidth)(Gdiplus::GpImage*, UINT*);
    Status(WINAPI* GetImageHeight)(Gdiplus::GpImage*, UINT*);
    Status(WINAPI* BitmapLockBits)(Gdiplus::GpBitmap*, const Gdiplus::GpRect*, UINT, Gdiplus::PixelFormat,
                                   Gdiplus::BitmapData*);
    Status(WINAPI* BitmapUnlockBits)(Gdiplus::GpBitmap*, Gdiplus::BitmapData*);
    Status(WINAPI* DisposeImage)(Gdiplus::GpImage*);
    Status(WINAPI* CreateFromHDC)(HDC, Gdiplus::GpGraphics**);
    Status(WINAPI* DeleteGraphics)(Gdiplus::GpGraphics*);
    Status(WINAPI* GraphicsClear)(Gdiplus::GpGraphics*, Gdiplus::ARGB);
    Status(WINAPI* SetInterpolationMode)(Gdiplus::GpGraphics*, Gdiplus::InterpolationMode);
    Status(WINAPI* SetPixelOffsetMode)(Gdiplus::GpGraphics*, Gdiplus::PixelOffsetMode);
    Status(WINAPI* DrawImageRectI)(Gdiplus::GpGraphics*, Gdiplus::GpImage*, INT, INT, INT, INT);
};

// The table, with GDI+ started, on first use (never call it from DllMain);
// GDI+ then stays for the process. Null when GDI+ cannot be had.
const GdiplusApi* GetGdiplus();

// Owning handles of GDI+ objects.
struct GpImageTraits {
    using type = Gdiplus::GpImage*;
    static type none() noexcept { return nullptr; }
    static void close(type image) noexcept {
        if (const GdiplusApi* api = GetGdiplus()) api->DisposeImage(image);
    }
};
struct GpBitmapTraits {  // a bitmap is an image to GDI+, disposed of as one
    using type = Gdiplus::GpBitmap*;
    static type none() noexcept { return nullptr; }
    static void close(type bitmap) noexcept { GpImageTraits::close(bitmap); }
};
struct GpGraphicsTraits {
    using type = Gdiplus::GpGraphics*;
    static type none() noexcept { return nullptr; }
    static void close(type graphics) noexcept {
        if (const GdiplusApi* api = GetGdiplus()) api->DeleteGraphics(graphics);
    }
};
using UniqueGpImage = COwned<GpImageTraits>;
using UniqueGpBitmap = COwned<GpBitmapTraits>;
using UniqueGpGraphics = COwned<GpGraphicsTraits>;

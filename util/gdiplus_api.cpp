#include "util/gdiplus_api.h"

#include <mutex>

#include "util/system_library.h"

namespace {

using StartupFn = Gdiplus::GpStatus(WINAPI*)(ULONG_PTR*, const Gdiplus::GdiplusStartupInput*,
                                             Gdiplus::GdiplusStartupOutput*);

template <class Function>
bool Find(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return function != nullptr;
}

bool Load(GdiplusApi& api) {
    // Kept loaded for the process: GDI+ runs threads of its own once started.
    HMODULE module = LoadSystemLibrary(L"gdiplus.dll");
    if (!module) return false;
    StartupFn startup = nullptr;
    const bool found = Find(module, "GdiplusStartup", startup) &&
                       Find(module, "GdipCreateBitmapFromStream", api.CreateBitmapFromStream) &&
                       Find(module, "GdipLoadImageFromStream", api.LoadImageFromStream) &&
                       Find(module, "GdipGetImageWidth", api.GetImageWidth) &&
                       Find(module, "GdipGetImageHeight", api.GetImageHeight) &&
                       Find(module, "GdipBitmapLockBits", api.BitmapLockBits) &&
                       Find(module, "GdipBitmapUnlockBits", api.BitmapUnlockBits) &&
                       Find(module, "GdipDisposeImage", api.DisposeImage) &&
                       Find(module, "GdipCreateFromHDC", api.CreateFromHDC) &&
                       Find(module, "GdipDeleteGraphics", api.DeleteGraphics) &&
                       Find(module, "GdipGraphicsClear", api.GraphicsClear) &&
                       Find(module, "GdipSetInterpolationMode", api.SetInterpolationMode) &&
                       Find(module, "GdipSetPixelOffsetMode", api.SetPixelOffsetMode) &&
                       Find(module, "GdipDrawImageRectI", api.DrawImageRectI);
    if (!found) return false;
    Gdiplus::GdiplusStartupInput input;
    input.GdiplusVersion = 1;
    input.DebugEventCallback = nullptr;
    input.SuppressBackgroundThread = FALSE;
    input.SuppressExternalCodecs = FALSE;
    ULONG_PTR token = 0;
    return startup(&token, &input, nullptr) == Gdiplus::Ok;
}

}  // namespace

const GdiplusApi* GetGdiplus() {
    static std::once_flag once;
    static GdiplusApi api = {};
    static bool ok = false;
    std::call_once(once, [] { ok = Load(api); });
    return ok ? &api : nullptr;
}

// ImgShell.exe: the Quiview image viewer. Shows the picture named on its
// command line (PNG, JPEG, BMP, GIF), fitted to its window, or the welcome
// picture beside it. Pictures can also be dropped on the window or opened
// with Ctrl+O. The title shows the version and channel the installer recorded.
#include <windows.h>
#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <memory>
#include <string>

#include "qv_product.h"
#include "util/com_ptr.h"
#include "util/com_scope.h"
#include "util/gdiplus_api.h"
#include "util/owned.h"
#include "util/path.h"
#include "util/system_library.h"
#include "viewer/install_info.h"

namespace {

const wchar_t kWindowClass[] = QV_PRODUCT_NAME L"ImgShell";
const wchar_t kWelcomePicture[] = L"welcome.png";

struct ViewerState {
    UniqueGpImage image;
    UINT imageWidth = 0;
    UINT imageHeight = 0;
    std::wstring imagePath;
    InstallInfo info;
};

ViewerState* StateOf(HWND window) { return reinterpret_cast<ViewerState*>(::GetWindowLongPtrW(window, GWLP_USERDATA)); }

std::wstring FileNameOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void UpdateTitle(HWND window, const ViewerState& state) {
    std::wstring title = ViewerTitle(state.info);
    if (!state.imagePath.empty()) title = FileNameOf(state.imagePath) + L" - " + title;
    ::SetWindowTextW(window, title.c_str());
}

// Decodes a picture from a copy of the file's bytes, so that the file itself
// is not held open while it is shown (it can be replaced, moved or deleted).
UniqueGpImage LoadPicture(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart > (512LL << 20))
        return UniqueGpImage();
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[static_cast<size_t>(size.QuadPart)]);
    DWORD got = 0;
    if (!bytes || !::ReadFile(file.get(), bytes.get(), static_cast<DWORD>(size.QuadPart), &got, nullptr) ||
        got != size.QuadPart)
        return UniqueGpImage();
    const GdiplusApi* gdiplus = GetGdiplus();
    CComPtr<IStream> stream;
    stream.Attach(::SHCreateMemStream(bytes.get(), got));
    if (!stream || !gdiplus) return UniqueGpImage();
    // GDI+ reads the stream for as long as the picture lives; the picture
    // holds its own reference to it.
    UniqueGpImage image;
    if (gdiplus->LoadImageFromStream(stream.get(), image.out()) != Gdiplus::Ok) return UniqueGpImage();
    return image;
}

// Loads a picture; false (and the current one kept) when it cannot be decoded.
bool OpenPicture(HWND window, ViewerState& state, const std::wstring& path, bool isWelcome) {
    UniqueGpImage image = LoadPicture(path);
    UINT width = 0, height = 0;
    if (!image || GetGdiplus()->GetImageWidth(image.get(), &width) != Gdiplus::Ok ||
        GetGdiplus()->GetImageHeight(image.get(), &height) != Gdiplus::Ok || width == 0 || height == 0)
        return false;
    state.image = std::move(image);
    state.imageWidth = width;
    state.imageHeight = height;
    state.imagePath = isWelcome ? std::wstring() : path;
    UpdateTitle(window, state);
    ::InvalidateRect(window, nullptr, FALSE);
    return true;
}

void ShowCannotOpen(HWND window, const std::wstring& path) {
    const std::wstring text = L"\u65e0\u6cd5\u6253\u5f00\u56fe\u7247\uff1a" + path;  // cannot open picture:
    ::MessageBoxW(window, text.c_str(), QV_PRODUCT_NAME, MB_OK | MB_ICONWARNING);
}

void AskForPicture(HWND window, ViewerState& state) {
    wchar_t file[MAX_PATH] = {};
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window;
    ofn.lpstrFilter =
        L"\u56fe\u7247 (*.png;*.jpg;*.jpeg;*.bmp;*.gif)\0*.png;*.jpg;*.jpeg;*.bmp;*.gif\0"
        L"\u6240\u6709\u6587\u4ef6 (*.*)\0*.*\0";
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (::GetOpenFileNameW(&ofn) && !OpenPicture(window, state, file, false)) ShowCannotOpen(window, file);
}

void Paint(HWND window, const ViewerState& state) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(window, &ps);
    RECT client;
    ::GetClientRect(window, &client);
    const int width = client.right - client.left, height = client.bottom - client.top;
    if (width > 0 && height > 0) {
        // Drawn off screen first, then copied in one go: no flicker on resize.
        UniqueMemDc memory(::CreateCompatibleDC(dc));
        UniqueGdiObject bitmap(::CreateCompatibleBitmap(dc, width, height));
        HGDIOBJ old = ::SelectObject(memory.get(), bitmap.get());
        const GdiplusApi* gdiplus = GetGdiplus();
        UniqueGpGraphics g;
        if (gdiplus && gdiplus->CreateFromHDC(memory.get(), g.out()) == Gdiplus::Ok) {
            gdiplus->GraphicsClear(g.get(), 0xFF202124);
            if (state.image) {
                const FitRect fit = FitPicture(state.imageWidth, state.imageHeight, width, height);
                gdiplus->SetInterpolationMode(g.get(), Gdiplus::InterpolationModeHighQualityBicubic);
                gdiplus->SetPixelOffsetMode(g.get(), Gdiplus::PixelOffsetModeHalf);
                gdiplus->DrawImageRectI(g.get(), state.image.get(), fit.x, fit.y, fit.width, fit.height);
            }
        }
        g.reset();
        ::BitBlt(dc, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
        ::SelectObject(memory.get(), old);
    }
    ::EndPaint(window, &ps);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ViewerState* state = StateOf(window);
    switch (message) {
    case WM_CREATE: {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        ::DragAcceptFiles(window, TRUE);
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: Paint(window, *state); return 0;
    case WM_SIZE: ::InvalidateRect(window, nullptr, FALSE); return 0;
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wParam);
        wchar_t file[MAX_PATH] = {};
        if (::DragQueryFileW(drop, 0, file, MAX_PATH) && !OpenPicture(window, *state, file, false))
            ShowCannotOpen(window, file);
        ::DragFinish(drop);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == 'O' && (::GetKeyState(VK_CONTROL) & 0x8000)) {
            AskForPicture(window, *state);
            return 0;
        }
        if (wParam == VK_ESCAPE) {
            ::PostMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_DESTROY: ::PostQuitMessage(0); return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    // Before anything else can load a library by name.
    HardenLibrarySearch();
    // A viewer is there to be seen: a launcher that asks for a hidden start
    // (as the installer's "try it now" does) still gets a normal window.
    if (show == SW_HIDE) show = SW_SHOWNORMAL;
    CComScope com(CComScope::kApartment);
    int exitCode = 0;
    {
        ViewerState state;
        state.info = ReadInstallInfo();

        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = instance;
        wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
        if (!wc.hIcon) wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kWindowClass;
        ::RegisterClassExW(&wc);
        HWND window =
            ::CreateWindowExW(WS_EX_ACCEPTFILES, kWindowClass, ViewerTitle(state.info).c_str(), WS_OVERLAPPEDWINDOW,
                              CW_USEDEFAULT, CW_USEDEFAULT, 900, 640, nullptr, nullptr, instance, &state);
        if (window) {
            int argc = 0;
            LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
            UniqueLocalMem arguments(argv);
            const std::wstring requested = (argv && argc > 1) ? argv[1] : L"";
            if (requested.empty() || !OpenPicture(window, state, requested, false)) {
                OpenPicture(window, state, ModuleFolder() + L"\\" + kWelcomePicture, true);
                if (!requested.empty()) {
                    ::ShowWindow(window, show);
                    ShowCannotOpen(window, requested);
                }
            }
            ::ShowWindow(window, show);
            ::UpdateWindow(window);
            MSG msg;
            while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            exitCode = static_cast<int>(msg.wParam);
        }
    }
    return exitCode;
}

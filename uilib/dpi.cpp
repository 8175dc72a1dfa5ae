#include "uilib/dpi.h"

namespace uilib {

int ScaleValue(int v, UINT dpi) {
    long long p = (long long)v * dpi;
    return int(p >= 0 ? (p + kBaseDpi / 2) / kBaseDpi : -((-p + kBaseDpi / 2) / kBaseDpi));
}

int UnscaleValue(int v, UINT dpi) {
    if (dpi == 0) return v;
    long long p = (long long)v * kBaseDpi;
    return int(p >= 0 ? (p + dpi / 2) / dpi : -((-p + dpi / 2) / dpi));
}

RECT ScaleRect(const RECT& rc, UINT dpi) {
    return RECT{ScaleValue(rc.left, dpi), ScaleValue(rc.top, dpi), ScaleValue(rc.right, dpi),
                ScaleValue(rc.bottom, dpi)};
}

std::wstring VariantName(const std::wstring& file, UINT variantDpi) {
    const wchar_t* suffix = variantDpi == 144 ? L"@1.5x" : variantDpi == 192 ? L"@2x" : nullptr;
    if (!suffix) return file;
    size_t slash = file.find_last_of(L"\\/");
    size_t dot = file.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return file + suffix;
    return file.substr(0, dot) + suffix + file.substr(dot);
}

UINT ChooseVariant(UINT dpi, unsigned present) {
    UINT best = kBaseDpi;
    long long bestDistance = -1;
    for (unsigned i = 0; i < sizeof kVariantDpis / sizeof kVariantDpis[0]; ++i) {
        if (!(present & (1u << i))) continue;
        long long d = (long long)kVariantDpis[i] - dpi;
        if (d < 0) d = -d;
        // Later entries are larger: on a tie they win.
        if (bestDistance < 0 || d <= bestDistance) {
            best = kVariantDpis[i];
            bestDistance = d;
        }
    }
    return best;
}

}  // namespace uilib

#include "uilib/attributes.h"

#include <cwchar>
#include <cwctype>

namespace uilib {

DWORD ParseColor(const wchar_t* text) {
    if (!text) return 0;
    while (*text == L' ') ++text;
    const wchar_t* digits = nullptr;
    if (*text == L'#')
        digits = text + 1;
    else if (text[0] == L'0' && (text[1] == L'x' || text[1] == L'X'))
        digits = text + 2;
    if (!digits) return DWORD(std::wcstoul(text, nullptr, 10));
    size_t n = 0;
    while (std::iswxdigit(digits[n])) ++n;
    if (n != 6 && n != 8) return 0;
    DWORD v = DWORD(std::wcstoul(digits, nullptr, 16));
    return n == 6 ? (v | 0xFF000000u) : v;
}

bool ParseBool(const wchar_t* text) {
    if (!text) return false;
    return _wcsicmp(text, L"true") == 0 || std::wcscmp(text, L"1") == 0;
}

}  // namespace uilib

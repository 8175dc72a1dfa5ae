#include "install/install_folder.h"

#include <windows.h>

namespace {
const wchar_t kProductFolder[] = L"Quiview";

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
}  // namespace

bool IsProductFolder(const std::wstring& folder) {
    size_t end = folder.size();
    while (end > 0 && IsSeparator(folder[end - 1])) --end;
    size_t start = end;
    while (start > 0 && !IsSeparator(folder[start - 1])) --start;
    // A bare name is relative to whatever the current folder happens to be.
    if (start == 0) return false;
    // A parent of a drive root ("C:"), a UNC share name or a relative path
    // piece is not an installation folder either.
    const bool absolute = (folder.size() >= 3 && folder[1] == L':' && IsSeparator(folder[2])) ||
                          (folder.size() >= 2 && IsSeparator(folder[0]) && IsSeparator(folder[1]));
    if (!absolute) return false;
    std::wstring last = folder.substr(start, end - start);
    return ::CompareStringOrdinal(last.c_str(), static_cast<int>(last.size()), kProductFolder, -1, TRUE) ==
           CSTR_EQUAL;
}

#pragma once
// Which installation folder an installation may clear before it copies.
#include <string>

// True when `folder` is the product's own folder: an absolute path whose last
// component (trailing separators aside) is "Quiview", in any case. Only such
// a folder is removed before installing; any other folder a user typed or
// chose keeps its content and receives the installation beside it.
bool IsProductFolder(const std::wstring& folder);

#pragma once
// Test helpers: real archives made with the Windows 7z.exe beside the test
// program, generated file contents, and file-tree helpers.
#include <windows.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace qvtest {

// Runs 7z.exe with the arguments in `folder`; throws unless it exits with 0.
void RunSevenZip(const std::wstring& arguments, const std::wstring& folder);
// Bytes that compress well (words and line breaks) and bytes that do not.
std::string TextBytes(size_t size, unsigned seed);
std::string RandomBytes(size_t size, unsigned seed);
// Sets the last-write time (a FILETIME value) of a file or folder.
void SetWriteTime(const std::wstring& path, unsigned long long time);

}  // namespace qvtest

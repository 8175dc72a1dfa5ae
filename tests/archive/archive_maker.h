#pragma once
// Test helpers that make real archives with the Windows 7z.exe that lies
// beside the test program, and small file-tree helpers around them.
#include <windows.h>

#include <string>
#include <vector>

namespace qvtest {

// Runs a command line in a folder and waits for it; returns the exit code.
DWORD RunProgram(const std::wstring& commandLine, const std::wstring& folder);
// Runs 7z.exe (from the test program's folder) with the arguments in `folder`;
// throws when it does not exit with 0.
void RunSevenZip(const std::wstring& arguments, const std::wstring& folder);

// Bytes that compress well (lines of text) and bytes that do not.
std::string TextBytes(size_t size, unsigned seed);
std::string RandomBytes(size_t size, unsigned seed);

// A 64-bit FILETIME value for a UTC calendar time.
unsigned long long FileTimeOf(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second);
// Sets the last-write time of a file or folder (folders need backup semantics).
void SetWriteTime(const std::wstring& path, unsigned long long time);

// Relative paths of every file and folder below `root`, sorted; folders end with a backslash.
std::vector<std::wstring> ListTree(const std::wstring& root);

}  // namespace qvtest

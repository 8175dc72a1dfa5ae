#pragma once
// Helpers shared by the test programs: a temporary folder that removes itself,
// and small file helpers that work on real files in the Wine prefix.
#include <string>

namespace qvtest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    // path() + "\" + relative
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

private:
    std::wstring path_;
};

void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
// Last-write time as a 64-bit FILETIME value (0 if the file cannot be read).
unsigned long long LastWriteTime(const std::wstring& path);
// Removes a whole tree without using the code under test.
void RemoveTree(const std::wstring& path);

}  // namespace qvtest

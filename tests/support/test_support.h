#pragma once
// Helpers shared by the test programs: a temporary folder that removes itself,
// and small file helpers that work on real files in the Wine prefix.
#include <string>
#include <vector>

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
bool IsFolder(const std::wstring& path);
// Relative paths of everything below `root`, sorted; folders end with a
// backslash. Links to folders are listed, never entered.
std::vector<std::wstring> ListTree(const std::wstring& root);
// Last-write time as a 64-bit FILETIME value (0 if the file cannot be read).
unsigned long long LastWriteTime(const std::wstring& path);
// Removes a whole tree without using the code under test. Links inside are
// removed as links; what they lead to is never touched.
void RemoveTree(const std::wstring& path);

// Makes `link` a link to the existing folder or file `target`, as a program
// of the user could without elevation: under Wine a symbolic link of the host
// (which Wine reports as a reparse point, the way Windows shows a junction),
// on Windows a symbolic link. False when none could be made.
bool MakeLink(const std::wstring& link, const std::wstring& target);
// Removes a link made by MakeLink, never its target.
void RemoveLink(const std::wstring& link);
// Runs a command line, waits up to a minute for it and returns its exit code
// (-1 when it could not be started or did not end).
int RunAndWait(const std::wstring& commandLine);

}  // namespace qvtest

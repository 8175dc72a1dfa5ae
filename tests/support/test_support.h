#pragma once
// Helpers shared by the test programs: a temporary folder that removes itself,
// small file helpers that work on real files in the Wine prefix, and the one
// way the tests start a child process and wait for it.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "util/owned.h"

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
// Puts an executable image (this test program's own) at `path` and maps it
// the way a running program holds its libraries: the system then refuses to
// delete the file but lets it be renamed.
UniqueModule PlaceLoadedImage(const std::wstring& path);
// Renames an entry as a program of the user could while this process holds
// it open: under Wine by the host (whose renames no sharing rule stops), on
// Windows with MoveFileExW. True when `to` exists afterwards.
bool HostRename(const std::wstring& from, const std::wstring& to);

// A child process started by a test from a command line, in `folder` (empty:
// the test program's current folder). With `output` given, the child's
// standard output and error go to that file. A child still running when the
// object goes is ended and waited for, so no test leaves one behind.
class ChildProcess {
public:
    explicit ChildProcess(const std::wstring& commandLine, const std::wstring& folder = std::wstring(),
                          const std::wstring& output = std::wstring());
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return static_cast<bool>(process_); }
    DWORD id() const { return id_; }
    HANDLE handle() const { return process_.get(); }
    // Waits up to `timeoutMs` for the child to end: its exit code, or -1 when
    // it never started or is still running.
    int Wait(DWORD timeoutMs);
    // Waits up to `timeoutMs` until `event` is set or the child ends; true
    // only for the event.
    bool WaitForEvent(HANDLE event, DWORD timeoutMs);
    // Ends the child with `exitCode` and waits until it is gone.
    void End(UINT exitCode = 1);

private:
    UniqueHandle process_;
    DWORD id_ = 0;
};

// Runs a command line in `folder` (its output to the file `output` if given)
// and waits up to `timeoutMs` for it: its exit code, or -1 when it could not
// be started or did not end in time (it is ended then).
int RunAndWait(const std::wstring& commandLine, const std::wstring& folder = std::wstring(), DWORD timeoutMs = 60000,
               const std::wstring& output = std::wstring());

// The host path of a Windows path under Wine; empty elsewhere (or when the
// path has none).
std::string HostPath(const std::wstring& path);
// Runs a program of the host system (ln, rm, chattr) by its command line.
// Wine starts a host program without a process to wait for, so `done` is
// polled until it holds: true when it did within `timeoutMs`.
bool RunHostProgram(const std::wstring& commandLine, const std::function<bool()>& done, DWORD timeoutMs = 10000);

}  // namespace qvtest

#pragma once
// Helpers of the sysenv tests: registry values and environment variables that
// a test changes and that are put back as they were, and the child program.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace qvtest {

// One registry value a test sets or removes, in the view the product reads
// (that of the shipped 32-bit program). The destructor restores the value
// as it was and removes every key the guard had to create.
class RegValueGuard {
public:
    RegValueGuard(HKEY root, std::wstring subKey, std::wstring valueName);
    ~RegValueGuard();
    RegValueGuard(const RegValueGuard&) = delete;
    RegValueGuard& operator=(const RegValueGuard&) = delete;

    void Set(DWORD type, const void* data, DWORD byteSize);
    void SetString(const std::wstring& text, DWORD type = REG_SZ);  // stored with its terminator
    void Remove();                                                  // the value only; the key stays

private:
    HKEY root_;
    std::wstring subKey_, valueName_;
    bool existed_ = false;
    DWORD type_ = 0;
    std::vector<BYTE> data_;
    std::wstring createdTop_;  // topmost key this guard created, empty if none
};

// An environment variable of this process that a test changes; restored on destruction.
class EnvVarGuard {
public:
    explicit EnvVarGuard(std::wstring name);
    ~EnvVarGuard();
    EnvVarGuard(const EnvVarGuard&) = delete;
    EnvVarGuard& operator=(const EnvVarGuard&) = delete;
    void Set(const wchar_t* value) { ::SetEnvironmentVariableW(name_.c_str(), value); }  // null unsets

private:
    std::wstring name_, saved_;
    bool existed_;
};

// Full path of the child program built beside the test program.
std::wstring ChildPath();
// `"child" args`, quoted so that the child sees the path as one argument.
std::wstring ChildCommand(const std::wstring& childPath, const std::wstring& args);
// Reads a UTF-8 file the child wrote.
std::wstring ReadUtf8(const std::wstring& path);
// The child's report (os, local, low, data, browser, ...) as Wine runs it as
// the given Windows version (winxp, win7, ...); empty when it did not run.
std::map<std::wstring, std::wstring> ChildReport(const wchar_t* wineVersion);
// Ends a process the test started and waits until it is gone.
void EndProcess(DWORD processId);

}  // namespace qvtest

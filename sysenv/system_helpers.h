#pragma once
// Small helpers over the platform: the OS version class, one registry value as
// text, processes by executable name, the account that owns a process,
// privileges, system modules, known folders and starting a program.
// None of them throws or shows anything; failure is the neutral result
// (false, 0, null or the empty text).
#include <windows.h>

#include <string>

enum OsVersionClass {
    OS_OTHER = 0,  // any version not listed below, or the version query failed
    OS_XP = 1,     // 5.1
    OS_VISTA = 2,  // 6.0
    OS_WIN7 = 3,   // 6.1
    OS_WIN8 = 4,   // 6.2
    OS_WIN10 = 5,  // major version 10 by RtlGetVersion, or RtlGetVersion unusable
};

OsVersionClass GetOsVersionClass();
// True when RtlGetVersion reports major version 10, and also when it is missing
// or fails (so such a system is never taken for Windows XP).
bool IsWindows10();

// The decisions behind the two functions above, from the platform's answers.
// rtlPresent: ntdll exports RtlGetVersion; rtlStatus: what it returned.
bool Windows10FromRtl(bool rtlPresent, LONG rtlStatus, DWORD rtlMajor);
// versionKnown: GetVersionExW succeeded and reported major.minor.
OsVersionClass ClassifyOsVersion(bool windows10, bool versionKnown, DWORD major, DWORD minor);

// Reads one value of subKey under root (KEY_READ | extraAccess, the view the
// system gives a 32-bit program). REG_SZ gives the text up to its first NUL;
// REG_EXPAND_SZ and REG_MULTI_SZ give every stored unit, terminators and
// separators included, unexpanded; any other type leaves `text` as passed.
// On success `type` receives the value's type. If the key cannot be opened,
// both out arguments are untouched; if the value cannot be read, type is 0.
bool QueryRegString(HKEY root, REGSAM extraAccess, std::wstring& text, const std::wstring& subKey,
                    const std::wstring& valueName, DWORD& type);
// The value's text, or empty when it cannot be read.
std::wstring GetRegString(const std::wstring& subKey, const std::wstring& valueName, HKEY root);

// Process id of the first process whose executable name equals `name`
// ignoring case; 0 when there is none or the name is empty.
DWORD FindProcessByName(const std::wstring& name);
// Account name (without domain) owning the process; 0 means this process.
std::wstring GetProcessUserName(DWORD processId);
// Enables a privilege in this process's token. A privilege the account does
// not hold still counts as success, as the system call succeeds.
bool EnablePrivilege(const std::wstring& name);
// The loaded module of that name, else the system library of that name loaded
// now from the system folder (never from beside the program); never released.
HMODULE GetOrLoadModule(const std::wstring& name);
// The path of a known folder; empty where the system has no known-folder service.
std::wstring GetKnownFolderPath(const GUID& folderId);

// The longest command line the system starts, without its terminator.
constexpr size_t kMaxCommandLineChars = 32766;

// Starts commandLine (applicationName and currentDirectory: none when empty).
// A command line longer than kMaxCommandLineChars is refused and nothing is
// started. With `wait`, waits up to timeoutMs; a child still running then
// makes the result false but keeps running. With exitCode, the exit code is
// read (failure makes the result false). Thread and process ids are stored
// only on success.
bool RunProcess(const std::wstring& commandLine, const std::wstring& applicationName,
                const std::wstring& currentDirectory, bool show, bool inheritHandles, bool wait, DWORD timeoutMs,
                DWORD* threadId = nullptr, DWORD* processId = nullptr, DWORD* exitCode = nullptr);

// GetProcAddress typed for the caller; null when missing.
template <class Function>
Function LookupProc(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

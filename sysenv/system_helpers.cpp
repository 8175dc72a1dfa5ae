#include "sysenv/system_helpers.h"

#include <tlhelp32.h>
#include <objbase.h>

#include <exception>
#include <vector>

#include "util/owned.h"
#include "util/registry_view.h"
#include "util/system_library.h"

namespace {

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE*);
using LookupPrivilegeValueWFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, LUID*);
using AdjustTokenPrivilegesFn = BOOL(WINAPI*)(HANDLE, BOOL, TOKEN_PRIVILEGES*, DWORD, TOKEN_PRIVILEGES*, DWORD*);
using SHGetKnownFolderPathFn = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, wchar_t**);

// The address is looked up once; ntdll is loaded in every process and never unloaded.
RtlGetVersionFn CachedRtlGetVersion() {
    static bool looked = false;
    static RtlGetVersionFn address = nullptr;
    if (!looked) {
        address = LookupProc<RtlGetVersionFn>(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
        looked = true;
    }
    return address;
}

}  // namespace

bool Windows10FromRtl(bool rtlPresent, LONG rtlStatus, DWORD rtlMajor) {
    if (!rtlPresent || rtlStatus != 0) return true;
    return rtlMajor == 10;
}

OsVersionClass ClassifyOsVersion(bool windows10, bool versionKnown, DWORD major, DWORD minor) {
    if (windows10) return OS_WIN10;
    if (!versionKnown) return OS_OTHER;
    if (major == 5) return minor == 1 ? OS_XP : OS_OTHER;
    if (major == 6) {
        switch (minor) {
        case 0: return OS_VISTA;
        case 1: return OS_WIN7;
        case 2: return OS_WIN8;
        default: return OS_OTHER;
        }
    }
    return OS_OTHER;
}

bool IsWindows10() {
    RtlGetVersionFn rtlGetVersion = CachedRtlGetVersion();
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    LONG status = rtlGetVersion ? rtlGetVersion(reinterpret_cast<OSVERSIONINFOW*>(&info)) : 0;
    return Windows10FromRtl(rtlGetVersion != nullptr, status, info.dwMajorVersion);
}

OsVersionClass GetOsVersionClass() {
    if (IsWindows10()) return OS_WIN10;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    bool known = ::GetVersionExW(&info) != FALSE;
    return ClassifyOsVersion(false, known, info.dwMajorVersion, info.dwMinorVersion);
}

bool QueryRegString(HKEY root, REGSAM extraAccess, std::wstring& text, const std::wstring& subKey,
                    const std::wstring& valueName, DWORD& type) {
    try {
        UniqueRegKey key;
        if (::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ | extraAccess | kRegistry32View, key.out()) !=
            ERROR_SUCCESS)
            return false;
        type = 0;
        DWORD byteSize = 0;
        LONG status = ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, nullptr, &byteSize);
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return false;
        // Twice the byte size, zeroed: the data always ends in zero characters.
        std::vector<wchar_t> buffer(static_cast<size_t>(byteSize) + 1, L'\0');
        DWORD valueType = 0;
        DWORD readSize = byteSize;
        if (::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &valueType,
                               reinterpret_cast<BYTE*>(buffer.data()), &readSize) != ERROR_SUCCESS)
            return false;
        switch (valueType) {
        case REG_SZ: text.assign(buffer.data()); break;
        case REG_EXPAND_SZ:
        case REG_MULTI_SZ: text.assign(buffer.data(), (static_cast<size_t>(byteSize) + 1) / 2); break;
        default: break;
        }
        type = valueType;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::wstring GetRegString(const std::wstring& subKey, const std::wstring& valueName, HKEY root) {
    std::wstring text;
    DWORD type = 0;
    if (!QueryRegString(root, 0, text, subKey, valueName, type)) return std::wstring();
    return text;
}

DWORD FindProcessByName(const std::wstring& name) {
    if (name.empty()) return 0;
    UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (::lstrcmpiW(entry.szExeFile, name.c_str()) == 0) return entry.th32ProcessID;
    }
    return 0;
}

std::wstring GetProcessUserName(DWORD processId) {
    try {
        if (processId == 0) processId = ::GetCurrentProcessId();
        EnablePrivilege(L"SeDebugPrivilege");
        UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
        if (!process) return std::wstring();
        UniqueHandle token;
        if (!::OpenProcessToken(process.get(), TOKEN_QUERY, token.out())) return std::wstring();
        DWORD size = 0;
        if (!::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size) &&
            ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return std::wstring();
        if (size == 0) return std::wstring();
        std::vector<BYTE> info(size);
        if (!::GetTokenInformation(token.get(), TokenUser, info.data(), size, &size)) return std::wstring();
        const TOKEN_USER* user = reinterpret_cast<const TOKEN_USER*>(info.data());
        wchar_t name[MAX_PATH] = {};
        wchar_t domain[MAX_PATH] = {};
        DWORD nameSize = MAX_PATH, domainSize = MAX_PATH;
        SID_NAME_USE use;
        if (!::LookupAccountSidW(nullptr, user->User.Sid, name, &nameSize, domain, &domainSize, &use))
            return std::wstring();
        return name;
    } catch (const std::exception&) {
        return std::wstring();
    }
}

bool EnablePrivilege(const std::wstring& name) {
    // The load hands out the module with its count raised, so the release
    // below is balanced either way.
    UniqueModule advapi(LoadSystemLibrary(L"advapi32.dll"));
    if (!advapi) return false;
    auto openProcessToken = LookupProc<OpenProcessTokenFn>(advapi.get(), "OpenProcessToken");
    auto lookupPrivilegeValue = LookupProc<LookupPrivilegeValueWFn>(advapi.get(), "LookupPrivilegeValueW");
    auto adjustTokenPrivileges = LookupProc<AdjustTokenPrivilegesFn>(advapi.get(), "AdjustTokenPrivileges");
    if (!openProcessToken || !lookupPrivilegeValue || !adjustTokenPrivileges) return false;

    UniqueHandle token;
    if (!openProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.out())) return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!lookupPrivilegeValue(nullptr, name.c_str(), &privileges.Privileges[0].Luid)) return false;
    // Adjusted twice with the same request, as the installer always has: the
    // second call changes nothing, and the result (both calls succeeded) is
    // what its callers and tests have always been given.
    bool first = adjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) != FALSE;
    bool second = adjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) != FALSE;
    return first && second;
}

HMODULE GetOrLoadModule(const std::wstring& name) {
    if (name.empty()) return nullptr;
    HMODULE module = ::GetModuleHandleW(name.c_str());
    if (!module) module = LoadSystemLibrary(name.c_str());
    return module;
}

std::wstring GetKnownFolderPath(const GUID& folderId) {
    try {
        UniqueModule shell(LoadSystemLibrary(L"shell32.dll"));
        auto getKnownFolderPath = LookupProc<SHGetKnownFolderPathFn>(shell.get(), "SHGetKnownFolderPath");
        if (!getKnownFolderPath) return std::wstring();
        // Freed whatever the result: the call may hand out memory even when it fails.
        UniqueCoTaskMem<wchar_t> path;
        HRESULT hr = getKnownFolderPath(folderId, 0, nullptr, path.out());
        if (FAILED(hr) || !path) return std::wstring();
        return std::wstring(path.get());
    } catch (const std::exception&) {
        return std::wstring();
    }
}

bool RunProcess(const std::wstring& commandLine, const std::wstring& applicationName,
                const std::wstring& currentDirectory, bool show, bool inheritHandles, bool wait, DWORD timeoutMs,
                DWORD* threadId, DWORD* processId, DWORD* exitCode) {
    try {
        // The command line is handed over whole: one the system cannot take
        // is refused rather than cut into a different command.
        const size_t length = ::lstrlenW(commandLine.c_str());
        if (length > kMaxCommandLineChars) return false;
        std::vector<wchar_t> buffer(commandLine.c_str(), commandLine.c_str() + length);
        buffer.push_back(L'\0');

        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(show ? SW_SHOW : SW_HIDE);
        PROCESS_INFORMATION info = {};
        if (!::CreateProcessW(applicationName.empty() ? nullptr : applicationName.c_str(), buffer.data(), nullptr,
                              nullptr, inheritHandles ? TRUE : FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                              currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &info))
            return false;
        UniqueHandle process(info.hProcess);
        UniqueHandle thread(info.hThread);

        bool ok = true;
        if (wait && ::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) ok = false;
        if (exitCode && !::GetExitCodeProcess(process.get(), exitCode)) ok = false;
        if (ok) {
            if (threadId) *threadId = info.dwThreadId;
            if (processId) *processId = info.dwProcessId;
        }
        return ok;
    } catch (const std::exception&) {
        return false;
    }
}

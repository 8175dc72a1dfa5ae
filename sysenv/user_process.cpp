#include "sysenv/user_process.h"

#include <exdisp.h>
#include <objbase.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <vector>

#include "sysenv/system_helpers.h"
#include "util/com_ptr.h"
#include "util/com_scope.h"
#include "util/owned.h"
#include "util/variant.h"

namespace {

using WTSGetActiveConsoleSessionIdFn = DWORD(WINAPI*)();
using WTSQueryUserTokenFn = BOOL(WINAPI*)(ULONG, HANDLE*);
using CreateEnvironmentBlockFn = BOOL(WINAPI*)(void**, HANDLE, BOOL);
using DestroyEnvironmentBlockFn = BOOL(WINAPI*)(void*);

// An environment block of a user's token, released when it goes.
class UserEnvironment {
public:
    explicit UserEnvironment(HANDLE token) {
        HMODULE userenv = GetOrLoadModule(L"userenv.dll");
        auto create = LookupProc<CreateEnvironmentBlockFn>(userenv, "CreateEnvironmentBlock");
        destroy_ = LookupProc<DestroyEnvironmentBlockFn>(userenv, "DestroyEnvironmentBlock");
        if (create && destroy_ && !create(&block_, token, FALSE)) block_ = nullptr;
    }
    ~UserEnvironment() {
        if (block_ && destroy_) destroy_(block_);
    }
    UserEnvironment(const UserEnvironment&) = delete;
    UserEnvironment& operator=(const UserEnvironment&) = delete;
    void* get() const { return block_; }

private:
    void* block_ = nullptr;
    DestroyEnvironmentBlockFn destroy_ = nullptr;
};

UniqueHandle OwnToken() {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, token.out())) return UniqueHandle();
    return token;
}

bool IsSystemToken(HANDLE token) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0) return false;
    std::vector<BYTE> info(size);
    if (!::GetTokenInformation(token, TokenUser, info.data(), size, &size)) return false;
    return ::IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid, WinLocalSystemSid) != FALSE;
}

// TokenElevationTypeDefault/Full/Limited; 0 where the system has no elevation.
int ElevationType(HANDLE token) {
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size)) return 0;
    return static_cast<int>(type);
}

// The limited twin of an elevated token as a primary token; empty when the
// system gives none that can start a process.
UniqueHandle LimitedTwin(HANDLE token) {
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size)) return UniqueHandle();
    UniqueHandle twin(linked.LinkedToken);
    UniqueHandle primary;
    if (!::DuplicateTokenEx(twin.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, primary.out()))
        return UniqueHandle();
    return primary;
}

std::wstring CommandLine(const std::wstring& program, const std::wstring& arguments) {
    std::wstring line = L"\"" + program + L"\"";
    if (!arguments.empty()) line += L" " + arguments;
    return line;
}

// Start-up information with the show-window flag set to `show` (negative:
// the program's own choice).
STARTUPINFOW StartupInfo(int show) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (show >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(show);
    }
    return startup;
}

bool StartWithToken(HANDLE token, const std::wstring& program, const std::wstring& arguments,
                    const std::wstring& folder, int show) {
    std::wstring line = CommandLine(program, arguments);
    UserEnvironment environment(token);
    STARTUPINFOW startup = StartupInfo(show);
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION info = {};
    const DWORD flags = environment.get() ? CREATE_UNICODE_ENVIRONMENT : 0;
    if (!::CreateProcessAsUserW(token, program.c_str(), &line[0], nullptr, nullptr, FALSE, flags, environment.get(),
                                folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return false;
    UniqueHandle process(info.hProcess), thread(info.hThread);
    return true;
}

bool StartDirectly(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder, int show) {
    return static_cast<bool>(StartProcess(program, arguments, folder, show));
}

// The automation object of the desktop shell's folder view; empty when there
// is no desktop shell (none runs, or it does not answer).
CComPtr<IShellDispatch2> DesktopShell() {
    CComPtr<IShellWindows> windows;
    if (FAILED(
            ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.outVoid())))
        return CComPtr<IShellDispatch2>();
    CVariant location(static_cast<long>(0));  // CSIDL_DESKTOP
    CVariant empty;
    long window = 0;
    CComPtr<IDispatch> found;
    if (windows->FindWindowSW(location.get(), empty.get(), SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, found.out()) !=
            S_OK ||
        !found)
        return CComPtr<IShellDispatch2>();
    CComPtr<IServiceProvider> provider;
    CComPtr<IShellBrowser> browser;
    CComPtr<IShellView> view;
    CComPtr<IDispatch> background;
    CComPtr<IShellFolderViewDual> folderView;
    CComPtr<IDispatch> application;
    CComPtr<IShellDispatch2> shell;
    if (FAILED(found->QueryInterface(IID_IServiceProvider, provider.outVoid())) ||
        FAILED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.outVoid())) ||
        FAILED(browser->QueryActiveShellView(view.out())) ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.outVoid())) ||
        FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.outVoid())) ||
        FAILED(folderView->get_Application(application.out())) ||
        FAILED(application->QueryInterface(IID_IShellDispatch2, shell.outVoid())))
        return CComPtr<IShellDispatch2>();
    return shell;
}

// Asks the desktop shell (which runs unelevated as the user) to start the
// program, so that it runs as the shell does.
// The shell runs in a folder of its own, so "no folder" is passed on as this
// process's current folder, which a process started here would inherit.
bool StartThroughShell(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder,
                       int show) {
    if (!::GetShellWindow()) return false;
    std::wstring where = folder;
    if (where.empty()) {
        std::vector<wchar_t> current(::GetCurrentDirectoryW(0, nullptr) + 1);
        const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data());
        if (length == 0 || length >= current.size()) return false;
        where.assign(current.data(), length);
    }
    CComScope com(CComScope::kApartment);
    CComPtr<IShellDispatch2> shell = DesktopShell();
    if (!shell) return false;
    UniqueBstr file(::SysAllocString(program.c_str()));
    CVariant args(arguments.c_str()), directory(where.c_str()), operation(L"open"), showState(static_cast<long>(show));
    return file && SUCCEEDED(shell->ShellExecute(file.get(), *args, *directory, *operation, *showState));
}

bool StartForConsoleUser(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder,
                         int show) {
    HMODULE kernel = GetOrLoadModule(L"kernel32.dll");
    HMODULE wts = GetOrLoadModule(L"wtsapi32.dll");
    auto consoleSession = LookupProc<WTSGetActiveConsoleSessionIdFn>(kernel, "WTSGetActiveConsoleSessionId");
    auto queryUserToken = LookupProc<WTSQueryUserTokenFn>(wts, "WTSQueryUserToken");
    if (!consoleSession || !queryUserToken) return false;
    EnablePrivilege(L"SeTcbPrivilege");
    UniqueHandle user;
    if (!queryUserToken(consoleSession(), user.out())) return false;
    // The session's token may itself be an elevated administrator's.
    if (ElevationType(user.get()) == TokenElevationTypeFull) {
        UniqueHandle twin = LimitedTwin(user.get());
        if (!twin) return false;
        return StartWithToken(twin.get(), program, arguments, folder, show);
    }
    return StartWithToken(user.get(), program, arguments, folder, show);
}

}  // namespace

ProcessRights GetProcessRights() {
    UniqueHandle token = OwnToken();
    if (!token) return ProcessRights::kOrdinary;
    if (IsSystemToken(token.get())) return ProcessRights::kSystem;
    switch (ElevationType(token.get())) {
    case TokenElevationTypeFull: return ProcessRights::kElevated;
    case TokenElevationTypeDefault: return IsProcessElevated() ? ProcessRights::kFullAdmin : ProcessRights::kOrdinary;
    default: return ProcessRights::kOrdinary;
    }
}

bool IsProcessElevated() {
    UniqueHandle token = OwnToken();
    if (!token) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) return false;
    return elevation.TokenIsElevated != 0;
}

bool StartAsInteractiveUser(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder,
                            int show) {
    try {
        switch (GetProcessRights()) {
        case ProcessRights::kOrdinary:
        case ProcessRights::kFullAdmin: return StartDirectly(program, arguments, folder, show);
        case ProcessRights::kSystem: return StartForConsoleUser(program, arguments, folder, show);
        case ProcessRights::kElevated: {
            if (StartThroughShell(program, arguments, folder, show)) return true;
            UniqueHandle own = OwnToken();
            UniqueHandle twin = own ? LimitedTwin(own.get()) : UniqueHandle();
            return twin && StartWithToken(twin.get(), program, arguments, folder, show);
        }
        }
        return false;
    } catch (...) {
        return false;
    }
}

bool OpenAsInteractiveUser(const std::wstring& target) {
    try {
        switch (GetProcessRights()) {
        case ProcessRights::kOrdinary:
        case ProcessRights::kFullAdmin:
            return reinterpret_cast<INT_PTR>(
                       ::ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
        case ProcessRights::kElevated:
        case ProcessRights::kSystem: {
            // The shell's own "open" of the target, run by a process of the
            // user's: the system's rundll32 calls it there.
            wchar_t system[MAX_PATH] = {};
            const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
            if (length == 0 || length >= MAX_PATH) return false;
            return StartAsInteractiveUser(std::wstring(system) + L"\\rundll32.exe",
                                          L"shell32.dll,ShellExec_RunDLL " + target, std::wstring(), SW_SHOWNORMAL);
        }
        }
        return false;
    } catch (...) {
        return false;
    }
}

UniqueHandle StartProcess(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder,
                          int show) {
    std::wstring line = CommandLine(program, arguments);
    STARTUPINFOW startup = StartupInfo(show);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return UniqueHandle();
    UniqueHandle thread(info.hThread);
    return UniqueHandle(info.hProcess);
}

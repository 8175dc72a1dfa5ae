#include "uninstall/handover.h"

#include <shellapi.h>

#include <vector>

#include "install/private_folder.h"
#include "util/path.h"
#include "qv_product.h"

namespace {

const wchar_t kCopyName[] = QV_UNINSTALLER_EXE;

using QueryFullProcessImageNameWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

// Missing before Vista; the image is then not compared.
QueryFullProcessImageNameWFn ImageNameQuery() {
    static const auto query = reinterpret_cast<QueryFullProcessImageNameWFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    return query;
}

std::wstring UpperFullPath(const std::wstring& path) {
    std::wstring full = FullPath(path);
    if (!full.empty()) ::CharUpperBuffW(&full[0], static_cast<DWORD>(full.size()));
    return full;
}

unsigned long long CreationTime(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

std::wstring RandomProbeName() {
    wchar_t name[64];
    ::wsprintfW(name, L"~qv%08lx%08lx.tmp", ::GetCurrentProcessId(), ::GetTickCount());
    return name;
}

}  // namespace

const wchar_t kCopyFolderPrefix[] = QV_PRODUCT_NAME L"-uninstall-";

std::wstring OwnProgramPath() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD got = ::GetModuleFileNameW(nullptr, &name[0], static_cast<DWORD>(name.size()));
        if (got == 0) return std::wstring();
        if (got < name.size()) {
            name.resize(got);
            return name;
        }
        if (name.size() >= 32768) return std::wstring();
        name.resize(name.size() * 2);
    }
}

std::wstring SystemFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT got = ::GetSystemDirectoryW(buffer, MAX_PATH);
    return got == 0 || got > MAX_PATH ? std::wstring() : std::wstring(buffer, got);
}

bool CanWriteFolder(const std::wstring& folder) {
    const std::wstring probe = folder + L"\\" + RandomProbeName();
    UniqueFile file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                  nullptr));
    return static_cast<bool>(file);
}

ElevatedRun RunElevated(const std::wstring& program, const std::wstring& arguments, DWORD& exitCode) {
    const std::wstring folder = SystemFolder();
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = arguments.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info))
        return ::GetLastError() == ERROR_CANCELLED ? ElevatedRun::kDeclined : ElevatedRun::kFailed;
    UniqueHandle process(info.hProcess);
    if (!process) return ElevatedRun::kFailed;
    ::WaitForSingleObject(process.get(), INFINITE);
    return ::GetExitCodeProcess(process.get(), &exitCode) ? ElevatedRun::kRan : ElevatedRun::kFailed;
}

bool RunCopyAndWait(const std::wstring& program, const std::wstring& tempFolder, const std::wstring& arguments,
                    DWORD& exitCode) {
    // Open to this account alone (to Administrators when elevated) and held
    // against renaming while the copy runs from it. When the copy ends this
    // process, the folder is left behind for the copy to hand to the system.
    CPrivateFolder folder;
    if (!folder.Create(tempFolder, kCopyFolderPrefix)) return false;
    const std::wstring copy = folder.Path() + L"\\" + kCopyName;
    if (!::CopyFileW(program.c_str(), copy.c_str(), TRUE)) return false;
    std::wstring line = L"\"" + copy + L"\" " + arguments;
    const std::wstring current = SystemFolder();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(copy.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                          current.empty() ? nullptr : current.c_str(), &startup, &started))
        return false;
    UniqueHandle process(started.hProcess), thread(started.hThread);
    thread.reset();
    ::WaitForSingleObject(process.get(), INFINITE);
    return ::GetExitCodeProcess(process.get(), &exitCode) != FALSE;
}

UniqueHandle OpenHandoverProcess(DWORD processId, const std::wstring& image, DWORD access) {
    if (processId == 0 || processId == ::GetCurrentProcessId()) return UniqueHandle();
    const auto query = ImageNameQuery();
    const DWORD queryRight = query ? 0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */ : PROCESS_QUERY_INFORMATION;
    UniqueHandle process(::OpenProcess(access | SYNCHRONIZE | queryRight, FALSE, processId));
    if (!process) return UniqueHandle();
    // A process started after this one cannot be the one that started it.
    const unsigned long long theirs = CreationTime(process.get()), ours = CreationTime(::GetCurrentProcess());
    if (theirs == 0 || ours == 0 || theirs > ours) return UniqueHandle();
    if (query) {
        std::vector<wchar_t> name(32768);
        DWORD size = static_cast<DWORD>(name.size());
        if (!query(process.get(), 0, name.data(), &size)) return UniqueHandle();
        if (UpperFullPath(std::wstring(name.data(), size)) != UpperFullPath(image)) return UniqueHandle();
    }
    return process;
}

void WaitForProcess(const UniqueHandle& process, DWORD timeoutMs) {
    if (process) ::WaitForSingleObject(process.get(), timeoutMs);
}

void LeaveOwnFilesForRestart() {
    const std::wstring self = OwnProgramPath();
    if (self.empty()) return;
    // The file first: at restart the folder can only go once it is empty.
    ::MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    const std::wstring folder = self.substr(0, self.find_last_of(L'\\'));
    const std::wstring name = folder.substr(folder.find_last_of(L'\\') + 1);
    if (name.compare(0, ::lstrlenW(kCopyFolderPrefix), kCopyFolderPrefix) == 0)
        ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

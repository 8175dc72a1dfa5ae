#include "uninstall/handover.h"

#include <shellapi.h>

#include <cstring>
#include <vector>

#include "contract/private_folder.h"
#include "sysenv/user_process.h"
#include "util/path.h"
#include "util/restart_deletion.h"
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

UniqueFile OpenOwnImage(const std::wstring& self) {
    if (self.empty()) return UniqueFile();
    // Nobody may write to or rename the file while it is held; where the
    // system will not grant that beside the running image, renaming is
    // allowed, as the handle keeps reading the same file whatever its name.
    for (DWORD share : {DWORD(FILE_SHARE_READ), DWORD(FILE_SHARE_READ | FILE_SHARE_DELETE)}) {
        UniqueFile file(
            ::CreateFileW(self.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return file;
    }
    return UniqueFile();
}

namespace {

bool Rewind(HANDLE file) {
    LARGE_INTEGER start = {};
    return ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

// Writes the whole content of `source` into the new file `path`.
bool CopyContent(HANDLE source, const std::wstring& path) {
    if (!Rewind(source)) return false;
    UniqueFile target(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) return false;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        DWORD got = 0, written = 0;
        if (!::ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
        if (got == 0) return true;
        if (!::WriteFile(target.get(), buffer.data(), got, &written, nullptr) || written != got) return false;
    }
}

// Whether two open files hold the same bytes.
bool SameContent(HANDLE a, HANDLE b) {
    if (!Rewind(a) || !Rewind(b)) return false;
    std::vector<char> left(1 << 16), right(1 << 16);
    for (;;) {
        DWORD gotLeft = 0, gotRight = 0;
        if (!::ReadFile(a, left.data(), static_cast<DWORD>(left.size()), &gotLeft, nullptr) ||
            !::ReadFile(b, right.data(), static_cast<DWORD>(right.size()), &gotRight, nullptr) || gotLeft != gotRight)
            return false;
        if (gotLeft == 0) return true;
        if (std::memcmp(left.data(), right.data(), gotLeft) != 0) return false;
    }
}

}  // namespace

bool RunCopyAndWait(HANDLE image, const std::wstring& tempFolder, const std::wstring& arguments, DWORD& exitCode) {
    if (!image || image == INVALID_HANDLE_VALUE) return false;
    // Open to this account alone (to Administrators when elevated) and held
    // against renaming while the copy runs from it. When the copy ends this
    // process, the folder is left behind for the copy to hand to the system.
    CPrivateFolder folder;
    if (!folder.Create(tempFolder, kCopyFolderPrefix)) return false;
    const std::wstring copy = folder.Path() + L"\\" + kCopyName;
    // The copy is made from the file this process opened when it started,
    // never from its path again (a program put there meanwhile is not
    // copied), then held against writing while it is checked against that
    // file and started.
    if (!CopyContent(image, copy)) return false;
    UniqueFile check(::CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!check || !SameContent(image, check.get())) return false;
    UniqueHandle process = StartProcess(copy, arguments, SystemFolder());
    if (!process) return false;
    check.reset();
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
    // The running copy leaves its folder (a temporary folder that a program
    // of the user could rename) for one that no such program can touch, and
    // goes from there at restart; its own folder, empty now, goes at once.
    if (!DeleteAtRestart(self)) return;
    const std::wstring folder = self.substr(0, self.find_last_of(L'\\'));
    const std::wstring name = folder.substr(folder.find_last_of(L'\\') + 1);
    if (name.compare(0, ::lstrlenW(kCopyFolderPrefix), kCopyFolderPrefix) == 0) ::RemoveDirectoryW(folder.c_str());
}

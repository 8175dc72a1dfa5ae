#include "test_support.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "util/owned.h"

namespace qvtest {

TempDir::TempDir() {
    static unsigned counter = 0;
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring base(temp);
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    for (;;) {
        wchar_t name[64];
        ::wsprintfW(name, L"\\qvtest-%lx-%x-%x", ::GetCurrentProcessId(), ++counter, ::GetTickCount());
        path_ = base + name;
        if (::CreateDirectoryW(path_.c_str(), nullptr)) break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create temp folder");
    }
}

TempDir::~TempDir() { RemoveTree(path_); }

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw std::runtime_error("cannot create test file");
    DWORD written = 0;
    if (!bytes.empty() &&
        (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
         written != bytes.size()))
        throw std::runtime_error("cannot write test file");
}

std::string ReadBytes(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) throw std::runtime_error("cannot open test file");
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return bytes;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static void ListInto(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &data));
    if (!find) return;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out.push_back(relative + name + (folder ? L"\\" : L""));
        // A copy: the list grows below, which moves its elements.
        const std::wstring entry = out.back();
        if (folder && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ListInto(root, entry, out);
    } while (::FindNextFileW(find.get(), &data));
}

std::vector<std::wstring> ListTree(const std::wstring& root) {
    std::vector<std::wstring> out;
    ListInto(root, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

unsigned long long LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

namespace {

std::wstring Quoted(const std::string& utf8) {
    int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? size - 1 : 0, L'\0');
    if (size > 1) ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], size);
    return L"\"" + wide + L"\"";
}

}  // namespace

std::string HostPath(const std::wstring& path) {
    using ToUnixFn = char*(__cdecl*)(const wchar_t*);
    static const auto toUnix = reinterpret_cast<ToUnixFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return std::string();
    char* unix = toUnix(path.c_str());
    if (!unix) return std::string();
    std::string result(unix);
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return result;
}

ChildProcess::ChildProcess(const std::wstring& commandLine, const std::wstring& folder, const std::wstring& output) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    UniqueFile out;
    if (!output.empty()) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        out.reset(::CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
        if (!out) return;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = out.get();
    }
    std::wstring line = commandLine;  // CreateProcessW may write into it
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, out ? TRUE : FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &info))
        return;
    process_.reset(info.hProcess);
    UniqueHandle thread(info.hThread);
    id_ = info.dwProcessId;
}

ChildProcess::~ChildProcess() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) End();
}

int ChildProcess::Wait(DWORD timeoutMs) {
    if (!process_ || ::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    return ::GetExitCodeProcess(process_.get(), &code) ? static_cast<int>(code) : -1;
}

bool ChildProcess::WaitForEvent(HANDLE event, DWORD timeoutMs) {
    if (!process_) return false;
    HANDLE waits[2] = {event, process_.get()};
    return ::WaitForMultipleObjects(2, waits, FALSE, timeoutMs) == WAIT_OBJECT_0;
}

void ChildProcess::End(UINT exitCode) {
    if (!process_) return;
    ::TerminateProcess(process_.get(), exitCode);
    ::WaitForSingleObject(process_.get(), INFINITE);
}

int RunAndWait(const std::wstring& commandLine, const std::wstring& folder, DWORD timeoutMs,
               const std::wstring& output) {
    ChildProcess child(commandLine, folder, output);
    return child.Wait(timeoutMs);
}

bool RunHostProgram(const std::wstring& commandLine, const std::function<bool()>& done, DWORD timeoutMs) {
    RunAndWait(commandLine);
    for (DWORD waited = 0; !done(); waited += 25) {
        if (waited >= timeoutMs) return false;
        ::Sleep(25);
    }
    return true;
}

bool MakeLink(const std::wstring& link, const std::wstring& target) {
    const std::string hostLink = HostPath(link), hostTarget = HostPath(target);
    if (!hostLink.empty() && !hostTarget.empty()) {
        RunHostProgram(L"/bin/ln -s -- " + Quoted(hostTarget) + L" " + Quoted(hostLink), [&] { return Exists(link); });
    } else {
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        DWORD flags = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
        ::CreateSymbolicLinkW(link.c_str(), target.c_str(), flags);
    }
    return ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

UniqueModule PlaceLoadedImage(const std::wstring& path) {
    wchar_t self[MAX_PATH] = {};
    const DWORD got = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (got == 0 || got >= MAX_PATH || !::CopyFileW(self, path.c_str(), FALSE)) return UniqueModule();
    return UniqueModule(::LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
}

bool HostRename(const std::wstring& from, const std::wstring& to) {
    const std::string hostFrom = HostPath(from), hostTo = HostPath(to);
    if (!hostFrom.empty() && !hostTo.empty())
        RunHostProgram(L"/bin/mv -T -- " + Quoted(hostFrom) + L" " + Quoted(hostTo), [&] { return Exists(to); });
    else
        ::MoveFileExW(from.c_str(), to.c_str(), 0);
    return Exists(to);
}

void RemoveLink(const std::wstring& link) {
    const std::string hostLink = HostPath(link);
    if (!hostLink.empty()) {
        RunHostProgram(L"/bin/rm -f -- " + Quoted(hostLink), [&] { return !Exists(link); });
        return;
    }
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::RemoveDirectoryW(link.c_str());  // on Windows this removes the link itself
    } else {
        ::DeleteFileW(link.c_str());
    }
}

void RemoveTree(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    // Under Wine every Windows call reaches through a link; the host's own
    // removal takes links as links.
    const std::string host = HostPath(path);
    if (!host.empty()) {
        RunHostProgram(L"/bin/rm -rf -- " + Quoted(host), [&] { return !Exists(path); });
        return;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveLink(path);
        return;
    }
    ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW((path + L"\\*").c_str(), &data));
    if (find) {
        do {
            std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
        } while (::FindNextFileW(find.get(), &data));
    }
    find.reset();
    ::RemoveDirectoryW(path.c_str());
}

}  // namespace qvtest

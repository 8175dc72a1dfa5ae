#include "uninstall_test_support.h"

#include "contract/install_record.h"
#include "sysenv/uninstall_entry.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <stdexcept>

#include "util/md5.h"
#include "test_support.h"
#include "uninstall/handover.h"
#include "uninstall/removal.h"
#include "util/com_ptr.h"
#include "util/path.h"
#include "util/text.h"

namespace uninstalltest {

namespace {

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

std::wstring Upper(std::wstring text) {
    if (!text.empty()) ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The raw list: texts in pairs (source, destination; an empty destination deletes).
std::vector<std::wstring> ReadPending() {
    std::vector<std::wstring> texts;
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS)
        return texts;
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.get(), kPendingValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size == 0)
        return texts;
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key.get(), kPendingValue, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
        ERROR_SUCCESS)
        return texts;
    data.resize(size / sizeof(wchar_t));
    // Texts end with a NUL each; the list ends with an empty text.
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find(L'\0', start);
        if (end == std::wstring::npos) end = data.size();
        texts.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    while (texts.size() % 2 != 0 && !texts.empty() && texts.back().empty()) texts.pop_back();
    return texts;
}

void WritePending(const std::vector<std::wstring>& texts) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.out()) != ERROR_SUCCESS) return;
    if (texts.empty()) {
        ::RegDeleteValueW(key.get(), kPendingValue);
        return;
    }
    std::wstring data;
    for (const std::wstring& text : texts) data += text + L'\0';
    data += L'\0';
    ::RegSetValueExW(key.get(), kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                     static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

using QueryFullProcessImageNameWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);

std::wstring ImageOf(DWORD pid) {
    static const auto query = reinterpret_cast<QueryFullProcessImageNameWFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    UniqueHandle process(::OpenProcess(0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE, pid));
    if (!process || !query) return std::wstring();
    wchar_t name[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    return query(process.get(), 0, name, &size) ? std::wstring(name, size) : std::wstring();
}

bool CopyRunning() {
    UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    const std::wstring marker = Upper(std::wstring(L"\\") + kCopyFolderPrefix);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (Upper(ImageOf(entry.th32ProcessID)).find(marker) != std::wstring::npos) return true;
    }
    return false;
}

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder(temp);
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

}  // namespace

void Installation::AddFile(const std::wstring& relative, const std::string& content) {
    std::wstring parent, name;
    SplitDirAndName(folder + L"\\" + relative, parent, name);
    CreateDirectoryTree(parent);
    qvtest::WriteBytes(folder + L"\\" + relative, content);
    ListFile(relative);
}

void Installation::AddFolder(const std::wstring& relative) {
    CreateDirectoryTree(folder + L"\\" + relative);
    items.push_back(PayloadItem{relative, true, 0, false, 0, ""});
}

void Installation::ListFile(const std::wstring& relative) {
    const std::wstring path = folder + L"\\" + relative;
    const std::string bytes = qvtest::ReadBytes(path);
    items.push_back(PayloadItem{relative, false, bytes.size(), false, 0, DigestFile(path)});
}

void Installation::WriteManifest() const {
    if (!::WriteManifest(ManifestPath(folder), items)) throw std::runtime_error("cannot write the manifest");
    // The installer records the digest of every manifest it writes; the
    // uninstaller goes by no other.
    InstallRecord record;
    record.folder = FullPath(folder);
    record.manifestMd5 = DigestFile(ManifestPath(folder));
    if (!WriteInstallRecord(record)) throw std::runtime_error("cannot record the manifest");
}

Installation MakeInstallation(const std::wstring& folder, bool withUninstaller) {
    Installation installation;
    installation.folder = folder;
    CreateDirectoryTree(folder);
    installation.AddFile(L"ImgShell.exe", std::string(5000, 'v'));
    installation.AddFile(L"welcome.png", "\x89PNG picture");
    installation.AddFolder(L"plugins");
    installation.AddFile(L"plugins\\codec.dll", std::string(3000, 'c'));
    installation.AddFolder(L"plugins\\cache");
    if (withUninstaller) {
        ::CopyFileW((ModuleFolder() + L"\\Uninstall.exe").c_str(), (folder + L"\\Uninstall.exe").c_str(), FALSE);
        installation.ListFile(L"Uninstall.exe");
    }
    installation.WriteManifest();
    return installation;
}

std::vector<std::wstring> TreeOf(const std::wstring& folder) { return qvtest::ListTree(folder); }

void WriteUninstallEntry(const std::wstring& installLocation) {
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, UninstallEntryKeyName().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          key.out(), nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot write the uninstall entry");
    ::RegSetValueExW(key.get(), L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Quiview"),
                     sizeof L"Quiview");
    ::RegSetValueExW(key.get(), L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(installLocation.c_str()),
                     static_cast<DWORD>((installLocation.size() + 1) * sizeof(wchar_t)));
}

bool UninstallEntryExists() {
    UniqueRegKey key;
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, UninstallEntryKeyName().c_str(), 0, KEY_QUERY_VALUE, key.out()) ==
           ERROR_SUCCESS;
}

void DeleteUninstallEntry() { ::RegDeleteKeyW(HKEY_CURRENT_USER, UninstallEntryKeyName().c_str()); }

bool MakeShortcut(const std::wstring& shortcut, const std::wstring& target) {
    CComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.outVoid())))
        return false;
    link->SetPath(target.c_str());
    CComPtr<IPersistFile> file;
    return SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.outVoid())) &&
           SUCCEEDED(file->Save(shortcut.c_str(), TRUE));
}

int PendingIndexOf(const std::wstring& tail) {
    const std::vector<std::wstring> texts = ReadPending();
    const std::wstring wanted = Upper(tail);
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::wstring text = Upper(texts[i]);
        if (text.size() >= wanted.size() && text.compare(text.size() - wanted.size(), wanted.size(), wanted) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

void ForgetPendingRenames(const std::wstring& part) {
    const std::vector<std::wstring> texts = ReadPending();
    const std::wstring wanted = Upper(part);
    std::vector<std::wstring> kept;
    for (size_t i = 0; i + 1 < texts.size(); i += 2) {
        if (Upper(texts[i]).find(wanted) != std::wstring::npos) continue;
        kept.push_back(texts[i]);
        kept.push_back(texts[i + 1]);
    }
    if (kept.size() != texts.size()) WritePending(kept);
}

UniqueModule PlaceLoadedImage(const std::wstring& path) { return qvtest::PlaceLoadedImage(path); }

bool WaitForUninstallCopies() {
    for (int i = 0; i < 1200; ++i) {
        if (!CopyRunning()) return true;
        ::Sleep(50);
    }
    return false;
}

std::vector<std::wstring> CopyFolders() {
    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW data;
    const std::wstring temp = TempFolder();
    UniqueFind find(::FindFirstFileW((temp + L"\\" + kCopyFolderPrefix + L"*").c_str(), &data));
    if (!find) return folders;
    do {
        folders.push_back(temp + L"\\" + data.cFileName);
    } while (::FindNextFileW(find.get(), &data));
    return folders;
}

void RemoveCopyFolders() {
    WaitForUninstallCopies();
    for (const std::wstring& folder : CopyFolders()) qvtest::RemoveTree(folder);
    ForgetPendingRenames(kCopyFolderPrefix);
}

namespace {

// Writability probes (see CanWriteFolder) left in a folder: one caught
// between its creation and the folder turning immutable cannot go any more.
std::vector<std::wstring> ProbesIn(const std::wstring& folder) {
    std::vector<std::wstring> probes;
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW((folder + L"\\~qv*.tmp").c_str(), &data));
    if (!find) return probes;
    do probes.push_back(folder + L"\\" + data.cFileName);
    while (::FindNextFileW(find.get(), &data));
    return probes;
}

bool ChangeImmutable(const std::string& host, const std::wstring& folder, bool immutable) {
    return qvtest::RunHostProgram(
        std::wstring(L"/usr/bin/chattr ") + (immutable ? L"+i" : L"-i") + L" \"" + Utf8ToWide(host) + L"\"",
        [&] { return CanWriteFolder(folder) != immutable; });
}

}  // namespace

bool SetFolderImmutable(const std::wstring& folder, bool immutable) {
    const std::string host = qvtest::HostPath(folder);
    if (host.empty()) return false;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!ChangeImmutable(host, folder, immutable)) return false;
        if (!immutable || ProbesIn(folder).empty()) return true;
        // A probe was caught by the change: undo it, clear the probe, again.
        if (!ChangeImmutable(host, folder, false)) return false;
        for (const std::wstring& probe : ProbesIn(folder)) ::DeleteFileW(probe.c_str());
    }
    return false;
}

ComApartment::ComApartment() : ok_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
ComApartment::~ComApartment() {
    if (ok_) ::CoUninitialize();
}

}  // namespace uninstalltest

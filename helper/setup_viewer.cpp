// ImgKit.dll: installs the viewer from the extracted payload into the
// installation folder on a thread of its own, reporting progress in percent.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <memory>
#include <string>
#include <vector>

#include "install/payload_items.h"
#include "install/setup_viewer_api.h"
#include "util/com_ptr.h"
#include "util/crc32.h"
#include "util/owned.h"
#include "util/path.h"

namespace {

const wchar_t kProductName[] = L"Quiview";
const wchar_t kViewerExe[] = L"ImgShell.exe";
const wchar_t kVersion[] = L"1.0.1";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quiview";

// The helper itself is part of the payload but not of the installation.
const wchar_t kHelperName[] = L"ImgKit.dll";
const DWORD kCopyChunk = 1 << 20;

struct Job {
    std::wstring payloadFolder;
    std::wstring installFolder;
    int32_t flags = 0;
    QvIntCallback status{};
    QvIntCallback progress{};

    void Status(int32_t code) const {
        if (status.invoke) status.invoke(status.context, code);
    }
    void Progress(int32_t percent) const {
        if (progress.invoke) progress.invoke(progress.context, percent);
    }
};

struct PlannedFile {
    PayloadItem item;
    std::wstring source;
    std::wstring target;
};

// Reports the share of bytes copied as whole percents in [0, 95], each one
// passed on the way (so that a page reacting to one value, such as 50, sees
// it whatever the sizes), never falling back and never beyond 95; the last
// points are for the shortcut and the uninstall entry.
class ByteProgress {
public:
    ByteProgress(const Job& job, unsigned long long total) : job_(job), total_(total) {}
    void Advance(unsigned long long copiedInAll) {
        if (copiedInAll > total_) copiedInAll = total_;
        const int percent = total_ == 0 ? 95 : static_cast<int>(copiedInAll * 95 / total_);
        while (last_ < percent) job_.Progress(++last_);
    }

private:
    const Job& job_;
    unsigned long long total_;
    int last_ = 0;
};

bool IsHelperItself(const PayloadItem& item) {
    return !item.isFolder && ::CompareStringOrdinal(item.path.c_str(), -1, kHelperName, -1, TRUE) == CSTR_EQUAL;
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

// Copies one planned file by its own loop, checking the bytes against the
// archive's size and checksum as they pass: what lands in the installation
// folder is exactly what the archive holds, whatever happened to the
// extracted file since. The target is always a new file of its own.
bool CopyChecked(const PlannedFile& file, std::vector<char>& buffer, ByteProgress& progress,
                 unsigned long long doneBefore) {
    if (!IsPlainFile(file.source) || PathHasLink(file.source)) return false;
    UniqueFile in(::CreateFileW(file.source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) return false;
    // A target in use (a running viewer) is moved aside for deletion at restart;
    // a link in its place is never written through.
    if (!DeleteFileForced(file.target, true) || FileExists(file.target)) return false;
    UniqueFile out(::CreateFileW(file.target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    if (!out) return false;
    std::uint32_t crc = 0;
    unsigned long long copied = 0;
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        copied += got;
        if (copied > file.item.size) {  // grown since the extraction: not the archive's file
            ok = false;
            break;
        }
        crc = Crc32Update(crc, buffer.data(), got);
        DWORD written = 0;
        if (!::WriteFile(out.get(), buffer.data(), got, &written, nullptr) || written != got) {
            ok = false;
            break;
        }
        progress.Advance(doneBefore + copied);
    }
    ok = ok && copied == file.item.size && (!file.item.hasCrc || crc == file.item.crc);
    if (ok) {
        FILETIME created, accessed, modified;
        if (::GetFileTime(in.get(), &created, &accessed, &modified))
            ::SetFileTime(out.get(), nullptr, nullptr, &modified);
    }
    out.reset();
    if (!ok) {
        ::DeleteFileW(file.target.c_str());
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(file.source.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        ::SetFileAttributesW(file.target.c_str(),
                             attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    return true;
}

bool CreateDesktopShortcut(const std::wstring& viewer, const std::wstring& folder) {
    wchar_t desktop[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                  desktop)))
        return false;
    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.outVoid())))
        return false;
    link->SetPath(viewer.c_str());
    link->SetWorkingDirectory(folder.c_str());
    link->SetIconLocation(viewer.c_str(), 0);
    link->SetDescription(kProductName);
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.outVoid()))) return false;
    const std::wstring shortcut = std::wstring(desktop) + L"\\" + kProductName + L".lnk";
    return SUCCEEDED(file->Save(shortcut.c_str(), TRUE));
}

bool SetText(HKEY key, const wchar_t* name, const std::wstring& value) {
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WriteUninstallEntry(const std::wstring& viewer, const std::wstring& folder) {
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.out(),
                          nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = SetText(key.get(), L"DisplayName", kProductName);
    ok = SetText(key.get(), L"DisplayVersion", kVersion) && ok;
    ok = SetText(key.get(), L"Publisher", kProductName) && ok;
    ok = SetText(key.get(), L"DisplayIcon", viewer) && ok;
    ok = SetText(key.get(), L"InstallLocation", folder) && ok;
    DWORD one = 1;
    ok = ::RegSetValueExW(key.get(), L"NoModify", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one) ==
             ERROR_SUCCESS &&
         ok;
    return ok;
}

BOOL CALLBACK PostQuitToInstaller(HWND window, LPARAM) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t cls[64] = {};
    if (process == ::GetCurrentProcessId() && ::GetClassNameW(window, cls, 64) &&
        ::lstrcmpW(cls, QV_INSTALLER_WINDOW_CLASS) == 0)
        ::PostMessageW(window, QV_WM_INSTALL_QUIT, 0, 0);
    return TRUE;
}

// The viewer could not be installed: tell the user, then let the installer end.
void FailInstallation(const Job& job, int32_t status) {
    job.Status(status);
    ::MessageBoxW(nullptr, L"\u5b89\u88c5\u5931\u8d25", kProductName, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
    ::EnumWindows(PostQuitToInstaller, 0);
}

void RunInstallation(const Job& job) {
    job.Progress(0);
    // Exactly the items the installer extracted, never anything else that
    // may lie in the payload folder.
    std::vector<PayloadItem> items;
    if (!ReadPayloadItems(PayloadItemListPath(job.payloadFolder), items))
        return FailInstallation(job, QV_SETUP_NO_PAYLOAD);
    std::vector<PlannedFile> plan;
    std::vector<std::wstring> folders;
    bool hasViewer = false;
    unsigned long long total = 0;
    for (const PayloadItem& item : items) {
        if (IsHelperItself(item)) continue;
        const std::wstring target = job.installFolder + L"\\" + item.path;
        if (item.isFolder) {
            folders.push_back(target);
            continue;
        }
        plan.push_back({item, job.payloadFolder + L"\\" + item.path, target});
        total += item.size;
        if (::CompareStringOrdinal(item.path.c_str(), -1, kViewerExe, -1, TRUE) == CSTR_EQUAL) hasViewer = true;
    }
    if (!hasViewer) return FailInstallation(job, QV_SETUP_NO_PAYLOAD);
    // Nothing is written through a link: not into a folder that one leads
    // to, not below one.
    if (PathHasLink(job.installFolder) || !CreateDirectoryTree(job.installFolder))
        return FailInstallation(job, QV_SETUP_CANNOT_CREATE_FOLDER);

    for (const std::wstring& folder : folders)
        if (PathHasLink(folder) || !CreateDirectoryTree(folder))
            return FailInstallation(job, QV_SETUP_CANNOT_CREATE_FOLDER);
    ByteProgress progress(job, total);
    std::vector<char> buffer(kCopyChunk);
    unsigned long long done = 0;
    for (const PlannedFile& file : plan) {
        std::wstring folder, name;
        if (!SplitDirAndName(file.target, folder, name) || PathHasLink(folder) || !CreateDirectoryTree(folder))
            return FailInstallation(job, QV_SETUP_CANNOT_CREATE_FOLDER);
        if (!CopyChecked(file, buffer, progress, done)) return FailInstallation(job, QV_SETUP_COPY_FAILED);
        done += file.item.size;
        progress.Advance(done);
    }

    const std::wstring viewer = job.installFolder + L"\\" + kViewerExe;
    if (job.flags & INSTALL_FLAG_DESKTOP_SHORTCUT) {
        const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (!CreateDesktopShortcut(viewer, job.installFolder)) job.Status(QV_SETUP_SHORTCUT_FAILED);
        if (SUCCEEDED(com)) ::CoUninitialize();
    }
    for (int percent = 96; percent <= 97; ++percent) job.Progress(percent);
    if (!WriteUninstallEntry(viewer, job.installFolder)) job.Status(QV_SETUP_REGISTRY_FAILED);
    for (int percent = 98; percent <= 99; ++percent) job.Progress(percent);
    job.Status(QV_SETUP_OK);
    job.Progress(100);
}

DWORD WINAPI InstallationThread(void* parameter) {
    std::unique_ptr<Job> job(static_cast<Job*>(parameter));
    RunInstallation(*job);
    return 0;
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl SetupViewer(const wchar_t* payloadFolder, const wchar_t* installFolder,
                                                         int32_t flags, QvIntCallback status,
                                                         QvIntCallback progress) {
    std::unique_ptr<Job> job(new Job);
    job->flags = flags;
    job->status = status;
    job->progress = progress;
    if (!payloadFolder || !installFolder || !*payloadFolder || !*installFolder) {
        job->Status(QV_SETUP_BAD_ARGUMENTS);
        return;
    }
    // The texts are valid only during this call: the job keeps its own copies.
    job->payloadFolder = WithoutTrailingSeparators(payloadFolder);
    job->installFolder = WithoutTrailingSeparators(installFolder);
    UniqueHandle thread(::CreateThread(nullptr, 0, InstallationThread, job.get(), 0, nullptr));
    if (thread) {
        job.release();  // the thread owns it now
        return;
    }
    RunInstallation(*job);  // no thread to be had: install on the caller's
}

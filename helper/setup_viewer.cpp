// ImgKit.dll: installs the viewer from the extracted payload into the
// installation folder on a thread of its own, reporting progress in percent.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <memory>
#include <string>
#include <vector>

#include "install/setup_viewer_api.h"
#include "util/com_ptr.h"
#include "util/owned.h"
#include "util/path.h"

namespace {

const wchar_t kProductName[] = L"Quiview";
const wchar_t kViewerExe[] = L"ImgShell.exe";
const wchar_t kVersion[] = L"1.0.1";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quiview";

// Files of the payload folder that belong to the installation, not to the viewer.
const wchar_t* const kNotInstalled[] = {L"payload.7z", L"ImgKit.dll"};

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
    std::wstring source;
    std::wstring target;
    unsigned long long size;
};

// Reports the share of bytes copied as a rising percentage in [0, 95]; the
// last five points are for the shortcut and the uninstall entry.
class ByteProgress {
public:
    ByteProgress(const Job& job, unsigned long long total) : job_(job), total_(total) {}
    void Advance(unsigned long long copiedInAll) {
        int percent = total_ == 0 ? 95 : static_cast<int>(copiedInAll * 95 / total_);
        if (percent > last_) {
            last_ = percent;
            job_.Progress(percent);
        }
    }

private:
    const Job& job_;
    unsigned long long total_;
    int last_ = -1;
};

struct CopyState {
    ByteProgress* progress;
    unsigned long long doneBefore;  // bytes of the files copied before this one
};

DWORD CALLBACK CopyProgressRoutine(LARGE_INTEGER, LARGE_INTEGER transferred, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                                   DWORD, HANDLE, HANDLE, LPVOID data) {
    auto* state = static_cast<CopyState*>(data);
    state->progress->Advance(state->doneBefore + static_cast<unsigned long long>(transferred.QuadPart));
    return PROGRESS_CONTINUE;
}

bool IsInstalled(const std::wstring& relative) {
    for (const wchar_t* name : kNotInstalled)
        if (::lstrcmpiW(relative.c_str(), name) == 0) return false;
    return true;
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

std::vector<PlannedFile> PlanCopy(const Job& job) {
    std::vector<PlannedFile> plan;
    PathList files;
    ListEntries(job.payloadFolder, files, false, true);
    for (const std::wstring& source : files) {
        const std::wstring relative = source.substr(job.payloadFolder.size() + 1);
        if (!IsInstalled(relative)) continue;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!::GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &data)) continue;
        const unsigned long long size =
            (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        plan.push_back({source, job.installFolder + L"\\" + relative, size});
    }
    return plan;
}

bool CopyPlanned(const std::vector<PlannedFile>& plan, ByteProgress& progress) {
    unsigned long long total = 0;
    bool allCopied = true;
    for (const PlannedFile& file : plan) {
        std::wstring folder, name;
        if (SplitDirAndName(file.target, folder, name)) CreateDirectoryTree(folder);
        // A target in use (a running viewer) is moved aside for deletion at restart.
        DeleteFileForced(file.target, true);
        CopyState state{&progress, total};
        if (!::CopyFileExW(file.source.c_str(), file.target.c_str(), CopyProgressRoutine, &state, nullptr, 0))
            allCopied = false;
        total += file.size;
        progress.Advance(total);
    }
    return allCopied;
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
    std::vector<PlannedFile> plan = PlanCopy(job);
    bool hasViewer = false;
    unsigned long long total = 0;
    for (const PlannedFile& file : plan) {
        total += file.size;
        std::wstring folder, name;
        if (SplitDirAndName(file.source, folder, name) && ::lstrcmpiW(name.c_str(), kViewerExe) == 0) hasViewer = true;
    }
    if (!hasViewer) return FailInstallation(job, QV_SETUP_NO_PAYLOAD);
    if (!CreateDirectoryTree(job.installFolder)) return FailInstallation(job, QV_SETUP_CANNOT_CREATE_FOLDER);

    ByteProgress progress(job, total);
    if (!CopyPlanned(plan, progress)) return FailInstallation(job, QV_SETUP_COPY_FAILED);

    const std::wstring viewer = job.installFolder + L"\\" + kViewerExe;
    if (job.flags & INSTALL_FLAG_DESKTOP_SHORTCUT) {
        const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (!CreateDesktopShortcut(viewer, job.installFolder)) job.Status(QV_SETUP_SHORTCUT_FAILED);
        if (SUCCEEDED(com)) ::CoUninitialize();
    }
    job.Progress(97);
    if (!WriteUninstallEntry(viewer, job.installFolder)) job.Status(QV_SETUP_REGISTRY_FAILED);
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
    job->Status(QV_SETUP_THREAD_FAILED);
    RunInstallation(*job);  // no thread to be had: install on the caller's
}

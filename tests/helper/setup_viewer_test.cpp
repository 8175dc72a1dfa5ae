#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "install/setup_viewer_api.h"
#include "test_support.h"
#include "util/owned.h"
#include "util/path.h"

using qvtest::Exists;
using qvtest::ReadBytes;
using qvtest::TempDir;
using qvtest::WriteBytes;

namespace {

// Records what the helper reports; signals when it reports 100 or a failure.
struct Reports {
    std::mutex lock;
    std::vector<int> progress;
    std::vector<int> status;
    std::vector<DWORD> progressThreads;
    UniqueHandle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

    static void __cdecl OnProgress(void* self, int32_t value) {
        auto* r = static_cast<Reports*>(self);
        std::lock_guard<std::mutex> guard(r->lock);
        r->progress.push_back(value);
        r->progressThreads.push_back(::GetCurrentThreadId());
        if (value == 100) ::SetEvent(r->done.get());
    }
    static void __cdecl OnStatus(void* self, int32_t value) {
        auto* r = static_cast<Reports*>(self);
        std::lock_guard<std::mutex> guard(r->lock);
        r->status.push_back(value);
        if (value != QV_SETUP_OK && value != QV_SETUP_SHORTCUT_FAILED && value != QV_SETUP_REGISTRY_FAILED)
            ::SetEvent(r->done.get());
    }
};

class Helper {
public:
    Helper() : module_(::LoadLibraryW((ModuleFolder() + L"\\ImgKit.dll").c_str())) {
        if (module_)
            entry_ = reinterpret_cast<SetupViewerFn>(
                reinterpret_cast<void*>(::GetProcAddress(module_.get(), QV_SETUP_VIEWER_EXPORT)));
    }
    bool loaded() const { return entry_ != nullptr; }
    void Run(const std::wstring& payload, const std::wstring& install, int flags, Reports& reports) {
        entry_(payload.c_str(), install.c_str(), flags, QvIntCallback{&Reports::OnStatus, &reports},
               QvIntCallback{&Reports::OnProgress, &reports});
    }

private:
    UniqueModule module_;
    SetupViewerFn entry_ = nullptr;
};

std::wstring DesktopShortcut() {
    wchar_t desktop[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop);
    return std::wstring(desktop) + L"\\Quiview.lnk";
}

std::wstring UninstallValue(const wchar_t* name) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quiview", 0,
                        KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS)
        return L"<missing>";
    wchar_t value[1024] = {};
    DWORD size = sizeof value - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
        return L"<missing>";
    return value;
}

// Leaves no shortcut or uninstall entry behind.
struct CleanUserState {
    CleanUserState() { Clean(); }
    ~CleanUserState() { Clean(); }
    static void Clean() {
        ::DeleteFileW(DesktopShortcut().c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quiview");
    }
};

void MakePayload(const std::wstring& payload) {
    CreateDirectoryTree(payload + L"\\samples");
    WriteBytes(payload + L"\\ImgShell.exe", std::string(300000, 'v'));
    WriteBytes(payload + L"\\samples\\welcome.png", std::string(700000, 'p'));
    WriteBytes(payload + L"\\readme.txt", "hello");
    WriteBytes(payload + L"\\payload.7z", "staged archive");
    ::CopyFileW((ModuleFolder() + L"\\ImgKit.dll").c_str(), (payload + L"\\ImgKit.dll").c_str(), FALSE);
}

// Waits for the helper's message box, reads its text and presses OK.
std::wstring DismissMessageBox() {
    for (int i = 0; i < 600; ++i) {
        HWND box = ::FindWindowW(L"#32770", L"Quiview");
        if (box) {
            wchar_t text[256] = {};
            ::GetDlgItemTextW(box, 0xFFFF, text, 256);
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            return text;
        }
        ::Sleep(50);
    }
    return L"<no message box>";
}

}  // namespace

TEST(SetupViewer, InstallsTheViewerWithProgressShortcutAndEntry) {
    CleanUserState clean;
    TempDir dir;
    const std::wstring payload = dir / L"payload\\1.0.1";
    const std::wstring install = dir / L"Program Files\\Quiview";
    MakePayload(payload);
    Helper helper;
    ASSERT_TRUE(helper.loaded());
    Reports reports;
    helper.Run(payload + L"\\", install, INSTALL_FLAG_DESKTOP_SHORTCUT | INSTALL_FLAG_JOIN_PLAN, reports);
    ASSERT_EQ(::WaitForSingleObject(reports.done.get(), 60000), WAIT_OBJECT_0);

    EXPECT_EQ(ReadBytes(install + L"\\ImgShell.exe"), std::string(300000, 'v'));
    EXPECT_EQ(ReadBytes(install + L"\\samples\\welcome.png"), std::string(700000, 'p'));
    EXPECT_EQ(ReadBytes(install + L"\\readme.txt"), "hello");
    EXPECT_FALSE(Exists(install + L"\\payload.7z"));
    EXPECT_FALSE(Exists(install + L"\\ImgKit.dll"));

    std::lock_guard<std::mutex> guard(reports.lock);
    ASSERT_FALSE(reports.progress.empty());
    EXPECT_EQ(reports.progress.back(), 100);
    for (size_t i = 1; i < reports.progress.size(); ++i) EXPECT_GT(reports.progress[i], reports.progress[i - 1]);
    // Reported from the helper's own thread.
    EXPECT_NE(reports.progressThreads.back(), ::GetCurrentThreadId());
    EXPECT_EQ(reports.status, (std::vector<int>{QV_SETUP_OK}));

    EXPECT_TRUE(Exists(DesktopShortcut()));
    EXPECT_EQ(UninstallValue(L"DisplayIcon"), install + L"\\ImgShell.exe");
    EXPECT_EQ(UninstallValue(L"DisplayVersion"), L"1.0.1");
    EXPECT_EQ(UninstallValue(L"DisplayName"), L"Quiview");
    EXPECT_EQ(UninstallValue(L"InstallLocation"), install);
}

TEST(SetupViewer, NoShortcutWithoutTheFlagAndReinstallOverRunningViewer) {
    CleanUserState clean;
    TempDir dir;
    const std::wstring payload = dir / L"payload";
    const std::wstring install = dir / L"Quiview";
    MakePayload(payload);
    // The installed viewer is running: its image is mapped and cannot be deleted.
    CreateDirectoryTree(install);
    ASSERT_TRUE(::CopyFileW((ModuleFolder() + L"\\ImgKit.dll").c_str(), (install + L"\\ImgShell.exe").c_str(), FALSE));
    UniqueModule running(::LoadLibraryExW((install + L"\\ImgShell.exe").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
    ASSERT_TRUE(running);

    Helper helper;
    Reports reports;
    helper.Run(payload, install, 0, reports);
    ASSERT_EQ(::WaitForSingleObject(reports.done.get(), 60000), WAIT_OBJECT_0);
    EXPECT_EQ(ReadBytes(install + L"\\ImgShell.exe"), std::string(300000, 'v'));
    EXPECT_FALSE(Exists(DesktopShortcut()));
    std::lock_guard<std::mutex> guard(reports.lock);
    EXPECT_EQ(reports.status, (std::vector<int>{QV_SETUP_OK}));
    EXPECT_EQ(reports.progress.back(), 100);
}

TEST(SetupViewer, PayloadWithoutViewerIsReportedToTheUser) {
    CleanUserState clean;
    TempDir dir;
    const std::wstring payload = dir / L"payload";
    CreateDirectoryTree(payload);
    WriteBytes(payload + L"\\readme.txt", "no viewer here");
    Helper helper;
    Reports reports;
    helper.Run(payload, dir / L"Quiview", INSTALL_FLAG_DESKTOP_SHORTCUT, reports);
    EXPECT_EQ(DismissMessageBox(), L"\u5b89\u88c5\u5931\u8d25");
    ASSERT_EQ(::WaitForSingleObject(reports.done.get(), 60000), WAIT_OBJECT_0);
    std::lock_guard<std::mutex> guard(reports.lock);
    EXPECT_EQ(reports.status, (std::vector<int>{QV_SETUP_NO_PAYLOAD}));
    // Never reported as complete; nothing installed.
    for (int p : reports.progress) EXPECT_LT(p, 100);
    EXPECT_FALSE(Exists(dir / L"Quiview\\readme.txt"));
    EXPECT_FALSE(Exists(DesktopShortcut()));
    EXPECT_EQ(UninstallValue(L"DisplayIcon"), L"<missing>");
}

TEST(SetupViewer, MissingArgumentsAreRefused) {
    Helper helper;
    Reports reports;
    helper.Run(L"", L"C:\\x", 0, reports);
    std::lock_guard<std::mutex> guard(reports.lock);
    EXPECT_EQ(reports.status, (std::vector<int>{QV_SETUP_BAD_ARGUMENTS}));
    EXPECT_TRUE(reports.progress.empty());
}

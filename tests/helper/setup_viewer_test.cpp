#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "contract/install_record.h"
#include "contract/payload_items.h"
#include "contract/setup_viewer_api.h"
#include "test_support.h"
#include "util/crc32.h"
#include "util/md5.h"
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

// The real ImgKit.dll, loaded once and never released: as in the installer,
// its threads may still run after they reported.
class Helper {
public:
    Helper() {
        static HMODULE module = ::LoadLibraryW((ModuleFolder() + L"\\ImgKit.dll").c_str());
        if (module)
            entry_ = reinterpret_cast<SetupViewerFn>(
                reinterpret_cast<void*>(::GetProcAddress(module, QV_SETUP_VIEWER_EXPORT)));
    }
    bool loaded() const { return entry_ != nullptr; }
    void Run(const std::wstring& payload, const std::wstring& install, int flags, Reports& reports) {
        entry_(payload.c_str(), install.c_str(), flags, QvIntCallback{&Reports::OnStatus, &reports},
               QvIntCallback{&Reports::OnProgress, &reports});
    }

private:
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

DWORD UninstallNumber(const wchar_t* name) {
    DWORD value = 0, size = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quiview", name,
                       RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return 0xFFFFFFFF;
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

PayloadItem FileItem(const std::wstring& payload, const std::wstring& relative) {
    const std::string bytes = ReadBytes(payload + L"\\" + relative);
    return PayloadItem{relative, false, bytes.size(), true, Crc32Update(0, bytes.data(), bytes.size()), ""};
}

// A payload folder as the installer leaves it: the extracted files and,
// beside the folder, the list of what the extraction wrote.
void MakePayload(const std::wstring& payload, bool withViewer = true) {
    CreateDirectoryTree(payload + L"\\samples");
    CreateDirectoryTree(payload + L"\\empty\\inner");
    if (withViewer) WriteBytes(payload + L"\\ImgShell.exe", std::string(300000, 'v'));
    WriteBytes(payload + L"\\samples\\welcome.png", std::string(700000, 'p'));
    WriteBytes(payload + L"\\readme.txt", "hello");
    ::CopyFileW((ModuleFolder() + L"\\ImgKit.dll").c_str(), (payload + L"\\ImgKit.dll").c_str(), FALSE);
    std::vector<PayloadItem> items;
    for (const wchar_t* name : {L"ImgKit.dll", L"ImgShell.exe", L"readme.txt"})
        if (withViewer || std::wstring(name) != L"ImgShell.exe") items.push_back(FileItem(payload, name));
    items.push_back(PayloadItem{L"samples", true, 0, false, 0, ""});
    items.push_back(FileItem(payload, L"samples\\welcome.png"));
    items.push_back(PayloadItem{L"empty\\inner", true, 0, false, 0, ""});
    ::DeleteFileW(PayloadItemListPath(payload).c_str());
    ASSERT_TRUE(WritePayloadItems(PayloadItemListPath(payload), items));
}

// Waits for the helper's message box, reads its text, presses OK and waits
// until the box is gone (so that the next one found is a new one).
std::wstring DismissMessageBox() {
    for (int i = 0; i < 600; ++i) {
        HWND box = ::FindWindowW(L"#32770", L"Quiview");
        wchar_t text[256] = {};
        if (box && ::GetDlgItemTextW(box, 0xFFFF, text, 256) > 0) {
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
            for (int j = 0; j < 600 && ::IsWindow(box); ++j) ::Sleep(20);
            return text;
        }
        ::Sleep(50);
    }
    return L"<no message box>";
}

// Every file below a folder with its content, for "nothing changed" checks.
std::vector<std::pair<std::wstring, std::string>> Contents(const std::wstring& folder) {
    std::vector<std::pair<std::wstring, std::string>> out;
    for (const std::wstring& name : qvtest::ListTree(folder))
        if (name.back() == L'\\') {
            out.emplace_back(name, std::string());
        } else {
            out.emplace_back(name, ReadBytes(folder + L"\\" + name));
        }
    return out;
}

// Runs the helper and waits until it reported its end; the status codes.
std::vector<int> Install(Helper& helper, const std::wstring& payload, const std::wstring& install, int flags,
                         bool expectMessage) {
    Reports reports;
    helper.Run(payload, install, flags, reports);
    if (expectMessage) {
        EXPECT_EQ(DismissMessageBox(), L"\u5b89\u88c5\u5931\u8d25");
    }
    EXPECT_EQ(::WaitForSingleObject(reports.done.get(), 60000), WAIT_OBJECT_0);
    std::lock_guard<std::mutex> guard(reports.lock);
    return reports.status;
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
    EXPECT_TRUE(qvtest::IsFolder(install + L"\\empty\\inner"));
    EXPECT_FALSE(Exists(install + L"\\ImgKit.dll"));

    // Every whole percent once, in order, up to 100.
    std::lock_guard<std::mutex> guard(reports.lock);
    std::vector<int> every;
    for (int i = 0; i <= 100; ++i) every.push_back(i);
    EXPECT_EQ(reports.progress, every);
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
    MakePayload(payload, false);
    WriteBytes(payload + L"\\ImgShell.exe", "found in the folder, but not an item of the archive");
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

// Only the archive's items are installed, exactly as the archive holds them;
// nothing goes through a link.
TEST(SetupViewer, InstallsExactlyTheListedItemsAndNothingThroughALink) {
    CleanUserState clean;
    TempDir dir;
    const std::wstring payload = dir / L"payload";
    MakePayload(payload);
    WriteBytes(payload + L"\\planted.dll", "left there by someone else");
    CreateDirectoryTree(payload + L"\\planted-folder");
    WriteBytes(payload + L"\\planted-folder\\x.txt", "x");
    Helper helper;
    {
        Reports reports;
        helper.Run(payload, dir / L"Quiview", 0, reports);
        ASSERT_EQ(::WaitForSingleObject(reports.done.get(), 60000), WAIT_OBJECT_0);
        EXPECT_TRUE(Exists(dir / L"Quiview\\ImgShell.exe"));
        EXPECT_FALSE(Exists(dir / L"Quiview\\planted.dll"));
        EXPECT_FALSE(Exists(dir / L"Quiview\\planted-folder"));
    }

    // An extracted file changed afterwards (here: cut short, as a killed
    // earlier run leaves it) is not installed.
    WriteBytes(payload + L"\\samples\\welcome.png", std::string(1000, 'p'));
    {
        Reports reports;
        helper.Run(payload, dir / L"Second", 0, reports);
        EXPECT_EQ(DismissMessageBox(), L"\u5b89\u88c5\u5931\u8d25");
        ASSERT_EQ(::WaitForSingleObject(reports.done.get(), 60000), WAIT_OBJECT_0);
        std::lock_guard<std::mutex> guard(reports.lock);
        EXPECT_EQ(reports.status, (std::vector<int>{QV_SETUP_COPY_FAILED}));
        EXPECT_FALSE(Exists(dir / L"Second\\samples\\welcome.png"));
    }

    // An installation folder that is a link: nothing lands where it leads.
    MakePayload(payload);
    const std::wstring victim = dir / L"victim";
    CreateDirectoryTree(victim);
    WriteBytes(victim + L"\\ImgShell.exe", "the victim's own");
    ASSERT_TRUE(qvtest::MakeLink(dir / L"Linked", victim));
    for (const std::wstring& target : {dir / L"Linked", dir / L"Linked\\Quiview"}) {
        Reports reports;
        helper.Run(payload, target, 0, reports);
        EXPECT_EQ(DismissMessageBox(), L"\u5b89\u88c5\u5931\u8d25");
        ASSERT_EQ(::WaitForSingleObject(reports.done.get(), 60000), WAIT_OBJECT_0);
        std::lock_guard<std::mutex> guard(reports.lock);
        EXPECT_EQ(reports.status, (std::vector<int>{QV_SETUP_CANNOT_CREATE_FOLDER}));
    }
    EXPECT_EQ(qvtest::ListTree(victim), std::vector<std::wstring>{L"ImgShell.exe"});
    EXPECT_EQ(ReadBytes(victim + L"\\ImgShell.exe"), "the victim's own");

    // A payload file replaced by a link to a file elsewhere is not copied.
    MakePayload(payload);
    ::DeleteFileW((payload + L"\\readme.txt").c_str());
    WriteBytes(dir / L"secret.txt", "hello");
    ASSERT_TRUE(qvtest::MakeLink(payload + L"\\readme.txt", dir / L"secret.txt"));
    {
        Reports reports;
        helper.Run(payload, dir / L"Third", 0, reports);
        EXPECT_EQ(DismissMessageBox(), L"\u5b89\u88c5\u5931\u8d25");
        ASSERT_EQ(::WaitForSingleObject(reports.done.get(), 60000), WAIT_OBJECT_0);
        EXPECT_FALSE(Exists(dir / L"Third\\readme.txt"));
    }
}

// A reinstall replaces only what the previous installation put there: the
// user's files stay, and so does a file the user changed since.
TEST(SetupViewer, ReinstallRemovesOnlyWhatWasInstalled) {
    CleanUserState clean;
    TempDir dir;
    const std::wstring payload = dir / L"payload", install = dir / L"Quiview";
    MakePayload(payload);
    Helper helper;
    ASSERT_EQ(Install(helper, payload, install, 0, false), std::vector<int>{QV_SETUP_OK});
    EXPECT_EQ(UninstallValue(L"UninstallString"), L"<missing>");  // this payload has no uninstaller
    EXPECT_EQ(UninstallValue(L"InstallDate").size(), 8u);
    EXPECT_EQ(UninstallNumber(L"EstimatedSize"), (300000u + 700000u + 5u + 1023u) / 1024u);
    EXPECT_EQ(UninstallNumber(L"NoRepair"), 1u);
    WriteBytes(install + L"\\notes.txt", "the user's");
    WriteBytes(install + L"\\readme.txt", "changed by the user");

    // The next payload no longer has readme.txt nor samples\welcome.png.
    qvtest::RemoveTree(payload);
    CreateDirectoryTree(payload);
    WriteBytes(payload + L"\\ImgShell.exe", "viewer 2");
    WriteBytes(payload + L"\\Uninstall.exe", "uninstaller");
    ::DeleteFileW(PayloadItemListPath(payload).c_str());
    ASSERT_TRUE(WritePayloadItems(PayloadItemListPath(payload),
                                  {FileItem(payload, L"ImgShell.exe"), FileItem(payload, L"Uninstall.exe")}));
    ASSERT_EQ(Install(helper, payload, install, 0, false), std::vector<int>{QV_SETUP_OK});
    // The old installation's folders went as they became empty.
    EXPECT_EQ(qvtest::ListTree(install), (std::vector<std::wstring>{L"ImgShell.exe", L"Uninstall.exe", L"manifest.lst",
                                                                    L"notes.txt", L"readme.txt"}));
    EXPECT_EQ(ReadBytes(install + L"\\notes.txt"), "the user's");
    EXPECT_EQ(ReadBytes(install + L"\\readme.txt"), "changed by the user");
    EXPECT_EQ(ReadBytes(install + L"\\ImgShell.exe"), "viewer 2");
    EXPECT_EQ(UninstallValue(L"UninstallString"), L"\"" + install + L"\\Uninstall.exe\"");
    EXPECT_EQ(UninstallValue(L"QuietUninstallString"), L"\"" + install + L"\\Uninstall.exe\" /S");
}

// Whatever fails, the previous installation stays as it was: its files, its
// manifest, its uninstall entry and its shortcut.
TEST(SetupViewer, FailedReinstallLeavesThePreviousOneIntact) {
    CleanUserState clean;
    TempDir dir;
    const std::wstring payload = dir / L"payload", install = dir / L"Quiview";
    MakePayload(payload);
    Helper helper;
    ASSERT_EQ(Install(helper, payload, install, INSTALL_FLAG_DESKTOP_SHORTCUT, false), std::vector<int>{QV_SETUP_OK});
    WriteBytes(install + L"\\notes.txt", "the user's");
    const auto before = Contents(install);
    const std::string shortcut = ReadBytes(DesktopShortcut());
    const std::wstring location = UninstallValue(L"InstallLocation"), date = UninstallValue(L"InstallDate");

    auto expectUnchanged = [&](const char* what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(Contents(install), before);
        EXPECT_EQ(ReadBytes(DesktopShortcut()), shortcut);
        EXPECT_EQ(UninstallValue(L"InstallLocation"), location);
        EXPECT_EQ(UninstallValue(L"InstallDate"), date);
    };

    // A file of the new payload is not what the archive holds (as a full
    // disk or a killed extraction leaves it): nothing is committed.
    MakePayload(payload);
    WriteBytes(payload + L"\\samples\\welcome.png", std::string(1000, 'x'));
    EXPECT_EQ(Install(helper, payload, install, INSTALL_FLAG_DESKTOP_SHORTCUT, true),
              std::vector<int>{QV_SETUP_COPY_FAILED});
    expectUnchanged("a damaged file");

    // The commit meets a folder where a file of the new installation goes:
    // what was moved in by then goes back out.
    MakePayload(payload);
    WriteBytes(payload + L"\\zz-last.txt", "new");
    std::vector<PayloadItem> items;
    ASSERT_TRUE(ReadPayloadItems(PayloadItemListPath(payload), items));
    items.push_back(FileItem(payload, L"zz-last.txt"));
    ::DeleteFileW(PayloadItemListPath(payload).c_str());
    ASSERT_TRUE(WritePayloadItems(PayloadItemListPath(payload), items));
    CreateDirectoryTree(install + L"\\zz-last.txt");
    const auto withFolder = Contents(install);
    EXPECT_EQ(Install(helper, payload, install, INSTALL_FLAG_DESKTOP_SHORTCUT, true),
              std::vector<int>{QV_SETUP_COPY_FAILED});
    EXPECT_EQ(Contents(install), withFolder);
    ::RemoveDirectoryW((install + L"\\zz-last.txt").c_str());
    expectUnchanged("a folder in the way");
    EXPECT_NE(ReadSetupLogs().back().find("aside  failed: refused, a folder stands where a file was expected"),
              std::string::npos);

    // A file of the previous installation is open without delete sharing:
    // it cannot be moved aside, and the log says which call failed on it.
    MakePayload(payload);
    {
        UniqueFile inUse(::CreateFileW((install + L"\\readme.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(inUse);
        EXPECT_EQ(Install(helper, payload, install, INSTALL_FLAG_DESKTOP_SHORTCUT, true),
                  std::vector<int>{QV_SETUP_COPY_FAILED});
    }
    expectUnchanged("a file in use");
    const std::string log = ReadSetupLogs().back();
    for (const char* line : {"stage  done", "aside  failed: NtCreateFile failed with error 32 (", "aside  rolled back",
                             "stage  rolled back", "not installed"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    EXPECT_NE(log.find("readme.txt"), std::string::npos) << log;
    EXPECT_EQ(log.find("place"), std::string::npos) << log;
    EXPECT_LE(ReadSetupLogs().size(), static_cast<size_t>(kKeptSetupLogs));
}

// The payload's list of digests gives the manifest its digests (the files are
// not read again for them) while the list is itself what the archive holds;
// the list is not installed.
TEST(SetupViewer, TheManifestTakesThePayloadsListedDigests) {
    CleanUserState clean;
    TempDir dir;
    const std::wstring payload = dir / L"payload";
    MakePayload(payload);
    const std::string listed = "0123456789abcdef0123456789abcdef";
    WriteBytes(payload + L"\\checksums.md5", listed + "  readme.txt\n");
    std::vector<PayloadItem> items;
    ASSERT_TRUE(ReadPayloadItems(PayloadItemListPath(payload), items));
    items.push_back(FileItem(payload, L"checksums.md5"));
    auto manifestDigest = [](const std::wstring& install, const wchar_t* name) {
        std::vector<PayloadItem> manifest;
        EXPECT_TRUE(ReadManifest(ManifestPath(install), manifest));
        for (const PayloadItem& item : manifest)
            if (item.path == name) return item.md5;
        return std::string("<not listed>");
    };
    Helper helper;
    for (bool intact : {true, false}) {
        SCOPED_TRACE(intact ? "the list as the archive holds it" : "the list changed since");
        if (!intact) WriteBytes(payload + L"\\checksums.md5", std::string(32, 'f') + "  readme.txt\n");
        ::DeleteFileW(PayloadItemListPath(payload).c_str());
        ASSERT_TRUE(WritePayloadItems(PayloadItemListPath(payload), items));
        const std::wstring install = dir / (intact ? L"A" : L"B");
        ASSERT_EQ(Install(helper, payload, install, 0, false), std::vector<int>{QV_SETUP_OK});
        EXPECT_EQ(manifestDigest(install, L"readme.txt"), intact ? listed : DigestFile(install + L"\\readme.txt"));
        EXPECT_EQ(manifestDigest(install, L"ImgShell.exe"), DigestFile(install + L"\\ImgShell.exe"));
        EXPECT_FALSE(Exists(install + L"\\checksums.md5"));
        MakePayload(payload);  // the files went into the installation
    }
}

TEST(SetupViewer, MissingArgumentsAreRefused) {
    Helper helper;
    Reports reports;
    helper.Run(L"", L"C:\\x", 0, reports);
    std::lock_guard<std::mutex> guard(reports.lock);
    EXPECT_EQ(reports.status, (std::vector<int>{QV_SETUP_BAD_ARGUMENTS}));
    EXPECT_TRUE(reports.progress.empty());
}

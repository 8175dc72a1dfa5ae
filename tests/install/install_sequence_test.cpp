// The install sequence without a window: the real ImgKit.dll handed a real
// payload, extracted by the genuine 7z.dll into the installer's private folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <mutex>
#include <set>

#include "archive_maker.h"
#include "util/md5.h"
#include "install/install_sequence.h"
#include "contract/private_folder.h"
#include "settings/settings_store.h"
#include "sysenv/user_folders.h"
#include "test_support.h"
#include "util/owned.h"
#include "util/path.h"
#include "util/sha256.h"

namespace {

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quiview";

// What the sequence reports through the two callbacks.
struct Recorder {
    std::mutex lock;
    std::vector<int> progress, status;
    UniqueHandle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    static void __cdecl OnStatus(void* self, int32_t value) {
        auto* r = static_cast<Recorder*>(self);
        std::lock_guard<std::mutex> guard(r->lock);
        r->status.push_back(value);
    }
    static void __cdecl OnProgress(void* self, int32_t value) {
        auto* r = static_cast<Recorder*>(self);
        std::lock_guard<std::mutex> guard(r->lock);
        r->progress.push_back(value);
        if (value == 100) ::SetEvent(r->done.get());
    }
    QvIntCallback Status() { return {&OnStatus, this}; }
    QvIntCallback Progress() { return {&OnProgress, this}; }
};

// The seal of a bundle folder as the tool writes it (zeros for a missing file).
BundleSeal SealOf(const std::wstring& bundle) {
    BundleSeal seal;
    const std::pair<Sha256Digest*, const wchar_t*> files[] = {
        {&seal.archive, L"payload.7z"}, {&seal.archiveLibrary, L"7z.dll"}, {&seal.uiLibrary, L"DuiLib.dll"}};
    for (const auto& file : files) {
        UniqueFile handle(::CreateFileW((bundle + L"\\" + file.second).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle) Sha256OfFile(handle.get(), file.first);
    }
    return seal;
}

// Private folders of installations in the temporary folder.
std::set<std::wstring> PrivateFolders() {
    std::set<std::wstring> found;
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW((CUserFolders::Instance().TempFolder() + L"\\Quiview-1.0.1-*").c_str(), &data));
    if (find) {
        do found.insert(data.cFileName);
        while (::FindNextFileW(find.get(), &data));
    }
    return found;
}

class InstallSequenceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new qvtest::TempDir();
        const std::wstring src = *root_ / L"src";
        CreateDirectoryTree(src + L"\\samples");
        CreateDirectoryTree(src + L"\\empty");
        ::CopyFileW((ModuleFolder() + L"\\ImgKit.dll").c_str(), (src + L"\\ImgKit.dll").c_str(), FALSE);
        qvtest::WriteBytes(src + L"\\ImgShell.exe", qvtest::RandomBytes(200000, 1));
        qvtest::WriteBytes(src + L"\\samples\\welcome.png", qvtest::RandomBytes(50000, 2));
        MakeBundle(L"bundle 下载", L"*");
        MakeBundle(L"no helper", L"ImgShell.exe samples");
        qvtest::WriteBytes(*root_ / L"damaged\\payload.7z",
                           qvtest::ReadBytes(*root_ / L"bundle 下载\\payload.7z").substr(0, 300));
    }
    static void MakeBundle(const std::wstring& name, const std::wstring& items) {
        const std::wstring bundle = *root_ / name;
        CreateDirectoryTree(bundle);
        ::CopyFileW((ModuleFolder() + L"\\7z.dll").c_str(), (bundle + L"\\7z.dll").c_str(), FALSE);
        // The UI library is only carried along: any content does.
        qvtest::WriteBytes(bundle + L"\\DuiLib.dll", qvtest::RandomBytes(30000, 4));
        qvtest::RunSevenZip(L"a -t7z \"" + bundle + L"\\payload.7z\" " + items, *root_ / L"src");
        if (name == L"bundle 下载") {
            CreateDirectoryTree(*root_ / L"damaged");
            for (const wchar_t* library : {L"\\7z.dll", L"\\DuiLib.dll"})
                ::CopyFileW((bundle + library).c_str(), (*root_ / L"damaged" + library).c_str(), FALSE);
        }
    }
    static void TearDownTestSuite() { delete root_; }
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        qvtest::RemoveTree(DataFolder() + L"\\config.dat");
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallKey);
    }
    static InstallOptions Options(const std::wstring& folder) {
        InstallOptions options;
        options.installFolder = folder;
        options.desktopShortcut = false;
        options.joinPlan = false;
        return options;
    }
    static qvtest::TempDir* root_;
};

qvtest::TempDir* InstallSequenceTest::root_ = nullptr;

}  // namespace

TEST_F(InstallSequenceTest, InstallsThroughAPrivateFolderThatIsGoneAfterwards) {
    const std::set<std::wstring> before = PrivateFolders();
    const std::wstring install = *root_ / L"Programs\\Quiview";
    CInstallSession session(SealOf(*root_ / L"bundle 下载"));
    Recorder recorder;
    ASSERT_EQ(session.Run(Options(install), *root_ / L"bundle 下载", recorder.Status(), recorder.Progress()),
              kInstallHandedOver);

    // A new folder of its own under the temporary folder, with a random name.
    const std::wstring privateFolder = session.PayloadFolder().substr(0, session.PayloadFolder().rfind(L'\\'));
    const std::wstring name = privateFolder.substr(privateFolder.rfind(L'\\') + 1);
    EXPECT_EQ(privateFolder, CUserFolders::Instance().TempFolder() + L"\\" + name);
    ASSERT_EQ(name.size(), 14u + 16u);
    EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 14), std::wstring::npos);
    EXPECT_EQ(before.count(name), 0u);
    EXPECT_TRUE(qvtest::Exists(privateFolder + L"\\payload.7z"));
    EXPECT_TRUE(qvtest::Exists(privateFolder + L"\\items.lst"));
    // Open to Administrators and the system only (Wine gives every process an
    // elevated token, and keeps no access list of its own: it shows the owner
    // and the system, and whether others may enter, from the host's file mode).
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW(privateFolder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, nullptr, nullptr, &descriptor),
              ERROR_SUCCESS);
    wchar_t* sddl = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                       DACL_SECURITY_INFORMATION, &sddl, nullptr));
    EXPECT_EQ(std::wstring(sddl).find(L";;;WD)"), std::wstring::npos) << sddl;  // no one else
    EXPECT_NE(std::wstring(sddl).find(L"(A;OICI;FA;;;SY)"), std::wstring::npos) << sddl;
    ::LocalFree(sddl);
    ::LocalFree(descriptor);

    ASSERT_EQ(::WaitForSingleObject(recorder.done.get(), 60000), WAIT_OBJECT_0);
    EXPECT_TRUE(session.Completed());
    EXPECT_EQ(qvtest::ListTree(install),
              (std::vector<std::wstring>{L"7z.dll", L"DuiLib.dll", L"ImgShell.exe", L"empty\\", L"manifest.lst",
                                         L"samples\\", L"samples\\welcome.png"}));
    // The manifest lists every installed file with its size and digest.
    std::vector<PayloadItem> manifest;
    ASSERT_TRUE(ReadManifest(ManifestPath(install), manifest));
    size_t files = 0;
    for (const PayloadItem& item : manifest) {
        if (item.isFolder) continue;
        ++files;
        EXPECT_EQ(item.md5, DigestFile(install + L"\\" + item.path)) << item.path.c_str();
        EXPECT_EQ(item.size, qvtest::ReadBytes(install + L"\\" + item.path).size());
    }
    EXPECT_EQ(files, 4u);
    EXPECT_EQ(qvtest::ReadBytes(install + L"\\ImgShell.exe"), qvtest::RandomBytes(200000, 1));
    EXPECT_EQ(session.InstallFolder(), install);
    EXPECT_TRUE(SettingReadsBack("join", "0"));
    EXPECT_TRUE(SettingReadsBack("channel", "30100"));
    EXPECT_TRUE(SettingReadsBack("version", "1.0.1"));
    {
        std::lock_guard<std::mutex> guard(recorder.lock);
        EXPECT_EQ(recorder.status, std::vector<int>{QV_SETUP_OK});
    }

    session.Finish(60000);
    EXPECT_FALSE(qvtest::Exists(privateFolder));
    EXPECT_EQ(PrivateFolders(), before);
}

TEST_F(InstallSequenceTest, FailuresBecomeResultsAndLeaveNoPrivateFolder) {
    const std::set<std::wstring> before = PrivateFolders();
    const std::wstring install = *root_ / L"Failed\\Quiview";
    // A bundle file that is not as sealed (a payload, 7z.dll or DuiLib.dll
    // replaced, or one missing) ends like a damaged archive, before the helper
    // library is loaded or anything is installed.
    const std::wstring good = *root_ / L"bundle 下载";
    BundleSeal otherPayload = SealOf(good), otherArchiveLibrary = SealOf(good), otherUiLibrary = SealOf(good);
    otherPayload.archive = SealOf(*root_ / L"no helper").archive;
    otherArchiveLibrary.archiveLibrary[0] ^= 1;
    otherUiLibrary.uiLibrary[31] ^= 1;
    struct Case {
        const char* what;
        std::wstring bundle;
        BundleSeal seal;
        int result;
    };
    for (const Case& c :
         {Case{"damaged archive", *root_ / L"damaged", SealOf(*root_ / L"damaged"), kInstallExtractFailed},
          Case{"no helper", *root_ / L"no helper", SealOf(*root_ / L"no helper"), kInstallHelperFailed},
          Case{"no bundle", *root_ / L"missing", SealOf(*root_ / L"missing"), kInstallExtractFailed},
          Case{"payload.7z not sealed", good, otherPayload, kInstallExtractFailed},
          Case{"7z.dll not sealed", good, otherArchiveLibrary, kInstallExtractFailed},
          Case{"DuiLib.dll not sealed", good, otherUiLibrary, kInstallExtractFailed},
          Case{"never sealed", good, BundleSeal(), kInstallExtractFailed}}) {
        SCOPED_TRACE(c.what);
        CInstallSession session(c.seal);
        Recorder recorder;
        EXPECT_EQ(session.Run(Options(install), c.bundle, recorder.Status(), recorder.Progress()), c.result);
        session.Finish(0);
        EXPECT_EQ(PrivateFolders(), before);
        EXPECT_FALSE(qvtest::Exists(install + L"\\ImgShell.exe"));
    }

    // A settings file that cannot be written stops the installation before
    // anything else happens, and says so.
    Clean();
    qvtest::RemoveTree(install);
    ASSERT_TRUE(CreateDirectoryTree(DataFolder() + L"\\config.dat"));
    CInstallSession session(SealOf(good));
    Recorder recorder;
    EXPECT_EQ(session.Run(Options(install), *root_ / L"bundle 下载", recorder.Status(), recorder.Progress()),
              kInstallSettingsFailed);
    EXPECT_EQ(recorder.status, std::vector<int>{QV_SETUP_SETTINGS_FAILED});
    EXPECT_TRUE(session.PayloadFolder().empty());
    EXPECT_FALSE(qvtest::Exists(install));
}

TEST(PrivateFolder, FreshNamesNoLinksAndItsAccessList) {
    qvtest::TempDir dir;
    CPrivateFolder first, second;
    ASSERT_TRUE(first.Create(dir.path(), L"x-"));
    ASSERT_TRUE(second.Create(dir.path() + L"\\", L"x-"));
    EXPECT_NE(first.Path(), second.Path());
    EXPECT_TRUE(qvtest::IsFolder(first.Path()));
    qvtest::WriteBytes(first.Path() + L"\\inside.txt", "x");
    const std::wstring gone = first.Path();
    EXPECT_TRUE(first.Remove());
    EXPECT_FALSE(qvtest::Exists(gone));

    // Never below a link, never below a missing folder.
    const std::wstring victim = dir / L"victim";
    CreateDirectoryTree(victim);
    ASSERT_TRUE(qvtest::MakeLink(dir / L"link", victim));
    CPrivateFolder linked;
    EXPECT_FALSE(linked.Create(dir / L"link", L"x-"));
    EXPECT_FALSE(linked.Create(dir / L"missing", L"x-"));
    EXPECT_TRUE(qvtest::ListTree(victim).empty());

    EXPECT_EQ(CPrivateFolder::AccessListFor(true, L"S-1-5-21-1-2-3-1001"), L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    EXPECT_EQ(CPrivateFolder::AccessListFor(false, L"S-1-5-21-1-2-3-1001"), L"D:P(A;OICI;FA;;;S-1-5-21-1-2-3-1001)");
}

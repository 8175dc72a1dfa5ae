// The removal itself, called in this process on installations made on disk.
#include <cctype>

#include <gtest/gtest.h>

#include <windows.h>

#include "contract/install_record.h"
#include "test_support.h"
#include "uninstall/messages.h"
#include "uninstall/removal.h"
#include "uninstall_test_support.h"
#include "util/path.h"

using qvtest::Exists;
using qvtest::ReadBytes;
using qvtest::TempDir;
using qvtest::WriteBytes;
using uninstalltest::Installation;
using uninstalltest::MakeInstallation;
using uninstalltest::TreeOf;

namespace {

using Tree = std::vector<std::wstring>;

// An installation in a temporary folder, with a data folder and a desktop of
// its own; the user's uninstall entry is cleared before and after.
class Removal : public ::testing::Test {
protected:
    void SetUp() override {
        uninstalltest::DeleteUninstallEntry();
        install = MakeInstallation(dir / L"Quiview");
        CreateDirectoryTree(dir / L"data");
        CreateDirectoryTree(dir / L"desktop");
    }
    void TearDown() override {
        uninstalltest::DeleteUninstallEntry();
        uninstalltest::ForgetPendingRenames(dir.path());
    }

    RemovalRequest Request(bool removeSettings = false) const {
        RemovalRequest request;
        request.folder = install.folder;
        request.dataFolder = dir / L"data";
        request.shortcut = dir / L"desktop\\Quiview.lnk";
        request.removeSettings = removeSettings;
        return request;
    }
    RemovalReport Remove(const RemovalRequest& request) {
        calls = 0;
        return RemoveInstallation(request, [this](const RemovalReport&) { ++calls; });
    }
    RemovalReport Remove() { return Remove(Request()); }

    TempDir dir;
    Installation install;
    uninstalltest::ComApartment com;
    int calls = 0;
};

TEST_F(Removal, ListedFilesAndTheFoldersThatBecameEmptyGoTheUsersFilesStay) {
    WriteBytes(install / L"notes.txt", "mine");
    CreateDirectoryTree(install / L"my pictures");
    WriteBytes(install / L"plugins\\my-filter.dll", "mine too");

    const RemovalReport report = Remove();
    EXPECT_EQ(ExitCodeFor(report), kExitRemoved);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(report.failed.empty());
    EXPECT_TRUE(report.folderRemains);
    // The listed cache folder went; plugins keeps the user's file; the manifest is gone.
    EXPECT_EQ(TreeOf(install.folder), (Tree{L"my pictures\\", L"notes.txt", L"plugins\\", L"plugins\\my-filter.dll"}));
    EXPECT_EQ(ReadBytes(install / L"notes.txt"), "mine");
}

TEST_F(Removal, NothingLeftTakesTheFolderToo) {
    // A read-only file goes as well.
    ::SetFileAttributesW((install / L"welcome.png").c_str(), FILE_ATTRIBUTE_READONLY);
    const RemovalReport report = Remove();
    EXPECT_EQ(ExitCodeFor(report), kExitRemoved);
    EXPECT_FALSE(report.folderRemains);
    EXPECT_FALSE(Exists(install.folder));
    EXPECT_TRUE(Exists(dir / L"data"));  // settings are not asked for
}

TEST_F(Removal, FilesChangedSinceTheInstallationAreTheUsers) {
    WriteBytes(install / L"welcome.png", "\x89PNG edited!");  // same size, other bytes
    WriteBytes(install / L"plugins\\codec.dll", "rebuilt");   // other size
    install.items[0].md5.clear();                             // ImgShell.exe: no digest to go by
    install.WriteManifest();
    const RemovalReport report = Remove();
    EXPECT_EQ(ExitCodeFor(report), kExitRemoved);
    EXPECT_EQ(report.kept.size(), 3u);
    EXPECT_EQ(TreeOf(install.folder), (Tree{L"ImgShell.exe", L"plugins\\", L"plugins\\codec.dll", L"welcome.png"}));
    EXPECT_EQ(ReadBytes(install / L"welcome.png"), "\x89PNG edited!");
}

TEST_F(Removal, LinksInTheInstallationAreLeftAndWhatTheyLeadToIsUntouched) {
    // Outside: a file with exactly the listed content, and a folder holding
    // a file named and filled as a listed one.
    const std::wstring outside = dir / L"outside";
    CreateDirectoryTree(outside + L"\\folder");
    ::CopyFileW((install / L"ImgShell.exe").c_str(), (outside + L"\\viewer.exe").c_str(), FALSE);
    ::CopyFileW((install / L"plugins\\codec.dll").c_str(), (outside + L"\\folder\\codec.dll").c_str(), FALSE);
    ::DeleteFileW((install / L"ImgShell.exe").c_str());
    qvtest::RemoveTree(install / L"plugins");
    ASSERT_TRUE(qvtest::MakeLink(install / L"ImgShell.exe", outside + L"\\viewer.exe"));
    ASSERT_TRUE(qvtest::MakeLink(install / L"plugins", outside + L"\\folder"));

    const RemovalReport report = Remove();
    EXPECT_EQ(ExitCodeFor(report), kExitRemoved);
    EXPECT_TRUE(Exists(install / L"ImgShell.exe"));
    EXPECT_TRUE(Exists(install / L"plugins"));
    EXPECT_EQ(TreeOf(outside), (Tree{L"folder\\", L"folder\\codec.dll", L"viewer.exe"}));
    EXPECT_EQ(ReadBytes(outside + L"\\viewer.exe"), std::string(5000, 'v'));
    EXPECT_FALSE(Exists(install / L"welcome.png"));
    qvtest::RemoveLink(install / L"ImgShell.exe");
    qvtest::RemoveLink(install / L"plugins");
}

TEST_F(Removal, AnInstallationReachedThroughALinkIsNotTouched) {
    ASSERT_TRUE(qvtest::MakeLink(dir / L"via", install.folder));
    RemovalRequest request = Request();
    request.folder = dir / L"via";
    const Tree before = TreeOf(install.folder);
    const RemovalReport report = Remove(request);
    EXPECT_TRUE(report.throughLink);
    EXPECT_EQ(ExitCodeFor(report), kExitIncomplete);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(TreeOf(install.folder), before);
    qvtest::RemoveLink(dir / L"via");
}

TEST_F(Removal, NoManifestOrADamagedOneIsNoInstallation) {
    const std::wstring manifest = ManifestPath(install.folder);
    ::DeleteFileW(manifest.c_str());
    uninstalltest::WriteUninstallEntry(install.folder);
    Tree before = TreeOf(install.folder);
    RemovalReport report = Remove();
    EXPECT_EQ(ExitCodeFor(report), kExitNotInstalled);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(TreeOf(install.folder), before);
    EXPECT_TRUE(uninstalltest::UninstallEntryExists());

    WriteBytes(manifest, "QVMANIFEST 1\nF\t5000\t\t");  // cut short
    before = TreeOf(install.folder);
    EXPECT_EQ(ExitCodeFor(Remove()), kExitNotInstalled);
    EXPECT_EQ(TreeOf(install.folder), before);

    // A path listed twice (in another letter case): not a list this product wrote.
    install.WriteManifest();
    std::string listed = ReadBytes(manifest);
    const size_t first = listed.find('\n') + 1, second = listed.find('\n', first) + 1;
    std::string twice = listed.substr(first, second - first);
    for (size_t i = twice.rfind('\t') + 1; i < twice.size(); ++i)
        twice[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(twice[i])));
    ASSERT_NE(twice, listed.substr(first, second - first)) << "the path has letters to change";
    WriteBytes(manifest, listed + twice);
    before = TreeOf(install.folder);
    EXPECT_EQ(ExitCodeFor(Remove()), kExitNotInstalled);
    EXPECT_EQ(TreeOf(install.folder), before);
    EXPECT_FALSE(HasInstallation(install.folder));
    EXPECT_EQ(ExitCodeFor(RemoveInstallation(Request(), nullptr)), kExitNotInstalled);
}

TEST_F(Removal, AFileInUseGoesAtRestartFromAFolderNoUserCanRename) {
    const std::wstring viewer = install / L"ImgShell.exe";
    UniqueModule running = uninstalltest::PlaceLoadedImage(viewer);
    ASSERT_TRUE(running);
    install.items.erase(install.items.begin());
    install.ListFile(L"ImgShell.exe");
    install.WriteManifest();

    const RemovalReport report = Remove();
    EXPECT_EQ(ExitCodeFor(report), kExitRemoved);  // no failure: it goes at restart
    EXPECT_EQ(report.atRestart.size(), 1u);        // the file; its folder, empty now, went at once
    EXPECT_FALSE(report.folderRemains);
    EXPECT_FALSE(Exists(install.folder));
    // Nothing a program of the user could rename is left to the system's
    // deletion at restart: the file left for a folder of its own.
    EXPECT_LT(uninstalltest::PendingIndexOf(viewer), 0);
    EXPECT_LT(uninstalltest::PendingIndexOf(install.folder), 0);
    EXPECT_GE(uninstalltest::PendingIndexOf(L"-ImgShell.exe"), 0);
}

TEST_F(Removal, AFolderWithTheUsersFilesIsNotLeftForRestart) {
    UniqueModule running = uninstalltest::PlaceLoadedImage(install / L"ImgShell.exe");
    ASSERT_TRUE(running);
    install.items.erase(install.items.begin());
    install.ListFile(L"ImgShell.exe");
    install.WriteManifest();
    WriteBytes(install / L"ImgShell.exe.txt", "mine");  // a name much like ours

    const RemovalReport report = Remove();
    EXPECT_EQ(report.atRestart.size(), 1u);
    EXPECT_TRUE(report.folderRemains);
    EXPECT_LT(uninstalltest::PendingIndexOf(install.folder), 0);
}

TEST_F(Removal, AFileThatCannotGoKeepsTheInstallationRegisteredForAnotherRun) {
    Installation withOwn = MakeInstallation(dir / L"Quiview", true);
    uninstalltest::WriteUninstallEntry(withOwn.folder);
    ::DeleteFileW((dir / L"desktop\\Quiview.lnk").c_str());
    ASSERT_TRUE(uninstalltest::MakeShortcut(dir / L"desktop\\Quiview.lnk", withOwn / L"ImgShell.exe"));
    RemovalRequest request = Request();
    request.ownFile = withOwn / L"Uninstall.exe";
    {
        UniqueFile held(::CreateFileW((withOwn / L"welcome.png").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        const RemovalReport report = Remove(request);
        EXPECT_EQ(ExitCodeFor(report), kExitIncomplete);
        ASSERT_EQ(report.failed.size(), 1u);
        EXPECT_EQ(report.failed[0], withOwn / L"welcome.png");
        EXPECT_TRUE(report.folderRemains);
        EXPECT_TRUE(Exists(withOwn / L"welcome.png"));
        EXPECT_TRUE(Exists(withOwn / L"Uninstall.exe"));
        EXPECT_TRUE(Exists(ManifestPath(withOwn.folder)));
        EXPECT_TRUE(uninstalltest::UninstallEntryExists());
        EXPECT_FALSE(Exists(withOwn / L"ImgShell.exe"));
        // The viewer is gone, so its shortcut is too.
        EXPECT_FALSE(Exists(dir / L"desktop\\Quiview.lnk"));
        // The log names the file, the call that failed on it and its error.
        const std::string log = ReadSetupLogs().back();
        EXPECT_NE(log.find("file  could not remove "), std::string::npos) << log;
        EXPECT_NE(log.find("failed with error 32 ("), std::string::npos) << log;
        EXPECT_NE(log.find("incomplete"), std::string::npos) << log;
    }
    // Once the file is free, a second run finishes.
    EXPECT_EQ(ExitCodeFor(Remove(request)), kExitRemoved);
    EXPECT_FALSE(Exists(withOwn.folder));
    EXPECT_FALSE(uninstalltest::UninstallEntryExists());
}

TEST_F(Removal, DeletionsReportedDoneAreCheckedOnDisk) {
    uninstalltest::WriteUninstallEntry(install.folder);
    if (!uninstalltest::SetFolderImmutable(install.folder, true))
        GTEST_SKIP() << "no folder can be made immutable here";
    // Made changeable again however the test ends, so that its folder can go.
    struct Changeable {
        std::wstring folder;
        ~Changeable() { uninstalltest::SetFolderImmutable(folder, false); }
    } changeable{install.folder};
    const Tree before = TreeOf(install.folder);
    const RemovalReport report = Remove();
    uninstalltest::SetFolderImmutable(install.folder, false);
    EXPECT_EQ(ExitCodeFor(report), kExitIncomplete);
    EXPECT_EQ(report.failed, (Tree{install / L"ImgShell.exe", install / L"welcome.png"}));
    EXPECT_TRUE(uninstalltest::UninstallEntryExists());
    // Below the folder that refuses changes, plugins could be emptied.
    EXPECT_NE(before, TreeOf(install.folder));
    EXPECT_EQ(TreeOf(install.folder), (Tree{L"ImgShell.exe", L"manifest.lst", L"plugins\\", L"welcome.png"}));
}

TEST_F(Removal, TheOwnFileGoesOnlyAfterTheCallback) {
    Installation withOwn = MakeInstallation(dir / L"Quiview", true);
    RemovalRequest request = Request();
    request.ownFile = withOwn / L"Uninstall.exe";
    int called = 0;
    Tree atCall;
    const RemovalReport report = RemoveInstallation(request, [&](const RemovalReport& sofar) {
        ++called;
        atCall = TreeOf(withOwn.folder);
        EXPECT_EQ(ExitCodeFor(sofar), kExitRemoved);
    });
    EXPECT_EQ(called, 1);
    EXPECT_EQ(atCall, (Tree{L"Uninstall.exe", L"manifest.lst", L"plugins\\", L"plugins\\cache\\"}));
    EXPECT_EQ(ExitCodeFor(report), kExitRemoved);
    EXPECT_FALSE(Exists(withOwn.folder));
}

TEST_F(Removal, TheShortcutGoesOnlyWhenItStartsThisViewerAndThatIsGone) {
    const std::wstring shortcut = dir / L"desktop\\Quiview.lnk";
    const std::wstring viewer = install / L"ImgShell.exe";
    ASSERT_TRUE(uninstalltest::MakeShortcut(shortcut, viewer));
    EXPECT_EQ(ShortcutTarget(shortcut), viewer);
    EXPECT_EQ(RemoveShortcutTo(shortcut, viewer), Outcome::kKept);  // the viewer is still there

    // The same viewer written otherwise.
    const std::wstring other = dir / L"elsewhere\\ImgShell.exe";
    EXPECT_EQ(RemoveShortcutTo(shortcut, other), Outcome::kKept);
    ::DeleteFileW(viewer.c_str());
    EXPECT_EQ(RemoveShortcutTo(shortcut, dir / L"QUIVIEW\\.\\imgshell.exe"), Outcome::kRemoved);
    EXPECT_FALSE(Exists(shortcut));
    EXPECT_EQ(RemoveShortcutTo(shortcut, viewer), Outcome::kAbsent);

    // A shortcut to another installation's viewer stays through a removal.
    ASSERT_TRUE(uninstalltest::MakeShortcut(shortcut, other));
    Remove();
    EXPECT_TRUE(Exists(shortcut));
    EXPECT_EQ(ShortcutTarget(shortcut), other);

    // A desktop reached through a link is not entered: what the link leads
    // to stays, even a shortcut of this very viewer.
    const std::wstring real = dir / L"real desktop\\Quiview.lnk";
    CreateDirectoryTree(dir / L"real desktop");
    ASSERT_TRUE(uninstalltest::MakeShortcut(real, viewer));
    ASSERT_TRUE(qvtest::MakeLink(dir / L"linked desktop", dir / L"real desktop"));
    EXPECT_EQ(RemoveShortcutTo(dir / L"linked desktop\\Quiview.lnk", viewer), Outcome::kKept);
    EXPECT_TRUE(Exists(real));
    qvtest::RemoveLink(dir / L"linked desktop");
}

TEST_F(Removal, TheUninstallEntryGoesOnlyWhenItNamesThisFolder) {
    uninstalltest::WriteUninstallEntry(dir / L"Elsewhere\\Quiview");
    EXPECT_EQ(RemoveUninstallEntryOf(install.folder), Outcome::kKept);
    Remove();
    EXPECT_TRUE(uninstalltest::UninstallEntryExists());

    std::wstring otherSpelling = install.folder + L"\\";
    ::CharUpperBuffW(&otherSpelling[0], static_cast<DWORD>(otherSpelling.size()));
    uninstalltest::WriteUninstallEntry(otherSpelling);
    EXPECT_EQ(RemoveUninstallEntryOf(install.folder), Outcome::kRemoved);
    EXPECT_FALSE(uninstalltest::UninstallEntryExists());
    EXPECT_EQ(RemoveUninstallEntryOf(install.folder), Outcome::kAbsent);

    EXPECT_TRUE(SameFolder(L"C:\\A\\b", L"c:/a/B//"));
    EXPECT_FALSE(SameFolder(L"C:\\A\\b", L"C:\\A\\bc"));
    EXPECT_FALSE(SameFolder(L"", L""));
}

TEST_F(Removal, SettingsGoOnlyWhenAskedAndNeverThroughALink) {
    const std::wstring settings = dir / L"data\\config.dat";
    WriteBytes(settings, "settings");
    EXPECT_TRUE(HasSettings(dir / L"data"));
    Remove();
    EXPECT_EQ(ReadBytes(settings), "settings");

    MakeInstallation(install.folder);
    Remove(Request(true));
    EXPECT_FALSE(Exists(settings));
    EXPECT_FALSE(Exists(dir / L"data"));  // it held nothing else

    // A data folder that leads elsewhere: its file is not touched.
    CreateDirectoryTree(dir / L"real data");
    WriteBytes(dir / L"real data\\config.dat", "other");
    ASSERT_TRUE(qvtest::MakeLink(dir / L"data", dir / L"real data"));
    EXPECT_FALSE(HasSettings(dir / L"data"));
    EXPECT_EQ(RemoveSettings(dir / L"data"), Outcome::kKept);
    EXPECT_EQ(ReadBytes(dir / L"real data\\config.dat"), "other");
    qvtest::RemoveLink(dir / L"data");
}

TEST(UninstallMessages, TheFinalMessageSaysWhatHappened) {
    const std::wstring folder = L"D:\\Apps\\Quiview";
    RemovalReport report;
    report.installation = true;
    report.atRestart.push_back(folder + L"\\ImgShell.exe");
    report.folderRemains = true;
    EXPECT_EQ(FinalMessage(report, folder).text,
              L"Quiview 已从您的计算机中移除。\n部分文件正在使用中，将在重新启动计算机后删除。\n"
              L"安装文件夹中您自己的文件已保留：\nD:\\Apps\\Quiview");
    // What stayed is listed, five paths at most, and counted.
    for (int i = 1; i <= 7; ++i) report.failed.push_back(folder + L"\\f" + std::to_wstring(i));
    const Message failed = FinalMessage(report, folder);
    EXPECT_EQ(failed.icon, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(failed.text.find(L"Quiview 未能完全移除"), 0u);
    EXPECT_NE(failed.text.find(L"\\f5\n"), std::wstring::npos);
    EXPECT_EQ(failed.text.find(L"\\f6"), std::wstring::npos);
    EXPECT_NE(failed.text.find(L"等共 7 个文件"), std::wstring::npos);
}

}  // namespace

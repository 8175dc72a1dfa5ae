// The real Uninstall.exe run as a caller runs it, on installations made on
// disk: the hand-over to its copy, the exit code that reaches the caller, the
// removal of its own file, and what it leaves to the next restart.
#include <gtest/gtest.h>

#include <windows.h>

#include "sysenv/user_folders.h"
#include "test_support.h"
#include "uninstall/handover.h"
#include "uninstall/removal.h"
#include "uninstall_test_support.h"
#include "util/path.h"

using qvtest::Exists;
using qvtest::ReadBytes;
using qvtest::RunAndWait;
using qvtest::TempDir;
using qvtest::WriteBytes;
using uninstalltest::Installation;
using uninstalltest::MakeInstallation;
using uninstalltest::TreeOf;

namespace {

using Tree = std::vector<std::wstring>;

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// An installation with the real Uninstall.exe; the user's uninstall entry,
// desktop shortcut and settings are put back as they were afterwards.
class UninstallProgram : public ::testing::Test {
protected:
    void SetUp() override {
        uninstalltest::RemoveCopyFolders();
        uninstalltest::DeleteUninstallEntry();
        shortcut = DesktopShortcutPath();
        ::DeleteFileW(shortcut.c_str());
        settings = DataFolder() + L"\\config.dat";
        hadSettings = Exists(settings);
        if (hadSettings) savedSettings = ReadBytes(settings);
        install = MakeInstallation(dir / L"Quiview", true);
        uninstalltest::WriteUninstallEntry(install.folder);
    }
    void TearDown() override {
        uninstalltest::RemoveCopyFolders();
        uninstalltest::DeleteUninstallEntry();
        ::DeleteFileW(shortcut.c_str());
        if (hadSettings) {
            CreateDirectoryTree(DataFolder());
            WriteBytes(settings, savedSettings);
        } else {
            ::DeleteFileW(settings.c_str());
        }
        uninstalltest::ForgetPendingRenames(dir.path());
    }

    // Runs the installed uninstaller; waits for its copy to end as well.
    int Run(const std::wstring& arguments) {
        const int code = RunAndWait(Quoted(install / L"Uninstall.exe") + L" " + arguments);
        EXPECT_TRUE(uninstalltest::WaitForUninstallCopies());
        return code;
    }

    TempDir dir;
    Installation install;
    std::wstring shortcut, settings;
    std::string savedSettings;
    bool hadSettings = false;
    uninstalltest::ComApartment com;
};

TEST_F(UninstallProgram, QuietRunRemovesTheInstallationAndItselfAndKeepsTheUsersFiles) {
    WriteBytes(install / L"notes.txt", "mine");
    ASSERT_TRUE(uninstalltest::MakeShortcut(shortcut, install / L"ImgShell.exe"));
    CreateDirectoryTree(DataFolder());
    WriteBytes(settings, "settings");

    // Arguments it does not know are ignored.
    EXPECT_EQ(Run(L"/S /unknown \"an argument\""), kExitRemoved);
    // Its own file too, which could only go once the original had ended.
    EXPECT_EQ(TreeOf(install.folder), Tree{L"notes.txt"});
    EXPECT_FALSE(Exists(shortcut));
    EXPECT_FALSE(uninstalltest::UninstallEntryExists());
    EXPECT_EQ(ReadBytes(settings), "settings");

    // The copy ran from a private folder of its own in the temporary folder;
    // it left its file to the next restart from a folder that no program of
    // the user can rename, and its own folder went at once.
    EXPECT_TRUE(uninstalltest::CopyFolders().empty());
    EXPECT_GE(uninstalltest::PendingIndexOf(L"-Uninstall.exe"), 0);

    // Asked to, it takes the settings too; nothing else left takes the folder.
    ::DeleteFileW((install / L"notes.txt").c_str());
    install = MakeInstallation(dir / L"Quiview", true);
    EXPECT_EQ(Run(L"/s /removesettings"), kExitRemoved);
    EXPECT_FALSE(Exists(install.folder));
    EXPECT_FALSE(Exists(settings));
}

TEST_F(UninstallProgram, TheResultReachesTheCallerAndAnIncompleteRemovalCanBeFinished) {
    {
        UniqueFile held(::CreateFileW((install / L"welcome.png").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(Run(L"/S"), kExitIncomplete);
        // The folders that became empty went all the same.
        EXPECT_EQ(TreeOf(install.folder), (Tree{L"Uninstall.exe", L"manifest.lst", L"welcome.png"}));
        EXPECT_TRUE(uninstalltest::UninstallEntryExists());
    }
    EXPECT_EQ(Run(L"/S"), kExitRemoved);
    EXPECT_FALSE(Exists(install.folder));
    EXPECT_FALSE(uninstalltest::UninstallEntryExists());
}

TEST_F(UninstallProgram, AnInstallationReachedThroughALinkIsNotTouched) {
    ASSERT_TRUE(qvtest::MakeLink(dir / L"via", install.folder));
    const Tree before = TreeOf(install.folder);
    EXPECT_EQ(RunAndWait(Quoted(dir / L"via\\Uninstall.exe") + L" /S"), kExitIncomplete);
    EXPECT_TRUE(uninstalltest::WaitForUninstallCopies());
    EXPECT_EQ(TreeOf(install.folder), before);
    EXPECT_TRUE(uninstalltest::UninstallEntryExists());
    qvtest::RemoveLink(dir / L"via");
}

TEST(UninstallHandover, OnlyTheProcessThatStartedTheCopyIsEverEnded) {
    const std::wstring probe = Quoted(ModuleFolder() + L"\\handover_probe.exe");
    const std::wstring self = ModuleFolder() + L"\\uninstall_tests.exe";
    const std::wstring pid = std::to_wstring(::GetCurrentProcessId());
    // This process started before the probe and runs the file named.
    EXPECT_EQ(RunAndWait(probe + L" open " + pid + L" " + Quoted(self)), 0);
    // Another file: a process id used again by another program.
    EXPECT_EQ(RunAndWait(probe + L" open " + pid + L" " + Quoted(ModuleFolder() + L"\\Uninstall.exe")), 1);
    EXPECT_EQ(RunAndWait(probe + L" open 0 " + Quoted(self)), 1);
    // A process younger than the probe cannot have started it.
    EXPECT_EQ(RunAndWait(probe + L" younger"), 1);
}

TEST(UninstallHandover, WritingIsProbedWithoutLeavingAnything) {
    TempDir dir;
    EXPECT_TRUE(CanWriteFolder(dir.path()));
    EXPECT_TRUE(TreeOf(dir.path()).empty());
    EXPECT_FALSE(CanWriteFolder(dir / L"missing"));
}

}  // namespace

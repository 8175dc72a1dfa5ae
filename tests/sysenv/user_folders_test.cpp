#include <gtest/gtest.h>

#include "sysenv/system_helpers.h"
#include "sysenv/uninstall_entry.h"
#include "sysenv/user_folders.h"
#include "sysenv_test_support.h"
#include "test_support.h"
#include "util/path.h"
#include "util/text.h"

namespace {

const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

}  // namespace

TEST(UserFolders, SystemAccountProfilesFollowTheFixedPatterns) {
    ProfileFolders seven = ProfileFoldersForUser(L"bob", false);
    EXPECT_EQ(seven.localAppData, L"C:\\Users\\bob\\AppData\\Local");
    EXPECT_EQ(seven.localAppDataLow, L"C:\\Users\\bob\\AppData\\LocalLow");
    EXPECT_EQ(seven.temp, L"C:\\Users\\bob\\AppData\\Local\\Temp");
    EXPECT_EQ(seven.dataFolder, L"C:\\Users\\bob\\AppData\\LocalLow\\Quiview");

    ProfileFolders xp = ProfileFoldersForUser(L"bob", true);
    EXPECT_EQ(xp.localAppData, L"C:\\Documents and Settings\\bob\\Local Settings\\Application Data");
    EXPECT_EQ(xp.localAppDataLow, L"");
    EXPECT_EQ(xp.temp, L"C:\\Documents and Settings\\bob\\Local Settings\\Temp");
    EXPECT_EQ(xp.dataFolder, L"C:\\Documents and Settings\\bob\\Local Settings\\Application Data\\Quiview");

    EXPECT_TRUE(IsSystemAccountName(L"SYSTEM"));
    EXPECT_TRUE(IsSystemAccountName(L"system"));
    EXPECT_FALSE(IsSystemAccountName(L"LocalSystem"));
    EXPECT_FALSE(IsSystemAccountName(L"NT AUTHORITY\\SYSTEM"));
    EXPECT_FALSE(IsSystemAccountName(L""));
}

TEST(UserFolders, SystemContextWithoutNameUsesItsOwnRegistry) {
    CUserFolders nameless(L"", true);
    EXPECT_EQ(nameless.LocalAppData(), GetRegString(kShellFolders, L"Local AppData", HKEY_CURRENT_USER));
}

TEST(UserFolders, InteractiveUserIsTheShellOwner) {
    // Wine's shell is its desktop process, explorer.exe, started at the
    // latest when a program first asks for the desktop window.
    ::GetDesktopWindow();
    DWORD shell = FindProcessByName(L"explorer.exe");
    ASSERT_NE(shell, 0u);
    std::wstring owner = GetProcessUserName(shell);
    ASSERT_FALSE(owner.empty());
    CUserFolders& context = CUserFolders::Instance();
    EXPECT_EQ(context.UserName(), owner);
    EXPECT_FALSE(context.IsSystem());
    EXPECT_EQ(&context, &CUserFolders::Instance());
}

TEST(UserFolders, RegistryDecidesThenKnownFolder) {
    qvtest::TempDir dir;
    CreateDirectoryW((dir / L"local").c_str(), nullptr);
    CreateDirectoryW((dir / L"low").c_str(), nullptr);
    qvtest::RegValueGuard local(HKEY_CURRENT_USER, kShellFolders, L"Local AppData");
    qvtest::RegValueGuard low(HKEY_CURRENT_USER, kShellFolders, L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}");
    local.SetString(dir / L"local");
    low.SetString(dir / L"low");

    CUserFolders user(L"someone", false);
    EXPECT_EQ(user.LocalAppData(), dir / L"local");
    EXPECT_EQ(user.LocalAppDataLow(), dir / L"low");
    EXPECT_EQ(DataFolder(user), dir / L"low\\Quiview");
    EXPECT_FALSE(qvtest::Exists(dir / L"low\\Quiview")) << "the data folder is not created here";

    // Without the registry values the known folders answer.
    local.Remove();
    low.Remove();
    const GUID localId = {0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
    const GUID lowId = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
    CUserFolders fresh(L"someone", false);
    std::wstring known = GetKnownFolderPath(localId);
    ASSERT_FALSE(known.empty());
    EXPECT_EQ(fresh.LocalAppData(), known);
    EXPECT_EQ(fresh.LocalAppDataLow(), GetKnownFolderPath(lowId));
}

// The user's registry may name any folder; one of the system is never taken
// for the user's own (the elevated installer makes, writes and deletes its
// fixed names there).
TEST(UserFolders, FolderValuesNamingTheSystemsFoldersAreRefused) {
    wchar_t windows[MAX_PATH] = {};
    ASSERT_GT(::GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    qvtest::RegValueGuard local(HKEY_CURRENT_USER, kShellFolders, L"Local AppData");
    qvtest::RegValueGuard low(HKEY_CURRENT_USER, kShellFolders, L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}");
    local.SetString(std::wstring(windows) + L"\\System32");
    low.SetString(std::wstring(windows).substr(0, 3));
    CUserFolders user(L"someone", false);
    EXPECT_EQ(user.LocalAppData(), L"");
    EXPECT_EQ(user.LocalAppDataLow(), L"");
    EXPECT_EQ(DataFolder(user), L"");

    qvtest::TempDir dir;
    for (const std::wstring& place : {std::wstring(windows), std::wstring(windows) + L"\\Temp\\x",
                                      std::wstring(L"C:\\"), std::wstring(L"\\\\server\\share"), std::wstring()})
        EXPECT_TRUE(IsSystemPlace(place)) << place;
    EXPECT_FALSE(IsSystemPlace(dir.path()));
    EXPECT_FALSE(IsSystemPlace(L"\\\\server\\share\\folder"));
}

TEST(UserFolders, CachedFolderIsOnlyAHint) {
    qvtest::TempDir dir;
    CreateDirectoryW((dir / L"first").c_str(), nullptr);
    CreateDirectoryW((dir / L"second").c_str(), nullptr);
    qvtest::RegValueGuard local(HKEY_CURRENT_USER, kShellFolders, L"Local AppData");
    local.SetString(dir / L"first");

    CUserFolders user(L"someone", false);
    EXPECT_EQ(user.LocalAppData(), dir / L"first");
    local.SetString(dir / L"second");
    EXPECT_EQ(user.LocalAppData(), dir / L"first") << "an existing cached folder is kept";
    qvtest::RemoveTree(dir / L"first");
    EXPECT_EQ(user.LocalAppData(), dir / L"second") << "a deleted cached folder is computed again";
    local.SetString(dir / L"first");
    EXPECT_EQ(user.LocalAppData(), dir / L"second") << "the new text became the cache";
}

TEST(UserFolders, TempFolderComesFromTheEnvironment) {
    qvtest::TempDir dir;
    qvtest::EnvVarGuard tmp(L"TMP");
    tmp.Set(dir.path().c_str());
    CUserFolders user(L"someone", false);
    EXPECT_EQ(user.TempFolder(), dir.path());
    EXPECT_EQ(SessionUserTemp(), dir.path());

    // A user name outside the ANSI code page (no single code page holds both
    // scripts) reaches the installer whole.
    const std::wstring wide = dir / L"\ud55c\uad6d\u4e2d\u6587 user";
    ::CreateDirectoryW(wide.c_str(), nullptr);
    tmp.Set(wide.c_str());
    EXPECT_EQ(SessionUserTemp(), wide);
    CUserFolders other(L"someone", false);
    EXPECT_EQ(other.TempFolder(), wide);
}

TEST(UserFolders, TempFolderLosesBackslashesAtEitherEnd) {
    // With no TMP variable the expansion of %tmp% names nothing, and the
    // system's temporary path (from TEMP) is used.
    qvtest::TempDir dir;
    qvtest::EnvVarGuard tmp(L"TMP"), temp(L"TEMP");
    tmp.Set(nullptr);
    temp.Set((dir.path() + L"\\").c_str());
    EXPECT_EQ(SessionUserTemp(), L"") << "an unexpanded %tmp% is no folder";
    CUserFolders user(L"someone", false);
    EXPECT_EQ(user.TempFolder(), dir.path());

    temp.Set(L"\\\\qvserver\\share\\tmp");
    CUserFolders share(L"someone", false);
    EXPECT_EQ(share.TempFolder(), L"qvserver\\share\\tmp");
}

namespace {

const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quiview";

// The product's uninstall entries of both hives, removed again after the test,
// and a user context whose local data folder lies in a temporary folder.
struct InstallFixture : ::testing::Test {
    qvtest::TempDir dir;
    qvtest::RegValueGuard userIcon{HKEY_CURRENT_USER, kUninstall, L"DisplayIcon"};
    qvtest::RegValueGuard machineIcon{HKEY_LOCAL_MACHINE, kUninstall, L"DisplayIcon"};
    qvtest::RegValueGuard userLocation{HKEY_CURRENT_USER, kUninstall, L"InstallLocation"};
    qvtest::RegValueGuard local{HKEY_CURRENT_USER, kShellFolders, L"Local AppData"};

    void SetUp() override {
        userIcon.Remove();
        machineIcon.Remove();
        userLocation.Remove();
        CreateDirectoryW((dir / L"local").c_str(), nullptr);
        local.SetString(dir / L"local");
    }
    std::wstring MakeFile(const std::wstring& relative) {
        std::wstring path = dir / relative;
        size_t cut = path.find_last_of(L'\\');
        CreateDirectoryTree(path.substr(0, cut));
        qvtest::WriteBytes(path, "x");
        return path;
    }
};

}  // namespace

TEST_F(InstallFixture, PerUserEntryWinsEvenWhenEmpty) {
    EXPECT_EQ(InstalledIconPath(), L"");
    machineIcon.SetString(L"D:\\Machine\\Quiview\\ImgShell.exe");
    EXPECT_EQ(InstalledIconPath(), L"D:\\Machine\\Quiview\\ImgShell.exe");
    userIcon.SetString(L"");
    EXPECT_EQ(InstalledIconPath(), L"");

    std::wstring machineFile = MakeFile(L"Machine\\Quiview\\ImgShell.exe");
    machineIcon.SetString(machineFile);
    CUserFolders user(L"someone", false);
    EXPECT_EQ(InstallFolder(user), dir / L"local\\Quiview") << "the empty per-user entry decides";
    EXPECT_TRUE(qvtest::Exists(dir / L"local\\Quiview"));
}

TEST_F(InstallFixture, ExistingIconIsCutAfterTheProductFolder) {
    CUserFolders user(L"someone", false);
    userIcon.SetString(MakeFile(L"Apps\\Quiview\\ImgShell.exe"));
    EXPECT_EQ(InstallFolder(user), dir / L"Apps\\Quiview");
    userIcon.SetString(MakeFile(L"Quiview\\Quiview\\ImgShell.exe"));
    EXPECT_EQ(InstallFolder(user), dir / L"Quiview");
    // Lower case is not the marker, and a file outside any product folder
    // gives the folder that holds it.
    userIcon.SetString(MakeFile(L"quiview\\x\\ImgShell.exe"));
    EXPECT_EQ(InstallFolder(user), dir / L"quiview\\x");
    EXPECT_FALSE(qvtest::Exists(dir / L"local\\Quiview")) << "the default folder is created only when used";
}

// An installation below a product folder ("C:\\Quiview\\Apps") is proposed
// where it is, as its entry records, not cut back to the product folder.
TEST_F(InstallFixture, RecordedLocationHoldingTheIconWins) {
    CUserFolders user(L"someone", false);
    userIcon.SetString(MakeFile(L"Quiview\\Apps\\ImgShell.exe"));
    userLocation.SetString(dir / L"Quiview\\Apps\\");
    EXPECT_EQ(InstallFolder(user), dir / L"Quiview\\Apps");
    // A location the icon does not lie in is not believed.
    userLocation.SetString(dir / L"elsewhere");
    EXPECT_EQ(InstallFolder(user), dir / L"Quiview");
}

TEST_F(InstallFixture, IconWithIndexFallsBackToCreatedDefault) {
    userIcon.SetString(MakeFile(L"Apps\\Quiview\\ImgShell.exe") + L",0");
    CUserFolders user(L"someone", false);
    EXPECT_EQ(InstallFolder(user), dir / L"local\\Quiview");
    EXPECT_TRUE(qvtest::Exists(dir / L"local\\Quiview"));
}

// Only a whole folder name marks the product folder: a cut inside another
// name would give (and the installer later clear) a folder that is not the
// installation.
TEST(UserFolders, ProductFolderIsAWholeName) {
    EXPECT_EQ(InstallFolderFromIcon(L"D:\\QuiviewTools\\Quiview\\ImgShell.exe", false), L"D:\\QuiviewTools\\Quiview");
    EXPECT_EQ(InstallFolderFromIcon(L"D:\\Apps\\QuiviewPro\\ImgShell.exe", false), L"D:\\Apps\\QuiviewPro");
    EXPECT_EQ(InstallFolderFromIcon(L"D:\\Apps\\Viewer\\", true), L"D:\\Apps\\Viewer");
}

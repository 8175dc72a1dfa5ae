#include <gtest/gtest.h>

#include <string>

#include "sysenv/browser.h"
#include "sysenv/system_helpers.h"
#include "sysenv_test_support.h"
#include "test_support.h"

namespace {

const wchar_t kUserChoice[] = L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";
const wchar_t kIeQuoted[] = L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" %1";
const wchar_t kIePath[] = L"C:\\Program Files\\Internet Explorer\\iexplore.exe";

// Every registration the browser routes read, put back as it was afterwards.
// The test's program id is written through HKEY_CLASSES_ROOT itself: Wine 8
// does not show per-user classes (HKCU\Software\Classes) there.
struct BrowserFixture : ::testing::Test {
    std::wstring progId = L"QvTestBrowser" + std::to_wstring(::GetCurrentProcessId());
    qvtest::RegValueGuard httpCommand{HKEY_CLASSES_ROOT, L"HTTP\\shell\\open\\command", L""};
    qvtest::RegValueGuard choice{HKEY_CURRENT_USER, kUserChoice, L"Progid"};
    qvtest::RegValueGuard ieCommand{HKEY_CLASSES_ROOT, L"Applications\\iexplore.exe\\shell\\open\\command", L""};
    qvtest::RegValueGuard progIdCommand{HKEY_CLASSES_ROOT, progId + L"\\shell\\open\\command", L""};

    void SetUp() override { ieCommand.SetString(kIeQuoted); }
};

}  // namespace

TEST(BrowserCommand, InternetExplorerNameInAnyCase) {
    // The last occurrence counts; a mixed-case name still names the program.
    EXPECT_EQ(InternetExplorerFromCommand(L"C:\\iexplore.exe\\iexplore.exe -x"), L"C:\\iexplore.exe\\iexplore.exe");
    EXPECT_EQ(InternetExplorerFromCommand(L"\"C:\\IE\\IExplore.exe\" %1"), L"C:\\IE\\IExplore.exe");
    EXPECT_EQ(InternetExplorerFromCommand(L"\"C:\\Other\\browser.exe\" %1"), L"");
}

TEST_F(BrowserFixture, HttpCommandRoute) {
    httpCommand.SetString(L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome");
    EXPECT_EQ(BrowserFromHttpCommand(), kIePath);
    httpCommand.SetString(L"C:\\PROGRA~1\\fox.exe -nohome", REG_EXPAND_SZ);
    EXPECT_EQ(BrowserFromHttpCommand(), L"C:\\PROGRA~1\\fox.exe -nohome");
    httpCommand.Remove();
    ieCommand.SetString(L"\"C:\\PROGRA~1\\INTERN~1\\IEXPLORE.EXE\" %1");
    EXPECT_EQ(BrowserFromHttpCommand(), L"C:\\PROGRA~1\\INTERN~1\\IEXPLORE.EXE");
}

TEST_F(BrowserFixture, UserChoiceRoute) {
    progIdCommand.SetString(L"\"C:\\Apps\\Fox\\fox.exe\" -- \"%1\"");
    choice.SetString(progId);
    EXPECT_EQ(BrowserFromUserChoice(), L"C:\\Apps\\Fox\\fox.exe");
    EXPECT_EQ(DefaultBrowserPath(), L"C:\\Apps\\Fox\\fox.exe");

    // A program id without an open command, and no choice at all: Internet Explorer.
    choice.SetString(progId + L"Missing");
    EXPECT_EQ(BrowserFromUserChoice(), kIePath);
    choice.Remove();
    EXPECT_EQ(BrowserFromUserChoice(), kIePath);
    EXPECT_EQ(DefaultBrowserPath(), kIePath);
}

TEST_F(BrowserFixture, NoRegistrationAtAll) {
    httpCommand.Remove();
    choice.Remove();
    ieCommand.Remove();
    EXPECT_EQ(BrowserFromHttpCommand(), L"");
    EXPECT_EQ(BrowserFromUserChoice(), L"");
    EXPECT_EQ(InternetExplorerPath(), L"");
    EXPECT_EQ(DefaultBrowserPath(), L"");
}

// Windows XP takes the HTTP command, every later system the per-user choice.
TEST_F(BrowserFixture, RouteFollowsTheSystem) {
    httpCommand.SetString(L"\"C:\\Xp\\browser.exe\" -nohome");
    progIdCommand.SetString(L"\"C:\\Seven\\browser.exe\" \"%1\"");
    choice.SetString(progId);
    for (const wchar_t* wine : {L"winxp", L"win7", L"win10"}) {
        SCOPED_TRACE(wine);
        auto values = qvtest::ChildReport(wine);
        EXPECT_EQ(values[L"browser"],
                  std::wstring(wine) == L"winxp" ? L"C:\\Xp\\browser.exe" : L"C:\\Seven\\browser.exe");
    }
}

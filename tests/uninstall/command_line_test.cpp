#include <gtest/gtest.h>

#include <windows.h>

#include "uninstall/command_line.h"
#include "uninstall/uninstaller.h"

namespace {

std::vector<std::wstring> RoundTrip(const std::vector<std::wstring>& arguments) {
    return SplitCommandLine((L"\"C:\\some where\\Uninstall.exe\" " + JoinArguments(arguments)).c_str());
}

}  // namespace

TEST(UninstallCommandLine, CallerOptionsInAnyCaseAndAnythingElseIgnored) {
    const UninstallOptions options = ParseUninstallArguments({L"/s", L"/RemoveSettings", L"/X", L"other"});
    EXPECT_TRUE(options.silent);
    EXPECT_TRUE(options.removeSettings);
    EXPECT_FALSE(options.IsCopy());
    EXPECT_EQ(options.elevatedBy, 0u);
    EXPECT_EQ(options.reportTo, 0u);
    // Passed on unchanged to an elevated restart.
    EXPECT_EQ(options.given, (std::vector<std::wstring>{L"/s", L"/RemoveSettings", L"/X", L"other"}));

    const UninstallOptions none = ParseUninstallArguments({});
    EXPECT_FALSE(none.silent);
    EXPECT_FALSE(none.removeSettings);
    // Only the whole word counts.
    const UninstallOptions almost = ParseUninstallArguments({L"/SILENT", L"S", L"/REMOVESETTINGSX"});
    EXPECT_FALSE(almost.silent);
    EXPECT_FALSE(almost.removeSettings);
}

TEST(UninstallCommandLine, ArgumentsSurviveQuotingUnchanged) {
    const std::vector<std::wstring> arguments = {
        L"plain",
        L"with space",
        L"C:\\安装 目录\\",  // a folder with a trailing backslash before the closing quote
        L"C:\\",
        L"say \"hi\"",
        L"back\\\\\"slashes",
        L"",
        L"tab\there",
        L"D:\\a\\b",
    };
    EXPECT_EQ(RoundTrip(arguments), arguments);
    EXPECT_EQ(QuoteArgument(L"plain"), L"plain");
    EXPECT_EQ(QuoteArgument(L"C:\\a b\\"), L"\"C:\\a b\\\\\"");
    EXPECT_TRUE(SplitCommandLine(L"").empty());
    EXPECT_TRUE(SplitCommandLine(L"\"C:\\x\\Uninstall.exe\"").empty());
}

TEST(UninstallCommandLine, CopyArgumentsCarryTheAnswersAndTheWaitingProcesses) {
    const std::wstring original = L"C:\\Program Files\\我的 Quiview\\Uninstall.exe";
    const UninstallOptions copy = ParseUninstallArguments(RoundTrip(CopyArguments(true, true, original, 4242, 17)));
    EXPECT_TRUE(copy.IsCopy());
    EXPECT_EQ(copy.original, original);
    EXPECT_TRUE(copy.silent);
    EXPECT_TRUE(copy.removeSettings);
    EXPECT_EQ(copy.reportTo, 4242u);
    EXPECT_EQ(copy.alsoWaitFor, 17u);

    const UninstallOptions asked = ParseUninstallArguments(RoundTrip(CopyArguments(false, false, original, 9, 0)));
    EXPECT_FALSE(asked.silent);
    EXPECT_FALSE(asked.removeSettings);
    EXPECT_EQ(asked.reportTo, 9u);
    EXPECT_EQ(asked.alsoWaitFor, 0u);
}

TEST(UninstallCommandLine, ElevatedRestartKeepsTheCallersArgumentsAndNamesItsStarter) {
    UninstallOptions options = ParseUninstallArguments({L"/S", L"two words", L"/unknown"});
    const UninstallOptions restarted = ParseUninstallArguments(RoundTrip(ElevatedRestartArguments(options, 31337)));
    EXPECT_EQ(restarted.elevatedBy, 31337u);
    EXPECT_TRUE(restarted.silent);
    EXPECT_FALSE(restarted.IsCopy());
    EXPECT_EQ(restarted.given, options.given);
}

TEST(UninstallCommandLine, MalformedProcessIdsAreNone) {
    for (const wchar_t* argument : {L"/_QVCOPY=", L"/_QVCOPY=abc", L"/_QVCOPY=-1", L"/_QVCOPY=12x",
                                    L"/_QVCOPY=99999999999", L"/_QVCOPY=4294967296"}) {
        EXPECT_EQ(ParseUninstallArguments({argument}).reportTo, 0u) << argument;
    }
    EXPECT_EQ(ParseUninstallArguments({L"/_qvcopy=4294967295"}).reportTo, 4294967295u);
}

TEST(UninstallCommandLine, ExitCodesOfOtherProcessesArePassedOnAsOurs) {
    for (DWORD code = 0; code <= 3; ++code) EXPECT_EQ(PassedOnExitCode(code), static_cast<int>(code));
    EXPECT_EQ(PassedOnExitCode(4), 2);
    EXPECT_EQ(PassedOnExitCode(0xC0000005), 2);  // a crash: something may have stayed
}

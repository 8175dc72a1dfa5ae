#include <gtest/gtest.h>

#include <string>

#include "sysenv/system_helpers.h"
#include "sysenv/user_process.h"
#include "sysenv_test_support.h"
#include "test_support.h"
#include "util/owned.h"

namespace {

// A registry key of this test run under HKEY_CURRENT_USER, removed at the end.
struct RegistryFixture : ::testing::Test {
    std::wstring subKey = L"Software\\QuiviewTests\\sysenv-" + std::to_wstring(::GetCurrentProcessId());
    std::wstring text;
    DWORD type = 0;

    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QuiviewTests"); }
    void Put(const wchar_t* name, DWORD valueType, const std::wstring& units) {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, subKey.c_str(), name, valueType, units.data(),
                          static_cast<DWORD>(units.size() * sizeof(wchar_t)));
    }
    bool Query(const std::wstring& name) { return QueryRegString(HKEY_CURRENT_USER, 0, text, subKey, name, type); }
};

}  // namespace

// What Wine cannot produce: RtlGetVersion missing or failing is never taken
// for XP. The versions themselves are checked for real in a child below.
TEST(OsVersion, ClassWithoutRtlGetVersion) {
    EXPECT_TRUE(Windows10FromRtl(false, 0, 5));
    EXPECT_TRUE(Windows10FromRtl(true, static_cast<LONG>(0xC0000001), 5));
    EXPECT_FALSE(Windows10FromRtl(true, 0, 6));
    EXPECT_EQ(ClassifyOsVersion(Windows10FromRtl(false, 0, 0), true, 5, 1), OS_WIN10);
    EXPECT_EQ(ClassifyOsVersion(false, false, 5, 1), OS_OTHER);
}

// The version Wine gives one executable (AppDefaults\<exe>\Version), seen by a
// child program that declares support for every system up to Windows 10.
TEST(OsVersion, ChildUnderEachWineVersion) {
    const struct {
        const wchar_t* wine;
        OsVersionClass expected;
    } cases[] = {{L"winxp", OS_XP},  {L"win2003", OS_OTHER}, {L"vista", OS_VISTA}, {L"win7", OS_WIN7},
                 {L"win8", OS_WIN8}, {L"win81", OS_OTHER},   {L"win10", OS_WIN10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wine);
        auto values = qvtest::ChildReport(c.wine);
        EXPECT_EQ(values[L"os"], std::to_wstring(static_cast<int>(c.expected)));
        // The XP branches: data below Local, and the system account's XP profile.
        bool xp = c.expected == OS_XP;
        EXPECT_EQ(values[L"data"], (xp ? values[L"local"] : values[L"low"]) + L"\\Quiview");
        EXPECT_EQ(values[L"boblow"], xp ? L"" : L"C:\\Users\\bob\\AppData\\LocalLow");
        EXPECT_EQ(values[L"bobdata"], xp ? L"C:\\Documents and Settings\\bob\\Local Settings\\Application Data\\Quiview"
                                         : L"C:\\Users\\bob\\AppData\\LocalLow\\Quiview");
    }
}

TEST_F(RegistryFixture, EachValueTypeAsText) {
    Put(L"sz", REG_SZ, std::wstring(L"ab\0cd\0", 6));
    Put(L"szEmpty", REG_SZ, L"");
    Put(L"expand", REG_EXPAND_SZ, std::wstring(L"%TEMP%\\x\0", 9));
    Put(L"multi", REG_MULTI_SZ, std::wstring(L"a\0bc\0\0", 6));
    Put(L"", REG_SZ, std::wstring(L"default\0", 8));
    DWORD number = 7;
    ::RegSetKeyValueW(HKEY_CURRENT_USER, subKey.c_str(), L"dword", REG_DWORD, &number, sizeof number);

    ASSERT_TRUE(Query(L"sz"));
    EXPECT_EQ(text, L"ab");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_TRUE(Query(L"szEmpty"));
    EXPECT_EQ(text, L"");
    // Expandable and multi-strings keep every stored unit, unexpanded.
    ASSERT_TRUE(Query(L"expand"));
    EXPECT_EQ(text, std::wstring(L"%TEMP%\\x\0", 9));
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    ASSERT_TRUE(Query(L"multi"));
    EXPECT_EQ(text, std::wstring(L"a\0bc\0\0", 6));
    EXPECT_EQ(GetRegString(subKey, L"", HKEY_CURRENT_USER), L"default");
    // Another type is read but leaves the caller's text alone.
    text = L"keep";
    ASSERT_TRUE(Query(L"dword"));
    EXPECT_EQ(text, L"keep");
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(GetRegString(subKey, L"dword", HKEY_CURRENT_USER), L"");

    // A missing value: false, type 0. A missing key: out arguments untouched.
    EXPECT_FALSE(Query(L"absent"));
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(GetRegString(subKey, L"absent", HKEY_CURRENT_USER), L"");
    type = 77;
    subKey += L"\\absent";
    EXPECT_FALSE(Query(L"sz"));
    EXPECT_EQ(text, L"keep");
    EXPECT_EQ(type, 77u);
}

namespace {

// The child program copied under a name of this test's own, so that it can be
// found by name and ended.
struct NamedChild {
    qvtest::TempDir dir;
    std::wstring name = L"qv-child-" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    std::wstring path = dir / name;
    NamedChild() { ::CopyFileW(qvtest::ChildPath().c_str(), path.c_str(), FALSE); }
    ~NamedChild() {
        while (DWORD id = FindProcessByName(name)) qvtest::EndProcess(id);
    }
};

}  // namespace

TEST(Processes, FoundByNameIgnoringCase) {
    NamedChild child;
    DWORD processId = 0;
    ASSERT_TRUE(RunProcess(qvtest::ChildCommand(child.path, L"sleep 60000"), L"", L"", false, false, false, 0, nullptr,
                           &processId));
    ASSERT_NE(processId, 0u);
    std::wstring upper = child.name;
    ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    EXPECT_EQ(FindProcessByName(upper), processId);
    EXPECT_EQ(GetProcessUserName(processId), GetProcessUserName(0));
    EXPECT_FALSE(GetProcessUserName(0).empty());
    qvtest::EndProcess(processId);
    EXPECT_EQ(FindProcessByName(child.name), 0u);
    EXPECT_EQ(FindProcessByName(L""), 0u);
    EXPECT_EQ(GetProcessUserName(0x7FFFFFF0), L"");
}

TEST(Processes, WaitShorterThanTheChildLeavesItRunning) {
    NamedChild child;
    DWORD processId = 0, threadId = 0;
    EXPECT_FALSE(RunProcess(qvtest::ChildCommand(child.path, L"sleep 60000"), L"", L"", false, false, true, 200,
                            &threadId, &processId));
    EXPECT_EQ(processId, 0u) << "ids are stored on success only";
    EXPECT_EQ(threadId, 0u);
    EXPECT_NE(FindProcessByName(child.name), 0u);
}

TEST(Processes, ExitCodeAndIds) {
    DWORD processId = 0, threadId = 0, exitCode = 0;
    ASSERT_TRUE(RunProcess(qvtest::ChildCommand(qvtest::ChildPath(), L"exit 42"), L"", L"", false, false, true, 60000,
                           &threadId, &processId, &exitCode));
    EXPECT_EQ(exitCode, 42u);
    EXPECT_NE(processId, 0u);
    EXPECT_NE(threadId, 0u);

    // The application name starts the program; the directory becomes its own.
    qvtest::TempDir dir;
    std::wstring out = dir / L"cwd.txt";
    ASSERT_TRUE(RunProcess(L"child cwd \"" + out + L"\"", qvtest::ChildPath(), dir.path(), true, true, true, 60000,
                           nullptr, nullptr, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(qvtest::ReadUtf8(out), dir.path());

    processId = 5;
    EXPECT_FALSE(RunProcess(L"no-such-program-qv.exe", L"", L"", false, false, true, 1000, nullptr, &processId));
    EXPECT_EQ(processId, 5u);
}

TEST(Processes, LongCommandLinesReachTheChildWhole) {
    qvtest::TempDir dir;
    std::wstring out = dir / L"cmdline.txt";
    std::wstring head = qvtest::ChildCommand(qvtest::ChildPath(), L"cmdline \"" + out + L"\" ");
    for (size_t length : {size_t(1500), kMaxCommandLineChars}) {
        SCOPED_TRACE(length);
        std::wstring command = head;
        for (size_t i = 0; command.size() < length; ++i) command += static_cast<wchar_t>(L'a' + i % 26);
        DWORD exitCode = 1;
        ASSERT_TRUE(RunProcess(command, L"", L"", false, false, true, 60000, nullptr, nullptr, &exitCode));
        EXPECT_EQ(exitCode, 0u);
        EXPECT_EQ(qvtest::ReadUtf8(out), command);
        ::DeleteFileW(out.c_str());
    }
    // One character beyond the system's limit: refused, nothing started.
    std::wstring tooLong = head + std::wstring(kMaxCommandLineChars + 1 - head.size(), L'z');
    DWORD processId = 0;
    EXPECT_FALSE(RunProcess(tooLong, L"", L"", false, false, true, 60000, nullptr, &processId));
    EXPECT_FALSE(qvtest::Exists(out));
}

// The installer runs elevated; what it starts for the user must not be.
TEST(Processes, StartedForTheUserWithoutElevationOrHandles) {
    ASSERT_TRUE(IsProcessElevated()) << "Wine gives every process an elevated token";
    EXPECT_EQ(GetProcessRights(), ProcessRights::kElevated);

    qvtest::TempDir dir;
    const std::wstring out = dir / L"rights.txt";
    // An inheritable handle the child must not receive.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    UniqueHandle event(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    const std::wstring handle = std::to_wstring(reinterpret_cast<ULONG_PTR>(event.get()));
    ASSERT_TRUE(
        StartAsInteractiveUser(qvtest::ChildPath(), L"rights \"" + out + L"\" " + handle, dir.path(), SW_SHOWNORMAL));
    // The report is complete once its last line is there.
    std::wstring report;
    for (int i = 0; i < 600 && report.find(L"cwd=") == std::wstring::npos; ++i) {
        ::Sleep(50);
        try {
            if (qvtest::Exists(out)) report = qvtest::ReadUtf8(out);
        } catch (...) {
        }
    }
    EXPECT_NE(report.find(L"elevated=0\n"), std::wstring::npos) << report;
    EXPECT_NE(report.find(L"inherited=0\n"), std::wstring::npos) << report;
    EXPECT_NE(report.find(L"cwd=" + dir.path() + L"\n"), std::wstring::npos) << report;

    EXPECT_FALSE(StartAsInteractiveUser(dir / L"no-such-program.exe", L"", dir.path(), SW_SHOWNORMAL));
}

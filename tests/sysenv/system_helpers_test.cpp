#include <gtest/gtest.h>

#include <string>

#include "sysenv/system_helpers.h"
#include "sysenv_test_support.h"
#include "test_support.h"
#include "util/owned.h"

namespace {

// A registry key of this test run under HKEY_CURRENT_USER, removed at the end.
struct RegistryFixture : ::testing::Test {
    std::wstring subKey = L"Software\\QuiviewTests\\sysenv-" + std::to_wstring(::GetCurrentProcessId());
    UniqueRegKey key;

    void SetUp() override {
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    key.out(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        key.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QuiviewTests");
    }
    void Put(const wchar_t* name, DWORD type, const void* data, size_t bytes) {
        ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data),
                                   static_cast<DWORD>(bytes)),
                  ERROR_SUCCESS);
    }
    void PutText(const wchar_t* name, DWORD type, const std::wstring& units) {
        Put(name, type, units.data(), units.size() * sizeof(wchar_t));
    }
};

}  // namespace

TEST(OsVersion, ClassFromPlatformAnswers) {
    // RtlGetVersion missing or failing: never taken for XP.
    EXPECT_TRUE(Windows10FromRtl(false, 0, 5));
    EXPECT_TRUE(Windows10FromRtl(true, static_cast<LONG>(0xC0000001), 5));
    EXPECT_TRUE(Windows10FromRtl(true, 0, 10));
    EXPECT_FALSE(Windows10FromRtl(true, 0, 6));
    EXPECT_EQ(ClassifyOsVersion(Windows10FromRtl(false, 0, 0), true, 5, 1), OS_WIN10);

    EXPECT_EQ(ClassifyOsVersion(false, true, 5, 1), OS_XP);
    EXPECT_EQ(ClassifyOsVersion(false, true, 5, 2), OS_OTHER);
    EXPECT_EQ(ClassifyOsVersion(false, true, 5, 0), OS_OTHER);
    EXPECT_EQ(ClassifyOsVersion(false, true, 6, 0), OS_VISTA);
    EXPECT_EQ(ClassifyOsVersion(false, true, 6, 1), OS_WIN7);
    EXPECT_EQ(ClassifyOsVersion(false, true, 6, 2), OS_WIN8);
    EXPECT_EQ(ClassifyOsVersion(false, true, 6, 3), OS_OTHER);
    EXPECT_EQ(ClassifyOsVersion(false, true, 10, 0), OS_OTHER);
    EXPECT_EQ(ClassifyOsVersion(false, false, 5, 1), OS_OTHER);
}

TEST(OsVersion, NewPrefixReportsWindows7) {
    EXPECT_FALSE(IsWindows10());
    EXPECT_EQ(GetOsVersionClass(), OS_WIN7);
}

// The version Wine gives one executable (AppDefaults\<exe>\Version), seen by a
// child program that declares support for every system up to Windows 10.
TEST(OsVersion, ChildUnderEachWineVersion) {
    qvtest::TempDir dir;
    qvtest::RegValueGuard version(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\sysenv_child.exe",
                                  L"Version");
    const struct {
        const wchar_t* wine;
        OsVersionClass expected;
    } cases[] = {{L"winxp", OS_XP},  {L"win2003", OS_OTHER}, {L"vista", OS_VISTA}, {L"win7", OS_WIN7},
                 {L"win8", OS_WIN8}, {L"win81", OS_OTHER},   {L"win10", OS_WIN10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wine);
        version.SetString(c.wine);
        std::wstring report = dir / (std::wstring(c.wine) + L".txt");
        DWORD exitCode = 99;
        ASSERT_TRUE(RunProcess(qvtest::ChildCommand(qvtest::ChildPath(), L"report \"" + report + L"\""), L"", L"",
                               false, false, true, 60000, nullptr, nullptr, &exitCode));
        ASSERT_EQ(exitCode, 0u);
        auto values = qvtest::ParseReport(qvtest::ReadUtf8(report));
        EXPECT_EQ(values[L"os"], std::to_wstring(static_cast<int>(c.expected)));
        // The XP branches: data below Local, and the system account's XP profile.
        bool xp = c.expected == OS_XP;
        EXPECT_EQ(values[L"data"], (xp ? values[L"local"] : values[L"low"]) + L"\\Quiview");
        EXPECT_EQ(values[L"boblocal"], xp ? L"C:\\Documents and Settings\\bob\\Local Settings\\Application Data"
                                          : L"C:\\Users\\bob\\AppData\\Local");
        EXPECT_EQ(values[L"boblow"], xp ? L"" : L"C:\\Users\\bob\\AppData\\LocalLow");
        EXPECT_EQ(values[L"bobtemp"], xp ? L"C:\\Documents and Settings\\bob\\Local Settings\\Temp"
                                         : L"C:\\Users\\bob\\AppData\\Local\\Temp");
        EXPECT_EQ(values[L"bobdata"], xp ? L"C:\\Documents and Settings\\bob\\Local Settings\\Application Data\\Quiview"
                                         : L"C:\\Users\\bob\\AppData\\LocalLow\\Quiview");
    }
}

TEST_F(RegistryFixture, EachValueTypeAsText) {
    PutText(L"sz", REG_SZ, std::wstring(L"hello\0", 6));
    PutText(L"szInner", REG_SZ, std::wstring(L"ab\0cd\0", 6));
    Put(L"szEmpty", REG_SZ, "", 0);
    PutText(L"expand", REG_EXPAND_SZ, std::wstring(L"%TEMP%\\x\0", 9));
    PutText(L"multi", REG_MULTI_SZ, std::wstring(L"a\0bc\0\0", 6));
    PutText(L"", REG_SZ, std::wstring(L"default\0", 8));
    DWORD number = 7;
    Put(L"dword", REG_DWORD, &number, sizeof number);

    std::wstring text;
    DWORD type = 0;
    ASSERT_TRUE(QueryRegString(HKEY_CURRENT_USER, 0, text, subKey, L"sz", type));
    EXPECT_EQ(text, L"hello");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_TRUE(QueryRegString(HKEY_CURRENT_USER, 0, text, subKey, L"szInner", type));
    EXPECT_EQ(text, L"ab");
    text = L"old";
    ASSERT_TRUE(QueryRegString(HKEY_CURRENT_USER, 0, text, subKey, L"szEmpty", type));
    EXPECT_EQ(text, L"");
    // Expandable and multi-strings keep every stored unit, unexpanded.
    ASSERT_TRUE(QueryRegString(HKEY_CURRENT_USER, 0, text, subKey, L"expand", type));
    EXPECT_EQ(text, std::wstring(L"%TEMP%\\x\0", 9));
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    ASSERT_TRUE(QueryRegString(HKEY_CURRENT_USER, 0, text, subKey, L"multi", type));
    EXPECT_EQ(text, std::wstring(L"a\0bc\0\0", 6));
    EXPECT_EQ(GetRegString(subKey, L"", HKEY_CURRENT_USER), L"default");

    // Another type is read but leaves the caller's text alone.
    text = L"keep";
    ASSERT_TRUE(QueryRegString(HKEY_CURRENT_USER, 0, text, subKey, L"dword", type));
    EXPECT_EQ(text, L"keep");
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(GetRegString(subKey, L"dword", HKEY_CURRENT_USER), L"");
}

TEST_F(RegistryFixture, MissingKeyOrValue) {
    std::wstring text = L"keep";
    DWORD type = 77;
    EXPECT_FALSE(QueryRegString(HKEY_CURRENT_USER, 0, text, subKey + L"\\absent", L"sz", type));
    EXPECT_EQ(text, L"keep");
    EXPECT_EQ(type, 77u) << "a key that cannot be opened leaves the out arguments alone";
    EXPECT_FALSE(QueryRegString(HKEY_CURRENT_USER, 0, text, subKey, L"absent", type));
    EXPECT_EQ(text, L"keep");
    EXPECT_EQ(type, 0u);
    EXPECT_EQ(GetRegString(subKey, L"absent", HKEY_CURRENT_USER), L"");
}

TEST(Modules, LoadedOrLoadedNow) {
    EXPECT_EQ(GetOrLoadModule(L""), nullptr);
    EXPECT_EQ(GetOrLoadModule(L"kernel32.dll"), ::GetModuleHandleW(L"kernel32.dll"));
    HMODULE wts = GetOrLoadModule(L"Wtsapi32.dll");
    ASSERT_NE(wts, nullptr);
    EXPECT_EQ(::GetModuleHandleW(L"wtsapi32.dll"), wts);
    EXPECT_EQ(GetOrLoadModule(L"no-such-module-qv.dll"), nullptr);
    EXPECT_TRUE(EnablePrivilege(L"SeDebugPrivilege"));
    EXPECT_FALSE(EnablePrivilege(L"SeNoSuchPrivilegeQv"));
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
    ASSERT_TRUE(RunProcess(qvtest::ChildCommand(child.path, L"sleep 60000"), L"", L"", false, false, false, 0,
                           nullptr, &processId));
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
    ASSERT_TRUE(RunProcess(qvtest::ChildCommand(qvtest::ChildPath(), L"exit 42"), L"", L"", false, false, true,
                           60000, &threadId, &processId, &exitCode));
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

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <memory>
#include <vector>

#include "install/channel_detector.h"
#include "test_support.h"
#include "util/owned.h"
#include "util/path.h"

namespace {

// A copy of the probe program running under a given file name until the
// object goes.
class RunningCopy {
public:
    RunningCopy(const qvtest::TempDir& dir, const std::wstring& name) {
        const std::wstring exe = dir / name;
        if (!::CopyFileW((ModuleFolder() + L"\\channel_probe.exe").c_str(), exe.c_str(), FALSE)) return;
        static int serial = 0;
        const std::wstring eventName =
            L"qvtest-ready-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
        UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        process_ = std::make_unique<qvtest::ChildProcess>(L"\"" + exe + L"\" wait " + eventName);
        started_ = process_->WaitForEvent(ready.get(), 30000);
    }
    bool started() const { return started_; }
    DWORD id() const { return process_ ? process_->id() : 0; }

private:
    std::unique_ptr<qvtest::ChildProcess> process_;  // ended when the copy goes
    bool started_ = false;
};

std::wstring DetectWith(const std::wstring& name) {
    qvtest::TempDir dir;
    RunningCopy copy(dir, name);
    EXPECT_TRUE(copy.started()) << "could not start " << name.c_str();
    return CChannelDetector(L"").Channel();
}

// Position of a process id in the system's own enumeration order.
size_t EnumerationIndex(DWORD id) {
    std::vector<DWORD> ids(4096);
    DWORD bytes = 0;
    ::EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes);
    for (size_t i = 0; i < bytes / sizeof(DWORD); ++i)
        if (ids[i] == id) return i;
    return SIZE_MAX;
}

}  // namespace

TEST(ChannelFromName, DigitRule) {
    EXPECT_EQ(CChannelDetector::ChannelFromName(L"qvewtg_30123.exe"), L"30123");
    EXPECT_EQ(CChannelDetector::ChannelFromName(L"qvewtg-3a0b1c2d3.exe"), L"30123");
    EXPECT_EQ(CChannelDetector::ChannelFromName(L"qvewtg_301.e23"), L"30123");
    EXPECT_EQ(CChannelDetector::ChannelFromName(L"qvewtg_301234.exe"), L"");
    EXPECT_EQ(CChannelDetector::ChannelFromName(L"qvewtg_20123.exe"), L"");
    EXPECT_EQ(CChannelDetector::ChannelFromName(L"qvewtg_3012.exe"), L"");
    EXPECT_EQ(CChannelDetector::ChannelFromName(L""), L"");
}

TEST(ChannelDetector, LaunchTextDecidesWhenGiven) {
    EXPECT_EQ(CChannelDetector(L"/S /QD=30999").Channel(), L"30999");
    EXPECT_EQ(CChannelDetector(L"/qd=30111 x /qd=abc").Channel(), L"abc");
    EXPECT_EQ(CChannelDetector(L"/silent").Channel(), L"");
}

TEST(ChannelDetector, NoMarkedProgramGivesNoChannel) {
    EXPECT_EQ(CChannelDetector::FindMarkedProcessName(), L"");
    EXPECT_EQ(CChannelDetector(L"").Channel(), L"");
}

TEST(ChannelDetector, RunningProgramsUnderMarkedNames) {
    EXPECT_EQ(DetectWith(L"qvewtg_30123.exe"), L"30123");
    EXPECT_EQ(DetectWith(L"QVEWTG_30456.EXE"), L"30456");
    EXPECT_EQ(DetectWith(L"qvewtg_301234.exe"), L"");
    EXPECT_EQ(DetectWith(L"qvewtg_20123.exe"), L"");
    EXPECT_EQ(DetectWith(L"qvewtg-3a0b1c2d3.exe"), L"30123");
    EXPECT_EQ(DetectWith(L"qvewtg_301.e23"), L"30123");
    {
        qvtest::TempDir dir;
        RunningCopy upper(dir, L"Setup_QVEWTG_30456.exe");
        ASSERT_TRUE(upper.started());
        EXPECT_EQ(CChannelDetector::FindMarkedProcessName(), L"setup_qvewtg_30456.exe");
    }
}

TEST(ChannelDetector, FirstMarkedProgramWins) {
    qvtest::TempDir dir;
    RunningCopy wrong(dir, L"qvewtg_20123.exe");
    RunningCopy right(dir, L"qvewtg_30555.exe");
    ASSERT_TRUE(wrong.started());
    ASSERT_TRUE(right.started());
    const bool wrongFirst = EnumerationIndex(wrong.id()) < EnumerationIndex(right.id());
    EXPECT_EQ(CChannelDetector::FindMarkedProcessName(), wrongFirst ? L"qvewtg_20123.exe" : L"qvewtg_30555.exe");
    EXPECT_EQ(CChannelDetector(L"").Channel(), wrongFirst ? L"" : L"30555");
}

TEST(ChannelDetector, ProgramFindsItsOwnMarkedName) {
    qvtest::TempDir dir;
    const std::wstring exe = dir / L"qvewtg_30777.exe";
    ASSERT_TRUE(::CopyFileW((ModuleFolder() + L"\\channel_probe.exe").c_str(), exe.c_str(), FALSE));
    const std::wstring out = dir / L"out.txt";
    ASSERT_EQ(qvtest::RunAndWait(L"\"" + exe + L"\" detect \"" + out + L"\""), 0);
    EXPECT_EQ(qvtest::ReadBytes(out), "30777\nqvewtg_30777.exe");
}

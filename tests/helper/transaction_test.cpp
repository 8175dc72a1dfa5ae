// The installation transaction itself: an installation killed between moving
// its files in and finishing is undone by the next one.
#include <gtest/gtest.h>

#include <windows.h>

#include "helper/transaction.h"
#include "test_support.h"
#include "util/crc32.h"
#include "util/path.h"

namespace {

PayloadItem Item(const std::wstring& folder, const std::wstring& relative) {
    const std::string bytes = qvtest::ReadBytes(folder + L"\\" + relative);
    PayloadItem item;
    item.path = relative;
    item.size = bytes.size();
    item.hasCrc = true;
    item.crc = Crc32Update(0, bytes.data(), bytes.size());
    return item;
}

bool Commit(const std::wstring& payload, const std::vector<std::wstring>& names, CInstallTransaction& transaction) {
    std::vector<char> buffer(4096);
    if (!transaction.Begin()) return false;
    for (const std::wstring& name : names)
        if (!transaction.StageFile(payload + L"\\" + name, Item(payload, name), buffer, nullptr)) return false;
    return transaction.CommitFiles();
}

}  // namespace

TEST(Transaction, AKilledCommitIsUndoneByTheNextInstallation) {
    qvtest::TempDir dir;
    const std::wstring payload = dir / L"payload", install = dir / L"Quiview";
    CreateDirectoryTree(payload + L"\\sub");
    qvtest::WriteBytes(payload + L"\\a.txt", "a1");
    qvtest::WriteBytes(payload + L"\\sub\\b.txt", "b1");
    {
        CInstallTransaction first(install);
        ASSERT_TRUE(Commit(payload, {L"a.txt", L"sub\\b.txt"}, first));
        first.Finish();
    }
    qvtest::WriteBytes(install + L"\\notes.txt", "the user's");
    const std::vector<std::wstring> before = qvtest::ListTree(install);

    qvtest::WriteBytes(payload + L"\\a.txt", "a2");
    qvtest::WriteBytes(payload + L"\\c.txt", "c2");
    // Committed but never finished, and never destroyed: as if the process
    // had been killed right after moving its files in.
    {
        CInstallTransaction killed(install);
        ASSERT_TRUE(Commit(payload, {L"a.txt", L"c.txt"}, killed));
        EXPECT_EQ(qvtest::ReadBytes(install + L"\\a.txt"), "a2");
        killed.Abandon();
    }
    CInstallTransaction::Recover();
    EXPECT_EQ(qvtest::ListTree(install), before);
    EXPECT_EQ(qvtest::ReadBytes(install + L"\\a.txt"), "a1");
    EXPECT_EQ(qvtest::ReadBytes(install + L"\\sub\\b.txt"), "b1");
    EXPECT_EQ(qvtest::ReadBytes(install + L"\\notes.txt"), "the user's");

    // A staging folder left by a run killed while it was still copying goes too.
    {
        CInstallTransaction staging(install);
        std::vector<char> buffer(4096);
        ASSERT_TRUE(staging.Begin());
        ASSERT_TRUE(staging.StageFile(payload + L"\\c.txt", Item(payload, L"c.txt"), buffer, nullptr));
        staging.Abandon();
    }
    CInstallTransaction::Recover();
    EXPECT_EQ(qvtest::ListTree(install), before);
}

// A new installation into a folder that did not exist leaves nothing when it fails.
TEST(Transaction, RollbackRemovesTheFoldersItMade) {
    qvtest::TempDir dir;
    const std::wstring payload = dir / L"payload", install = dir / L"new\\deeper\\Quiview";
    CreateDirectoryTree(payload);
    qvtest::WriteBytes(payload + L"\\a.txt", "a");
    {
        CInstallTransaction transaction(install);
        ASSERT_TRUE(Commit(payload, {L"a.txt"}, transaction));
        EXPECT_TRUE(qvtest::Exists(install + L"\\a.txt"));
    }
    EXPECT_FALSE(qvtest::Exists(dir / L"new"));
}

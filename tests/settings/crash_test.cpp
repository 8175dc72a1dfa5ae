// A process killed inside a write transaction leaves a hot journal; the next
// connection under the right key rolls it back, and one under a wrong key
// must leave it alone.
#include <windows.h>

#include <gtest/gtest.h>

#include "reference.h"
#include "test_support.h"
#include "util/owned.h"
#include "util/path.h"

using namespace reftest;

namespace {

const char kRows[] = "SELECT id, v FROM t ORDER BY id";

// Runs the child on `path` and kills it once it is inside its transaction.
void CrashInsideTransaction(const std::wstring& path) {
    wchar_t eventName[64];
    ::wsprintfW(eventName, L"qv-crash-%lx-%lx", ::GetCurrentProcessId(), ::GetTickCount());
    UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName));
    ASSERT_TRUE(ready);
    qvtest::ChildProcess child(L"\"" + ModuleFolder() + L"\\settings_crash_child.exe\" \"" + path + L"\" " + eventName);
    ASSERT_TRUE(child.started());
    const bool inside = child.WaitForEvent(ready.get(), 120000);
    child.End(9);
    ASSERT_TRUE(inside) << "the child did not reach its transaction";
}

class CrashTest : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(CrashTest, NextOpenRollsBack) {
    qvtest::TempDir dir;
    const std::wstring path = dir / L"crash.db";
    MakeTable(path, StoreKeyBytes(), GetParam(), 400);
    const std::vector<std::string> before = RawDb(path, StoreKeyBytes()).Rows(kRows);
    ASSERT_EQ(before.size(), 400u);
    const std::string fileBefore = qvtest::ReadBytes(path);
    CrashInsideTransaction(path);
    ASSERT_TRUE(qvtest::Exists(path + L"-journal"));
    ASSERT_NE(qvtest::ReadBytes(path), fileBefore) << "the transaction spilled no pages";

    RawDb db(path, StoreKeyBytes());
    EXPECT_EQ(db.Rows(kRows), before);
    EXPECT_EQ(db.Rows("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    EXPECT_FALSE(qvtest::Exists(path + L"-journal"));
    EXPECT_EQ(qvtest::ReadBytes(path), fileBefore) << "the enciphered pages of before are back";
}

INSTANTIATE_TEST_SUITE_P(PageSizes, CrashTest, ::testing::Values(512, 1024));

// A wrong key or no key must not play back (and so delete) the hot journal,
// also when page 1 of the file was torn; the right key then restores all.
TEST(CrashWrongKeyTest, HotJournalSurvivesWrongKey) {
    for (bool tornFirstPage : {false, true}) {
        qvtest::TempDir dir;
        const std::wstring path = dir / L"crash.db";
        MakeTable(path, StoreKeyBytes(), 1024, 400);
        const std::vector<std::string> before = RawDb(path, StoreKeyBytes()).Rows(kRows);
        CrashInsideTransaction(path);
        if (tornFirstPage) {
            std::string raw = qvtest::ReadBytes(path);
            for (int i = 0; i < 1024; ++i) raw[i] = static_cast<char>(i * 7 + 3);
            qvtest::WriteBytes(path, raw);
        }
        const std::string file = qvtest::ReadBytes(path), journal = qvtest::ReadBytes(path + L"-journal");

        for (const std::string& key : {std::string("kestova"), std::string()}) {
            int rc = 0;
            RawDb(path, key).Rows(kRows, &rc);
            EXPECT_EQ(rc, SQLITE_NOTADB) << "torn " << tornFirstPage << ", key '" << key << "'";
            ASSERT_TRUE(qvtest::Exists(path + L"-journal"));
            EXPECT_EQ(qvtest::ReadBytes(path + L"-journal"), journal);
            EXPECT_EQ(qvtest::ReadBytes(path), file);
        }
        RawDb db(path, StoreKeyBytes());
        EXPECT_EQ(db.Rows(kRows), before) << "torn " << tornFirstPage;
        EXPECT_EQ(db.Rows("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    }
}

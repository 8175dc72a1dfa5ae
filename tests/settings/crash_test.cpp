// A process killed inside a write transaction leaves a hot journal whose
// records check out over their enciphered images; the next connection under
// the right key rolls it back, and one under a wrong key must leave it alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

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

std::uint32_t Word(const std::string& bytes, size_t at) {
    std::uint32_t value = 0;
    for (size_t i = at; i < at + 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

// Reads `journal` the way a reader of its format does, with neither SQLite
// nor the cipher layer: from each header (while its magic is there) the
// record count and checksum seed, then each counted record, whose checksum
// must be the seed plus every 200th byte of the image as stored. Returns the
// number of records that check out; the first that does not ends the walk,
// as it would end playback, and fails the test.
int CheckJournalRecords(const std::string& journal, int pageSize) {
    const std::string magic("\xd9\xd5\x05\xf9\x20\xa1\x63\xd7", 8);
    const size_t recordSize = pageSize + 8;
    if (journal.size() < 28) return 0;
    const size_t sectorSize = Word(journal, 20);
    EXPECT_EQ(Word(journal, 24), static_cast<std::uint32_t>(pageSize));
    if (sectorSize < 32) return 0;
    int checked = 0;
    for (size_t header = 0; header + 28 <= journal.size() && journal.compare(header, 8, magic) == 0;) {
        size_t at = header + sectorSize;
        std::uint32_t count = Word(journal, header + 8);
        if (count == 0xffffffff) count = static_cast<std::uint32_t>((journal.size() - at) / recordSize);
        const std::uint32_t seed = Word(journal, header + 12);
        for (std::uint32_t i = 0; i < count; ++i, at += recordSize, ++checked) {
            if (at + recordSize > journal.size()) {
                ADD_FAILURE() << "record " << i << " of the header at " << header << " is cut short";
                return checked;
            }
            std::uint32_t sum = seed;
            for (int j = pageSize - 200; j > 0; j -= 200) sum += static_cast<unsigned char>(journal[at + 4 + j]);
            if (Word(journal, at + 4 + pageSize) != sum) {
                ADD_FAILURE() << "record " << i << " of the header at " << header << " (page " << Word(journal, at)
                              << ") has checksum " << Word(journal, at + 4 + pageSize)
                              << " where its stored image sums to " << sum;
                return checked;
            }
        }
        header = (at + sectorSize - 1) / sectorSize * sectorSize;
    }
    return checked;
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
    EXPECT_GT(CheckJournalRecords(qvtest::ReadBytes(path + L"-journal"), GetParam()), 0);

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

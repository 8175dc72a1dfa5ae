// The settings store: insert-or-update semantics, texts that need quoting,
// retries, the data folder, and the support tool on the file it writes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "reference.h"
#include "settings/settings_store.h"
#include "sysenv/user_folders.h"
#include "test_support.h"
#include "util/text.h"

using namespace reftest;

namespace {

std::vector<std::string> AllRows(const std::wstring& folder) {
    return RawDb(folder + L"\\config.dat", StoreKeyBytes()).Rows("SELECT key, value FROM kestova ORDER BY key");
}

// Runs configdump on `file`; returns its exit code, its output goes to `output`.
int ConfigDump(const std::wstring& file, std::string& output) {
    const std::wstring command = L"\"\"" QV_CONFIGDUMP L"\" \"" + file + L"\" 2>&1\"";
    FILE* pipe = ::_wpopen(command.c_str(), L"rb");
    if (!pipe) return -1;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
    return ::_pclose(pipe);
}

}  // namespace

TEST(SettingsStoreTest, InsertOnceThenUpdateOnlyWhenDifferent) {
    qvtest::TempDir dir;
    EXPECT_TRUE(CSettingsStore(dir.path(), "kestova").SetValue("join", "1"));
    const std::string file = qvtest::ReadBytes(dir / L"config.dat");
    EXPECT_TRUE(CSettingsStore(dir.path(), "kestova").SetValue("join", "1"));
    EXPECT_EQ(qvtest::ReadBytes(dir / L"config.dat"), file) << "an equal value is not written";

    CSettingsStore store(dir.path(), "kestova");
    EXPECT_TRUE(store.SetValue("join", "10"));
    EXPECT_TRUE(store.SetValue("uid", "0123456789abcdef0123456789abcdef"));
    EXPECT_TRUE(store.SetValue("uid", "fedcba9876543210fedcba9876543210"));
    std::string value;
    EXPECT_TRUE(store.GetValue("join", value));
    EXPECT_EQ(value, "10");
    EXPECT_FALSE(store.GetValue("channel", value));
    EXPECT_EQ(AllRows(dir.path()), (std::vector<std::string>{"join|10", "uid|fedcba9876543210fedcba9876543210"}));
}

// Quotes never change a statement, and texts of any length are stored.
TEST(SettingsStoreTest, AnyTextRoundTrips) {
    qvtest::TempDir dir;
    const std::string texts[] = {"it's",
                                 "''",
                                 "x'); DROP TABLE kestova; --",
                                 std::string(9000, '\''),
                                 "\xe8\xae\xbe\xe7\xbd\xae",
                                 std::string(20000, 'v') + "'"};
    CSettingsStore store(dir.path(), "kestova");
    for (const std::string& text : texts) {
        EXPECT_TRUE(store.SetValue(text, text)) << text.substr(0, 40);
        EXPECT_TRUE(store.SetValue(text, text + "!"));
    }
    for (const std::string& text : texts) {
        std::string value;
        EXPECT_TRUE(store.GetValue(text, value));
        EXPECT_EQ(value, text + "!");
    }
    EXPECT_EQ(AllRows(dir.path()).size(), 6u);
    EXPECT_FALSE(store.SetValue(std::string("a\0b", 3), "v")) << "a NUL would cut the text";
}

// The first EnsureTable fails while another connection holds the write lock;
// the next operation tries again.
TEST(SettingsStoreTest, FailedEnsureTableIsRetried) {
    qvtest::TempDir dir;
    RawDb other(dir / L"config.dat", StoreKeyBytes());
    ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
    CSettingsStore store(dir.path(), "kestova");
    EXPECT_FALSE(store.EnsureTable());
    EXPECT_FALSE(store.SetValue("version", "1.0.1"));
    ASSERT_EQ(other.Exec("ROLLBACK"), SQLITE_OK);
    EXPECT_TRUE(store.SetValue("version", "1.0.1"));
    EXPECT_EQ(AllRows(dir.path()), std::vector<std::string>{"version|1.0.1"});
}

TEST(SettingsStoreTest, FolderIsCreatedEvenWithChineseName) {
    qvtest::TempDir dir;
    const std::wstring folder = dir / L"\u6570\u636e\\\u8bbe\u7f6e";
    EXPECT_TRUE(CSettingsStore(folder, "kestova").SetValue("channel", "30100"));
    EXPECT_TRUE(qvtest::Exists(folder + L"\\config.dat"));
    EXPECT_EQ(AllRows(folder), std::vector<std::string>{"channel|30100"});

    // A folder that cannot exist (its parent is a file): nothing is stored.
    qvtest::WriteBytes(dir / L"file", "x");
    EXPECT_FALSE(CSettingsStore(dir / L"file\\sub", "kestova").SetValue("channel", "30100"));
}

// The start-up and install sequences through the setters, in the real data folder.
TEST(SettingsStoreTest, SettersWriteTheDataFolder) {
    const std::wstring folder = DataFolder();
    ASSERT_FALSE(folder.empty());
    const std::wstring file = folder + L"\\config.dat";
    ::DeleteFileW(file.c_str());
    SetChannel("30105");
    SetVersion("1.0.1");
    EXPECT_EQ(AllRows(folder), (std::vector<std::string>{"channel|30105", "version|1.0.1"}));
    SetJoin("0");
    SetUid("0123456789abcdef0123456789abcdef");
    SetChannel("30100");
    SetVersion("1.0.1");
    EXPECT_EQ(AllRows(folder), (std::vector<std::string>{"channel|30100", "join|0",
                                                         "uid|0123456789abcdef0123456789abcdef", "version|1.0.1"}));

    std::string output;
    EXPECT_EQ(ConfigDump(file, output), 0);
    EXPECT_EQ(output, "channel\t30100\r\nversion\t1.0.1\r\njoin\t0\r\nuid\t0123456789abcdef0123456789abcdef\r\n");
    EXPECT_TRUE(SettingReadsBack("uid", "0123456789abcdef0123456789abcdef"));
    EXPECT_FALSE(SettingReadsBack("join", "1"));
    EXPECT_FALSE(SettingReadsBack("missing", ""));
    ::DeleteFileW(file.c_str());
    EXPECT_FALSE(SettingReadsBack("channel", "30100"));
}

// Start-up's two settings through one opening: the rows, and their order in
// the file, are those the two setters leave; a value that cannot be stored
// does not keep the other from being written.
TEST(SettingsStoreTest, ChannelAndVersionWrittenAsByTheirSetters) {
    const std::wstring folder = DataFolder();
    ASSERT_FALSE(folder.empty());
    const std::wstring file = folder + L"\\config.dat";
    ::DeleteFileW(file.c_str());
    SetChannelAndVersion("30105", "1.0.1");
    EXPECT_EQ(AllRows(folder), (std::vector<std::string>{"channel|30105", "version|1.0.1"}));

    SetJoin("1");
    SetChannelAndVersion("30100", "1.0.2");
    std::string output;
    EXPECT_EQ(ConfigDump(file, output), 0);
    EXPECT_EQ(output, "channel\t30100\r\nversion\t1.0.2\r\njoin\t1\r\n");

    SetChannelAndVersion(std::string("301\0"
                                     "00",
                                     6),
                         "1.0.3");
    EXPECT_EQ(AllRows(folder), (std::vector<std::string>{"channel|30100", "join|1", "version|1.0.3"}));
    ::DeleteFileW(file.c_str());
}

// What only reads the settings (the viewer) never creates or changes them.
TEST(SettingsStoreTest, ReadOnlyStoreCreatesAndChangesNothing) {
    qvtest::TempDir dir;
    const std::wstring folder = dir / L"data";
    std::string value;
    CSettingsStore missing(folder, "kestova", CSettingsStore::Access::kReadOnly);
    EXPECT_FALSE(missing.GetValue("channel", value));
    EXPECT_FALSE(missing.SetValue("channel", "1"));
    EXPECT_FALSE(qvtest::Exists(folder));

    ASSERT_TRUE(CSettingsStore(folder, "kestova").SetValue("channel", "30100"));
    const std::string bytes = qvtest::ReadBytes(folder + L"\\config.dat");
    const unsigned long long written = qvtest::LastWriteTime(folder + L"\\config.dat");
    ::SetFileAttributesW((folder + L"\\config.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    {
        CSettingsStore reader(folder, "kestova", CSettingsStore::Access::kReadOnly);
        EXPECT_TRUE(reader.GetValue("channel", value));
        EXPECT_EQ(value, "30100");
        EXPECT_FALSE(reader.SetValue("channel", "30999"));
        EXPECT_FALSE(reader.UpdateValue("channel", "30999"));
        EXPECT_FALSE(reader.SetValue("version", "9"));
    }
    EXPECT_EQ(qvtest::ReadBytes(folder + L"\\config.dat"), bytes);
    EXPECT_EQ(qvtest::LastWriteTime(folder + L"\\config.dat"), written);
    EXPECT_FALSE(qvtest::Exists(folder + L"\\config.dat-journal"));
    ::SetFileAttributesW((folder + L"\\config.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The installer writes the store elevated in a folder of the user's: a link
// there must not send the file (or its journal) anywhere else.
TEST(SettingsStoreTest, NeverWritesThroughALink) {
    qvtest::TempDir dir;
    const std::wstring victim = dir / L"victim";
    ::CreateDirectoryW(victim.c_str(), nullptr);
    qvtest::WriteBytes(victim + L"\\precious.txt", "precious");

    ASSERT_TRUE(qvtest::MakeLink(dir / L"linked-folder", victim));
    EXPECT_FALSE(CSettingsStore(dir / L"linked-folder", "kestova").SetValue("channel", "30100"));
    EXPECT_FALSE(CSettingsStore(dir / L"linked-folder\\sub", "kestova").SetValue("channel", "30100"));
    EXPECT_FALSE(qvtest::Exists(victim + L"\\config.dat"));
    EXPECT_FALSE(qvtest::Exists(victim + L"\\sub"));

    for (const wchar_t* name : {L"config.dat", L"config.dat-journal"}) {
        SCOPED_TRACE(WideToUtf8(name));
        const std::wstring folder = dir / (std::wstring(L"data-") + name);
        ::CreateDirectoryW(folder.c_str(), nullptr);
        ASSERT_TRUE(qvtest::MakeLink(folder + L"\\" + name, victim + L"\\precious.txt"));
        EXPECT_FALSE(CSettingsStore(folder, "kestova").SetValue("channel", "30100"));
        std::string value;
        EXPECT_FALSE(CSettingsStore(folder, "kestova", CSettingsStore::Access::kReadOnly).GetValue("channel", value));
    }
    EXPECT_EQ(qvtest::ReadBytes(victim + L"\\precious.txt"), "precious");
}

TEST(ConfigDumpTest, ReportsUnreadableFiles) {
    qvtest::TempDir dir;
    std::string output;
    EXPECT_NE(ConfigDump(dir / L"missing.dat", output), 0);
    EXPECT_NE(output.find("no such file"), std::string::npos) << output;
    EXPECT_FALSE(qvtest::Exists(dir / L"missing.dat"));

    MakeTable(dir / L"other.dat", "another key", 1024, 3);
    output.clear();
    EXPECT_NE(ConfigDump(dir / L"other.dat", output), 0);
    EXPECT_NE(output.find("another key"), std::string::npos) << output;
}

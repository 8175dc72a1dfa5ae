// The page transform and the enciphered file format, checked against known
// answers and against an independent decipherment of the raw file.
#include <gtest/gtest.h>

#include "reference.h"
#include "settings/page_codec.h"
#include "settings/settings_store.h"
#include "test_support.h"

using namespace reftest;

namespace {

std::string CountingPage() {
    std::string page(1024, '\0');
    for (int i = 0; i < 1024; ++i) page[i] = static_cast<char>(i & 0xff);
    return page;
}

}  // namespace

TEST(PageCodecTest, KnownAnswers) {
    std::uint32_t words[2] = {0, 0};
    XxteaBlock(words, 2, CodecKey{0, 0, 0, 0});
    EXPECT_EQ(words[0], 0x053704abu);
    EXPECT_EQ(words[1], 0x575d8c80u);
    XxteaBlock(words, -2, CodecKey{0, 0, 0, 0});
    EXPECT_EQ(words[0] | words[1], 0u);

    std::string block(8, '\0');
    EncipherPage(block, "\x01\x02\x04\x08\x10\x20\x40\x80\xff\xfe\xfc\xf8\xf0\xe0\xc0\x80");
    EXPECT_EQ(Hex(block), "d1e78be2c746728a");
    std::string product(8, '\0');
    const CodecKey key2{0x08040201, 0x80402010, 0xf8fcfeff, 0x80c0e0f0};
    XxteaBytes(reinterpret_cast<unsigned char*>(&product[0]), 2, key2);
    EXPECT_EQ(product, block);

    // A whole page under MD5("secret"), through the codec and through the reference.
    EXPECT_EQ(Hex(Md5("secret")), "5ebe2294ecd0e0f08eab7690d2a6ee69");
    EXPECT_EQ(Hex(Md5("abc")), "900150983cd24fb0d6963f7d28e17f72");
    std::unique_ptr<CodecKey> key = DeriveCodecKey(6, "secret");
    ASSERT_TRUE(key);
    CodecContext context(std::shared_ptr<const CodecKey>(std::move(key)), 1024);
    std::string page = CountingPage();
    unsigned char* copy = PageCodec(&context, reinterpret_cast<unsigned char*>(&page[0]), 1, kCodecWriteDatabase);
    ASSERT_NE(copy, reinterpret_cast<unsigned char*>(&page[0]));
    EXPECT_EQ(page, CountingPage()) << "the page in memory stays plain";
    std::string cipher(reinterpret_cast<char*>(copy), 1024);
    EXPECT_EQ(Hex(cipher.substr(0, 16)), "560345677fe9d639efbb2ef06ab52228");
    EXPECT_EQ(Hex(cipher.substr(1008)), "c94c548e6d9de0c57d854f3e1b8af0ac");
    std::string reference = CountingPage();
    EncipherPage(reference, Md5("secret"));
    EXPECT_EQ(reference, cipher);
    EXPECT_EQ(PageCodec(&context, copy, 1, kCodecReadCached), copy);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(copy), 1024), CountingPage());

    EXPECT_FALSE(DeriveCodecKey(0, "x"));
    EXPECT_FALSE(DeriveCodecKey(-1, "x"));
    EXPECT_FALSE(DeriveCodecKey(4, nullptr));
}

// The file the store writes, deciphered page by page without the product's
// code, is an ordinary SQLite database holding the table and the rows.
TEST(CipherFileTest, StoreFileDeciphersIndependently) {
    qvtest::TempDir dir;
    {
        CSettingsStore store(dir.path(), "kestova");
        ASSERT_TRUE(store.SetValue("channel", "30100"));
        ASSERT_TRUE(store.SetValue("version", "1.0.1"));
    }
    const std::string raw = qvtest::ReadBytes(dir / L"config.dat");
    ASSERT_GT(raw.size(), 0u);
    ASSERT_EQ(raw.size() % 1024, 0u);
    EXPECT_NE(raw.substr(0, 15), "SQLite format 3");
    EXPECT_EQ(raw.find("kestova"), std::string::npos);
    EXPECT_EQ(raw.find("channel"), std::string::npos);

    const std::string digest = Md5(StoreKeyBytes());
    std::string plain;
    for (size_t at = 0; at < raw.size(); at += 1024) {
        std::string page = raw.substr(at, 1024);
        DecipherPage(page, digest);
        plain += page;
    }
    EXPECT_EQ(plain.substr(0, 16), std::string("SQLite format 3\0", 16));
    EXPECT_EQ(plain.substr(16, 2), std::string("\x04\x00", 2));
    EXPECT_NE(plain.substr(0, 1024).find("CREATE TABLE kestova (key varchar primary key, value varchar)"),
              std::string::npos);

    qvtest::WriteBytes(dir / L"plain.db", plain);
    RawDb db(dir / L"plain.db", "");
    EXPECT_EQ(db.Rows("SELECT key, value FROM kestova ORDER BY key"),
              (std::vector<std::string>{"channel|30100", "version|1.0.1"}));
    EXPECT_EQ(db.Rows("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

// The key is the bytes, not the letters; without a key the file is plain.
TEST(CipherFileTest, KeyBytesDecide) {
    qvtest::TempDir dir;
    { CSettingsStore(dir.path(), "kestova").SetValue("join", "1"); }
    int rc = 0;
    RawDb(dir / L"config.dat", "kestova").Rows("SELECT * FROM kestova", &rc);
    EXPECT_EQ(rc, SQLITE_NOTADB);
    RawDb(dir / L"config.dat", "").Rows("SELECT * FROM kestova", &rc);
    EXPECT_EQ(rc, SQLITE_NOTADB);
    EXPECT_EQ(RawDb(dir / L"config.dat", StoreKeyBytes()).Rows("SELECT * FROM kestova", &rc),
              std::vector<std::string>{"join|1"});

    qvtest::TempDir plainDir;
    { CSettingsStore(plainDir.path(), "").SetValue("join", "1"); }
    EXPECT_EQ(qvtest::ReadBytes(plainDir / L"config.dat").substr(0, 16), std::string("SQLite format 3\0", 16));
    {
        RawDb zeroLength(plainDir / L"zero.db", "");
        EXPECT_EQ(sqlite3_key(zeroLength.get(), "abc", 0), SQLITE_OK);
        EXPECT_EQ(sqlite3CodecAttach(zeroLength.get(), 0, "abc", -1), SQLITE_ERROR);
        void* key = &rc;
        int length = 5;
        sqlite3CodecGetKey(zeroLength.get(), 0, &key, &length);
        EXPECT_TRUE(key == nullptr && length == 0);
        EXPECT_EQ(sqlite3_key(RawDb(L":memory:", "").get(), "abc", 3), SQLITE_ERROR) << "cannot be enciphered";
        zeroLength.Exec("CREATE TABLE t(x)");
    }
    EXPECT_EQ(qvtest::ReadBytes(plainDir / L"zero.db").substr(0, 15), "SQLite format 3");
}

// Files of other page sizes are read (their header is enciphered, so the
// page size is found by trial); pages are whole XXTEA blocks of that size.
TEST(CipherFileTest, OtherPageSizesFoundByTrial) {
    qvtest::TempDir dir;
    for (int pageSize : {512, 4096, 65536}) {
        const std::wstring path = dir / (L"p" + std::to_wstring(pageSize) + L".db");
        MakeTable(path, StoreKeyBytes(), pageSize, 60);
        std::string first = qvtest::ReadBytes(path).substr(0, pageSize);
        DecipherPage(first, Md5(StoreKeyBytes()));
        EXPECT_EQ(first.substr(0, 15), "SQLite format 3") << pageSize;
        EXPECT_EQ(((unsigned char)first[16] << 8 | (unsigned char)first[17] << 16), pageSize);

        RawDb db(path, StoreKeyBytes());
        EXPECT_EQ(db.Rows("SELECT count(*), min(v LIKE 'original-%') FROM t"), std::vector<std::string>{"60|1"});
        EXPECT_EQ(db.Rows("PRAGMA page_size"), std::vector<std::string>{std::to_string(pageSize)});
        EXPECT_EQ(db.Rows("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    }
}

// Two connections share the file; values larger than a page use overflow pages.
TEST(CipherFileTest, SecondConnectionReadsLargeValues) {
    qvtest::TempDir dir;
    const std::wstring path = dir / L"shared.db";
    RawDb a(path, StoreKeyBytes()), b(path, StoreKeyBytes());
    const std::string big(5000, 'x');
    ASSERT_EQ(a.Exec("CREATE TABLE t(v); INSERT INTO t VALUES ('" + big + "')"), SQLITE_OK);
    EXPECT_EQ(b.Rows("SELECT v FROM t"), std::vector<std::string>{big});
    ASSERT_EQ(b.Exec("UPDATE t SET v = v || 'y'"), SQLITE_OK);
    EXPECT_EQ(a.Rows("SELECT v FROM t"), std::vector<std::string>{big + "y"});
}

// A rolled-back transaction that spilled pages into the file puts the
// enciphered pages of before back, byte for byte.
TEST(CipherFileTest, RollbackRestoresEncipheredFile) {
    qvtest::TempDir dir;
    const std::wstring path = dir / L"rollback.db";
    MakeTable(path, StoreKeyBytes(), 1024, 300);
    const std::string before = qvtest::ReadBytes(path);
    RawDb db(path, StoreKeyBytes());
    ASSERT_EQ(db.Exec("PRAGMA cache_size=5; BEGIN; UPDATE t SET v = hex(randomblob(90))"), SQLITE_OK);
    EXPECT_NE(qvtest::ReadBytes(path), before) << "pages spilled into the file";
    ASSERT_EQ(db.Exec("ROLLBACK"), SQLITE_OK);
    EXPECT_EQ(qvtest::ReadBytes(path), before);
}

// Writes and reads that are not whole pages still go through whole enciphered pages.
TEST(CipherFileTest, PartialWritesKeepWholeEncipheredPages) {
    qvtest::TempDir dir;
    const std::wstring path = dir / L"partial.db";
    MakeTable(path, StoreKeyBytes(), 1024, 60);
    RawDb db(path, StoreKeyBytes());
    ASSERT_EQ(db.Rows("SELECT count(*) FROM t"), std::vector<std::string>{"60"});
    sqlite3_file* file = nullptr;
    ASSERT_EQ(sqlite3_file_control(db.get(), "main", SQLITE_FCNTL_FILE_POINTER, &file), SQLITE_OK);
    ASSERT_EQ(file->pMethods->xWrite(file, "patch", 5, 2046), SQLITE_OK);  // ends of pages 2 and 3
    char back[5] = {};
    ASSERT_EQ(file->pMethods->xRead(file, back, 5, 2046), SQLITE_OK);
    EXPECT_EQ(std::string(back, 5), "patch");
    const std::string raw = qvtest::ReadBytes(path);
    std::string second = raw.substr(1024, 1024), third = raw.substr(2048, 1024);
    DecipherPage(second, Md5(StoreKeyBytes()));
    DecipherPage(third, Md5(StoreKeyBytes()));
    EXPECT_EQ(second.substr(1022) + third.substr(0, 3), "patch");
}

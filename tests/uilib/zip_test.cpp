// The ZIP reader against archives made by the standard zip tool (stored and
// deflated) and by the build's own packer, and against damaged archives.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "test_support.h"
#include "uilib/zip_reader.h"

namespace {

std::wstring DataFolder() {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\')) + L"\\zipdata\\";
}

std::string Data(const wchar_t* name) { return qvtest::ReadBytes(DataFolder() + name); }

// Offset of the first entry's data, read from its local header.
size_t FirstDataOffset(const std::string& zip) {
    auto u16 = [&](size_t at) { return size_t(uint8_t(zip[at])) | (size_t(uint8_t(zip[at + 1])) << 8); };
    return 30 + u16(26) + u16(28);
}

TEST(ZipReader, ReadsStoredAndDeflatedEntriesOfTheZipTool) {
    const std::string xml = Data(L"inst.xml"), png = Data(L"begin.png"), box = Data(L"checkbox.png");
    ASSERT_FALSE(xml.empty());
    ASSERT_FALSE(png.empty());
    for (const wchar_t* name : {L"stored.zip", L"deflated.zip"}) {
        SCOPED_TRACE(testing::Message() << "archive " << std::string(name, name + wcslen(name)));
        std::string bytes = Data(name);
        uilib::ZipArchive zip;
        ASSERT_TRUE(zip.Open(bytes.data(), bytes.size())) << zip.Error();
        std::string out;
        ASSERT_TRUE(zip.Extract(L"inst.xml", out)) << zip.Error();
        EXPECT_EQ(out, xml);
        ASSERT_TRUE(zip.Extract(L"begin.png", out)) << zip.Error();
        EXPECT_EQ(out, png);
        ASSERT_TRUE(zip.Extract(L"sub/Check.PNG", out)) << zip.Error();
        EXPECT_EQ(out, box);
    }
    std::string deflated = Data(L"deflated.zip");
    uilib::ZipArchive zip;
    ASSERT_TRUE(zip.Open(deflated.data(), deflated.size()));
    EXPECT_EQ(zip.Entries()[size_t(zip.Find(L"inst.xml"))].method, 8);
}

TEST(ZipReader, FindsNamesWithoutRegardToCase) {
    std::string bytes = Data(L"stored.zip");
    uilib::ZipArchive zip;
    ASSERT_TRUE(zip.Open(bytes.data(), bytes.size()));
    EXPECT_GE(zip.Find(L"INST.XML"), 0);
    EXPECT_EQ(zip.Find(L"Begin.Png"), zip.Find(L"begin.png"));
    EXPECT_EQ(zip.Find(L"SUB\\check.png"), zip.Find(L"sub/Check.PNG"));
    EXPECT_EQ(zip.Find(L"inst.xm"), -1);
    std::string out = "left over";
    EXPECT_FALSE(zip.Extract(L"missing.png", out));
    EXPECT_TRUE(out.empty());
}

TEST(ZipReader, ReadsTheSkinArchiveOfTheBuild) {
    std::string bytes = Data(L"skin.zip");
    uilib::ZipArchive zip;
    ASSERT_TRUE(zip.Open(bytes.data(), bytes.size())) << zip.Error();
    EXPECT_EQ(zip.Entries().size(), 1u + 17u * 3u);  // the layout, 17 pictures at 1x, 1.5x and 2x
    for (size_t i = 0; i < zip.Entries().size(); ++i) {
        std::string out;
        EXPECT_TRUE(zip.Extract(int(i), out)) << zip.Error();
        EXPECT_EQ(out.size(), zip.Entries()[i].size);
        EXPECT_EQ(zip.Entries()[i].method, 8);
    }
    std::string shadow;
    EXPECT_TRUE(zip.Extract(L"shadow.png", shadow));  // stored as Shadow.png
    EXPECT_EQ(shadow.compare(1, 3, "PNG"), 0);
}

TEST(ZipReader, DamagedEntriesFailCleanly) {
    for (const wchar_t* name : {L"stored.zip", L"deflated.zip"}) {
        std::string bytes = Data(name);
        bytes[FirstDataOffset(bytes) + 40] ^= 0x5A;  // inside inst.xml's data
        uilib::ZipArchive zip;
        ASSERT_TRUE(zip.Open(bytes.data(), bytes.size()));
        std::string out;
        EXPECT_FALSE(zip.Extract(L"inst.xml", out));
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(zip.Error().empty());
        // The other entries are untouched.
        EXPECT_TRUE(zip.Extract(L"begin.png", out)) << zip.Error();
    }
}

TEST(ZipReader, BrokenArchivesAreRefused) {
    uilib::ZipArchive zip;
    EXPECT_FALSE(zip.Open(nullptr, 0));
    std::string text = "this is not an archive at all, just some text";
    EXPECT_FALSE(zip.Open(text.data(), text.size()));
    std::string bytes = Data(L"deflated.zip");
    // A central directory that points outside the archive.
    std::string bad = bytes;
    size_t eod = bad.size() - 22;
    bad[eod + 16] = char(0xFF);
    bad[eod + 17] = char(0xFF);
    EXPECT_FALSE(zip.Open(bad.data(), bad.size()));
    // A local header offset past the end: the directory opens, the entry does not.
    bad = bytes;
    uint32_t dir = uint32_t(uint8_t(bad[eod + 16])) | (uint32_t(uint8_t(bad[eod + 17])) << 8) |
                   (uint32_t(uint8_t(bad[eod + 18])) << 16) | (uint32_t(uint8_t(bad[eod + 19])) << 24);
    bad[dir + 45] = char(0x7F);
    ASSERT_TRUE(zip.Open(bad.data(), bad.size()));
    std::string out;
    EXPECT_FALSE(zip.Extract(0, out));
    // Every truncation either fails or yields exactly the original data.
    const std::string xml = Data(L"inst.xml");
    for (size_t cut = 0; cut < bytes.size(); cut += 97) {
        std::string part = bytes.substr(0, cut);
        uilib::ZipArchive z;
        if (!z.Open(part.data(), part.size())) continue;
        if (z.Extract(L"inst.xml", out)) {
            EXPECT_EQ(out, xml);
        }
    }
}

}  // namespace

// The extractor against the genuine 7z.dll, on archives made by 7z.exe at test time.
#include <gtest/gtest.h>

#include <memory>

#include "archive/callbacks.h"
#include "archive/com_object.h"
#include "archive/sevenzip.h"
#include "archive_maker.h"
#include "test_support.h"
#include "util/path.h"
#include "util/text.h"

using SevenZip::SevenZipException;
using SevenZip::SevenZipExtractor;
using SevenZip::SevenZipModule;

namespace {

std::wstring LibraryPath() { return ModuleFolder() + L"\\7z.dll"; }

// Runs an extraction and returns the message it raised ("" when it succeeded).
std::wstring ExtractMessage(const std::wstring& archive, const std::wstring& destination) {
    SevenZipModule module;
    module.Load(LibraryPath());
    SevenZipExtractor extractor(module, archive);
    try {
        extractor.ExtractTo(destination);
    } catch (const SevenZipException& e) {
        return e.Message();
    }
    return L"";
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

DWORD Attributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

class ExtractorTest : public ::testing::Test {
protected:
    // The source tree and every archive are made once for the whole suite.
    static void SetUpTestSuite() {
        root_ = new qvtest::TempDir();
        const std::wstring src = *root_ / L"src";
        ::CreateDirectoryW(src.c_str(), nullptr);
        for (const wchar_t* folder : {L"docs", L"docs\\深层", L"docs\\深层\\嵌套", L"空目录"})
            ::CreateDirectoryW((src + L"\\" + folder).c_str(), nullptr);
        qvtest::WriteBytes(src + L"\\readme.txt", qvtest::TextBytes(5000, 1));
        qvtest::WriteBytes(src + L"\\docs\\guide.txt", qvtest::TextBytes(70000, 2));
        qvtest::WriteBytes(src + L"\\docs\\深层\\嵌套\\文件 名.txt", "中文内容 \xE4\xBD\xA0\xE5\xA5\xBD");
        qvtest::WriteBytes(src + L"\\empty.bin", "");
        qvtest::WriteBytes(src + L"\\readonly.txt", "do not change");
        qvtest::WriteBytes(src + L"\\big.bin", qvtest::TextBytes(3 << 20, 3) + qvtest::RandomBytes(3 << 20, 4));
        qvtest::SetWriteTime(src + L"\\readme.txt", qvtest::FileTimeOf(2001, 2, 3, 4, 5, 6) + 1234567);
        qvtest::SetWriteTime(src + L"\\readonly.txt", qvtest::FileTimeOf(2010, 7, 8, 9, 10, 11));
        qvtest::SetWriteTime(src + L"\\docs", kFolderTime);
        ::SetFileAttributesW((src + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);

        qvtest::RunSevenZip(L"a -t7z -m0=LZMA2 -ms=on ..\\main.7z *", src);
        qvtest::WriteBytes(*root_ / L"flat-src.txt", "flat file");
        qvtest::RunSevenZip(L"a -t7z flat.7z flat-src.txt", root_->path());
        // Stored (uncompressed) files, so that one changed byte is a checksum error.
        qvtest::RunSevenZip(L"a -t7z -m0=Copy stored.7z src\\readme.txt src\\docs\\guide.txt", root_->path());
        qvtest::RunSevenZip(L"a -t7z -pSecret locked.7z flat-src.txt", root_->path());
        qvtest::RunSevenZip(L"a -t7z -pSecret -mhe=on locked-names.7z flat-src.txt", root_->path());
    }
    static void TearDownTestSuite() {
        delete root_;
        root_ = nullptr;
    }
    // Every object handed to the handler has been released again.
    void TearDown() override { EXPECT_EQ(SevenZip::intl::LiveObjectCount(), 0); }

    static std::wstring Path(const std::wstring& relative) { return *root_ / relative; }

    static constexpr unsigned long long kFolderTime = 125911584000000000ull;  // 2000-01-01
    static qvtest::TempDir* root_;
};

qvtest::TempDir* ExtractorTest::root_ = nullptr;

TEST_F(ExtractorTest, RestoresEveryByteNameTimeAndAttribute) {
    qvtest::TempDir dest;
    SevenZipModule module;
    module.Load(LibraryPath());
    SevenZipExtractor extractor(module, Path(L"main.7z"));
    EXPECT_EQ(extractor.Format(), SevenZip::ArchiveFormat::SevenZip);
    extractor.ExtractTo(dest.path());

    const std::wstring src = Path(L"src");
    std::vector<std::wstring> names = qvtest::ListTree(src);
    ASSERT_EQ(qvtest::ListTree(dest.path()), names);
    ASSERT_EQ(names.size(), 10u);
    for (const std::wstring& name : names) {
        SCOPED_TRACE(WideToUtf8(name));
        std::wstring from = src + L"\\" + name, to = dest.path() + L"\\" + name;
        EXPECT_EQ(Attributes(to), Attributes(from));
        if (name.back() == L'\\') continue;
        EXPECT_EQ(qvtest::ReadBytes(to), qvtest::ReadBytes(from));
        EXPECT_EQ(qvtest::LastWriteTime(to), qvtest::LastWriteTime(from));
    }
    EXPECT_TRUE(Attributes(dest / L"readonly.txt") & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(qvtest::LastWriteTime(dest / L"readme.txt"), qvtest::FileTimeOf(2001, 2, 3, 4, 5, 6) + 1234567);
    // Folder times are not restored: opening a folder for writing its time fails.
    EXPECT_NE(qvtest::LastWriteTime(dest / L"docs"), kFolderTime);
    EXPECT_EQ(module.Free(), TRUE);
}

TEST_F(ExtractorTest, ReplacesExistingFilesAndJoinsTheDestination) {
    qvtest::TempDir dest;
    qvtest::WriteBytes(dest / L"flat-src.txt", "older and longer content");
    for (const std::wstring& folder : {dest.path(), dest.path() + L"\\", dest.path() + L"/"}) {
        EXPECT_EQ(ExtractMessage(Path(L"flat.7z"), folder), L"");
        EXPECT_EQ(qvtest::ReadBytes(dest / L"flat-src.txt"), "flat file");
        EXPECT_EQ(qvtest::ListTree(dest.path()), std::vector<std::wstring>{L"flat-src.txt"});
    }
    // An empty destination means the current folder.
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    qvtest::TempDir current;
    ASSERT_TRUE(::SetCurrentDirectoryW(current.path().c_str()));
    std::wstring message = ExtractMessage(Path(L"flat.7z"), L"");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(message, L"");
    EXPECT_EQ(qvtest::ReadBytes(current / L"flat-src.txt"), "flat file");
}

TEST_F(ExtractorTest, ReportsArchivesThatCannotBeRead) {
    qvtest::TempDir dest;
    std::wstring missing = Path(L"no such archive.7z");
    EXPECT_EQ(ExtractMessage(missing, dest.path()), L"Could not open archive \"" + missing + L"\"");

    qvtest::WriteBytes(Path(L"plain.txt"), "this is not an archive at all");
    EXPECT_EQ(ExtractMessage(Path(L"plain.txt"), dest.path()), L"Open archive: HRESULT = 0x00000001");

    std::string whole = qvtest::ReadBytes(Path(L"main.7z"));
    qvtest::WriteBytes(Path(L"truncated.7z"), whole.substr(0, whole.size() / 2));
    std::wstring truncated = ExtractMessage(Path(L"truncated.7z"), dest.path());
    EXPECT_TRUE(StartsWith(truncated, L"Open archive: HRESULT = 0x") ||
                StartsWith(truncated, L"Extract archive: HRESULT = 0x"))
        << WideToUtf8(truncated);

    // Headers readable, data needing a password: the request is refused.
    EXPECT_TRUE(StartsWith(ExtractMessage(Path(L"locked.7z"), dest.path()), L"Extract archive: HRESULT = 0x8"));
    // Names enciphered too: the archive cannot even be opened.
    EXPECT_EQ(ExtractMessage(Path(L"locked-names.7z"), dest.path()), L"Open archive: HRESULT = 0x80004004");
}

TEST_F(ExtractorTest, ChecksumErrorFailsTheExtractionButNotTheOtherItems) {
    std::string bytes = qvtest::ReadBytes(Path(L"stored.7z"));
    std::string text = qvtest::TextBytes(5000, 1);
    size_t at = bytes.find(text.substr(0, 64));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 10] ^= 0x20;
    qvtest::WriteBytes(Path(L"damaged.7z"), bytes);

    qvtest::TempDir dest;
    EXPECT_EQ(ExtractMessage(Path(L"damaged.7z"), dest.path()), L"Extract archive: HRESULT = 0x80070017");
    EXPECT_EQ(qvtest::ReadBytes(dest / L"src\\docs\\guide.txt"), qvtest::TextBytes(70000, 2));
    EXPECT_TRUE(qvtest::Exists(dest / L"src\\readme.txt"));
}

// Item names that point outside the destination are refused before anything is written.
TEST_F(ExtractorTest, RefusesItemsOutsideTheDestination) {
    const std::wstring base = Path(L"unsafe");
    ::CreateDirectoryW(base.c_str(), nullptr);
    qvtest::WriteBytes(base + L"\\good.txt", "good");
    qvtest::RunSevenZip(L"a -t7z good.7z good.txt", base);
    const std::wstring outside = base + L"\\outside";
    const std::wstring dest = outside + L"\\dest";
    ASSERT_EQ(outside.substr(1, 2), L":\\");
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"..\\parent.txt", outside + L"\\parent.txt"},
        {L"sub\\..\\..\\middle.txt", outside + L"\\middle.txt"},
        {outside + L"\\drive.txt", outside + L"\\drive.txt"},
        {outside.substr(2) + L"\\rooted.txt", outside + L"\\rooted.txt"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(WideToUtf8(cases[i].first));
        std::wstring archive = base + L"\\evil" + std::to_wstring(i) + L".7z";
        ASSERT_TRUE(::CopyFileW((base + L"\\good.7z").c_str(), archive.c_str(), FALSE));
        qvtest::RunSevenZip(L"rn \"" + archive + L"\" good.txt \"" + cases[i].first + L"\"", base);
        qvtest::RemoveTree(outside);
        ::CreateDirectoryW(outside.c_str(), nullptr);
        ::CreateDirectoryW(dest.c_str(), nullptr);

        EXPECT_EQ(ExtractMessage(archive, dest), L"Extract archive: HRESULT = 0x800700A1");
        EXPECT_FALSE(qvtest::Exists(cases[i].second));
        EXPECT_EQ(qvtest::ListTree(outside), std::vector<std::wstring>{L"dest\\"});
    }
}

TEST_F(ExtractorTest, ModuleLoadingAndItsFailures) {
    SevenZipModule module;
    EXPECT_EQ(module.Free(), FALSE);
    try {
        module.Load(Path(L"missing\\7z.dll"));
        ADD_FAILURE() << "loading a missing library succeeded";
    } catch (const SevenZipException& e) {
        EXPECT_EQ(e.Message(), L"LoadLibrary: GetLastError = 126");
    }
    EXPECT_EQ(module.Handle(), nullptr);

    module.Load(LibraryPath());
    HMODULE first = module.Handle();
    EXPECT_NE(first, nullptr);
    EXPECT_NE(module.CreateFunction(), nullptr);
    // A second Load frees the first library: one Free then unloads it completely.
    module.Load(LibraryPath());
    EXPECT_NE(module.Handle(), nullptr);
    EXPECT_EQ(module.Free(), TRUE);
    EXPECT_EQ(::GetModuleHandleW(LibraryPath().c_str()), nullptr);

    module.Load(LibraryPath());
    try {
        module.Load(ModuleFolder() + L"\\no_create_object.dll");
        ADD_FAILURE() << "a library without CreateObject was accepted";
    } catch (const SevenZipException& e) {
        EXPECT_EQ(e.Message(), L"Loaded library is missing required CreateObject function");
    }
    EXPECT_EQ(module.Handle(), nullptr);
    EXPECT_EQ(module.CreateFunction(), nullptr);
    EXPECT_EQ(::GetModuleHandleW((ModuleFolder() + L"\\no_create_object.dll").c_str()), nullptr);
    EXPECT_EQ(::GetModuleHandleW(LibraryPath().c_str()), nullptr);

    SevenZipExtractor extractor(module, Path(L"flat.7z"));
    qvtest::TempDir dest;
    try {
        extractor.ExtractTo(dest.path());
        ADD_FAILURE() << "extraction without a library succeeded";
    } catch (const SevenZipException& e) {
        EXPECT_EQ(e.Message(), L"Library is not loaded");
    }
}

TEST(ArchiveFormats, HandlerClassIds) {
    const std::pair<int, unsigned char> table[] = {{1, 0x07}, {2, 0x01},  {3, 0xEF},  {4, 0x02},
                                                   {5, 0x03}, {6, 0xEE},  {7, 0xE7},  {8, 0x08},
                                                   {9, 0x0A}, {10, 0x0B}, {0, 0x07}, {42, 0x07}};
    for (const auto& row : table) {
        GUID id = SevenZip::HandlerClassId(static_cast<SevenZip::ArchiveFormat>(row.first));
        GUID expected = {0x23170F69, 0x40C1, 0x278A, {0x10, 0, 0, 0x01, 0x10, row.second, 0, 0}};
        EXPECT_TRUE(id == expected) << "format " << row.first;
    }
}

TEST(MessageText, FormatsLikeWidePrintf) {
    EXPECT_EQ(SevenZip::FormatText(L"%ls: HRESULT = 0x%08lX", L"Open archive", 0x1ul),
              L"Open archive: HRESULT = 0x00000001");
    EXPECT_EQ(SevenZip::FormatText(L"%ls: HRESULT = 0x%08lX", L"Extract archive", 0x80004005ul),
              L"Extract archive: HRESULT = 0x80004005");
    EXPECT_EQ(SevenZip::FormatText(L"%ls: GetLastError = %lu", L"LoadLibrary", 4294967295ul),
              L"LoadLibrary: GetLastError = 4294967295");
    std::wstring longPath(5000, L'x');
    EXPECT_EQ(SevenZip::FormatText(L"Could not open archive \"%ls\"", longPath.c_str()).size(), 5000u + 25u);
}

}  // namespace

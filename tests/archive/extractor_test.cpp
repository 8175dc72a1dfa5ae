// The extractor against the genuine 7z.dll, on archives made by 7z.exe at test time.
#include <gtest/gtest.h>

#include <algorithm>

#include "archive/sevenzip.h"
#include "archive_maker.h"
#include "test_support.h"
#include "util/com_object.h"
#include "util/crc32.h"
#include "util/md5.h"
#include "util/path.h"
#include "util/text.h"

using namespace SevenZip;

namespace {

std::wstring LibraryPath() { return ModuleFolder() + L"\\7z.dll"; }

// The message an extraction raised ("" when it succeeded).
std::wstring ExtractMessage(const std::wstring& archive, const std::wstring& destination) {
    SevenZipModule module;
    module.Load(LibraryPath());
    try {
        SevenZipExtractor(module, archive).ExtractTo(destination);
    } catch (const SevenZipException& e) {
        return e.Message();
    }
    return L"";
}

std::wstring LoadMessage(SevenZipModule& module, const std::wstring& path) {
    try {
        module.Load(path);
    } catch (const SevenZipException& e) {
        return e.Message();
    }
    return L"";
}

DWORD Attributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

constexpr unsigned long long kFileTime = 126256467061234567ull;    // 2001-02-03 04:05:06.1234567
constexpr unsigned long long kFolderTime = 125911584000000000ull;  // 2000-01-01

class ExtractorTest : public ::testing::Test {
protected:
    // The source tree and the archives are made once for the suite.
    static void SetUpTestSuite() {
        root_ = new qvtest::TempDir();
        const std::wstring src = *root_ / L"src";
        for (const wchar_t* folder : {L"", L"\\docs", L"\\docs\\深层", L"\\docs\\深层\\嵌套", L"\\空目录"})
            ::CreateDirectoryW((src + folder).c_str(), nullptr);
        qvtest::WriteBytes(src + L"\\readme.txt", qvtest::TextBytes(5000, 1));
        qvtest::WriteBytes(src + L"\\docs\\guide.txt", qvtest::TextBytes(70000, 2));
        qvtest::WriteBytes(src + L"\\docs\\深层\\嵌套\\文件 名.txt", "中文内容");
        qvtest::WriteBytes(src + L"\\empty.bin", "");
        qvtest::WriteBytes(src + L"\\readonly.txt", "do not change");
        qvtest::WriteBytes(src + L"\\big.bin", qvtest::TextBytes(3 << 20, 3) + qvtest::RandomBytes(3 << 20, 4));
        qvtest::SetWriteTime(src + L"\\readme.txt", kFileTime);
        qvtest::SetWriteTime(src + L"\\docs", kFolderTime);
        ::SetFileAttributesW((src + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        qvtest::RunSevenZip(L"a -t7z -m0=LZMA2 -ms=on ..\\main.7z *", src);
        // Independent 1 MiB blocks, which the handler can decode on several threads.
        qvtest::RunSevenZip(L"a -t7z -m0=LZMA2:c=1m -mmt=2 -ms=on ..\\blocks.7z *", src);
        qvtest::WriteBytes(*root_ / L"flat.txt", "flat file");
        qvtest::RunSevenZip(L"a -t7z flat.7z flat.txt", root_->path());
        // Stored data, so that one changed byte is a checksum error.
        qvtest::RunSevenZip(L"a -t7z -m0=Copy stored.7z src\\readme.txt src\\docs\\guide.txt", root_->path());
        qvtest::RunSevenZip(L"a -t7z -pSecret locked.7z flat.txt", root_->path());
        qvtest::RunSevenZip(L"a -t7z -pSecret -mhe=on locked-names.7z flat.txt", root_->path());
    }
    static void TearDownTestSuite() { delete root_; }
    // Every object handed to the handler has been released, and the library unloaded.
    void TearDown() override {
        EXPECT_EQ(LiveComObjectCount(), 0);
        EXPECT_EQ(::GetModuleHandleW(LibraryPath().c_str()), nullptr);
    }
    static std::wstring Path(const std::wstring& relative) { return *root_ / relative; }
    static qvtest::TempDir* root_;
};

qvtest::TempDir* ExtractorTest::root_ = nullptr;

TEST_F(ExtractorTest, RestoresEveryByteNameTimeAndAttribute) {
    qvtest::TempDir dest;
    EXPECT_EQ(ExtractMessage(Path(L"main.7z"), dest.path()), L"");
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
    EXPECT_EQ(Attributes(dest / L"readonly.txt"), DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(qvtest::LastWriteTime(dest / L"readme.txt"), kFileTime);
    EXPECT_NE(qvtest::LastWriteTime(dest / L"docs"), kFolderTime);  // folder times are not restored
}

// The extractor tells what it wrote: every item with its kind, size and the
// archive's checksum, which matches the bytes on disk.
TEST_F(ExtractorTest, ReportsEveryItemItWrote) {
    qvtest::TempDir dest;
    SevenZipModule module;
    module.Load(LibraryPath());
    SevenZipExtractor extractor(module, Path(L"main.7z"));
    extractor.ExtractTo(dest.path());
    std::vector<std::wstring> listed;
    for (const ExtractedItem& item : extractor.ExtractedItems()) {
        SCOPED_TRACE(WideToUtf8(item.path));
        listed.push_back(item.path + (item.isFolder ? L"\\" : L""));
        if (item.isFolder) continue;
        const std::string bytes = qvtest::ReadBytes(dest / item.path);
        EXPECT_EQ(item.size, bytes.size());
        EXPECT_TRUE(item.hasCrc || bytes.empty());
        if (item.hasCrc) {
            EXPECT_EQ(item.crc, Crc32Update(0, bytes.data(), bytes.size()));
        }
    }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, qvtest::ListTree(dest.path()));
}

// An archive of independent blocks decoded on several threads comes out
// whole, and each file's digest is that of the file on disk.
TEST_F(ExtractorTest, DecodesBlocksOnSeveralThreadsAndDigestsEachFile) {
    qvtest::TempDir dest;
    SevenZipModule module;
    module.Load(LibraryPath());
    SevenZipExtractor extractor(module, Path(L"blocks.7z"));
    extractor.SetDecoderThreads(4);
    extractor.SetTakeDigests(true);
    extractor.ExtractTo(dest.path());
    size_t files = 0;
    for (const ExtractedItem& item : extractor.ExtractedItems()) {
        if (item.isFolder) continue;
        SCOPED_TRACE(WideToUtf8(item.path));
        const std::string bytes = qvtest::ReadBytes(dest / item.path);
        EXPECT_EQ(bytes, qvtest::ReadBytes(Path(L"src") + L"\\" + item.path));
        CMd5 md5;
        md5.Update(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        EXPECT_EQ(item.md5, md5.HexDigest());
        ++files;
    }
    EXPECT_EQ(files, 6u);
}

TEST_F(ExtractorTest, ExtractingAgainReplacesReadOnlyFiles) {
    qvtest::TempDir dest;
    EXPECT_EQ(ExtractMessage(Path(L"main.7z"), dest.path()), L"");
    qvtest::WriteBytes(dest / L"docs\\guide.txt", "changed");
    ASSERT_EQ(Attributes(dest / L"readonly.txt"), DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(ExtractMessage(Path(L"main.7z"), dest.path()), L"");
    EXPECT_EQ(qvtest::ReadBytes(dest / L"readonly.txt"), "do not change");
    EXPECT_EQ(Attributes(dest / L"readonly.txt"), DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(qvtest::ReadBytes(dest / L"docs\\guide.txt"), qvtest::ReadBytes(Path(L"src\\docs\\guide.txt")));
}

TEST_F(ExtractorTest, ReplacesFilesAndJoinsAnyDestinationForm) {
    qvtest::TempDir dest;
    qvtest::WriteBytes(dest / L"flat.txt", "older and longer content");
    for (const std::wstring& folder : {dest.path(), dest.path() + L"\\", dest.path() + L"/"}) {
        EXPECT_EQ(ExtractMessage(Path(L"flat.7z"), folder), L"");
        EXPECT_EQ(qvtest::ListTree(dest.path()), std::vector<std::wstring>{L"flat.txt"});
        EXPECT_EQ(qvtest::ReadBytes(dest / L"flat.txt"), "flat file");
    }
    // An empty destination is the current folder.
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    qvtest::TempDir current;
    ::SetCurrentDirectoryW(current.path().c_str());
    std::wstring message = ExtractMessage(Path(L"flat.7z"), L"");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(message, L"");
    EXPECT_EQ(qvtest::ReadBytes(current / L"flat.txt"), "flat file");
}

TEST_F(ExtractorTest, UnreadableArchivesRaise) {
    qvtest::TempDir dest;
    std::wstring missing = Path(L"no such.7z");
    EXPECT_EQ(ExtractMessage(missing, dest.path()), L"Could not open archive \"" + missing + L"\"");
    qvtest::WriteBytes(Path(L"plain.txt"), "this is not an archive at all");
    EXPECT_EQ(ExtractMessage(Path(L"plain.txt"), dest.path()), L"Open archive: HRESULT = 0x00000001");
    std::string whole = qvtest::ReadBytes(Path(L"main.7z"));
    qvtest::WriteBytes(Path(L"truncated.7z"), whole.substr(0, whole.size() / 2));
    std::wstring truncated = ExtractMessage(Path(L"truncated.7z"), dest.path());
    EXPECT_TRUE(truncated.rfind(L"Open archive: HRESULT = 0x", 0) == 0 ||
                truncated.rfind(L"Extract archive: HRESULT = 0x8", 0) == 0)
        << WideToUtf8(truncated);
    // A password request is refused: while extracting, or already while opening enciphered names.
    EXPECT_EQ(ExtractMessage(Path(L"locked.7z"), dest.path()).rfind(L"Extract archive: HRESULT = 0x8", 0), 0u);
    EXPECT_EQ(ExtractMessage(Path(L"locked-names.7z"), dest.path()), L"Open archive: HRESULT = 0x80004004");
}

TEST_F(ExtractorTest, ChecksumErrorFailsTheExtractionAfterAllItems) {
    std::string bytes = qvtest::ReadBytes(Path(L"stored.7z"));
    size_t at = bytes.find(qvtest::TextBytes(64, 1));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 10] ^= 0x20;
    qvtest::WriteBytes(Path(L"damaged.7z"), bytes);
    qvtest::TempDir dest;
    EXPECT_EQ(ExtractMessage(Path(L"damaged.7z"), dest.path()), L"Extract archive: HRESULT = 0x80070017");
    EXPECT_EQ(qvtest::ReadBytes(dest / L"src\\docs\\guide.txt"), qvtest::TextBytes(70000, 2));
}

TEST_F(ExtractorTest, RefusesItemsOutsideTheDestination) {
    const std::wstring base = Path(L"unsafe"), outside = base + L"\\outside", dest = outside + L"\\dest";
    ::CreateDirectoryW(base.c_str(), nullptr);
    qvtest::WriteBytes(base + L"\\good.txt", "good");
    qvtest::RunSevenZip(L"a -t7z good.7z good.txt", base);
    // Names that leave the folder, name a device, would be stored under
    // another name (trailing dot or space) or as a hidden stream.
    const std::wstring names[] = {L"..\\parent.txt",
                                  L"sub\\..\\..\\middle.txt",
                                  outside + L"\\drive.txt",
                                  outside.substr(2) + L"\\rooted.txt",
                                  L"NUL",
                                  L"sub\\AUX.txt",
                                  L"COM1",
                                  L"lpt9.log",
                                  L"x.",
                                  L"sub\\y ",
                                  L"a:b"};
    for (const std::wstring& name : names) {
        SCOPED_TRACE(WideToUtf8(name));
        ASSERT_TRUE(::CopyFileW((base + L"\\good.7z").c_str(), (base + L"\\evil.7z").c_str(), FALSE));
        qvtest::RunSevenZip(L"rn evil.7z good.txt \"" + name + L"\"", base);
        qvtest::RemoveTree(outside);
        ::CreateDirectoryW(outside.c_str(), nullptr);
        ::CreateDirectoryW(dest.c_str(), nullptr);
        EXPECT_EQ(ExtractMessage(base + L"\\evil.7z", dest), L"Extract archive: HRESULT = 0x800700A1");
        EXPECT_EQ(qvtest::ListTree(outside), std::vector<std::wstring>{L"dest\\"});
    }
}

TEST_F(ExtractorTest, LoadingTheLibrary) {
    SevenZipModule module;
    EXPECT_EQ(module.Free(), FALSE);
    EXPECT_EQ(LoadMessage(module, Path(L"missing\\7z.dll")), L"LoadLibrary: GetLastError = 126");
    EXPECT_EQ(module.Handle(), nullptr);
    // A second Load frees the first library: one Free then unloads it.
    EXPECT_EQ(LoadMessage(module, LibraryPath()), L"");
    EXPECT_EQ(LoadMessage(module, LibraryPath()), L"");
    EXPECT_NE(module.CreateFunction(), nullptr);
    EXPECT_EQ(module.Free(), TRUE);
    EXPECT_EQ(::GetModuleHandleW(LibraryPath().c_str()), nullptr);

    EXPECT_EQ(LoadMessage(module, LibraryPath()), L"");
    EXPECT_EQ(LoadMessage(module, ModuleFolder() + L"\\no_create_object.dll"),
              L"Loaded library is missing required CreateObject function");
    EXPECT_EQ(module.Handle(), nullptr);
    EXPECT_EQ(module.CreateFunction(), nullptr);
    EXPECT_EQ(::GetModuleHandleW((ModuleFolder() + L"\\no_create_object.dll").c_str()), nullptr);
    qvtest::TempDir dest;
    try {
        SevenZipExtractor(module, Path(L"flat.7z")).ExtractTo(dest.path());
        ADD_FAILURE() << "extraction without a library succeeded";
    } catch (const SevenZipException& e) {
        EXPECT_EQ(e.Message(), L"Library is not loaded");
    }
}

}  // namespace

// Payload extraction as the install sequence runs it, with the genuine 7z.dll
// beside the program (or deliberately not beside it).
#include <gtest/gtest.h>

#include "archive_maker.h"
#include "install/extract_payload.h"
#include "test_support.h"
#include "util/com_object.h"
#include "util/path.h"

namespace {

class ExtractPayloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new qvtest::TempDir();
        const std::wstring src = *root_ / L"payload";
        ::CreateDirectoryW(src.c_str(), nullptr);
        ::CreateDirectoryW((src + L"\\帮助").c_str(), nullptr);
        qvtest::WriteBytes(src + L"\\ImgKit.dll", qvtest::RandomBytes(300000, 7));
        qvtest::WriteBytes(src + L"\\帮助\\说明.txt", qvtest::TextBytes(20000, 8));
        qvtest::RunSevenZip(L"a -t7z ..\\payload.7z *", src);
        qvtest::WriteBytes(*root_ / L"broken.7z", qvtest::ReadBytes(*root_ / L"payload.7z").substr(0, 200));
    }
    static void TearDownTestSuite() { delete root_; }
    void TearDown() override {
        EXPECT_EQ(LiveComObjectCount(), 0);
        // The library is freed again after every extraction.
        EXPECT_EQ(::GetModuleHandleW((ModuleFolder() + L"\\7z.dll").c_str()), nullptr);
    }

    static void ExpectPayloadIn(const std::wstring& folder) {
        EXPECT_EQ(qvtest::ListTree(folder), (std::vector<std::wstring>{L"ImgKit.dll", L"帮助\\", L"帮助\\说明.txt"}));
        EXPECT_EQ(qvtest::ReadBytes(folder + L"\\ImgKit.dll"), qvtest::RandomBytes(300000, 7));
        EXPECT_EQ(qvtest::ReadBytes(folder + L"\\帮助\\说明.txt"), qvtest::TextBytes(20000, 8));
    }

    // Runs the child program from `folder` (copied there together with `beside`, renamed to 7z.dll).
    static int RunFromFolder(const std::wstring& folder, const std::wstring& beside, const std::wstring& payload) {
        ::CreateDirectoryW(folder.c_str(), nullptr);
        std::wstring child = folder + L"\\extract_payload_child.exe";
        ::CopyFileW((ModuleFolder() + L"\\extract_payload_child.exe").c_str(), child.c_str(), FALSE);
        if (!beside.empty()) ::CopyFileW(beside.c_str(), (folder + L"\\7z.dll").c_str(), FALSE);
        return qvtest::RunAndWait(L"\"" + child + L"\" \"" + payload + L"\" \"" + *root_ / L"payload.7z" + L"\"",
                                  folder);
    }

    static qvtest::TempDir* root_;
};

qvtest::TempDir* ExtractPayloadTest::root_ = nullptr;

TEST_F(ExtractPayloadTest, ExtractsIntoANewPayloadFolder) {
    qvtest::TempDir temp;
    std::wstring payload = temp / L"Quiview\\1.0.1";
    EXPECT_EQ(ExtractPayload(payload, *root_ / L"payload.7z"), kPayloadExtracted);
    ExpectPayloadIn(payload);
    // A second run over the same folder replaces what is there.
    qvtest::WriteBytes(payload + L"\\ImgKit.dll", "stale");
    EXPECT_EQ(ExtractPayload(payload, *root_ / L"payload.7z"), kPayloadExtracted);
    ExpectPayloadIn(payload);
}

TEST_F(ExtractPayloadTest, FailuresBecomeResultCodes) {
    qvtest::TempDir temp;
    qvtest::WriteBytes(temp / L"a file", "x");
    EXPECT_EQ(ExtractPayload(temp / L"a file\\payload", *root_ / L"payload.7z"), kPayloadFolderFailed);
    EXPECT_EQ(ExtractPayload(temp / L"out", *root_ / L"missing.7z"), kPayloadExtractFailed);
    EXPECT_EQ(ExtractPayload(temp / L"out", *root_ / L"broken.7z"), kPayloadExtractFailed);
}

// The library is the one beside the running program, whatever else is loadable.
TEST_F(ExtractPayloadTest, UsesOnlyTheLibraryBesideTheProgram) {
    qvtest::TempDir temp;
    EXPECT_EQ(RunFromFolder(temp / L"alone", L"", temp / L"p1"), int(kPayloadLibraryMissing));
    EXPECT_FALSE(qvtest::Exists(temp / L"p1"));
    EXPECT_EQ(RunFromFolder(temp / L"impostor", ModuleFolder() + L"\\no_create_object.dll", temp / L"p2"),
              int(kPayloadExtractFailed));
    EXPECT_EQ(RunFromFolder(temp / L"genuine", ModuleFolder() + L"\\7z.dll", temp / L"p3"), int(kPayloadExtracted));
    ExpectPayloadIn(temp / L"p3");
}

}  // namespace

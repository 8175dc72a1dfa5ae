// The checks of the bundle's files against the seal: the seal as the tool
// writes it into Install.exe, checked copies, and the archive held and
// staged for the extraction.
#include <gtest/gtest.h>

#include <windows.h>

#include "archive_maker.h"
#include "install/bundle_seal.h"
#include "test_support.h"
#include "util/owned.h"
#include "util/path.h"

namespace {

Sha256Digest DigestOf(const std::string& bytes) {
    CSha256 sha;
    sha.Update(bytes.data(), bytes.size());
    return sha.Final();
}

// Whether a program of the user could open the file for writing now.
bool Writable(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

// A host path (ASCII here) as one argument of a command line.
std::wstring Quoted(const std::string& text) { return L"\"" + std::wstring(text.begin(), text.end()) + L"\""; }

}  // namespace

TEST(BundleSeal, TheBuiltInstallerCarriesTheDigestsOfItsBundle) {
    // The shipped folder as the build sealed it: the tool's layout is the one read here.
    const std::wstring dist = FullPath(ModuleFolder() + L"\\..\\..\\dist");
    UniqueModule program(::LoadLibraryExW((dist + L"\\Install.exe").c_str(), nullptr,
                                          LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(program);
    BundleSeal seal;
    ASSERT_TRUE(ReadBundleSeal(program.get(), &seal));
    EXPECT_EQ(seal.archive, DigestOf(qvtest::ReadBytes(dist + L"\\payload.7z")));
    EXPECT_EQ(seal.archiveLibrary, DigestOf(qvtest::ReadBytes(dist + L"\\7z.dll")));
    EXPECT_EQ(seal.uiLibrary, DigestOf(qvtest::ReadBytes(dist + L"\\DuiLib.dll")));
    // This test program carries no seal.
    EXPECT_FALSE(ReadBundleSeal(nullptr, &seal));
}

TEST(BundleSeal, OnlyAMatchingPlainFileIsHeldOrCopied) {
    qvtest::TempDir dir;
    const std::string content = qvtest::RandomBytes(100000, 3);
    const std::wstring file = dir / L"lib.dll";
    qvtest::WriteBytes(file, content);
    {
        UniqueFile held = OpenChecked(file, DigestOf(content));
        ASSERT_TRUE(held);
        EXPECT_FALSE(Writable(file));
        EXPECT_FALSE(::DeleteFileW(file.c_str()));
    }
    EXPECT_TRUE(Writable(file));
    EXPECT_FALSE(OpenChecked(file, DigestOf(content + "x")));
    EXPECT_FALSE(OpenChecked(file, Sha256Digest{}));  // never sealed
    // A link to the right content is not the file itself.
    ASSERT_TRUE(qvtest::MakeLink(dir / L"link.dll", file));
    EXPECT_FALSE(OpenChecked(dir / L"link.dll", DigestOf(content)));

    EXPECT_TRUE(CopyChecked(file, dir / L"copy.dll", DigestOf(content)));
    // A copy that does not match is not left behind.
    EXPECT_FALSE(CopyChecked(file, dir / L"other.dll", DigestOf("other")));
    EXPECT_FALSE(qvtest::Exists(dir / L"other.dll"));
}

TEST(StagedArchive, TheBundlesArchiveCannotChangeUntilItIsLetGo) {
    qvtest::TempDir dir;
    const std::string content = qvtest::RandomBytes((1 << 20) + 77, 5);
    const std::wstring source = dir / L"payload.7z";
    qvtest::WriteBytes(source, content);
    {
        CStagedArchive archive;
        ASSERT_TRUE(archive.Hold(source));
        ASSERT_TRUE(archive.Stage(dir / L"staged.7z"));
        EXPECT_EQ(archive.Path(), dir / L"staged.7z");
        EXPECT_EQ(qvtest::ReadBytes(archive.Path()), content);
        // Neither name can be written, renamed or removed meanwhile.
        EXPECT_FALSE(Writable(source));
        EXPECT_FALSE(Writable(archive.Path()));
        EXPECT_FALSE(::MoveFileExW(source.c_str(), (dir / L"moved.7z").c_str(), 0));
        CFileDigestTask digest;
        digest.Start(archive.File());
        EXPECT_TRUE(digest.Matches(DigestOf(content)));
    }
    EXPECT_TRUE(Writable(source));

    // A writer holds the file: it cannot be held.
    {
        UniqueFile writer(::CreateFileW(source.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(writer);
        CStagedArchive archive;
        EXPECT_FALSE(archive.Hold(source));
    }
}

TEST(StagedArchive, AReplacedBundleEntryIsNotWhatIsStaged) {
    // Between the hold and the staging another file takes the bundle's name
    // (under Wine a program of the host can do that even while the file is held).
    qvtest::TempDir dir;
    const std::wstring source = dir / L"payload.7z";
    const std::string content = qvtest::RandomBytes(300000, 8), other = qvtest::RandomBytes(300000, 9);
    qvtest::WriteBytes(source, content);
    qvtest::WriteBytes(dir / L"other.7z", other);
    CStagedArchive archive;
    ASSERT_TRUE(archive.Hold(source));
    const std::string hostSource = qvtest::HostPath(source), hostOther = qvtest::HostPath(dir / L"other.7z");
    if (hostSource.empty()) GTEST_SKIP() << "only a program of the host can replace a held file";
    ASSERT_TRUE(qvtest::RunHostProgram(L"/bin/mv -f -- " + Quoted(hostOther) + L" " + Quoted(hostSource),
                                       [&] { return !qvtest::Exists(dir / L"other.7z"); }));
    ASSERT_EQ(qvtest::ReadBytes(source), other);
    ASSERT_TRUE(archive.Stage(dir / L"staged.7z"));
    EXPECT_EQ(qvtest::ReadBytes(archive.Path()), content);
    CFileDigestTask digest;
    digest.Start(archive.File());
    EXPECT_TRUE(digest.Matches(DigestOf(content)));
}

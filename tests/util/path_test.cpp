#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "test_support.h"
#include "util/owned.h"
#include "util/path.h"

using qvtest::Exists;
using qvtest::ReadBytes;
using qvtest::TempDir;
using qvtest::WriteBytes;

namespace {

using qvtest::PlaceLoadedImage;

// Entries of a folder whose names start with `prefix`.
std::vector<std::wstring> NamesStartingWith(const std::wstring& folder, const std::wstring& prefix) {
    PathList entries;
    ListEntries(folder, entries, false, false);
    std::vector<std::wstring> names;
    for (const auto& e : entries) {
        std::wstring name = e.substr(folder.size() + 1);
        if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
    }
    return names;
}

// The system's list of renames and deletions to carry out at restart.
std::wstring PendingRenames() {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
                        key.out()) != ERROR_SUCCESS)
        return std::wstring();
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::wstring();
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    ::RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                       &size);
    std::replace(data.begin(), data.end(), L'\0', L'|');
    return data;
}

}  // namespace

TEST(PathQueries, ModuleFolderHoldsTheRunningProgram) {
    std::wstring folder = ModuleFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), L'\\');
    EXPECT_TRUE(FileExists(folder + L"\\util_tests.exe"));
}

TEST(PathQueries, FileExistsAndIsDirectoryPath) {
    TempDir dir;
    const std::wstring file = dir / L"f.txt";
    WriteBytes(file, "x");
    EXPECT_FALSE(FileExists(L""));
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(dir.path()));
    EXPECT_FALSE(FileExists(dir / L"nope"));

    EXPECT_FALSE(IsDirectoryPath(L""));
    EXPECT_TRUE(IsDirectoryPath(dir.path()));
    EXPECT_TRUE(IsDirectoryPath(dir.path() + L"\\"));
    EXPECT_TRUE(IsDirectoryPath(dir.path() + L"/"));
    EXPECT_FALSE(IsDirectoryPath(file));
    EXPECT_TRUE(IsDirectoryPath(dir / L"missing\\"));
    EXPECT_TRUE(IsDirectoryPath(dir / L"missing/"));
    EXPECT_FALSE(IsDirectoryPath(dir / L"missing"));
    // Three characters or fewer: the drive type alone decides.
    EXPECT_TRUE(IsDirectoryPath(L"C:\\"));
    EXPECT_TRUE(IsDirectoryPath(L"C:"));
    EXPECT_FALSE(IsDirectoryPath(L"ab"));
}

TEST(PathQueries, ListPathPrefixes) {
    PathList list{L"kept"};
    EXPECT_EQ(ListPathPrefixes(L"C:\\a\\b", list), 4u);
    EXPECT_EQ(list, (PathList{L"kept", L"C:", L"C:\\a", L"C:\\a\\b"}));

    PathList slashes;
    ListPathPrefixes(L"C:/a/b/", slashes);
    EXPECT_EQ(slashes, (PathList{L"C:", L"C:\\a", L"C:\\a\\b"}));

    PathList single;
    EXPECT_EQ(ListPathPrefixes(L"name", single), 1u);
    EXPECT_EQ(single, (PathList{L"name"}));
    PathList none;
    EXPECT_EQ(ListPathPrefixes(L"", none), 0u);
}

TEST(PathQueries, SplitDirAndName) {
    TempDir dir;
    std::wstring folder, name = L"untouched";
    ASSERT_TRUE(SplitDirAndName(dir.path(), folder, name));
    EXPECT_EQ(folder, dir.path() + L"\\");
    EXPECT_EQ(name, L"untouched");

    ASSERT_TRUE(SplitDirAndName(L"C:\\x\\y\\setup_30123.exe", folder, name));
    EXPECT_EQ(folder, L"C:\\x\\y\\");
    EXPECT_EQ(name, L"setup_30123.exe");
    ASSERT_TRUE(SplitDirAndName(L"C:/x/file.tar.gz", folder, name));
    EXPECT_EQ(folder, L"C:/x/");
    EXPECT_EQ(name, L"file.tar.gz");

    EXPECT_FALSE(SplitDirAndName(L"", folder, name));
    EXPECT_FALSE(SplitDirAndName(L"plainname.exe", folder, name));  // no folder part

    // A path longer than the classic 260-character limit is split, not cut.
    std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\tool.exe";
    ASSERT_TRUE(SplitDirAndName(deep, folder, name));
    EXPECT_EQ(folder, L"C:\\" + std::wstring(300, L'd') + L"\\");
    EXPECT_EQ(name, L"tool.exe");
}

TEST(PathFolders, CreateDirectoryTree) {
    TempDir dir;
    const std::wstring deep = dir / L"a\\b\\\u4e2d\u6587";
    EXPECT_TRUE(CreateDirectoryTree(deep));
    EXPECT_TRUE(IsDirectoryPath(deep));
    EXPECT_TRUE(CreateDirectoryTree(deep + L"\\"));  // exists: nothing to do
    EXPECT_TRUE(CreateDirectoryTree(dir / L"s1/s2/"));
    EXPECT_TRUE(IsDirectoryPath(dir / L"s1\\s2"));

    WriteBytes(dir / L"file", "x");
    EXPECT_FALSE(CreateDirectoryTree(dir / L"file"));
    EXPECT_FALSE(CreateDirectoryTree(dir / L"file\\below"));
    EXPECT_FALSE(CreateDirectoryTree(L""));
    EXPECT_FALSE(CreateDirectoryTree(L"\\\\nosuchserver\\share\\newfolder"));
}

TEST(PathFolders, ListEntries) {
    TempDir dir;
    CreateDirectoryTree(dir / L"sub\\inner");
    WriteBytes(dir / L"one.txt", "1");
    WriteBytes(dir / L"sub\\two.txt", "2");
    WriteBytes(dir / L"sub\\inner\\three.txt", "3");

    PathList files;
    EXPECT_EQ(ListEntries(dir.path(), files, false, false), 1u);
    EXPECT_EQ(files, (PathList{dir / L"one.txt"}));

    PathList all{L"kept"};
    EXPECT_EQ(ListEntries(dir.path(), all, false, true), 4u);
    std::sort(all.begin() + 1, all.end());
    EXPECT_EQ(all, (PathList{L"kept", dir / L"one.txt", dir / L"sub\\inner\\three.txt", dir / L"sub\\two.txt"}));

    PathList folders;
    ListEntries(dir.path(), folders, true, true);
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(folders, (PathList{dir / L"sub", dir / L"sub\\inner"}));

    PathList missing;
    EXPECT_EQ(ListEntries(dir / L"missing", missing, false, true), 0u);
    EXPECT_TRUE(missing.empty());
}

TEST(PathCopy, FileCopiesAndIdenticalTargetUntouched) {
    TempDir dir;
    const std::wstring source = dir / L"src.bin";
    WriteBytes(source, "payload bytes");

    // Onto an existing folder: the file goes in under its own name.
    CreateDirectoryTree(dir / L"into");
    EXPECT_TRUE(CopyPath(source, dir / L"into"));
    EXPECT_EQ(ReadBytes(dir / L"into\\src.bin"), "payload bytes");

    // Onto a missing folder named with a trailing separator: it is created.
    EXPECT_TRUE(CopyPath(source, dir / L"new\\deeper\\"));
    EXPECT_EQ(ReadBytes(dir / L"new\\deeper\\src.bin"), "payload bytes");

    // Onto a file name in a missing folder.
    EXPECT_TRUE(CopyPath(source, dir / L"x\\renamed.bin"));
    EXPECT_EQ(ReadBytes(dir / L"x\\renamed.bin"), "payload bytes");

    // An identical target is left alone: its last-write time stays.
    const std::wstring same = dir / L"into\\src.bin";
    FILETIME old = {0x12345678, 0x01d00000};
    {
        UniqueFile f(::CreateFileW(same.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(f);
        ASSERT_TRUE(::SetFileTime(f.get(), nullptr, nullptr, &old));
    }
    const unsigned long long before = qvtest::LastWriteTime(same);
    EXPECT_TRUE(SameContent(same, source));
    EXPECT_TRUE(CopyPath(source, dir / L"into"));
    EXPECT_EQ(qvtest::LastWriteTime(same), before);

    // A different, read-only target is replaced.
    WriteBytes(same, "older content");
    ::SetFileAttributesW(same.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(SameContent(same, source));
    EXPECT_TRUE(CopyPath(source, dir / L"into"));
    EXPECT_EQ(ReadBytes(same), "payload bytes");

    EXPECT_FALSE(CopyPath(dir / L"missing", dir / L"into"));
    EXPECT_FALSE(CopyPath(L"", dir / L"into"));
    EXPECT_FALSE(SameContent(dir / L"missing", source));
}

TEST(PathCopy, FolderTreeIsBestEffort) {
    TempDir dir;
    const std::wstring src = dir / L"src";
    CreateDirectoryTree(src + L"\\sub\\inner");
    WriteBytes(src + L"\\top.txt", "top");
    WriteBytes(src + L"\\locked.txt", "locked");
    WriteBytes(src + L"\\sub\\mid.txt", "mid");
    WriteBytes(src + L"\\sub\\inner\\low.txt", "low");

    // One source file cannot be read: the copy still reports success.
    UniqueFile exclusive(
        ::CreateFileW((src + L"\\locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(exclusive);
    const std::wstring dst = dir / L"dst";
    EXPECT_TRUE(CopyPath(src, dst));
    EXPECT_EQ(ReadBytes(dst + L"\\top.txt"), "top");
    EXPECT_EQ(ReadBytes(dst + L"\\sub\\mid.txt"), "mid");
    EXPECT_EQ(ReadBytes(dst + L"\\sub\\inner\\low.txt"), "low");
    EXPECT_FALSE(Exists(dst + L"\\locked.txt"));

    // A folder cannot be copied over a file.
    WriteBytes(dir / L"plain", "p");
    EXPECT_FALSE(CopyPath(src, dir / L"plain"));
}

TEST(PathCopy, FolderIntoItselfIsRefused) {
    TempDir dir;
    const std::wstring src = dir / L"tree";
    CreateDirectoryTree(src + L"\\sub");
    WriteBytes(src + L"\\a.txt", "a");
    WriteBytes(src + L"\\sub\\b.txt", "b");

    EXPECT_FALSE(CopyPath(src, src + L"\\sub\\copy"));
    EXPECT_FALSE(Exists(src + L"\\sub\\copy"));
    EXPECT_FALSE(CopyPath(src, src));
    EXPECT_FALSE(CopyPath(src + L"\\", src + L"/SUB/"));
    // A sibling whose name merely starts with the same letters is fine.
    EXPECT_TRUE(CopyPath(src, dir / L"tree2"));
    EXPECT_EQ(ReadBytes(dir / L"tree2\\sub\\b.txt"), "b");
}

TEST(PathDelete, ReadOnlyAndMissingFiles) {
    TempDir dir;
    const std::wstring file = dir / L"ro.txt";
    WriteBytes(file, "x");
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteFileForced(file, true));
    EXPECT_FALSE(Exists(file));

    EXPECT_TRUE(DeleteFileForced(dir / L"missing", true));
    EXPECT_TRUE(DeleteFileForced(L"", true));
    EXPECT_FALSE(DeleteFileForced(dir.path(), true));  // folders are not deleted here
    EXPECT_TRUE(DeletePath(dir / L"missing", false));
    EXPECT_TRUE(DeletePath(dir / L"missing\\deeper\\", true));
    EXPECT_TRUE(DeletePath(L"", false));
}

// A file in use goes at restart, but never from a path that a program of the
// user could point elsewhere by then: it leaves its folder for a folder of
// its own below the Windows folder's temporary folder, and only that path
// is registered, followed by that folder.
TEST(PathDelete, LockedFileGoesAtRestartFromAFolderNoUserCanRename) {
    TempDir dir;
    const std::wstring file = dir / L"in_use.dll";
    const std::wstring other = dir / L"sub.tmp\\in_use.dll";  // the same name, in a folder named like an aside name
    CreateDirectoryTree(dir / L"sub.tmp");
    UniqueModule holder = PlaceLoadedImage(file);
    UniqueModule second = PlaceLoadedImage(other);
    ASSERT_TRUE(holder && second);

    // Without force the failure is not reported and the file stays.
    EXPECT_TRUE(DeleteFileForced(file, false));
    EXPECT_TRUE(Exists(file));

    EXPECT_TRUE(DeleteFileForced(file, true));
    EXPECT_TRUE(DeleteFileForced(other, true));
    EXPECT_FALSE(Exists(file));
    EXPECT_FALSE(Exists(other));
    EXPECT_TRUE(NamesStartingWith(dir.path(), L"in_use").empty());
    EXPECT_TRUE(NamesStartingWith(dir / L"sub.tmp", L"in_use").empty());
    wchar_t windows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    std::wstring pending = PendingRenames(), holding = std::wstring(windows) + L"\\Temp\\Quiview-restart-";
    for (std::wstring* text : {&pending, &holding}) ::CharUpperBuffW(&(*text)[0], static_cast<DWORD>(text->size()));
    // The newest folder registered (the value keeps earlier runs' entries).
    const size_t last = pending.rfind(holding);
    ASSERT_NE(last, std::wstring::npos) << pending;
    const std::wstring folder = pending.substr(last, holding.size() + 16);
    size_t files = 0, lastFile = 0;
    for (size_t at = pending.find(folder + L"\\"); at != std::wstring::npos;
         at = pending.find(folder + L"\\", at + 1)) {
        if (pending.substr(at, pending.find(L'|', at) - at).find(L"-IN_USE.DLL") == std::wstring::npos) continue;
        ++files;
        lastFile = at;
    }
    EXPECT_EQ(files, 2u) << pending;
    // The folder itself after the files.
    EXPECT_GT(pending.rfind(folder + L"|"), lastFile) << pending;

    // The name is free again: a copy to it succeeds.
    WriteBytes(dir / L"new.dll", "new");
    EXPECT_TRUE(CopyPath(dir / L"new.dll", file));
    EXPECT_EQ(ReadBytes(file), "new");
}

TEST(PathDelete, OpenWithoutDeleteSharingIsReportedAsFailure) {
    TempDir dir;
    const std::wstring file = dir / L"held.txt";
    WriteBytes(file, "x");
    UniqueFile holder(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    // Neither deletion nor renaming is possible: the failure is reported.
    EXPECT_FALSE(DeleteFileForced(file, true));
    EXPECT_TRUE(Exists(file));
    EXPECT_TRUE(NamesStartingWith(dir.path(), L"held.txt.tmp").empty());
}

TEST(PathDelete, FolderTreesGoEntirely) {
    TempDir dir;
    const std::wstring tree = dir / L"tree";
    CreateDirectoryTree(tree + L"\\a\\b");
    WriteBytes(tree + L"\\a\\b\\ro.txt", "r");
    ::SetFileAttributesW((tree + L"\\a\\b\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteBytes(tree + L"\\top.txt", "t");

    EXPECT_TRUE(DeleteFolderContents(tree));
    EXPECT_TRUE(IsDirectoryPath(tree));
    EXPECT_FALSE(Exists(tree + L"\\a"));
    EXPECT_FALSE(Exists(tree + L"\\top.txt"));
    EXPECT_FALSE(DeleteFolderContents(dir / L"missing"));

    CreateDirectoryTree(tree + L"\\c");
    WriteBytes(tree + L"\\c\\f.txt", "f");
    EXPECT_TRUE(DeletePath(tree, false));
    EXPECT_FALSE(Exists(tree));

    WriteBytes(dir / L"single.txt", "s");
    EXPECT_TRUE(DeletePath(dir / L"single.txt", true));
    EXPECT_FALSE(Exists(dir / L"single.txt"));
    EXPECT_FALSE(DeleteFolderContents(L"  "));
}

// --- links: a program of the user can put one wherever a folder or file is
// expected; nothing here may reach through it.

class PathLinks : public ::testing::Test {
protected:
    void SetUp() override {
        victim = dir / L"victim";
        CreateDirectoryTree(victim + L"\\deep");
        WriteBytes(victim + L"\\keep.txt", "victim's");
        WriteBytes(victim + L"\\deep\\keep2.txt", "victim's too");
        WriteBytes(dir / L"victim.txt", "victim's file");
    }
    void ExpectVictimIntact() {
        EXPECT_EQ(ReadBytes(victim + L"\\keep.txt"), "victim's");
        EXPECT_EQ(ReadBytes(victim + L"\\deep\\keep2.txt"), "victim's too");
        EXPECT_EQ(ReadBytes(dir / L"victim.txt"), "victim's file");
    }
    TempDir dir;
    std::wstring victim;
};

TEST_F(PathLinks, AreRecognised) {
    const std::wstring folderLink = dir / L"folder-link";
    const std::wstring fileLink = dir / L"file-link.txt";
    ASSERT_TRUE(qvtest::MakeLink(folderLink, victim));
    ASSERT_TRUE(qvtest::MakeLink(fileLink, dir / L"victim.txt"));
    WriteBytes(dir / L"plain.txt", "p");

    EXPECT_TRUE(IsLink(folderLink));
    EXPECT_TRUE(IsLink(fileLink));
    EXPECT_FALSE(IsLink(victim));
    EXPECT_FALSE(IsLink(dir / L"plain.txt"));
    EXPECT_FALSE(IsLink(dir / L"missing"));

    EXPECT_TRUE(PathHasLink(folderLink));
    EXPECT_TRUE(PathHasLink(folderLink + L"\\deep\\keep2.txt"));
    EXPECT_TRUE(PathHasLink(folderLink + L"\\not\\there\\yet"));
    EXPECT_FALSE(PathHasLink(victim + L"\\deep\\keep2.txt"));
    EXPECT_FALSE(PathHasLink(dir / L"not\\there"));

    EXPECT_TRUE(IsPlainFile(dir / L"plain.txt"));
    EXPECT_FALSE(IsPlainFile(fileLink));
    EXPECT_FALSE(IsPlainFile(folderLink + L"\\keep.txt"));
    EXPECT_FALSE(IsPlainFile(victim));
    ASSERT_TRUE(::CreateHardLinkW((dir / L"second-name.txt").c_str(), (dir / L"plain.txt").c_str(), nullptr));
    EXPECT_FALSE(IsPlainFile(dir / L"plain.txt"));
}

TEST_F(PathLinks, DeletingNeverReachesThrough) {
    const std::wstring tree = dir / L"tree";
    CreateDirectoryTree(tree + L"\\sub");
    WriteBytes(tree + L"\\own.txt", "own");
    WriteBytes(tree + L"\\sub\\own2.txt", "own");
    ASSERT_TRUE(qvtest::MakeLink(tree + L"\\sub\\to-folder", victim));
    ASSERT_TRUE(qvtest::MakeLink(tree + L"\\to-file.txt", dir / L"victim.txt"));

    // The tree's own files go; the links stay, and so does the tree.
    EXPECT_FALSE(DeletePath(tree, true));
    EXPECT_FALSE(Exists(tree + L"\\own.txt"));
    EXPECT_FALSE(Exists(tree + L"\\sub\\own2.txt"));
    EXPECT_TRUE(Exists(tree + L"\\to-file.txt"));
    ExpectVictimIntact();

    // A link in place of the folder itself, or of a read-only file.
    const std::wstring folderLink = dir / L"instead";
    ASSERT_TRUE(qvtest::MakeLink(folderLink, victim));
    EXPECT_FALSE(DeletePath(folderLink, true));
    EXPECT_FALSE(DeleteFolderContents(folderLink));
    ::SetFileAttributesW((dir / L"victim.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(qvtest::MakeLink(dir / L"ro-link.txt", dir / L"victim.txt"));
    EXPECT_FALSE(DeletePath(dir / L"ro-link.txt", true));
    EXPECT_FALSE(DeleteFileForced(dir / L"ro-link.txt", true));
    EXPECT_NE(::GetFileAttributesW((dir / L"victim.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    ::SetFileAttributesW((dir / L"victim.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectVictimIntact();
}

TEST_F(PathLinks, ListingAndCopyingNeverReachThrough) {
    const std::wstring src = dir / L"src";
    CreateDirectoryTree(src);
    WriteBytes(src + L"\\own.txt", "own");
    ASSERT_TRUE(qvtest::MakeLink(src + L"\\to-folder", victim));
    ASSERT_TRUE(qvtest::MakeLink(src + L"\\to-file.txt", dir / L"victim.txt"));

    PathList folders;
    ListEntries(src, folders, true, true);
    EXPECT_TRUE(folders.empty());

    const std::wstring dst = dir / L"dst";
    EXPECT_TRUE(CopyPath(src, dst));
    EXPECT_EQ(ReadBytes(dst + L"\\own.txt"), "own");
    EXPECT_FALSE(Exists(dst + L"\\to-folder"));
    EXPECT_FALSE(Exists(dst + L"\\to-file.txt"));
    EXPECT_FALSE(CopyPath(src + L"\\to-file.txt", dir / L"out.txt"));

    // Nothing is written below a link or over one.
    const std::wstring through = dir / L"through";
    ASSERT_TRUE(qvtest::MakeLink(through, victim));
    EXPECT_FALSE(CopyPath(src + L"\\own.txt", through + L"\\keep.txt"));
    EXPECT_FALSE(CopyPath(src, through + L"\\copy"));
    EXPECT_FALSE(Exists(victim + L"\\copy"));
    ASSERT_TRUE(qvtest::MakeLink(dir / L"target.txt", dir / L"victim.txt"));
    EXPECT_FALSE(CopyPath(src + L"\\own.txt", dir / L"target.txt"));
    ExpectVictimIntact();
}

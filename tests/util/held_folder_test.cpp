// Folders held open and files moved and deleted through handles: links in
// place of a folder or file, or swapped in while a folder is held, are never
// reached through.
#include <gtest/gtest.h>

#include <algorithm>

#include "test_support.h"
#include "util/held_folder.h"
#include "util/path.h"

using qvtest::ReadBytes;
using qvtest::TempDir;
using qvtest::WriteBytes;

namespace {

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class HeldFolder : public ::testing::Test {
protected:
    void SetUp() override {
        victim = dir / L"victim";
        CreateDirectoryTree(victim);
        WriteBytes(victim + L"\\keep.txt", "victim's");
        WriteBytes(dir / L"victim.txt", "victim's file");
    }
    void ExpectVictimIntact() {
        EXPECT_EQ(ReadBytes(victim + L"\\keep.txt"), "victim's");
        EXPECT_EQ(ReadBytes(dir / L"victim.txt"), "victim's file");
        EXPECT_EQ(ChildCount(victim), 1u);
    }
    static size_t ChildCount(const std::wstring& folder) {
        CHeldFolder held;
        return held.Open(folder) ? ChildNames(held).size() : 0;
    }
    TempDir dir;
    std::wstring victim;
};

TEST_F(HeldFolder, MovesAndDeletesThroughHandles) {
    CreateDirectoryTree(dir / L"a\\b");
    WriteBytes(dir / L"a\\b\\one.txt", "one");
    CHeldFolder a, b, made;
    ASSERT_TRUE(a.Open(dir / L"a"));
    ASSERT_TRUE(b.OpenChild(a, L"b", false));
    bool created = true;
    ASSERT_TRUE(made.OpenChild(a, L"made", true, nullptr, &created));
    EXPECT_TRUE(created);
    EXPECT_TRUE(Exists(dir / L"a\\made"));

    EntryKind kind;
    UniqueFile one = OpenChildFile(b, L"one.txt", 0, kind);
    ASSERT_EQ(kind, EntryKind::kPlainFile);
    EXPECT_TRUE(MoveInto(one.get(), made, L"moved.txt"));
    one.reset();
    EXPECT_EQ(ReadBytes(dir / L"a\\made\\moved.txt"), "one");
    EXPECT_FALSE(Exists(dir / L"a\\b\\one.txt"));

    // Never over an existing entry.
    WriteBytes(dir / L"a\\b\\two.txt", "two");
    UniqueFile two = OpenChildFile(b, L"two.txt", 0, kind);
    EXPECT_FALSE(MoveInto(two.get(), made, L"moved.txt"));
    two.reset();
    EXPECT_EQ(ReadBytes(dir / L"a\\made\\moved.txt"), "one");

    OpenChildFile(b, L"missing.txt", 0, kind);
    EXPECT_EQ(kind, EntryKind::kMissing);
    OpenChildFile(a, L"b", 0, kind);
    EXPECT_EQ(kind, EntryKind::kOther);
    EXPECT_TRUE(ChildNames(b) == std::vector<std::wstring>{L"two.txt"});

    // A read-only file, a file in use and a folder tree go; the folder
    // itself stays.
    UniqueModule running = qvtest::PlaceLoadedImage(dir / L"a\\made\\running.exe");
    ASSERT_TRUE(running);
    WriteBytes(dir / L"a\\made\\ro.txt", "ro");
    ::SetFileAttributesW((dir / L"a\\made\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryTree(dir / L"a\\made\\x\\y");
    WriteBytes(dir / L"a\\made\\x\\y\\deep.txt", "deep");
    EXPECT_TRUE(DeleteContents(made));
    EXPECT_TRUE(ChildNames(made).empty());
    made.Close();
    EXPECT_TRUE(RemoveEmptyChild(a, L"made"));
    EXPECT_FALSE(Exists(dir / L"a\\made"));
    EXPECT_FALSE(RemoveEmptyChild(a, L"b"));  // not empty

    std::vector<std::wstring> parts;
    EXPECT_TRUE(SplitRelative(L"x\\y/z.txt", parts));
    EXPECT_EQ(parts.size(), 3u);
    for (const wchar_t* bad : {L"", L"\\x", L"x\\..\\y", L"x\\\\y", L"C:x", L"x\\.", L"x\\"})
        EXPECT_FALSE(SplitRelative(bad, parts)) << bad;
}

TEST_F(HeldFolder, LinksAreNeverOpenedNorReachedThrough) {
    CreateDirectoryTree(dir / L"own");
    ASSERT_TRUE(qvtest::MakeLink(dir / L"own\\to-folder", victim));
    ASSERT_TRUE(qvtest::MakeLink(dir / L"own\\to-file.txt", dir / L"victim.txt"));
    ASSERT_TRUE(qvtest::MakeLink(dir / L"folder-link", victim));
    WriteBytes(dir / L"own\\plain.txt", "p");
    ASSERT_TRUE(::CreateHardLinkW((dir / L"own\\second.txt").c_str(), (dir / L"victim.txt").c_str(), nullptr));

    CHeldFolder own, through;
    EXPECT_FALSE(through.Open(dir / L"folder-link"));
    EXPECT_FALSE(through.Open(dir / L"folder-link\\sub"));
    ASSERT_TRUE(own.Open(dir / L"own"));
    EXPECT_FALSE(through.OpenChild(own, L"to-folder", false));
    EXPECT_FALSE(through.OpenChild(own, L"to-folder", true));
    EntryKind kind;
    for (const wchar_t* name : {L"to-file.txt", L"second.txt"}) {
        EXPECT_FALSE(OpenChildFile(own, name, 0, kind)) << name;
        EXPECT_NE(kind, EntryKind::kPlainFile) << name;
    }
    // Deleting everything inside leaves the links and what they lead to.
    EXPECT_FALSE(DeleteContents(own));
    EXPECT_FALSE(Exists(dir / L"own\\plain.txt"));
    ExpectVictimIntact();
    ::DeleteFileW((dir / L"own\\second.txt").c_str());
    ::CreateHardLinkW((dir / L"victim-2.txt").c_str(), (dir / L"victim.txt").c_str(), nullptr);

    // A held folder renamed away (here by the host, which no sharing rule
    // stops) and replaced by a link: what is moved into it through its
    // handle lands in the folder that was opened, or stays where it was.
    CreateDirectoryTree(dir / L"stage\\old");
    WriteBytes(dir / L"stage\\file.txt", "mine");
    CHeldFolder stage, old;
    ASSERT_TRUE(stage.Open(dir / L"stage"));
    ASSERT_TRUE(old.OpenChild(stage, L"old", false));
    if (!qvtest::HostRename(dir / L"stage\\old", dir / L"stage\\old-real")) return;  // the hold kept it
    ASSERT_TRUE(qvtest::MakeLink(dir / L"stage\\old", victim));
    UniqueFile file = OpenChildFile(stage, L"file.txt", 0, kind);
    ASSERT_EQ(kind, EntryKind::kPlainFile);
    const bool moved = MoveInto(file.get(), old, L"file.txt");
    file.reset();
    if (moved)
        EXPECT_EQ(ReadBytes(dir / L"stage\\old-real\\file.txt"), "mine");
    else
        EXPECT_EQ(ReadBytes(dir / L"stage\\file.txt"), "mine");
    EXPECT_FALSE(OpenChildFile(old, L"keep.txt", 0, kind));
    EXPECT_TRUE(ChildNames(old).empty());
    ExpectVictimIntact();
}

}  // namespace

// The installation transaction itself: an installation killed between moving
// its files in and finishing is undone by the next one.
#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <functional>

#include "helper/desktop_shortcut.h"
#include "helper/transaction.h"
#include "sysenv/uninstall_entry.h"
#include "test_support.h"
#include "util/crc32.h"
#include "util/owned.h"
#include "util/path.h"

namespace {

PayloadItem Item(const std::wstring& folder, const std::wstring& relative) {
    const std::string bytes = qvtest::ReadBytes(folder + L"\\" + relative);
    PayloadItem item;
    item.path = relative;
    item.size = bytes.size();
    item.hasCrc = true;
    item.crc = Crc32Update(0, bytes.data(), bytes.size());
    return item;
}

bool Commit(const std::wstring& payload, const std::vector<std::wstring>& names, CInstallTransaction& transaction) {
    std::vector<char> buffer(4096);
    if (!transaction.Begin()) return false;
    for (const std::wstring& name : names)
        if (!transaction.StageFile(payload + L"\\" + name, Item(payload, name), buffer, nullptr)) return false;
    return transaction.CommitFiles();
}

}  // namespace

TEST(Transaction, AKilledCommitIsUndoneByTheNextInstallation) {
    qvtest::TempDir dir;
    const std::wstring payload = dir / L"payload", install = dir / L"Quiview";
    CreateDirectoryTree(payload + L"\\sub");
    qvtest::WriteBytes(payload + L"\\a.txt", "a1");
    qvtest::WriteBytes(payload + L"\\sub\\b.txt", "b1");
    {
        CInstallTransaction first(install);
        ASSERT_TRUE(Commit(payload, {L"a.txt", L"sub\\b.txt"}, first));
        first.Finish();
    }
    qvtest::WriteBytes(install + L"\\notes.txt", "the user's");
    const std::vector<std::wstring> before = qvtest::ListTree(install);

    qvtest::WriteBytes(payload + L"\\a.txt", "a2");
    qvtest::WriteBytes(payload + L"\\c.txt", "c2");
    // Committed but never finished, and never destroyed: as if the process
    // had been killed right after moving its files in.
    {
        CInstallTransaction killed(install);
        ASSERT_TRUE(Commit(payload, {L"a.txt", L"c.txt"}, killed));
        EXPECT_EQ(qvtest::ReadBytes(install + L"\\a.txt"), "a2");
        killed.Abandon();
    }
    CInstallTransaction::Recover();
    EXPECT_EQ(qvtest::ListTree(install), before);
    EXPECT_EQ(qvtest::ReadBytes(install + L"\\a.txt"), "a1");
    EXPECT_EQ(qvtest::ReadBytes(install + L"\\sub\\b.txt"), "b1");
    EXPECT_EQ(qvtest::ReadBytes(install + L"\\notes.txt"), "the user's");

    // A staging folder left by a run killed while it was still copying goes too.
    {
        CInstallTransaction staging(install);
        std::vector<char> buffer(4096);
        ASSERT_TRUE(staging.Begin());
        ASSERT_TRUE(staging.StageFile(payload + L"\\c.txt", Item(payload, L"c.txt"), buffer, nullptr));
        staging.Abandon();
    }
    CInstallTransaction::Recover();
    EXPECT_EQ(qvtest::ListTree(install), before);
}

// A new installation into a folder that did not exist leaves nothing when it fails.
TEST(Transaction, RollbackRemovesTheFoldersItMade) {
    qvtest::TempDir dir;
    const std::wstring payload = dir / L"payload", install = dir / L"new\\deeper\\Quiview";
    CreateDirectoryTree(payload);
    qvtest::WriteBytes(payload + L"\\a.txt", "a");
    {
        CInstallTransaction transaction(install);
        ASSERT_TRUE(Commit(payload, {L"a.txt"}, transaction));
        EXPECT_TRUE(qvtest::Exists(install + L"\\a.txt"));
    }
    EXPECT_FALSE(qvtest::Exists(dir / L"new"));
}

namespace {

// The steps of an installation as the helper runs them, the uninstall entry
// and the shortcut included; `count` of them are run.
bool RunSteps(const std::wstring& payload, const std::vector<std::wstring>& names, CInstallTransaction& transaction,
              int count) {
    std::vector<char> buffer(4096);
    const std::wstring viewer = transaction.Folder() + L"\\a.txt";
    CDesktopShortcut shortcut;
    const std::vector<std::function<bool()>> steps = {
        [&] {
            if (!transaction.Begin()) return false;
            for (const std::wstring& name : names)
                if (!transaction.StageFile(payload + L"\\" + name, Item(payload, name), buffer, nullptr)) return false;
            return true;
        },
        [&] { return transaction.MoveAside(); },
        [&] { return transaction.Place(); },
        [&] { return transaction.WriteManifest(); },
        [&] {
            CUninstallEntrySnapshot before;
            UninstallEntryValues values;
            values.folder = transaction.Folder();
            values.viewer = viewer;
            values.installDate = L"2" + std::to_wstring(names.size());
            return before.Take() && transaction.Journal("entry", before.ToLines()) && WriteUninstallEntry(values);
        },
        [&] {
            return shortcut.Save() && transaction.Journal("shortcut", shortcut.UndoLines()) &&
                   shortcut.Create(viewer, transaction.Folder());
        },
    };
    for (int i = 0; i < count && i < static_cast<int>(steps.size()); ++i)
        if (!steps[i]()) return false;
    return true;
}

std::wstring DesktopShortcutPath() {
    wchar_t desktop[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop);
    return std::wstring(desktop) + L"\\Quiview.lnk";
}

std::string DesktopShortcutBytes() {
    const std::wstring path = DesktopShortcutPath();
    return qvtest::Exists(path) ? qvtest::ReadBytes(path) : "<none>";
}

std::string EntryAsText() {
    CUninstallEntrySnapshot now;
    std::string text;
    if (now.Take())
        for (const std::string& line : now.ToLines()) text += line + "\n";
    return text;
}

}  // namespace

// Each step's Do is undone by its Rollback, in the running process and, from
// the journal alone, by the next installation after a kill; the folders made
// for a new installation go too.
TEST(Transaction, EveryStepIsUndoneLiveAndFromTheJournalAfterAKill) {
    qvtest::TempDir dir;
    const std::wstring payload = dir / L"payload", install = dir / L"Quiview";
    CreateDirectoryTree(payload);
    qvtest::WriteBytes(payload + L"\\a.txt", "a1");
    qvtest::WriteBytes(payload + L"\\b.txt", "b1");
    RemoveUninstallEntry();
    {
        CInstallTransaction first(install);
        ASSERT_TRUE(RunSteps(payload, {L"a.txt", L"b.txt"}, first, 6));
        first.Finish();
    }
    const std::vector<std::wstring> tree = qvtest::ListTree(install);
    const std::string entry = EntryAsText(), shortcut = DesktopShortcutBytes();
    ASSERT_NE(shortcut, "<none>");
    qvtest::WriteBytes(payload + L"\\a.txt", "a2");
    qvtest::WriteBytes(payload + L"\\c.txt", "c2");
    for (int count = 1; count <= 6; ++count) {
        for (bool killed : {false, true}) {
            SCOPED_TRACE(std::to_string(count) + (killed ? " steps, then killed" : " steps, then rolled back"));
            {
                CInstallTransaction next(install);
                ASSERT_TRUE(RunSteps(payload, {L"a.txt", L"c.txt"}, next, count));
                if (killed) next.Abandon();
            }
            if (killed) CInstallTransaction::Recover();
            EXPECT_EQ(qvtest::ListTree(install), tree);
            EXPECT_EQ(qvtest::ReadBytes(install + L"\\a.txt"), "a1");
            EXPECT_EQ(EntryAsText(), entry);
            EXPECT_EQ(DesktopShortcutBytes(), shortcut);
        }
    }

    // A new installation's folders, made by a run killed while staging.
    const std::wstring fresh = dir / L"new\\deeper\\Quiview";
    {
        CInstallTransaction killed(fresh);
        ASSERT_TRUE(RunSteps(payload, {L"a.txt"}, killed, 1));
        killed.Abandon();
    }
    EXPECT_TRUE(qvtest::Exists(fresh));
    CInstallTransaction::Recover();
    EXPECT_FALSE(qvtest::Exists(dir / L"new"));
    RemoveUninstallEntry();
    ::DeleteFileW(DesktopShortcutPath().c_str());
}

// Installed files carry the archive's attributes and time, copied or moved
// into place, and a reinstall replaces read-only files.
TEST(Transaction, InstalledFilesKeepTheirAttributesAndTime) {
    qvtest::TempDir dir;
    const std::wstring payload = dir / L"payload", install = dir / L"Quiview";
    CreateDirectoryTree(payload);
    const DWORD flags = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    FILETIME old = {};
    SYSTEMTIME when = {2001, 2, 0, 3, 4, 5, 6, 0};
    ::SystemTimeToFileTime(&when, &old);
    for (const wchar_t* name : {L"copied.txt", L"moved.txt"}) {
        const std::wstring path = payload + L"\\" + name;
        qvtest::WriteBytes(path, "content");
        UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file && ::SetFileTime(file.get(), nullptr, nullptr, &old));
        file.reset();
        ASSERT_TRUE(::SetFileAttributesW(path.c_str(), flags));
    }
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "installed" : "reinstalled over read-only files");
        CInstallTransaction transaction(install);
        std::vector<char> buffer(4096);
        ASSERT_TRUE(transaction.Begin());
        ASSERT_TRUE(transaction.StageFile(payload + L"\\copied.txt", Item(payload, L"copied.txt"), buffer, nullptr));
        const PayloadItem moved = Item(payload, L"moved.txt");
        ASSERT_TRUE(transaction.StageFiles(payload, {&moved}, nullptr));
        ASSERT_TRUE(transaction.CommitFiles());
        transaction.Finish();
        for (const wchar_t* name : {L"copied.txt", L"moved.txt"}) {
            SCOPED_TRACE(name);
            WIN32_FILE_ATTRIBUTE_DATA data = {};
            ASSERT_TRUE(::GetFileAttributesExW((install + L"\\" + name).c_str(), GetFileExInfoStandard, &data));
            EXPECT_EQ(data.dwFileAttributes & (flags | FILE_ATTRIBUTE_DIRECTORY), flags);
            EXPECT_EQ(::CompareFileTime(&data.ftLastWriteTime, &old), 0);
        }
        // The moved file is staged again from the installation for the next round.
        ::SetFileAttributesW((install + L"\\moved.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(::CopyFileW((install + L"\\moved.txt").c_str(), (payload + L"\\moved.txt").c_str(), FALSE));
        ::SetFileAttributesW((install + L"\\moved.txt").c_str(), flags);
        ::SetFileAttributesW((payload + L"\\moved.txt").c_str(), flags);
    }
    for (const std::wstring& name : qvtest::ListTree(install)) EXPECT_EQ(name.find(L".qvstage-"), std::wstring::npos);
}

#pragma once
// The bundle's seal and the checks against it. Install.exe carries the
// SHA-256 digests of the three files shipped beside it (a resource that
// tools/seal-bundle fills in when a bundle is made); the folder they lie in
// may be writable by any program of the user, so each file is used only
// when its content matches, read through a handle that keeps everybody else
// from changing it until it has been used. Nothing here throws or shows
// anything.
#include <windows.h>

#include <atomic>
#include <string>

#include "util/owned.h"
#include "util/sha256.h"

// What the seal states. A digest of zeros (a bundle never sealed, or a file
// that was missing when it was sealed) matches no file.
struct BundleSeal {
    Sha256Digest archive{};         // payload.7z
    Sha256Digest archiveLibrary{};  // 7z.dll
    Sha256Digest uiLibrary{};       // DuiLib.dll
};

// The seal that `module`'s resources carry (the running program's for null);
// false when it has none of the seal's size.
bool ReadBundleSeal(HMODULE module, BundleSeal* seal);

// Opens an existing file for reading, shared for reading only: while the
// handle is open nobody can write, rename or delete the file, and the open
// fails while somebody else may write it. Invalid on failure.
UniqueFile OpenHeld(const std::wstring& path);

// Whether the whole content of an open file has the digest.
bool FileMatches(HANDLE file, const Sha256Digest& expected);

// The plain file at `path` (no link, no second name) held open (OpenHeld)
// once its content matches `expected`; invalid when it is missing, not a
// plain file, held by a writer or different.
UniqueFile OpenChecked(const std::wstring& path, const Sha256Digest& expected);

// Copies `source` to the new file `target` and returns the copy held open
// once it matches `expected`; a copy that does not match is removed.
UniqueFile CopyChecked(const std::wstring& source, const std::wstring& target, const Sha256Digest& expected);

// The digest of an open file taken on a thread of its own, while the caller
// reads the same file for other work. The file must stay open until the
// task has ended (Matches, or the destructor, which stops it early).
class CFileDigestTask {
public:
    CFileDigestTask() = default;
    ~CFileDigestTask();
    CFileDigestTask(const CFileDigestTask&) = delete;
    CFileDigestTask& operator=(const CFileDigestTask&) = delete;

    // Starts on `file`; where no thread can be started, Matches reads it.
    void Start(HANDLE file);
    // Waits for the end: whether the whole file was read and its digest is
    // `expected`. False when nothing was started.
    bool Matches(const Sha256Digest& expected);

private:
    static DWORD WINAPI Run(void* self);
    bool Digest();

    HANDLE file_ = INVALID_HANDLE_VALUE;
    UniqueHandle thread_;
    std::atomic<bool> stop_{false};
    bool done_ = false;
    bool read_ = false;
    Sha256Digest digest_{};
};

// The bundle's payload archive staged in the private folder for the
// extraction. The bundle's file is held open (OpenHeld) from Hold until the
// object goes, so its content cannot change meanwhile; the staged name is a
// second name of that same file where the volume allows one, else a copy
// written through the held handle.
class CStagedArchive {
public:
    CStagedArchive() = default;
    CStagedArchive(const CStagedArchive&) = delete;
    CStagedArchive& operator=(const CStagedArchive&) = delete;

    // Opens and holds the bundle's archive; false when it is missing, a link,
    // not a file, or somebody may write it.
    bool Hold(const std::wstring& source);
    // Gives the held file the new name `target`; false on failure.
    bool Stage(const std::wstring& target);

    // The held file (invalid before Hold) and the staged name (empty before Stage).
    HANDLE File() const { return source_.get(); }
    const std::wstring& Path() const { return path_; }

private:
    bool CopyTo(const std::wstring& target);

    std::wstring sourcePath_;
    UniqueFile source_;
    UniqueFile staged_;
    std::wstring path_;
};

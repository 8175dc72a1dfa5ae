#pragma once
// One installation into a folder, all or nothing. The new files are first
// copied into a staging folder inside the installation folder (same volume),
// each checked against the archive's size and checksum; nothing the previous
// installation owns is touched until every byte is there. The commit then
// moves the previous files aside into the staging folder and the new ones in,
// writes the manifest, and only when everything is in place removes what was
// moved aside. Any failure before that point (or the destruction of an
// uncommitted transaction) puts the previous state back. Marker files in the
// staging folder let the next installation finish the undo of one that was
// killed in the middle of its commit.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "install/payload_items.h"

class CInstallTransaction {
public:
    // `progress` receives the bytes staged so far.
    using ByteProgress = std::function<void(std::uint64_t)>;

    explicit CInstallTransaction(std::wstring installFolder);
    ~CInstallTransaction();  // rolls back unless committed
    CInstallTransaction(const CInstallTransaction&) = delete;
    CInstallTransaction& operator=(const CInstallTransaction&) = delete;

    // Undoes what an earlier, killed installation left half committed in the
    // folder, and removes stale staging folders. Safe to call on any folder.
    static void Recover(const std::wstring& installFolder);

    // Creates the staging folder (and the installation folder when missing,
    // to be removed again on rollback). False when the folder is, or lies
    // below, a link, or cannot be created.
    bool Begin();
    // Copies one payload file into the staging folder, checked as it goes.
    // False when it cannot be read or written whole (a full disk), or is not
    // exactly what the archive holds.
    bool StageFile(const std::wstring& source, const PayloadItem& item, std::vector<char>& buffer,
                   const ByteProgress& progress);
    // Stages every file of a payload folder: moved into the staging folder
    // where the payload lies on the same volume (the payload folder is the
    // installer's own, and goes afterwards anyway), copied otherwise; either
    // way each file is then read once and checked against the archive's
    // size and checksum (two files at a time) while its digest is taken.
    // `progress` receives the bytes checked so far, from the calling thread.
    bool StageFiles(const std::wstring& payloadFolder, const std::vector<const PayloadItem*>& files,
                    const ByteProgress& progress);
    // Records a folder of the payload (made at commit, empty folders too).
    void StageFolder(const std::wstring& relative);
    // Moves everything into place and writes the manifest. On failure the
    // previous state is back and false is returned.
    bool CommitFiles();
    // Called after the system entries were written: from now on nothing is
    // undone. Removes what was moved aside (in-use files at restart) and the
    // staging folder.
    void Finish();
    // Puts the previous state back (idempotent).
    void Rollback();

    // What was installed (the manifest's entries), valid after CommitFiles.
    const std::vector<PayloadItem>& Installed() const { return staged_; }
    std::uint64_t InstalledBytes() const;
    const std::wstring& StagingFolder() const { return stage_; }

private:
    bool MoveAside(const std::wstring& relative);
    bool MoveIn(const PayloadItem& item);
    bool CreateFolders();
    void RemoveOldFiles(const std::vector<PayloadItem>& old);

    std::wstring folder_;
    std::wstring stage_;
    bool createdFolder_ = false;
    bool committing_ = false;
    bool committed_ = false;
    std::vector<PayloadItem> staged_;
    std::vector<std::wstring> createdFolders_;
};

// The name prefix of staging folders inside an installation folder.
extern const wchar_t kStagingPrefix[];

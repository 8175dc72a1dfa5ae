#pragma once
// One installation into a folder, all or nothing. The new files are first
// copied into a staging folder inside the installation folder (same volume),
// each checked against the archive's size and checksum; nothing the previous
// installation owns is touched until every byte is there. The commit then
// moves the previous files aside into the staging folder and the new ones in,
// writes the manifest, and only when everything is in place removes what was
// moved aside. Any failure before that point (or the destruction of an
// uncommitted transaction) puts the previous state back.
//
// The installation folder may be one that other programs of the user can
// write. Every folder is held open while it is used and every file is moved
// or deleted through a handle (util/held_folder.h); the staging folder is
// made with the access list of the installer's private folder. What the
// commit will move is written to the protected install record first, so
// that the next installation can undo one that was killed in the middle;
// the record, never anything found in a folder, is what it goes by. The
// previous installation's manifest counts only when it is the one the
// record names.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "contract/install_record.h"
#include "contract/payload_items.h"
#include "util/held_folder.h"

class CInstallTransaction {
public:
    // `progress` receives the bytes staged so far.
    using ByteProgress = std::function<void(std::uint64_t)>;

    explicit CInstallTransaction(std::wstring installFolder);
    ~CInstallTransaction();  // rolls back unless committed
    CInstallTransaction(const CInstallTransaction&) = delete;
    CInstallTransaction& operator=(const CInstallTransaction&) = delete;

    // Undoes what earlier, killed installations left half committed, as
    // their records say, and removes the staging folders the records name.
    static void Recover();

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
    // Lets go of every handle and undoes nothing: what a process killed at
    // this point leaves behind (for tests of the recovery).
    void Abandon();

    // What was installed (the manifest's entries), valid after CommitFiles.
    const std::vector<PayloadItem>& Installed() const { return m_staged; }
    std::uint64_t InstalledBytes() const;
    const std::wstring& StagingFolder() const { return m_stage; }

private:
    bool OpenRoot(bool create);
    bool OpenStage(bool create);
    bool MoveAside(const std::wstring& relative, const std::string& onlyIfMd5);
    bool MoveIn(const std::wstring& relative);
    bool CreateFolders();
    bool ReadOldManifest(std::vector<PayloadItem>& old);
    void Undo();
    bool RemoveStage();
    void SaveRecord();
    void ReleaseHandles();

    std::wstring m_folder;
    std::wstring m_stage;  // full path, for callers
    std::wstring m_stageName;
    std::string m_manifestMd5;  // of the manifest this commit wrote
    InstallRecord m_record;
    CHeldFolder m_root, m_stageFolder, m_new, m_old;
    bool m_committing = false;
    bool m_committed = false;
    std::vector<PayloadItem> m_staged;
    std::vector<std::wstring> m_createdFolders;  // full paths, in the order made
};

// The name prefix of staging folders inside an installation folder.
extern const wchar_t kStagingPrefix[];

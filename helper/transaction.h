#pragma once
// One installation into a folder, all or nothing, as steps that can each be
// undone. The new files are first copied into a staging folder inside the
// installation folder (same volume), each checked against the archive's
// size and checksum; nothing the previous installation owns is touched
// until every byte is there. The previous files are then moved aside into
// the staging folder, the new ones in, the manifest written, and only when
// everything is in place (the uninstall entry and the shortcut too) is what
// was moved aside removed. Any failure before that point (or the
// destruction of an unfinished transaction) puts the previous state back.
//
// The installation folder may be one that other programs of the user can
// write. Every folder is held open while it is used and every file is moved
// or deleted through a handle (util/held_folder.h); the staging folder is
// made with the access list of the installer's private folder. What each
// step will undo is written to the journal in the protected install record
// first, so that the next installation can undo one that was killed in the
// middle; the journal, never anything found in a folder, is what it goes
// by. The previous installation's manifest counts only when it is the one
// the record names.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "contract/install_record.h"
#include "contract/payload_items.h"
#include "util/step_list.h"
#include "util/held_folder.h"

class CInstallTransaction {
public:
    // `progress` receives the bytes staged so far.
    using ByteProgress = std::function<void(std::uint64_t)>;

    explicit CInstallTransaction(std::wstring installFolder);
    ~CInstallTransaction();  // rolls back unless finished
    CInstallTransaction(const CInstallTransaction&) = delete;
    CInstallTransaction& operator=(const CInstallTransaction&) = delete;

    // Undoes what earlier, killed installations left unfinished, as their
    // journals say (last step first), and removes the staging folders the
    // records name. What it undoes goes to `log` when given.
    static void Recover(CStepLog* log = nullptr);

    // The steps of an installation. Each writes what undoes it to the
    // journal (and flushes it) before it changes anything; UndoStep puts
    // back what the last step of that name did.
    //
    // Stage, part one: creates the staging folder (and the installation
    // folder when missing, to be removed again on rollback). False when the
    // folder is, or lies below, a link, or cannot be created.
    bool Begin();
    // Stage, part two: copies one payload file into the staging folder,
    // checked as it goes. False when it cannot be read or written whole (a
    // full disk), or is not exactly what the archive holds.
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
    // Moves the previous installation's files that the new one replaces or
    // drops (these only while unchanged since) into the staging folder.
    bool MoveAside();
    // Makes the payload's folders and moves the new files into place.
    bool Place();
    // Writes the manifest of what was placed.
    bool WriteManifest();
    // MoveAside, Place and WriteManifest; on failure the previous state is
    // back and false is returned.
    bool CommitFiles();
    // Appends the undo record of a step that is not the transaction's own
    // (the uninstall entry, the shortcut); false when it could not be
    // written and flushed: the step must then not go ahead.
    bool Journal(const std::string& step, std::vector<std::string> lines);
    // Undoes the last step of the journal when it has this name, and drops
    // it from the journal. True when it is undone (or was never journaled).
    bool UndoStep(const std::string& step);
    // What the last journaled step of that name touched, as full paths.
    std::vector<std::wstring> Touched(const std::string& step) const;
    // The commit point, after every other step: the journal is cleared,
    // from now on nothing is undone. Removes what was moved aside (in-use
    // files at restart), the previous installation's emptied folders and
    // the staging folder.
    void Finish();
    // Puts the previous state back: the journal undone, last step first
    // (idempotent).
    void Rollback();
    // Lets go of every handle and undoes nothing: what a process killed at
    // this point leaves behind (for tests of the recovery).
    void Abandon();

    // What was installed (the manifest's entries), valid after CommitFiles.
    const std::vector<PayloadItem>& Installed() const { return m_staged; }
    std::uint64_t InstalledBytes() const;
    const std::wstring& StagingFolder() const { return m_stage; }
    const std::wstring& Folder() const { return m_folder; }

private:
    bool OpenRoot(bool create);
    bool OpenStage(bool create);
    // Undoes one journal entry; true when nothing of it is left to undo.
    bool Undo(const JournalEntry& entry);
    bool RemoveStage();
    void RemoveMadeFolders(const JournalEntry& entry);
    bool SaveRecord(bool flush);
    void ReleaseHandles();

    std::wstring m_folder;
    std::wstring m_stage;  // full path, for callers
    std::wstring m_stageName;
    std::string m_manifestMd5;  // of the manifest this installation wrote
    InstallRecord m_record;
    CHeldFolder m_root, m_stageFolder, m_new, m_old;
    bool m_finished = false;
    std::vector<PayloadItem> m_staged;
    std::vector<PayloadItem> m_previous;        // the previous installation's manifest
    std::vector<std::wstring> m_placed;         // files to place, the manifest last
    std::vector<const PayloadItem*> m_dropped;  // previous files the new installation does not have
};

// The name prefix of staging folders inside an installation folder.
extern const wchar_t kStagingPrefix[];

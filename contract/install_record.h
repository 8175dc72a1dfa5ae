#pragma once
// What the product must be able to trust about its installations later: the
// digest of the manifest each finished installation wrote, and, while an
// installation moves files, which files it moves where, so that the next
// run can undo one that was killed in the middle. The record lives where a
// process without elevation cannot write when the writer is elevated: in
// the machine's part of the registry, below a key that only administrators
// and the system may change (no user can make such a key before the
// product does, which a folder in the machine's application data would
// allow); else in the user's own part. Nothing found in an installation
// folder, or in a folder the user's registry names, is ever taken for a
// record. Each record is one value, so that it is replaced whole.
#include <string>
#include <vector>

#include "contract/payload_items.h"
#include "util/held_folder.h"

// What one step of an installation must undo, written before the step
// changes anything: the step's name and its own lines of text.
struct JournalEntry {
    std::string step;
    std::vector<std::string> lines;
};

struct InstallRecord {
    std::wstring folder;                // the installation folder, as a full path
    std::string manifestMd5;            // MD5 of the manifest the last finished installation wrote; empty: none
    std::wstring stage;                 // the staging folder's name inside `folder` while one is in use or left over
    std::vector<JournalEntry> journal;  // the undo records of the steps of an unfinished installation, in order
};

// The record of an installation folder from the record folder(s) this
// process may trust; false when there is none (or it is damaged).
bool ReadInstallRecord(const std::wstring& installFolder, InstallRecord& record);
// Writes the record, replacing the previous one; with `flush`, on the disk
// before it returns (what a record announces must not be done before it
// would survive a power cut). False when it cannot be written whole.
bool WriteInstallRecord(const InstallRecord& record, bool flush = true);
// Removes the record of an installation folder.
void RemoveInstallRecord(const std::wstring& installFolder);
// Every record in the place this process writes that names a staging folder
// or holds a journal.
std::vector<InstallRecord> ReadPendingInstallRecords();

// The manifest of the installation in the held folder `root`, read once
// through a handle (never through a link); it counts only when its MD5 is
// the one the record of that folder names (a manifest edited or put there
// by anyone else lists nothing). False when there is no such manifest.
bool ReadRecordedManifest(const CHeldFolder& root, std::vector<PayloadItem>& items);

// True when the manifest file is the one the record of its installation
// folder names.
bool IsRecordedManifest(const std::wstring& installFolder, const std::string& manifestMd5);

// The logs of installations and uninstallations, kept beside the records
// (the last five, named by date and time).
const int kKeptSetupLogs = 5;
// Keeps `text` (UTF-8) as the newest log of this kind ("install", "uninstall").
bool SaveSetupLog(const std::string& kind, const std::string& text);
// The kept logs, oldest first.
std::vector<std::string> ReadSetupLogs();

#pragma once
// How the processes of one uninstallation hand over to each other.
//
// The uninstaller is a file of the installation it removes, and a running
// program's file cannot be deleted on Windows (only renamed). So the original
// in the installation folder removes nothing itself: it copies itself into a
// fresh private folder in the temporary folder, starts the copy (no inherited
// handles; its current folder moved out of the installation first) and waits
// for it, holding nothing of the installation but its own file.
//
// The copy removes everything except the original's file, the listed
// folders, the manifest and the installation folder. Then it ends the
// waiting original with the result as its exit code (TerminateProcess: the
// original does nothing but wait, has nothing to flush or release), so that
// a silent caller waiting for the original learns the result. Once the
// original has ended, its file can be deleted; the rest follows, and the copy
// leaves its own file and folder to the system to delete at the next restart.
// An original restarted elevated is waited for the same way, and so is the
// unelevated process that restarted it: it runs the same file and ends as
// soon as the elevated one has.
//
// Should the copy end on its own (it could not verify the original), the
// original returns the copy's exit code, and the copy has moved the still
// running original's file aside for deletion at restart instead.
#include <windows.h>

#include <string>

#include "util/owned.h"

// The full path of this program; empty on failure.
std::wstring OwnProgramPath();
// The system folder, the current folder of every process of the
// uninstallation (so that none keeps the installation folder in use).
std::wstring SystemFolder();

// True when a new file can be made in the folder: probed with a hidden file
// of a random name that deletes itself when closed.
bool CanWriteFolder(const std::wstring& folder);

enum class ElevatedRun { kRan, kDeclined, kFailed };
// Starts `program` elevated ("runas") and waits for it; kRan with its exit
// code, kDeclined when the user refused the elevation.
ElevatedRun RunElevated(const std::wstring& program, const std::wstring& arguments, DWORD& exitCode);

// This program's file (`self`, from OwnProgramPath), opened for reading and
// held against writing (and, where the system allows it beside the running
// image, renaming) from the start: what the copy is made of. Empty on failure.
UniqueFile OpenOwnImage(const std::wstring& self);
// Copies the content of `image` (from OpenOwnImage) into a new private folder
// in `tempFolder`, checks the copy against it, starts the copy with
// `arguments` and waits for it (or for the copy to end this process). True
// with the copy's exit code once it ended; false when no copy could be made,
// checked or started (nothing was started then).
bool RunCopyAndWait(HANDLE image, const std::wstring& tempFolder, const std::wstring& arguments, DWORD& exitCode);
// The prefix of the private folders of the copies.
extern const wchar_t kCopyFolderPrefix[];

// Opens a process of the handover for `access` (plus SYNCHRONIZE) when it is
// what it should be: it started before this process did and, where the
// system tells, it runs `image`. Empty for any other process, so that a
// process id used again by another program is never touched.
UniqueHandle OpenHandoverProcess(DWORD processId, const std::wstring& image, DWORD access);
// Waits up to `timeoutMs` for a process (an empty handle is not waited for).
void WaitForProcess(const UniqueHandle& process, DWORD timeoutMs);

// Leaves this program's file to the system to delete at the next restart
// (util/restart_deletion.h) and removes the copy's private folder it leaves
// empty (this needs the right to do so; without it both stay in the
// temporary folder).
void LeaveOwnFilesForRestart();

#pragma once
// File-system operations on wide-string paths: the installer's own folder,
// folder trees, copying that skips identical files, and deletion that clears
// read-only attributes and moves locked files aside for deletion at restart.
// Nothing here throws or shows anything; failures are reported as false.
//
// The installer runs elevated inside folders that any program of the user can
// write, so none of these operations follows a link: a junction, symbolic
// link or mount point (or any entry the system opens as another path) is
// never listed into, copied from, written through, emptied or removed: it is
// left where it is, because on some systems (Wine among them) every call that
// would remove or rename it reaches what it leads to instead.
#include <string>
#include <vector>

using PathList = std::vector<std::wstring>;

// Folder of the running executable without a trailing separator; empty on failure.
std::wstring ModuleFolder();
// True if the path is non-empty and names an existing file or folder.
bool FileExists(const std::wstring& path);
// True if the path names an existing folder or, missing, ends with a separator.
bool IsDirectoryPath(const std::wstring& path);
// Appends every leading part of the path (C:, C:\a, C:\a\b); returns the list size.
size_t ListPathPrefixes(const std::wstring& path, PathList& prefixes);
// Creates every missing level of the folder; true if it exists afterwards.
bool CreateDirectoryTree(const std::wstring& path);
// Splits into a folder part ending with a separator and a name part (left
// unchanged when the path is a folder). True if a folder part was produced.
bool SplitDirAndName(std::wstring path, std::wstring& folder, std::wstring& name);
// Appends the entries of a folder (optionally only subfolders, optionally
// recursive); returns the list size, or 0 for a missing folder. Links to
// folders are neither listed nor entered.
size_t ListEntries(const std::wstring& folder, PathList& entries, bool foldersOnly, bool recursive);
// True if both files exist and have the same MD5 digest.
bool SameContent(const std::wstring& target, const std::wstring& source);
// Copies a file or a whole folder tree. Files whose target already has the
// same content are left untouched. A folder copy is best effort and succeeds
// even when single files fail; copying a folder into itself is refused. Only
// plain files are copied, never into a destination below a link nor over a
// target that is a link.
bool CopyPath(const std::wstring& source, const std::wstring& destination);
// Deletes a file (never a link: false). With `force`, clears read-only
// and, if the file is still in use, leaves it for deletion at restart
// (util/restart_deletion.h). Without `force`, a failed deletion still
// reports true.
bool DeleteFileForced(const std::wstring& path, bool force);
// Deletes everything inside a folder; the folder itself stays. False when
// something stayed (a link to a folder, a file that cannot go).
bool DeleteFolderContents(const std::wstring& folder);
// Deletes a file or a whole folder tree, read-only entries included; a file
// still in use is moved aside for deletion at restart. Links stay (also one
// in place of the path). True when nothing is left (a missing path too).
bool DeletePath(const std::wstring& path, bool force);

// --- Links -------------------------------------------------------------------
// True when an existing entry is a link: it carries the reparse-point
// attribute, or the system opens it as another path than its own.
bool IsLink(const std::wstring& path);
// True when the path itself or any existing folder above it is a link, so
// that the path would lead somewhere else than it says.
bool PathHasLink(const std::wstring& path);
// True for an existing file that is nothing else: not a folder, not a link,
// not reached through a link, and with no second name (hard link).
bool IsPlainFile(const std::wstring& path);
// The absolute form of a path (backslashes, no trailing separator except at
// a drive root); empty when the system cannot resolve it.
std::wstring FullPath(const std::wstring& path);
// The path without the separators ('\\' or '/') at its end, except the one
// of a drive's root ("C:\\") or a path that is a separator alone.
std::wstring WithoutTrailingSeparators(std::wstring path);
// True when `inner` is `outer` or lies below it, compared as full paths
// without regard to case.
bool IsSameOrInside(const std::wstring& inner, const std::wstring& outer);

#pragma once
// File-system operations on wide-string paths: the installer's own folder,
// folder trees, copying that skips identical files, and deletion that clears
// read-only attributes and moves locked files aside for deletion at restart.
// Nothing here throws or shows anything; failures are reported as false.
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
// recursive); returns the list size, or 0 for a missing folder.
size_t ListEntries(const std::wstring& folder, PathList& entries, bool foldersOnly, bool recursive);
// True if both files exist and have the same MD5 digest.
bool SameContent(const std::wstring& target, const std::wstring& source);
// Copies a file or a whole folder tree. Files whose target already has the
// same content are left untouched. A folder copy is best effort and succeeds
// even when single files fail; copying a folder into itself is refused.
bool CopyPath(const std::wstring& source, const std::wstring& destination);
// Deletes a file. With `force`, clears read-only and, if the file is still in
// use, moves it aside and schedules it for deletion at restart. Without
// `force`, a failed deletion still reports true.
bool DeleteFileForced(const std::wstring& path, bool force);
// Deletes everything inside a folder; the folder itself stays.
bool DeleteFolderContents(const std::wstring& folder);
// Deletes through the shell, silently, optionally to the recycle bin.
bool ShellDelete(const std::wstring& path, bool allowUndo);
// Deletes a file or folder tree; `flag` is the force flag for a file and
// allow-undo for a folder. A missing path is a success.
bool DeletePath(const std::wstring& path, bool flag);

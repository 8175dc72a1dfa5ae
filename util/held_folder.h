#pragma once
// Folders and files reached through open handles instead of by path. An
// elevated program that works in a folder other programs of the user can
// write must not check a path and then use the path again: in between, a
// folder on the way can be renamed and a link put in its place. Here every
// folder is opened once, from the drive's root down, each level relative to
// the one above and held without delete sharing (so that it cannot be
// renamed or replaced while held), and each is checked on its handle: a
// folder, not a link, and opened as exactly the path it was reached by.
// Files inside are opened relative to a held folder, checked the same way,
// and moved or deleted through their handles.
//
// Nothing here throws or shows anything; failures are reported as false or
// as an empty handle.
#include <windows.h>

#include <string>
#include <vector>

#include "util/owned.h"

class CHeldFolder {
public:
    CHeldFolder() = default;
    CHeldFolder(CHeldFolder&&) = default;
    CHeldFolder& operator=(CHeldFolder&&) = default;

    // Opens an existing folder given by its full path, and every folder
    // above it below the root. False when a level is missing, not a folder,
    // or a link.
    bool Open(const std::wstring& folder);
    // Opens the child folder `name` of `parent` (one path component), or
    // makes it when it is missing and `create` is set, with the given
    // security descriptor (null: inherited). `created` tells which happened.
    bool OpenChild(const CHeldFolder& parent, const std::wstring& name, bool create,
                   PSECURITY_DESCRIPTOR security = nullptr, bool* created = nullptr);
    // A second hold of the folder `other` holds.
    bool Duplicate(const CHeldFolder& other);
    // Lets go of the folder (and of the folders above, for Open).
    void Close();

    bool IsOpen() const { return static_cast<bool>(m_handle); }
    // True while the folder's path still leads to the held folder. Every
    // operation below checks it first: where the system lets a held folder
    // be renamed after all, or resolves names relative to a folder by its
    // path, a link put in its place is noticed instead of followed.
    bool InPlace() const;
    HANDLE Handle() const { return m_handle.get(); }
    // The path the folder was reached by, for messages and logs.
    const std::wstring& Path() const { return m_path; }
    // The path the system has for the open folder (empty where it cannot tell).
    const std::wstring& FinalPath() const { return m_final; }

private:
    std::vector<UniqueFile> m_above;
    UniqueFile m_handle;
    std::wstring m_path;
    std::wstring m_final;  // the path the system has for the open folder
};

// What a child entry of a held folder is.
enum class EntryKind {
    kMissing,    // nothing of that name
    kPlainFile,  // a file with one name, not a link (the handle is returned)
    kOther,      // a folder, a link, a second name of a file, a device
    kFailed,     // it could not be opened (in use without sharing, no access)
};

// Opens the child file `name` of `folder` for moving or deleting it, never
// through a link: with DELETE, FILE_READ_ATTRIBUTES and `access`, sharing
// only reading. The handle is valid for kPlainFile only.
UniqueFile OpenChildFile(const CHeldFolder& folder, const std::wstring& name, DWORD access, EntryKind& kind);
// What the child `name` of `folder` is, without taking it from anyone who
// has it open (all sharing allowed; the handle is closed at once).
EntryKind InspectChild(const CHeldFolder& folder, const std::wstring& name);
// Makes the new file `name` in `folder` (never over an existing entry) for
// writing; an empty handle when it cannot.
UniqueFile CreateChildFile(const CHeldFolder& folder, const std::wstring& name);
// Reads the whole child file `name` of `folder` (never through a link) into
// `bytes`; kPlainFile when it did, kFailed also when it is over `limit` bytes.
EntryKind ReadChildFile(const CHeldFolder& folder, const std::wstring& name, size_t limit, std::string& bytes);
// Makes the new file `name` in `folder` with `bytes` as its content; nothing
// is left when it cannot be written whole.
bool WriteChildFile(const CHeldFolder& folder, const std::wstring& name, const std::string& bytes);
// Deletes the child file `name` of `folder` (read-only too); true also when
// there is none. A link, a folder or a file with a second name is not deleted
// (false). With `atRestart`, a file in use goes at the next restart
// (util/restart_deletion.h).
bool DeleteChildFile(const CHeldFolder& folder, const std::wstring& name, bool atRestart = false);
// Gives the open file (or folder) the new name `name` in `folder`, which
// must be on the same volume; never over an existing entry.
bool MoveInto(HANDLE entry, const CHeldFolder& folder, const std::wstring& name);
// Deletes the open file, or the open empty folder, when its handle closes.
bool DeleteOnClose(HANDLE entry);
// Removes the child folder `name` of `folder` when it is empty and not a link.
bool RemoveEmptyChild(const CHeldFolder& folder, const std::wstring& name);
// Deletes everything inside a held folder, through handles, entering no
// link and removing none; a file in use goes at restart
// (util/restart_deletion.h). True when nothing is left.
bool DeleteContents(const CHeldFolder& folder);
// Gives an open file the rights that a new file in `folder` would inherit
// (a file moved from another folder keeps the access list it had there).
bool TakeRightsOf(const CHeldFolder& folder, HANDLE file);
// The names in a held folder (no "." or "..").
std::vector<std::wstring> ChildNames(const CHeldFolder& folder);

// Splits a relative path ("a\b\c.txt") into its components; false when one
// is empty, "." or "..", or the path is absolute.
bool SplitRelative(const std::wstring& relative, std::vector<std::wstring>& parts);

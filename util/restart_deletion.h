#pragma once
// Files that cannot be deleted now (a program still runs from them) are
// deleted by the system at the next restart. The system does that by path,
// as the system account, long after this program has ended: a path whose
// folders a program of the user could rename, or replace by a link, by then
// would let that program point the deletion at any file. So a file left for
// restart is first moved into a folder made fresh for this process below the
// Windows folder's own temporary folder (which no such program can rename),
// open only to administrators and the system, and only that path is
// registered, followed by that folder.
//
// Nothing here throws or shows anything.
#include <string>

// Moves the file there and registers it (and the folder after it); false
// when it cannot be moved there (another volume, no rights: a process that
// is not elevated cannot register anything anyway) or registered. The file
// then no longer answers to its old path.
bool DeleteAtRestart(const std::wstring& file);

#pragma once
// Where this process may load libraries from. An elevated program started
// from a folder the user can write (a Downloads folder) must never pick up a
// library planted there or in the current folder under a system library's
// name, so system libraries come from the system folder only.
// Nothing here throws or shows anything.
#include <windows.h>

// Restricts the default library search of this process to the system folder
// (libraries shipped beside a program are loaded by full path). Where the
// system lacks the call (XP, Vista and 7 without the update that adds it),
// the current folder is at least taken out of the search. Call it first thing
// in every program. True when the strict search is in force.
bool HardenLibrarySearch();

// A system library (a bare name such as L"msftedit.dll") loaded from the
// system folder only; null when it is not there. The caller owns the
// reference (FreeLibrary, or keep it for the process's lifetime).
HMODULE LoadSystemLibrary(const wchar_t* name);

// A library given by its full path; libraries it imports come from its own
// folder or the system folder, never from the folders of the default search.
HMODULE LoadLibraryFromPath(const wchar_t* path);

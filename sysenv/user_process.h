#pragma once
// Starting a program for the person at the screen rather than with the
// installer's own rights. The installer runs elevated (or as the local system
// account on the user's behalf); a program it starts for the user, such as
// the installed viewer, must run with the user's ordinary rights and must not
// inherit any of the installer's handles.
#include <windows.h>

#include <string>

#include "util/owned.h"

// How this process's token stands with respect to elevation.
enum class ProcessRights {
    kOrdinary,   // not elevated, or a system without elevation (XP)
    kElevated,   // an administrator's elevated token that has a limited twin
    kFullAdmin,  // an administrator without a limited twin (elevation off)
    kSystem,     // the local system account
};

ProcessRights GetProcessRights();
// True when the process's token reports elevation (TokenElevation).
bool IsProcessElevated();

// Starts `program` (a full path) with `arguments` in `folder` (empty: this
// process's current folder) with the show-window flag set to `show`, as the
// interactive user without elevation, with no inherited handles. Routes, in
// order: an ordinary or fully privileged admin process starts it itself; an
// elevated one asks the desktop shell to start it (so it runs as the shell
// does), else starts it with its own limited twin token; the system account
// starts it with the console user's token. Nothing is started when no route
// gives an unelevated process. True when the program was started.
bool StartAsInteractiveUser(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder,
                            int show);

// Starts `program` (a full path, quoted on its command line) with
// `arguments` in `folder` (empty: this process's current folder) with this
// process's own rights and no inherited handles; `show` sets the
// show-window flag (negative: the program's own choice). The process's
// handle, empty when it could not be started.
UniqueHandle StartProcess(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder,
                          int show = -1);

// Opens `target` (an address or a document) with the program the system
// associates with it, as the interactive user without elevation: an ordinary
// process asks the shell itself; an elevated one or the system account has
// the shell's "open" run by an unelevated process of the user's. True when
// that was started.
bool OpenAsInteractiveUser(const std::wstring& target);

#pragma once
// One process of an uninstallation, as its command line says: the original
// in the installation folder (checks, elevation, the questions, the hand-over
// to a copy) or the copy in the temporary folder (the removal itself and the
// final message). See handover.h for how they meet.
#include "uninstall/command_line.h"

// Runs this process's part; returns its exit code (UninstallExitCode).
int RunUninstaller(const UninstallOptions& options);

// An exit code of another process of the uninstallation as this one passes
// it on: one of ours stays, anything else (a crash) means something stayed.
int PassedOnExitCode(DWORD code);

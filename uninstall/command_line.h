#pragma once
// The uninstaller's command line: what the person or a silent caller asks
// for, and the internal arguments by which the processes of one
// uninstallation hand over to each other (the original in the installation
// folder, its elevated restart, its copy in the temporary folder).
#include <windows.h>

#include <string>
#include <vector>

struct UninstallOptions {
    // Given by the caller; letters in any case, anything else is ignored.
    bool silent = false;          // /S: asks nothing and shows nothing
    bool removeSettings = false;  // /REMOVESETTINGS: the settings go too (when asking: the preset answer)

    // Internal.
    DWORD elevatedBy = 0;   // restarted elevated by this process, which waits for our exit code
    DWORD reportTo = 0;     // (copy) the original that waits for us and takes the result as its exit code
    DWORD alsoWaitFor = 0;  // (copy) one more process running the original's file, ending after reportTo
    std::wstring original;  // (copy) the original uninstaller in the installation folder

    // The caller's own arguments, internal ones left out, for an elevated restart.
    std::vector<std::wstring> given;

    bool IsCopy() const { return !original.empty(); }
};

// Reads the arguments that follow the program name.
UninstallOptions ParseUninstallArguments(const std::vector<std::wstring>& arguments);
// The arguments of a command line, without the program name.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);
// One argument quoted so that the system's command-line rules give it back
// unchanged (spaces, quotes, backslashes before a quote and at the end).
std::wstring QuoteArgument(const std::wstring& argument);
// Quoted arguments separated by spaces.
std::wstring JoinArguments(const std::vector<std::wstring>& arguments);

// Arguments of the elevated restart: the caller's own ones and the marker
// that names the waiting process (so that the restart never restarts again,
// also where elevation cannot be told, as on XP).
std::vector<std::wstring> ElevatedRestartArguments(const UninstallOptions& options, DWORD self);
// Arguments of the copy: the answers already given, the original's path and
// the processes that wait (0: none).
std::vector<std::wstring> CopyArguments(bool silent, bool removeSettings, const std::wstring& original, DWORD reportTo,
                                        DWORD alsoWaitFor);

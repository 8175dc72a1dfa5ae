#pragma once
// The desktop shortcut an installation makes: saved as it is before it is
// changed and put back as it was, so that a failed installation leaves it
// matching the previous one.
#include <windows.h>

#include <string>

#include <vector>

#include "util/held_folder.h"

// The desktop is a folder that the user's registry names: it is held open
// from the drive's root down (no link on the way) from Save on, and the
// shortcut file is read, written and deleted only through that hold.
class CDesktopShortcut {
public:
    CDesktopShortcut();
    // Holds the desktop and remembers the current shortcut file (or its
    // absence). False when the desktop cannot be held or a link, a folder or
    // a second name of a file stands in the shortcut's place: it is then
    // left alone.
    bool Save();
    // Makes the shortcut to the viewer (working folder: the installation).
    bool Create(const std::wstring& viewer, const std::wstring& folder);
    // Puts back the file saved (or its absence); true when it is as it was.
    bool Restore();
    const std::wstring& Path() const { return m_path; }
    // What Restore needs, as text lines for the install journal, and
    // Restore from those lines in another process (the desktop held anew).
    std::vector<std::string> UndoLines() const;
    static bool RestoreFrom(const std::vector<std::string>& lines);

private:
    explicit CDesktopShortcut(const std::wstring& desktop);

    std::wstring m_folder;
    std::wstring m_path;
    CHeldFolder m_desktop;
    bool m_saved = false;
    bool m_existed = false;
    std::string m_bytes;
};

#pragma once
// What the uninstaller says to the person at the screen: its two questions
// and the message at the end, in Simplified Chinese, as message boxes
// without an owner window.
#include <windows.h>

#include <string>

#include "uninstall/removal.h"

extern const wchar_t kUninstallCaption[];
extern const wchar_t kAskRemoveText[];
extern const wchar_t kAskSettingsText[];

struct Message {
    std::wstring text;
    UINT icon = MB_ICONINFORMATION;
};

// The message at the end of a removal of the installation in `folder`.
Message FinalMessage(const RemovalReport& report, const std::wstring& folder);
// The message for a folder that holds no installation.
Message NotInstalledMessage(const std::wstring& folder);

// A yes/no question; true for yes. `yesByDefault` picks the default button.
bool Ask(const wchar_t* text, bool yesByDefault);
void Show(const Message& message);

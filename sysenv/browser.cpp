#include "sysenv/browser.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "sysenv/system_helpers.h"
#include "util/text.h"

namespace {

const wchar_t kHttpCommandKey[] = L"HTTP\\shell\\open\\command";
const wchar_t kUserChoiceKey[] =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";
const wchar_t kOpenCommandSuffix[] = L"\\shell\\open\\command";
const wchar_t kInternetExplorerKey[] = L"Applications\\iexplore.exe\\shell\\open\\command";
const std::wstring kIeName = L"iexplore.exe";
const std::wstring kIeNameUpper = L"IEXPLORE.EXE";

// Reads a key's default value; true when it was read.
bool ReadDefaultValue(HKEY root, const std::wstring& subKey, std::wstring& text) {
    DWORD type = 0;
    return QueryRegString(root, 0, text, subKey, std::wstring(), type);
}

size_t FindLastIgnoringCase(const std::wstring& text, const std::wstring& lowerName) {
    std::wstring lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return lower.rfind(lowerName);
}

}  // namespace

std::wstring CleanBrowserCommand(std::wstring command) {
    Trim(command, L'"');
    size_t quote = command.find(L'"');
    if (quote != std::wstring::npos) command.resize(quote);
    return command;
}

std::wstring InternetExplorerFromCommand(std::wstring command) {
    if (command.empty()) return command;
    if (command[0] == L'"') command.erase(0, 1);
    size_t pos = command.rfind(kIeName);
    if (pos == std::wstring::npos) pos = command.rfind(kIeNameUpper);
    // A name in mixed case still names the program; without one, nothing
    // here is a browser path.
    if (pos == std::wstring::npos) pos = FindLastIgnoringCase(command, kIeName);
    if (pos == std::wstring::npos) return std::wstring();
    command.resize(pos + kIeName.size());
    return command;
}

std::wstring InternetExplorerPath() {
    return InternetExplorerFromCommand(GetRegString(kInternetExplorerKey, std::wstring(), HKEY_CLASSES_ROOT));
}

std::wstring BrowserFromHttpCommand() {
    std::wstring command;
    if (ReadDefaultValue(HKEY_CLASSES_ROOT, kHttpCommandKey, command)) return CleanBrowserCommand(command);
    return InternetExplorerPath();
}

std::wstring BrowserFromUserChoice() {
    std::wstring progId;
    DWORD type = 0;
    if (!QueryRegString(HKEY_CURRENT_USER, 0, progId, kUserChoiceKey, L"Progid", type)) return InternetExplorerPath();
    std::wstring command;
    // A stored terminator (REG_EXPAND_SZ) is not part of the program id.
    if (ReadDefaultValue(HKEY_CLASSES_ROOT, std::wstring(progId.c_str()) + kOpenCommandSuffix, command))
        return CleanBrowserCommand(command);
    return InternetExplorerPath();
}

std::wstring DefaultBrowserPath() {
    return GetOsVersionClass() == OS_XP ? BrowserFromHttpCommand() : BrowserFromUserChoice();
}

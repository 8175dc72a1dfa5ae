#include "uninstall/command_line.h"

#include <shellapi.h>

#include <cwchar>

#include "util/owned.h"

namespace {

const wchar_t kSilent[] = L"/S";
const wchar_t kRemoveSettings[] = L"/REMOVESETTINGS";
// Internal arguments carry their value after '='.
const wchar_t kElevatedBy[] = L"/_QVELEVATED=";
const wchar_t kReportTo[] = L"/_QVCOPY=";
const wchar_t kAlsoWaitFor[] = L"/_QVWAIT=";
const wchar_t kOriginal[] = L"/_QVORIGINAL=";

bool SameText(const std::wstring& a, const wchar_t* b) { return ::lstrcmpiW(a.c_str(), b) == 0; }

// True when `argument` starts with `prefix` (any case); `value` is the rest.
bool HasPrefix(const std::wstring& argument, const wchar_t* prefix, std::wstring& value) {
    const size_t length = std::wcslen(prefix);
    if (argument.size() < length) return false;
    if (::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, argument.c_str(), static_cast<int>(length), prefix,
                         static_cast<int>(length)) != CSTR_EQUAL)
        return false;
    value = argument.substr(length);
    return true;
}

// A process id in decimal; 0 for anything else.
DWORD ParseProcessId(const std::wstring& text) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of(L"0123456789") != std::wstring::npos) return 0;
    const unsigned long long value = std::wcstoull(text.c_str(), nullptr, 10);
    return value <= 0xFFFFFFFFull ? static_cast<DWORD>(value) : 0;
}

std::wstring WithProcessId(const wchar_t* prefix, DWORD pid) { return prefix + std::to_wstring(pid); }

}  // namespace

UninstallOptions ParseUninstallArguments(const std::vector<std::wstring>& arguments) {
    UninstallOptions options;
    for (const std::wstring& argument : arguments) {
        std::wstring value;
        if (HasPrefix(argument, kElevatedBy, value)) {
            options.elevatedBy = ParseProcessId(value);
        } else if (HasPrefix(argument, kReportTo, value)) {
            options.reportTo = ParseProcessId(value);
        } else if (HasPrefix(argument, kAlsoWaitFor, value)) {
            options.alsoWaitFor = ParseProcessId(value);
        } else if (HasPrefix(argument, kOriginal, value)) {
            options.original = value;
        } else {
            if (SameText(argument, kSilent)) options.silent = true;
            if (SameText(argument, kRemoveSettings)) options.removeSettings = true;
            options.given.push_back(argument);
        }
    }
    return options;
}

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
    std::vector<std::wstring> arguments;
    // An empty command line would give the program's own path as the only argument.
    if (!commandLine || !*commandLine) return arguments;
    int count = 0;
    wchar_t** list = ::CommandLineToArgvW(commandLine, &count);
    if (!list) return arguments;
    UniqueLocalMem owned(reinterpret_cast<HLOCAL>(list));
    for (int i = 1; i < count; ++i) arguments.push_back(list[i]);
    return arguments;
}

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    // Backslashes are literal unless a quote follows them: then each one is
    // doubled, and one more escapes a quote that belongs to the text.
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t ch : argument) {
        if (ch == L'\\') {
            ++backslashes;
            continue;
        }
        if (ch == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += ch;
    }
    quoted.append(backslashes * 2, L'\\');  // before the closing quote
    quoted += L'"';
    return quoted;
}

std::wstring JoinArguments(const std::vector<std::wstring>& arguments) {
    std::wstring line;
    for (const std::wstring& argument : arguments) {
        if (!line.empty()) line += L' ';
        line += QuoteArgument(argument);
    }
    return line;
}

std::vector<std::wstring> ElevatedRestartArguments(const UninstallOptions& options, DWORD self) {
    std::vector<std::wstring> arguments = options.given;
    arguments.push_back(WithProcessId(kElevatedBy, self));
    return arguments;
}

std::vector<std::wstring> CopyArguments(bool silent, bool removeSettings, const std::wstring& original, DWORD reportTo,
                                        DWORD alsoWaitFor) {
    std::vector<std::wstring> arguments;
    if (silent) arguments.push_back(kSilent);
    if (removeSettings) arguments.push_back(kRemoveSettings);
    arguments.push_back(kOriginal + original);
    if (reportTo) arguments.push_back(WithProcessId(kReportTo, reportTo));
    if (alsoWaitFor) arguments.push_back(WithProcessId(kAlsoWaitFor, alsoWaitFor));
    return arguments;
}

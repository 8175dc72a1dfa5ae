#include "install/channel_detector.h"

#include <windows.h>
#include <psapi.h>

#include <vector>

#include "util/owned.h"
#include "util/path.h"
#include "util/text.h"

namespace {

const wchar_t kMarker[] = L"qvewtg";

void LowerAsciiLetters(std::wstring& text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
}

// Every process id the system reports; the array grows until it holds them all.
std::vector<DWORD> AllProcessIds() {
    std::vector<DWORD> ids(1024);
    for (;;) {
        DWORD bytes = 0;
        const DWORD room = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        if (!::EnumProcesses(ids.data(), room, &bytes)) return std::vector<DWORD>();
        if (bytes < room) {
            ids.resize(bytes / sizeof(DWORD));
            return ids;
        }
        ids.resize(ids.size() * 2);
    }
}

// Path of a process's main module, asking for the least access that yields
// it: limited query access where the system has it, else query and read.
std::wstring ProcessImagePath(DWORD id) {
    using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
    static const auto queryFullName = reinterpret_cast<QueryFullProcessImageNameFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    wchar_t path[MAX_PATH + 1] = {};
    if (queryFullName) {
        UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        DWORD length = MAX_PATH;
        if (process && queryFullName(process.get(), 0, path, &length) && length > 0) return std::wstring(path, length);
    }
    UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
    if (!process) return std::wstring();
    DWORD length = ::GetModuleFileNameExW(process.get(), nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

}  // namespace

CChannelDetector::CChannelDetector(const std::wstring& launchText) {
    if (!launchText.empty()) {
        std::wstring text = launchText;
        LowerAsciiLetters(text);
        std::vector<std::wstring> pieces;
        Split(text, L" ", pieces, false);
        for (const std::wstring& piece : pieces) {
            size_t at = piece.find(L"/qd=");
            if (at != std::wstring::npos) m_channel = piece.substr(at + 4);
        }
        return;
    }
    m_channel = ChannelFromName(FindMarkedProcessName());
}

std::wstring CChannelDetector::ChannelFromName(const std::wstring& name) {
    std::wstring digits;
    for (wchar_t c : name)
        if (c >= L'0' && c <= L'9') digits.push_back(c);
    if (digits.size() == 5 && digits[0] == L'3' && digits[1] == L'0') return digits;
    return std::wstring();
}

std::wstring CChannelDetector::FindMarkedProcessName() {
    for (DWORD id : AllProcessIds()) {
        const std::wstring path = ProcessImagePath(id);
        if (path.empty()) continue;
        std::wstring folder, name;
        if (!SplitDirAndName(path, folder, name)) continue;
        LowerAsciiLetters(name);
        if (name.find(kMarker) != std::wstring::npos) return name;
    }
    return std::wstring();
}

#include "util/restart_deletion.h"

#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <mutex>

#include "util/owned.h"
#include "util/path.h"

namespace {

const wchar_t kFolderPrefix[] = L"\\Quiview-restart-";

std::mutex g_lock;
std::wstring g_folder;  // made on first use
unsigned g_count = 0;

std::wstring RandomHex() {
    unsigned char bytes[8] = {};
    if (!RtlGenRandom(bytes, sizeof bytes)) return std::wstring();
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text;
    for (unsigned char b : bytes) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}

// The process's folder for files left for restart; empty when none can be made.
std::wstring HoldingFolder() {
    if (!g_folder.empty()) return g_folder;
    wchar_t windows[MAX_PATH] = {};
    const UINT got = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (got == 0 || got >= MAX_PATH) return std::wstring();
    const std::wstring temp = std::wstring(windows) + L"\\Temp";
    if (!IsDirectoryPath(temp) || PathHasLink(temp)) return std::wstring();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return std::wstring();
    UniqueLocalMem owned(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::wstring random = RandomHex();
        if (random.empty()) return std::wstring();
        const std::wstring candidate = temp + kFolderPrefix + random;
        // Fails for any existing entry of that name, a link included.
        if (::CreateDirectoryW(candidate.c_str(), &attributes)) {
            g_folder = candidate;
            return g_folder;
        }
    }
    return std::wstring();
}

}  // namespace

bool DeleteAtRestart(const std::wstring& file) {
    try {
        std::lock_guard<std::mutex> guard(g_lock);
        const std::wstring folder = HoldingFolder();
        if (folder.empty()) return false;
        const size_t slash = file.find_last_of(L"\\/");
        wchar_t number[16];
        ::wsprintfW(number, L"%u-", ++g_count);
        // A number keeps files of the same name apart.
        const std::wstring target =
            folder + L"\\" + number + (slash == std::wstring::npos ? file : file.substr(slash + 1));
        if (!::MoveFileExW(file.c_str(), target.c_str(), 0)) return false;
        if (!::MoveFileExW(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            ::MoveFileExW(target.c_str(), file.c_str(), 0);  // back where it was
            return false;
        }
        // The folder after every file: it can only go once they are gone.
        ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return true;
    } catch (...) {
        return false;
    }
}

#include "contract/private_folder.h"

#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>

#include "sysenv/user_process.h"
#include "util/path.h"

namespace {

std::wstring RandomHex(size_t digits) {
    std::vector<unsigned char> bytes((digits + 1) / 2);
    if (!RtlGenRandom(bytes.data(), static_cast<ULONG>(bytes.size()))) return std::wstring();
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text;
    for (unsigned char b : bytes) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    text.resize(digits);
    return text;
}

// The SID of this process's user as text; empty when it cannot be read.
std::wstring OwnUserSid() {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.out())) return std::wstring();
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return std::wstring();
    std::vector<BYTE> info(size);
    if (!::GetTokenInformation(token.get(), TokenUser, info.data(), size, &size)) return std::wstring();
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid, &text)) return std::wstring();
    UniqueLocalMem owned(text);
    return text;
}

}  // namespace

CPrivateFolder::~CPrivateFolder() { Remove(); }

std::wstring CPrivateFolder::AccessListFor(bool elevated, const std::wstring& userSid) {
    // Protected (nothing inherited from the parent), full control, handed
    // down to every file and folder inside.
    if (elevated || userSid.empty()) return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    return L"D:P(A;OICI;FA;;;" + userSid + L")";
}

std::wstring CPrivateFolder::AccessListOfThisProcess() {
    const bool elevated = GetProcessRights() == ProcessRights::kSystem || IsProcessElevated();
    return AccessListFor(elevated, elevated ? std::wstring() : OwnUserSid());
}

bool CPrivateFolder::Create(const std::wstring& parent, const std::wstring& prefix) {
    Remove();
    if (parent.empty() || !IsDirectoryPath(parent) || PathHasLink(parent)) return false;
    const std::wstring acl = AccessListOfThisProcess();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(acl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    UniqueLocalMem ownedDescriptor(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};

    std::wstring base = parent;
    base = WithoutTrailingSeparators(base);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::wstring random = RandomHex(16);
        if (random.empty()) return false;
        const std::wstring candidate = base + L"\\" + prefix + random;
        // Creation fails for any existing entry of that name, a link included.
        if (!::CreateDirectoryW(candidate.c_str(), &attributes)) {
            if (::GetLastError() == ERROR_ALREADY_EXISTS) continue;
            return false;
        }
        path_ = candidate;
        if (Hold() && !PathHasLink(path_)) return true;
        Remove();
        return false;
    }
    return false;
}

// Holds every folder from below the root down to the private folder open
// without delete sharing: none of them can be renamed or replaced by a link
// (not even by someone allowed to delete in the folder above) while held.
bool CPrivateFolder::Hold() {
    PathList prefixes;
    ListPathPrefixes(FullPath(path_), prefixes);
    for (const std::wstring& prefix : prefixes) {
        if (prefix.size() <= 3) continue;  // the drive itself
        UniqueFile hold(::CreateFileW(prefix.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!hold) return false;
        holds_.push_back(std::move(hold));
    }
    return true;
}

bool CPrivateFolder::Remove() {
    holds_.clear();
    if (path_.empty()) return true;
    // A file still in use (a library still loaded) goes at the next restart
    // from a folder of its own; the folder itself, in a temporary folder
    // that a program of the user could rename, is never left for restart.
    const bool removed = DeletePath(path_, true);
    path_.clear();
    return removed;
}

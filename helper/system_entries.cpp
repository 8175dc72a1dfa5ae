#include "helper/system_entries.h"

#include "sysenv/user_folders.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "util/com_ptr.h"
#include "util/com_scope.h"
#include "util/owned.h"
#include "util/registry_view.h"
#include "util/path.h"
#include "qv_product.h"

namespace {

const wchar_t kProductName[] = QV_PRODUCT_NAME;
const wchar_t kVersion[] = QV_VERSION;
const wchar_t kUninstallKey[] = QV_UNINSTALL_KEY;

bool SetText(HKEY key, const wchar_t* name, const std::wstring& value) {
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SetNumber(HKEY key, const wchar_t* name, DWORD value) {
    return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

const wchar_t kShortcutFile[] = QV_SHORTCUT_FILE;
// A shortcut file is a few KiB; one larger is read no further.
const size_t kShortcutLimit = 1 << 20;

// The content of a shortcut file to the viewer, made in memory: it is
// written through the held desktop, never by the shell to a path.
std::string ShortcutBytes(const std::wstring& viewer, const std::wstring& folder) {
    CComScope com(CComScope::kApartment);
    CComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.outVoid())))
        return std::string();
    link->SetPath(viewer.c_str());
    link->SetWorkingDirectory(folder.c_str());
    link->SetIconLocation(viewer.c_str(), 0);
    link->SetDescription(kProductName);
    CComPtr<IPersistStream> persist;
    CComPtr<IStream> stream;
    if (FAILED(link->QueryInterface(IID_IPersistStream, persist.outVoid())) ||
        FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.out())) || FAILED(persist->Save(stream.get(), TRUE)))
        return std::string();
    STATSTG stat = {};
    HGLOBAL memory = nullptr;
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || FAILED(::GetHGlobalFromStream(stream.get(), &memory)) ||
        stat.cbSize.QuadPart == 0 || stat.cbSize.QuadPart > kShortcutLimit)
        return std::string();
    const void* data = ::GlobalLock(memory);
    if (!data) return std::string();
    std::string bytes(static_cast<const char*>(data), static_cast<size_t>(stat.cbSize.QuadPart));
    ::GlobalUnlock(memory);
    return bytes;
}

}  // namespace

std::wstring TodayAsInstallDate() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    wchar_t text[16];
    ::wsprintfW(text, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

bool CUninstallEntry::Save() {
    m_values.clear();
    m_saved = true;
    UniqueRegKey key;
    m_existed =
        ::RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ | kRegistry32View, key.out()) == ERROR_SUCCESS;
    if (!m_existed) return true;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        LONG status = ::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, nullptr, &size);
        if (status == ERROR_NO_MORE_ITEMS) return true;
        if (status != ERROR_SUCCESS) return false;
        Value value{std::wstring(name, nameLength), type, std::vector<BYTE>(size)};
        nameLength = 16384;
        if (::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, value.data.data(), &size) !=
            ERROR_SUCCESS)
            return false;
        value.data.resize(size);
        m_values.push_back(std::move(value));
    }
}

bool CUninstallEntry::Write(const UninstallEntryValues& values) {
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, 0,
                          KEY_SET_VALUE | KEY_QUERY_VALUE | kRegistry32View, nullptr, key.out(),
                          nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = SetText(key.get(), L"DisplayName", kProductName);
    ok = SetText(key.get(), L"DisplayVersion", kVersion) && ok;
    ok = SetText(key.get(), L"Publisher", kProductName) && ok;
    ok = SetText(key.get(), L"DisplayIcon", values.viewer) && ok;
    ok = SetText(key.get(), L"InstallLocation", values.folder) && ok;
    ok = SetNumber(key.get(), L"NoModify", 1) && ok;
    ok = SetNumber(key.get(), L"NoRepair", 1) && ok;
    ok = SetNumber(key.get(), L"EstimatedSize", values.estimatedSizeKb) && ok;
    ok = SetText(key.get(), L"InstallDate", values.installDate) && ok;
    if (!values.uninstaller.empty()) {
        const std::wstring quoted = L"\"" + values.uninstaller + L"\"";
        ok = SetText(key.get(), L"UninstallString", quoted) && ok;
        ok = SetText(key.get(), L"QuietUninstallString", quoted + L" /S") && ok;
    } else {
        ::RegDeleteValueW(key.get(), L"UninstallString");
        ::RegDeleteValueW(key.get(), L"QuietUninstallString");
    }
    return ok;
}

void CUninstallEntry::Restore() {
    if (!m_saved) return;
    DeleteRegKey32(HKEY_CURRENT_USER, kUninstallKey);
    if (!m_existed) return;
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE | kRegistry32View, nullptr,
                          key.out(), nullptr) != ERROR_SUCCESS)
        return;
    for (const Value& value : m_values)
        ::RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                         static_cast<DWORD>(value.data.size()));
}

CDesktopShortcut::CDesktopShortcut() {
    // The user's registry names the desktop: a folder of the system gets no
    // shortcut (and is not made when missing).
    wchar_t desktop[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop)) ||
        !desktop[0] || IsSystemPlace(desktop))
        return;
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                     desktop))) {
        m_folder = desktop;
        m_path = m_folder + L"\\" + kShortcutFile;
    }
}

bool CDesktopShortcut::Save() {
    if (m_folder.empty() || !m_desktop.Open(m_folder)) return false;
    std::string bytes;
    switch (ReadChildFile(m_desktop, kShortcutFile, kShortcutLimit, bytes)) {
    case EntryKind::kMissing: m_existed = false; break;
    case EntryKind::kPlainFile: m_existed = true; break;
    default: m_desktop.Close(); return false;
    }
    m_bytes = std::move(bytes);
    m_saved = true;
    return true;
}

bool CDesktopShortcut::Create(const std::wstring& viewer, const std::wstring& folder) {
    if (!m_saved) return false;
    const std::string bytes = ShortcutBytes(viewer, folder);
    return !bytes.empty() && DeleteChildFile(m_desktop, kShortcutFile) &&
           WriteChildFile(m_desktop, kShortcutFile, bytes);
}

void CDesktopShortcut::Restore() {
    if (!m_saved) return;
    if (DeleteChildFile(m_desktop, kShortcutFile) && m_existed) WriteChildFile(m_desktop, kShortcutFile, m_bytes);
}

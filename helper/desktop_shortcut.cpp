#include "helper/desktop_shortcut.h"

#include "sysenv/user_folders.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "util/com_ptr.h"
#include "util/com_scope.h"
#include "util/owned.h"
#include "util/registry_view.h"
#include "util/failed_call.h"
#include "util/path.h"
#include "util/text.h"
#include "qv_product.h"

namespace {

const wchar_t kProductName[] = QV_PRODUCT_NAME;
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
    if (m_folder.empty()) return NoteRefusal("the desktop is no folder a shortcut may go to", m_folder);
    if (!m_desktop.Open(m_folder)) return false;
    std::string bytes;
    switch (ReadChildFile(m_desktop, kShortcutFile, kShortcutLimit, bytes)) {
    case EntryKind::kMissing: m_existed = false; break;
    case EntryKind::kPlainFile: m_existed = true; break;
    default: m_desktop.Close(); return NoteRefusal("the shortcut's place holds something else", m_path);
    }
    m_bytes = std::move(bytes);
    m_saved = true;
    return true;
}

bool CDesktopShortcut::Create(const std::wstring& viewer, const std::wstring& folder) {
    if (!m_saved) return false;
    const std::string bytes = ShortcutBytes(viewer, folder);
    if (bytes.empty()) return NoteFailedCall("IPersistStream::Save", m_path, ERROR_GEN_FAILURE);
    return DeleteChildFile(m_desktop, kShortcutFile) && WriteChildFile(m_desktop, kShortcutFile, bytes);
}

bool CDesktopShortcut::Restore() {
    if (!m_saved) return true;
    return DeleteChildFile(m_desktop, kShortcutFile) &&
           (!m_existed || WriteChildFile(m_desktop, kShortcutFile, m_bytes));
}

// The desktop's path, then "absent", or "present" and the file's bytes in
// hexadecimal.
std::vector<std::string> CDesktopShortcut::UndoLines() const {
    std::vector<std::string> lines{WideToUtf8(m_folder), m_existed ? "present" : "absent"};
    if (m_existed) lines.push_back(ToHex(m_bytes));
    return lines;
}

bool CDesktopShortcut::RestoreFrom(const std::vector<std::string>& lines) {
    if (lines.size() < 2 || (lines[1] == "present") != (lines.size() == 3)) return false;
    CDesktopShortcut shortcut(Utf8ToWide(lines[0]));
    if (lines.size() == 3) {
        if (lines[2].size() / 2 > kShortcutLimit || !FromHex(lines[2], shortcut.m_bytes)) return false;
        shortcut.m_existed = true;
    }
    if (shortcut.m_folder.empty() || !shortcut.m_desktop.Open(shortcut.m_folder)) return false;
    shortcut.m_saved = true;
    return shortcut.Restore();
}

CDesktopShortcut::CDesktopShortcut(const std::wstring& desktop) {
    // Only a desktop that could have been the user's: never a folder of the system.
    if (desktop.empty() || IsSystemPlace(desktop)) return;
    m_folder = desktop;
    m_path = m_folder + L"\\" + kShortcutFile;
}

#include "uninstall/messages.h"
#include "qv_product.h"

const wchar_t kUninstallCaption[] = QV_PRODUCT_NAME L" 卸载";
const wchar_t kAskRemoveText[] = L"确定要从您的计算机中移除 " QV_PRODUCT_NAME L" 吗？";
const wchar_t kAskSettingsText[] =
    L"是否同时删除 " QV_PRODUCT_NAME L" 的设置？\n\n选择“否”将保留设置，重新安装后仍可使用。";

namespace {

const wchar_t kRemovedText[] = QV_PRODUCT_NAME L" 已从您的计算机中移除。";
const wchar_t kAtRestartText[] = L"部分文件正在使用中，将在重新启动计算机后删除。";
const wchar_t kFolderKeptText[] = L"安装文件夹中您自己的文件已保留：";
const wchar_t kIncompleteText[] = QV_PRODUCT_NAME L" 未能完全移除，以下文件无法删除：";
const wchar_t kIncompleteHint[] = L"请关闭正在使用这些文件的程序后，再次运行卸载程序。";
const wchar_t kMoreFilesText[] = L"…… 等共 %u 个文件";
const wchar_t kThroughLinkText[] = QV_PRODUCT_NAME L" 的安装文件夹经由链接指向其他位置，为安全起见未删除任何文件：";
const wchar_t kNotInstalledText[] = L"此文件夹中没有 Quiview 的安装记录，未删除任何文件：";

// How many paths a message lists before it only counts the rest.
const size_t kListedPaths = 5;

}  // namespace

Message FinalMessage(const RemovalReport& report, const std::wstring& folder) {
    if (!report.installation) return NotInstalledMessage(folder);
    Message message;
    if (report.throughLink) {
        message.text = std::wstring(kThroughLinkText) + L"\n" + folder;
        message.icon = MB_ICONWARNING;
        return message;
    }
    if (!report.failed.empty()) {
        message.icon = MB_ICONWARNING;
        message.text = kIncompleteText;
        for (size_t i = 0; i < report.failed.size() && i < kListedPaths; ++i) message.text += L"\n" + report.failed[i];
        if (report.failed.size() > kListedPaths) {
            wchar_t more[64];
            ::wsprintfW(more, kMoreFilesText, static_cast<unsigned>(report.failed.size()));
            message.text += L"\n";
            message.text += more;
        }
        message.text += L"\n\n";
        message.text += kIncompleteHint;
        return message;
    }
    message.text = kRemovedText;
    if (!report.atRestart.empty()) message.text += std::wstring(L"\n") + kAtRestartText;
    if (report.folderRemains) message.text += std::wstring(L"\n") + kFolderKeptText + L"\n" + folder;
    return message;
}

Message NotInstalledMessage(const std::wstring& folder) {
    return Message{std::wstring(kNotInstalledText) + L"\n" + folder, MB_ICONERROR};
}

bool Ask(const wchar_t* text, bool yesByDefault) {
    const UINT style = MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND | (yesByDefault ? MB_DEFBUTTON1 : MB_DEFBUTTON2);
    return ::MessageBoxW(nullptr, text, kUninstallCaption, style) == IDYES;
}

void Show(const Message& message) {
    ::MessageBoxW(nullptr, message.text.c_str(), kUninstallCaption, MB_OK | MB_SETFOREGROUND | message.icon);
}

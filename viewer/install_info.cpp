#include "viewer/install_info.h"

#include "settings/settings_store.h"
#include "sysenv/user_folders.h"
#include "util/path.h"
#include "util/text.h"
#include "qv_product.h"

InstallInfo ReadInstallInfo() {
    InstallInfo info;
    // Only read: the viewer never creates or changes the installer's file.
    CSettingsStore store(CSettingsStore::Access::kReadOnly);
    std::string value;
    if (store.GetValue("version", value)) info.version = Utf8ToWide(value);
    if (store.GetValue("channel", value)) info.channel = Utf8ToWide(value);
    return info;
}

std::wstring ViewerTitle(const InstallInfo& info) {
    std::wstring title = QV_PRODUCT_NAME L" \u770b\u56fe";  // "<product> image viewer"
    if (!info.version.empty()) title += L" " + info.version;
    if (!info.channel.empty()) title += L" \u00b7 \u6e20\u9053 " + info.channel;  // channel
    return title;
}

FitRect FitPicture(unsigned pictureWidth, unsigned pictureHeight, int areaWidth, int areaHeight) {
    if (pictureWidth == 0 || pictureHeight == 0 || areaWidth <= 0 || areaHeight <= 0) return {0, 0, 0, 0};
    long long width = pictureWidth, height = pictureHeight;
    if (width > areaWidth || height > areaHeight) {
        // Scale by the tighter of the two ratios, compared without rounding.
        if (width * areaHeight >= height * areaWidth) {
            height = height * areaWidth / width;
            width = areaWidth;
        } else {
            width = width * areaHeight / height;
            height = areaHeight;
        }
        if (width < 1) width = 1;
        if (height < 1) height = 1;
    }
    return {static_cast<int>((areaWidth - width) / 2), static_cast<int>((areaHeight - height) / 2),
            static_cast<int>(width), static_cast<int>(height)};
}

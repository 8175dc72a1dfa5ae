#include <gtest/gtest.h>

#include <windows.h>

#include "settings/settings_store.h"
#include "sysenv/user_folders.h"
#include "test_support.h"
#include "viewer/install_info.h"

namespace {

void ExpectFit(unsigned pw, unsigned ph, int aw, int ah, FitRect expected) {
    FitRect r = FitPicture(pw, ph, aw, ah);
    EXPECT_EQ(r.x, expected.x);
    EXPECT_EQ(r.y, expected.y);
    EXPECT_EQ(r.width, expected.width);
    EXPECT_EQ(r.height, expected.height);
}

// Keeps the data folder's settings file as it was before the test.
class SavedSettingsFile {
public:
    SavedSettingsFile() : path_(DataFolder() + L"\\config.dat"), had_(qvtest::Exists(path_)) {
        if (had_) bytes_ = qvtest::ReadBytes(path_);
        ::DeleteFileW(path_.c_str());
    }
    ~SavedSettingsFile() {
        ::DeleteFileW(path_.c_str());
        if (had_) qvtest::WriteBytes(path_, bytes_);
    }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
    bool had_;
    std::string bytes_;
};

}  // namespace

TEST(ViewerLayout, PicturesFitTheirWindowKeepingProportions) {
    ExpectFit(1600, 900, 800, 600, {0, 75, 800, 450});    // wide: limited by width
    ExpectFit(900, 1600, 800, 600, {231, 0, 337, 600});   // tall: limited by height
    ExpectFit(200, 100, 800, 600, {300, 250, 200, 100});  // small: own size, centred
    ExpectFit(800, 600, 800, 600, {0, 0, 800, 600});
    ExpectFit(10000, 1, 100, 100, {0, 49, 100, 1});  // never thinner than a pixel
    ExpectFit(0, 10, 100, 100, {0, 0, 0, 0});
    ExpectFit(10, 10, 0, 100, {0, 0, 0, 0});
}

TEST(ViewerInstallInfo, TitleShowsWhatTheInstallerRecorded) {
    SavedSettingsFile saved;
    // No settings file: plain title, and reading does not create the file.
    InstallInfo none = ReadInstallInfo();
    EXPECT_EQ(ViewerTitle(none), L"Quiview \u770b\u56fe");
    EXPECT_FALSE(qvtest::Exists(saved.path()));

    SetChannel("30777");
    SetVersion("1.0.1");
    InstallInfo info = ReadInstallInfo();
    EXPECT_EQ(info.channel, L"30777");
    EXPECT_EQ(info.version, L"1.0.1");
    EXPECT_EQ(ViewerTitle(info), L"Quiview \u770b\u56fe 1.0.1 \u00b7 \u6e20\u9053 30777");
}

// Which folders an installation may go to: never a drive, a system or user
// folder, the installer's own folder or one holding it, the private
// extraction folders; never a relative or impossible name.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include "contract/install_folder.h"
#include "sysenv/user_folders.h"
#include "util/path.h"

namespace {

ReservedFolders Example() {
    ReservedFolders reserved;
    reserved.exact = {L"C:\\Program Files", L"C:\\Users\\bob", L"C:\\Users\\bob\\Desktop",
                      L"C:\\Users\\bob\\Downloads"};
    reserved.withInside = {L"C:\\Windows"};
    reserved.holding = {L"C:\\Users\\bob\\Downloads\\Quiview"};
    reserved.temp = L"C:\\Users\\bob\\AppData\\Local\\Temp";
    return reserved;
}

}  // namespace

TEST(InstallFolderTest, ReservedAndInvalidFoldersAreRefused) {
    const ReservedFolders reserved = Example();
    for (const wchar_t* folder :
         {L"C:\\Program Files\\Quiview", L"C:\\Users\\bob\\AppData\\Local\\Quiview", L"D:\\Apps\\Quiview\\",
          L"D:/Apps/Quiview", L"\\\\server\\share\\Quiview", L"C:\\Quiview", L"C:\\Users\\bob\\Desktop\\Quiview",
          L"C:\\Users\\bob\\AppData\\Local\\Temp\\Tools", L"C:\\Quiview\\Apps", L"C:\\中文 目录\\看图"})
        EXPECT_EQ(CheckInstallFolder(folder, reserved), FolderVerdict::kAllowed) << folder;

    for (const wchar_t* folder :
         {L"C:\\", L"d:\\\\", L"\\\\server\\share", L"\\\\server\\share\\", L"c:\\program files\\", L"C:\\Users\\bob",
          L"C:\\USERS\\BOB\\DESKTOP", L"C:\\Users\\bob\\Downloads", L"C:\\Users\\bob\\Downloads\\Quiview",
          L"C:/Windows", L"C:\\Windows\\System32\\Quiview", L"C:\\Users\\bob\\AppData\\Local\\Temp",
          L"C:\\Users\\bob\\AppData\\Local\\Temp\\Quiview-1.0.1-0123456789abcdef",
          L"C:\\Users\\bob\\AppData\\Local\\Temp\\quiview-1.0.1-x\\payload"})
        EXPECT_EQ(CheckInstallFolder(folder, reserved), FolderVerdict::kReserved) << folder;

    for (const wchar_t* folder : {L"", L"D:", L"Quiview", L"Apps\\Quiview", L"\\Quiview", L"C:Quiview", L"C:\\a<b",
                                  L"C:\\a|b", L"C:\\Quiview.", L"C:\\Quiview \\x", L"C:\\x:y", L"1:\\x"})
        EXPECT_EQ(CheckInstallFolder(folder, reserved), FolderVerdict::kInvalid) << folder;
}

// The same on this machine's own folders.
TEST(InstallFolderTest, ThisMachinesFolders) {
    const ReservedFolders reserved = CurrentReservedFolders(ModuleFolder());
    wchar_t windows[MAX_PATH] = {}, desktop[MAX_PATH] = {}, programs[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    ::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop);
    ::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programs);
    for (const std::wstring& folder :
         {std::wstring(windows), std::wstring(windows) + L"\\Quiview", std::wstring(desktop), std::wstring(programs),
          ModuleFolder(), CUserFolders::Instance().TempFolder()})
        EXPECT_EQ(CheckInstallFolder(folder, reserved), FolderVerdict::kReserved) << folder.c_str();
    for (const std::wstring& folder : {std::wstring(programs) + L"\\Quiview", std::wstring(desktop) + L"\\Quiview",
                                       CUserFolders::Instance().LocalAppData() + L"\\Quiview"})
        EXPECT_EQ(CheckInstallFolder(folder, reserved), FolderVerdict::kAllowed) << folder.c_str();
}

// Which folders the install sequence may clear before installing: only the
// product's own, never a drive, a user folder or a relative name.
#include <gtest/gtest.h>

#include "install/install_folder.h"

TEST(InstallFolderTest, OnlyTheProductFolderIsCleared) {
    for (const wchar_t* folder : {L"C:\\Program Files\\Quiview", L"C:\\Users\\me\\AppData\\Local\\quiview",
                                  L"D:\\QUIVIEW\\", L"D:\\Apps\\Quiview\\\\", L"D:/Apps/Quiview",
                                  L"\\\\server\\share\\Quiview", L"C:\\Quiview"})
        EXPECT_TRUE(IsProductFolder(folder)) << folder;

    for (const wchar_t* folder :
         {L"", L"D:\\", L"D:", L"C:\\Users\\me\\Documents", L"C:\\Quiview\\Quiview2", L"C:\\Quiview.bak",
          L"C:\\Apps\\MyQuiview", L"Quiview", L"Apps\\Quiview", L"\\Quiview", L"C:Quiview", L"\\\\",
          L"C:\\Quiview\\..", L"C:\\Quiview\\."})
        EXPECT_FALSE(IsProductFolder(folder)) << folder;
}

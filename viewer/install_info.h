#pragma once
// What the installer recorded for the viewer, and the layout arithmetic of the
// viewer window.
#include <string>

struct InstallInfo {
    std::wstring version;  // empty when not recorded
    std::wstring channel;
};

// Reads "version" and "channel" from the settings file the installer wrote.
InstallInfo ReadInstallInfo();
// The window title: product name, version and channel where known.
std::wstring ViewerTitle(const InstallInfo& info);

struct FitRect {
    int x, y, width, height;
};
// The largest rectangle of the picture's proportions that fits the area,
// centred; pictures smaller than the area keep their size.
FitRect FitPicture(unsigned pictureWidth, unsigned pictureHeight, int areaWidth, int areaHeight);

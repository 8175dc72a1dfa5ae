// A helper library without the SetupViewer entry point.
#include <windows.h>

extern "C" __declspec(dllexport) int __cdecl SetupSomethingElse() { return 0; }

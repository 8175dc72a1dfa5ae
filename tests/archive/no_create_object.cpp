// A library that loads but lacks the archive handler's CreateObject export.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI GetHandlerProperty(int) { return 0; }

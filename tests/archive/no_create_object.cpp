// A library that loads but lacks the archive handler's CreateObject export.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI ReportVersion() { return 1; }

// A small program that the channel tests start under marked file names.
//   channel_probe wait EVENT    signals the named event, then waits to be ended
//   channel_probe detect FILE   writes its detected channel and marked name to FILE
#include <windows.h>

#include <string>

#include "install/channel_detector.h"
#include "util/owned.h"
#include "util/text.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring mode = argv[1];
    if (mode == L"wait") {
        UniqueHandle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]));
        if (!ready) return 3;
        ::SetEvent(ready.get());
        ::Sleep(INFINITE);
        return 0;
    }
    if (mode == L"detect") {
        CChannelDetector detector(L"");
        const std::string text =
            WideToUtf8(detector.Channel()) + "\n" + WideToUtf8(CChannelDetector::FindMarkedProcessName());
        UniqueFile out(::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!out || !::WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) return 4;
        return 0;
    }
    return 2;
}

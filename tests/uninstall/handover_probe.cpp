// Asks OpenHandoverProcess about a process from a process of its own, as the
// copy of the uninstaller asks about the original that started it.
//   handover_probe open <pid> <image>  exit 0 when the process is opened, 1 when refused
//   handover_probe younger             the same for a child started after the probe
//   handover_probe wait                waits (ended by whoever started it)
#include <windows.h>

#include <string>

#include "uninstall/handover.h"

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"open" && argc == 4) {
        const DWORD pid = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
        return OpenHandoverProcess(pid, argv[3], PROCESS_TERMINATE) ? 0 : 1;
    }
    if (command == L"younger") {
        const std::wstring self = OwnProgramPath();
        std::wstring line = L"\"" + self + L"\" wait";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child = {};
        if (!::CreateProcessW(self.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child))
            return 2;
        UniqueHandle process(child.hProcess), thread(child.hThread);
        const int result = OpenHandoverProcess(child.dwProcessId, self, PROCESS_TERMINATE) ? 0 : 1;
        ::TerminateProcess(process.get(), 0);
        ::WaitForSingleObject(process.get(), 10000);
        return result;
    }
    if (command == L"wait") {
        ::Sleep(60000);
        return 0;
    }
    return 3;
}

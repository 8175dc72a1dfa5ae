// Asks OpenHandoverProcess about a process from a process of its own, as the
// copy of the uninstaller asks about the original that started it.
//   handover_probe open <pid> <image>  exit 0 when the process is opened, 1 when refused
//   handover_probe younger             the same for a child started after the probe
//   handover_probe wait                waits (ended by whoever started it)
#include <windows.h>

#include <string>

#include "test_support.h"
#include "uninstall/handover.h"

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"open" && argc == 4) {
        const DWORD pid = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
        return OpenHandoverProcess(pid, argv[3], PROCESS_TERMINATE) ? 0 : 1;
    }
    if (command == L"younger") {
        const std::wstring self = OwnProgramPath();
        qvtest::ChildProcess child(L"\"" + self + L"\" wait");
        if (!child.started()) return 2;
        const int result = OpenHandoverProcess(child.id(), self, PROCESS_TERMINATE) ? 0 : 1;
        child.End(0);
        return result;
    }
    if (command == L"wait") {
        ::Sleep(60000);
        return 0;
    }
    return 3;
}

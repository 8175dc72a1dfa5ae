// A stand-in ImgKit.dll for the installer tests: SetupViewer writes what it
// was handed to setup_record.txt in the payload folder (payload folder,
// installation folder, flags, and whether DuiLib.dll and 7z.dll were already
// in the installation folder), then reports status 0 and the progress values
// of QVTEST_PROGRESS (default "30,50,100"; "none" for no progress at all)
// from a thread of its own, as the real helper does.
// With QVTEST_HOLD set, the call itself first waits (up to a minute) for a
// file "release" in the payload folder, keeping the installer's thread busy
// as a long installation would. With QVTEST_HOLD=thread the call returns at
// once and the reporting thread waits for that file instead: the installation
// is at work while the installer's window takes messages.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "contract/setup_viewer_api.h"
#include "util/path.h"
#include "util/text.h"

namespace {

struct Report {
    QvIntCallback status;
    QvIntCallback progress;
    std::vector<int32_t> values;
    std::wstring release;  // the file the reports wait for; empty: none
};

DWORD WINAPI ReportThread(void* parameter) {
    Report* report = static_cast<Report*>(parameter);
    for (int i = 0; i < 600 && !report->release.empty() && !FileExists(report->release); ++i) ::Sleep(100);
    report->status.invoke(report->status.context, 0);
    for (int32_t value : report->values) {
        ::Sleep(50);
        report->progress.invoke(report->progress.context, value);
    }
    delete report;
    return 0;
}

}  // namespace

extern "C" __declspec(dllexport) void __cdecl SetupViewer(const wchar_t* payloadFolder, const wchar_t* installFolder,
                                                          int32_t flags, QvIntCallback status, QvIntCallback progress) {
    std::wstring install = installFolder;
    char number[32];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(flags));
    std::string record = WideToUtf8(payloadFolder) + "\n" + WideToUtf8(install) + "\n" + number + "\n" +
                         (FileExists(install + L"\\DuiLib.dll") ? "1" : "0") +
                         (FileExists(install + L"\\7z.dll") ? "1" : "0") + "\n";
    std::wstring path = std::wstring(payloadFolder) + L"\\setup_record.txt";
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
        ::CloseHandle(file);
    }

    char hold[16] = {};
    const DWORD holdLength = ::GetEnvironmentVariableA("QVTEST_HOLD", hold, sizeof hold);
    const bool holdThread = holdLength > 0 && std::strcmp(hold, "thread") == 0;
    const std::wstring release = std::wstring(payloadFolder) + L"\\release";
    if (holdLength > 0 && !holdThread) {
        for (int i = 0; i < 600 && !FileExists(release); ++i) ::Sleep(100);
    }

    auto* report = new Report{status, progress, {}, holdThread ? release : std::wstring()};
    char steps[256] = "30,50,100";
    char given[256] = {};
    DWORD length = ::GetEnvironmentVariableA("QVTEST_PROGRESS", given, sizeof given);
    if (length > 0 && length < sizeof given) std::memcpy(steps, given, length + 1);
    // "none": the helper reports no progress at all.
    if (std::strcmp(steps, "none") == 0) steps[0] = '\0';
    for (char* piece = std::strtok(steps, ","); piece; piece = std::strtok(nullptr, ","))
        report->values.push_back(std::atoi(piece));
    HANDLE thread = ::CreateThread(nullptr, 0, ReportThread, report, 0, nullptr);
    if (thread)
        ::CloseHandle(thread);
    else
        delete report;
}

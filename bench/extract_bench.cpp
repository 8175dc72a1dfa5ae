// Payload extraction benchmark program.
//   extract_bench make FOLDER      writes the benchmark payload (half text, half random bytes)
//   extract_bench extract DEST ARCHIVE
//                                  runs ExtractPayload as the installer does (every core
//                                  decoding, files checked and digested); exit code = its result
//   extract_bench measure PROGRAM [ARGUMENT...]
//                                  runs a program and prints "seconds peak-working-set-bytes exit-code"
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "install/extract_payload.h"
#include "util/owned.h"
#include "util/path.h"

namespace {

constexpr size_t kPartSize = 104u << 20;  // two parts: 208 MiB in all

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

int Make(const std::wstring& folder) {
    static const char* const words[] = {"viewer ",  "image ",     "folder ",  "payload ", "pixel ",  "colour ",
                                        "preview ", "thumbnail ", "gallery ", "zoom ",    "rotate ", "\r\n"};
    std::string text;
    text.reserve(kPartSize + 16);
    unsigned state = 12345;
    while (text.size() < kPartSize) {
        state = state * 1103515245u + 12345u;
        text += words[(state >> 16) % 12];
        if ((state & 0xF00) == 0) text += std::to_string(state % 100000);
    }
    text.resize(kPartSize);
    std::string random(kPartSize, '\0');
    unsigned long long x = 0x9E3779B97F4A7C15ull;
    for (char& c : random) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x >> 24);
    }
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return WriteFileBytes(folder + L"\\text.txt", text) && WriteFileBytes(folder + L"\\random.bin", random) ? 0 : 1;
}

int Measure(int argc, wchar_t** argv) {
    std::wstring line;
    for (int i = 0; i < argc; ++i) {
        std::wstring argument = argv[i];
        if (!line.empty()) line += L' ';
        line += argument.find_first_of(L" \t") == std::wstring::npos ? argument : L"\"" + argument + L"\"";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return 1;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    // Sample while it runs as well: the counters of an ended process may be gone.
    PROCESS_MEMORY_COUNTERS counters = {};
    SIZE_T peak = 0;
    while (::WaitForSingleObject(process.get(), 20) == WAIT_TIMEOUT) {
        if (::GetProcessMemoryInfo(process.get(), &counters, sizeof counters) && counters.PeakWorkingSetSize > peak)
            peak = counters.PeakWorkingSetSize;
    }
    ::QueryPerformanceCounter(&end);
    if (::GetProcessMemoryInfo(process.get(), &counters, sizeof counters) && counters.PeakWorkingSetSize > peak)
        peak = counters.PeakWorkingSetSize;
    DWORD code = 1;
    ::GetExitCodeProcess(process.get(), &code);
    double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    std::printf("%.4f %llu %lu\n", seconds, static_cast<unsigned long long>(peak), code);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"make" && argc == 3) return Make(argv[2]);
    if (mode == L"extract" && argc == 4) {
        std::vector<PayloadItem> items;
        return ExtractPayload(argv[2], argv[3], ModuleFolder(), &items);
    }
    if (mode == L"measure" && argc >= 3) return Measure(argc - 2, argv + 2);
    std::fprintf(stderr, "usage: extract_bench make FOLDER | extract DEST ARCHIVE | measure PROGRAM [ARGUMENT...]\n");
    return 2;
}

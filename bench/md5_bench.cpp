// Digests one file with DigestFile and prints the hex digest and the seconds
// it took, measured inside the process (Wine's start-up is not counted).
#include <windows.h>

#include <cstdio>

#include "util/md5.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: md5_bench FILE\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    std::string hex = DigestFile(argv[1]);
    ::QueryPerformanceCounter(&end);
    double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    std::printf("%s %.6f\n", hex.c_str(), seconds);
    return hex.empty() ? 1 : 0;
}

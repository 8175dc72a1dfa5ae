// Digests one file with SHA-256 as the installer checks its payload (the
// fastest engine through Sha256OfFile), or with the portable engine
// ("--portable"), and prints the hex digest and the seconds it took,
// measured inside the process (Wine's start-up is not counted).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>

#include "util/owned.h"
#include "util/sha256.h"

namespace {

bool PortableDigest(HANDLE file, Sha256Digest* digest) {
    const DWORD kChunk = 1 << 20;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunk]);
    CSha256 sha(CSha256::Engine::kPortable);
    DWORD got = 0;
    while (::ReadFile(file, buffer.get(), kChunk, &got, nullptr) && got > 0) sha.Update(buffer.get(), got);
    *digest = sha.Final();
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool portable = argc == 3 && std::wcscmp(argv[1], L"--portable") == 0;
    if (argc != 2 && !portable) {
        std::fprintf(stderr, "usage: sha256_bench [--portable] FILE\n");
        return 2;
    }
    UniqueFile file(::CreateFileW(argv[argc - 1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return 1;
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    Sha256Digest digest{};
    const bool ok = portable ? PortableDigest(file.get(), &digest) : Sha256OfFile(file.get(), &digest);
    ::QueryPerformanceCounter(&end);
    if (!ok) return 1;
    const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    for (unsigned char b : digest) std::printf("%02x", b);
    std::printf(" %.6f\n", seconds);
    return 0;
}

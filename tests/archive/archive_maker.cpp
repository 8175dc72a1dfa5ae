#include "archive_maker.h"

#include <algorithm>
#include <stdexcept>

#include "util/owned.h"
#include "util/path.h"

namespace qvtest {

void RunSevenZip(const std::wstring& arguments, const std::wstring& folder) {
    std::wstring line = L"\"" + ModuleFolder() + L"\\7z.exe\" " + arguments + L" -bso0 -bse0 -bsp0 -y";
    if (RunAndWait(line, folder, 300000) != 0) throw std::runtime_error("7z.exe failed");
}

std::string TextBytes(size_t size, unsigned seed) {
    static const char* const words[] = {"viewer ", "image ", "folder ", "pixel ", "preview ", "\r\n"};
    std::string bytes;
    for (unsigned state = seed; bytes.size() < size;) {
        state = state * 1103515245u + 12345u;
        bytes += words[(state >> 16) % 6];
    }
    bytes.resize(size);
    return bytes;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned long long state = 0x9E3779B97F4A7C15ull ^ seed;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

void SetWriteTime(const std::wstring& path, unsigned long long time) {
    UniqueFile file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILETIME value = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    if (!file || !::SetFileTime(file.get(), nullptr, nullptr, &value)) throw std::runtime_error("cannot set time");
}

}  // namespace qvtest

// Page cipher throughput (encipher plus decipher of 1 KiB pages through the
// codec, against the bare XXTEA block function on word arrays) and the four
// setters' store calls on an enciphered config.dat against the same calls on
// an unkeyed one, interleaved in the same run. Prints benchmark lines.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "settings/page_codec.h"
#include "settings/settings_store.h"

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

constexpr int kPages = 4096;

double CodecSeconds() {
    CodecContext context(std::shared_ptr<const CodecKey>(DeriveCodecKey(7, "kestova")), 1024);
    std::vector<unsigned char> pages(size_t(kPages) * 1024, 0x5a);
    const double start = Now();
    for (int i = 0; i < kPages; ++i) {
        unsigned char* page = &pages[size_t(i) * 1024];
        unsigned char* copy = PageCodec(&context, page, i + 1, kCodecWriteDatabase);
        PageCodec(&context, copy, i + 1, kCodecReadCached);
    }
    return Now() - start;
}

double BareSeconds() {
    const CodecKey key = *DeriveCodecKey(7, "kestova");
    std::vector<std::uint32_t> words(size_t(kPages) * 256, 0x5a5a5a5a);
    const double start = Now();
    for (int i = 0; i < kPages; ++i) {
        XxteaBlock(&words[size_t(i) * 256], 256, key);
        XxteaBlock(&words[size_t(i) * 256], -256, key);
    }
    return Now() - start;
}

// One round of the install sequence's four setters (each its own store
// object: open, write, close), with values that differ from the last round.
double SettersSeconds(const std::wstring& folder, const std::string& keyText, int round) {
    const std::string n = std::to_string(round);
    char uid[33];
    std::snprintf(uid, sizeof uid, "%032x", 0x5eed0000u + unsigned(round));
    const double start = Now();
    CSettingsStore(folder, keyText).SetValue("join", round % 2 ? "1" : "0");
    CSettingsStore(folder, keyText).SetValue("uid", uid);
    CSettingsStore(folder, keyText).SetValue("channel", "301" + n);
    CSettingsStore(folder, keyText).SetValue("version", "1.0." + n);
    return Now() - start;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    std::vector<double> codec, bare;
    for (int i = 0; i < 7; ++i) {
        codec.push_back(CodecSeconds());
        bare.push_back(BareSeconds());
    }
    const double megabytes = kPages * 1024.0 / 1e6;
    const double ours = megabytes / Median(codec), reference = megabytes / Median(bare);
    std::printf("page cipher 1 KiB pages: %.1f MB/s (%.1f MB/s, %.2f)\n", ours, reference, ours / reference);

    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring base = std::wstring(temp) + L"qv-settings-bench-" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring keyed = base + L"\\keyed", plain = base + L"\\plain";
    std::vector<double> keyedTimes, plainTimes;
    for (int round = 0; round < 41; ++round) {
        keyedTimes.push_back(SettersSeconds(keyed, "kestova", round));
        plainTimes.push_back(SettersSeconds(plain, "", round));
    }
    const double k = Median(keyedTimes) * 1000, p = Median(plainTimes) * 1000;
    std::printf("four setters enciphered vs plain: %.2f ms (%.2f ms, %.2f)\n", k, p, k / p);

    for (const std::wstring& folder : {keyed, plain}) {
        ::DeleteFileW((folder + L"\\config.dat").c_str());
        ::RemoveDirectoryW(folder.c_str());
    }
    ::RemoveDirectoryW(base.c_str());
    return 0;
}

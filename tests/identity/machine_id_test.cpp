#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "identity/machine_id.h"
#include "util/md5.h"
#include "test_support.h"
#include "util/text.h"

namespace {

std::unique_ptr<WmiQueryResult> Result(const std::vector<std::vector<std::wstring>>& objects) {
    std::unique_ptr<WmiQueryResult> r(new WmiQueryResult);
    std::memset(r.get(), 0, sizeof *r);
    for (size_t i = 0; i < objects.size(); ++i) {
        r->valueCount[i] = static_cast<int>(objects[i].size());
        for (size_t v = 0; v < objects[i].size(); ++v) wcscpy(r->values[i][v], objects[i][v].c_str());
    }
    return r;
}

std::wstring Normalized(std::wstring text) {
    NormalizeDiskSerial(text);
    return text;
}

std::string Decode(const std::string& field, bool swap) {
    std::vector<unsigned char> descriptor(64 + field.size() + 1, 0);
    std::memcpy(descriptor.data() + 64, field.data(), field.size());
    return DecodeDescriptorText(descriptor.data(), descriptor.size(), 64, swap);
}

}  // namespace

TEST(MachineIdTexts, JoinWmiObjects) {
    // Two processors: values joined by "_", objects by ",".
    auto cpu = Result({{L"GenuineIntel", L"Intel(R) Core(TM) i5 CPU", L"BFEBFBFF000306A9"},
                       {L"GenuineIntel", L"Intel(R) Core(TM) i5 CPU", L"BFEBFBFF000306A9"}});
    EXPECT_EQ(JoinWmiObjects(*cpu, 2),
              L"GenuineIntel_Intel(R) Core(TM) i5 CPU_BFEBFBFF000306A9,"
              L"GenuineIntel_Intel(R) Core(TM) i5 CPU_BFEBFBFF000306A9");
    // A value that could not be read still gets its separator.
    auto board = Result({{L"AB12", L""}});
    EXPECT_EQ(JoinWmiObjects(*board, 1), L"AB12_");
    // Disks: an object whose text is empty adds nothing, not even a comma.
    auto disks = Result({{L"S1"}, {L""}, {L"S2"}});
    EXPECT_EQ(JoinWmiObjects(*disks, 3), L"S1,S2");
    EXPECT_EQ(JoinWmiObjects(*disks, 0), L"");
}

TEST(MachineIdTexts, NormalizeDiskSerial) {
    EXPECT_EQ(Normalized(L"WD-WX1234"), L"DWW-1X32");
    // Odd length: the last character is lost, then the spaces go.
    EXPECT_EQ(Normalized(L"AB CD"), L"BAC");
    // 40 hex digits decode to 20 characters before the swap.
    EXPECT_EQ(Normalized(L"44573d5741435631323334353637382020202020"), L"WDW=CA1V3254768");
    EXPECT_EQ(Normalized(L"57442D5743415631323334353637382020202020"), L"DWW-AC1V3254768");
    // A zero byte ends the decoded text early.
    EXPECT_EQ(Normalized(L"3132333400000000000000000000000000000000"), L"2143");
    // 39 and 41 characters are only swapped and stripped.
    const std::wstring hex39 = L"445733574143563132333435363738202020202";
    const std::wstring hex41 = hex39 + L"00";
    std::wstring swapped39 = hex39;
    for (size_t i = 0; i + 1 < swapped39.size(); i += 2) std::swap(swapped39[i], swapped39[i + 1]);
    swapped39.pop_back();
    EXPECT_EQ(Normalized(hex39), swapped39);
    EXPECT_EQ(Normalized(hex41).size(), 40u);
    // Not hex: only swapped.
    EXPECT_EQ(Normalized(L"ZZ" + std::wstring(38, L'1')), L"ZZ" + std::wstring(38, L'1'));
    EXPECT_EQ(Normalized(L""), L"");
}

TEST(MachineIdTexts, DecodeDescriptorText) {
    // Hex reading, pairs swapped, white space trimmed.
    EXPECT_EQ(Decode("2020202057442d5743415631323334353637", true), "DWW-AC1V325476");
    // White space counts as the digit 0; a decoded zero ends the text.
    EXPECT_EQ(Decode("4142  004344", false), "AB");
    // A white-space digit that makes a non-printable byte abandons the hex reading.
    EXPECT_EQ(Decode("4142 0 4344", false), "4142 0 4344");
    // A character that is no hex digit: read as printable text instead.
    EXPECT_EQ(Decode("  S3Z7NX0K123456  ", false), "S3Z7NX0K123456");
    EXPECT_EQ(Decode("3SZ7XN", true), "S37ZNX");
    // A decoded byte that is not printable abandons the hex reading.
    EXPECT_EQ(Decode("0141", false), "0141");
    // A last unpaired digit is dropped.
    EXPECT_EQ(Decode("41424", false), "AB");
    // A non-printable character makes the printable reading empty.
    EXPECT_EQ(Decode("AB\x01Z", false), "");
    // Decoded text made only of white space stays as it is.
    EXPECT_EQ(Decode("2020", false), "  ");
    EXPECT_EQ(Decode("   ", false), "");
    // No field, or a field outside the descriptor.
    unsigned char small[8] = {0};
    EXPECT_EQ(DecodeDescriptorText(small, sizeof small, 0, true), "");
    EXPECT_EQ(DecodeDescriptorText(small, sizeof small, 100, true), "");
    // A field without a terminating zero ends at the buffer's end.
    unsigned char open[6] = {0, 0, 'x', 'y', 'z', 'w'};
    EXPECT_EQ(DecodeDescriptorText(open, sizeof open, 2, false), "xyzw");
}

TEST(MachineIdTexts, TwentiethCharacterRule) {
    EXPECT_TRUE(IsUsableDescriptorSerial("A"));
    EXPECT_FALSE(IsUsableDescriptorSerial(""));
    EXPECT_FALSE(IsUsableDescriptorSerial("-" + std::string(30, '-')));
    EXPECT_TRUE(IsUsableDescriptorSerial("-" + std::string(18, ' ') + "9"));
    EXPECT_FALSE(IsUsableDescriptorSerial("-" + std::string(17, ' ') + "9"));
}

TEST(MachineIdTexts, EmptySourcesGiveTheDigestOfNothing) {
    WmiQueryResult result;
    EXPECT_EQ(RunWmiQuery(nullptr, WMI_QUERY_PROCESSOR, result), -2);
    CMd5 md5;
    EXPECT_EQ(md5.HexDigest(), "d41d8cd98f00b204e9800998ecf8427e");
}

namespace {

// Runs Wine's own wmic for one class and returns its rows as property maps,
// parsed from the column layout (columns start where their headers start).
std::vector<std::map<std::wstring, std::wstring>> Wmic(const std::wstring& cls, const std::wstring& props) {
    qvtest::TempDir dir;
    const std::wstring out = dir / L"wmic.txt";
    if (qvtest::RunAndWait(L"wmic.exe path " + cls + L" get " + props, std::wstring(), 60000, out) < 0) return {};
    std::string raw = qvtest::ReadBytes(out);
    std::wstring text(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / 2);
    if (!text.empty() && text[0] == 0xFEFF) text.erase(0, 1);

    std::vector<std::wstring> lines;
    size_t start = 0, end;
    while ((end = text.find(L"\r\n", start)) != std::wstring::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    std::vector<std::map<std::wstring, std::wstring>> rows;
    if (lines.empty()) return rows;
    std::vector<std::pair<size_t, std::wstring>> columns;
    for (size_t i = 0; i < lines[0].size();) {
        if (lines[0][i] == L' ') {
            ++i;
            continue;
        }
        size_t j = lines[0].find(L' ', i);
        if (j == std::wstring::npos) j = lines[0].size();
        columns.push_back({i, lines[0].substr(i, j - i)});
        i = j;
    }
    for (size_t l = 1; l < lines.size(); ++l) {
        if (lines[l].find_first_not_of(L' ') == std::wstring::npos) continue;
        std::map<std::wstring, std::wstring> row;
        for (size_t c = 0; c < columns.size(); ++c) {
            size_t from = columns[c].first;
            size_t to = c + 1 < columns.size() ? columns[c + 1].first : lines[l].size();
            std::wstring value = from < lines[l].size() ? lines[l].substr(from, to - from) : L"";
            value.erase(value.find_last_not_of(L' ') + 1);
            row[columns[c].second] = value;
        }
        rows.push_back(row);
    }
    return rows;
}

std::wstring WithoutSpaces(std::wstring s) {
    s.erase(std::remove(s.begin(), s.end(), L' '), s.end());
    return s;
}

}  // namespace

TEST(MachineId, MatchesWhatWmicReports) {
    std::wstring processor, baseboard, disk;
    for (auto& row : Wmic(L"Win32_Processor", L"Manufacturer,Name,ProcessorId")) {
        std::wstring object = WithoutSpaces(row[L"Manufacturer"]) + L"_" + row[L"Name"] + L"_" + row[L"ProcessorId"];
        processor += (processor.empty() ? L"" : L",") + object;
    }
    for (auto& row : Wmic(L"Win32_BaseBoard", L"SerialNumber,Product")) {
        std::wstring object = WithoutSpaces(row[L"SerialNumber"]) + L"_" + row[L"Product"];
        baseboard += (baseboard.empty() ? L"" : L",") + object;
    }
    for (auto& row : Wmic(L"Win32_DiskDrive", L"SerialNumber,MediaType")) {
        if (row[L"MediaType"].compare(0, 15, L"Fixed hard disk") != 0) continue;
        std::wstring serial = row[L"SerialNumber"];
        for (size_t i = 0; i + 1 < serial.size(); i += 2) std::swap(serial[i], serial[i + 1]);
        if (serial.size() % 2) serial.pop_back();
        serial = WithoutSpaces(serial);
        if (!serial.empty()) disk += (disk.empty() ? L"" : L",") + serial;
    }
    ASSERT_FALSE(processor.empty()) << "wmic reported no processor";
    const std::string bytes = WideToUtf8(processor) + WideToUtf8(baseboard) + WideToUtf8(disk);
    CMd5 md5;
    md5.Update(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    const std::string expected = md5.HexDigest();

    EXPECT_EQ(HardwareGatherCount(), 0);
    EXPECT_EQ(GetMachineId(), expected) << WideToUtf8(processor + L" | " + baseboard + L" | " + disk);
    EXPECT_EQ(GetMachineId(), expected);
    EXPECT_EQ(HardwareGatherCount(), 1);
}

// Runs after the test above, which counts the gatherings from none.
TEST(MachineId, GatheringLeavesTheCallersApartmentAsItWas) {
    // A thread already in the multithreaded apartment: gathering must not end its COM.
    HRESULT before = E_FAIL, after = E_FAIL;
    HardwareTexts texts;
    std::thread([&] {
        before = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        GatherHardwareTexts(texts);
        // S_FALSE: still initialised, as before; S_OK would mean the gathering ended it.
        after = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(after)) ::CoUninitialize();
        if (SUCCEEDED(before)) ::CoUninitialize();
    }).join();
    ASSERT_EQ(before, S_OK);
    EXPECT_EQ(after, S_FALSE);
    EXPECT_FALSE(texts.processor.empty());
}

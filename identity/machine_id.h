#pragma once
// The machine identifier: the MD5 hex text of the processor, baseboard and
// fixed-disk serial texts, gathered once per process from WMI (and, for the
// disk, from the storage driver when WMI has no serial).
#include <cstddef>
#include <string>

// Result of one WMI query: up to 10 objects of up to 5 string values, each cut
// to 255 UTF-16 code units.
struct WmiQueryResult {
    static constexpr int kMaxObjects = 10;
    static constexpr int kMaxValues = 5;
    static constexpr int kMaxValueLength = 255;
    int valueCount[kMaxObjects];
    wchar_t values[kMaxObjects][kMaxValues][kMaxValueLength + 1];
};

enum WmiQueryIndex { WMI_QUERY_PROCESSOR = 0, WMI_QUERY_BASEBOARD = 1, WMI_QUERY_DISK = 2, WMI_QUERY_COUNT = 3 };

struct WmiConnection;  // the locator and services objects while gathering

// The identifier; the first call gathers the hardware texts.
std::string GetMachineId();

// The three texts, in the order the identifier uses them.
struct HardwareTexts {
    std::wstring processor;
    std::wstring baseboard;
    std::wstring disk;
};
// Fills the three texts from WMI and the storage driver.
void GatherHardwareTexts(HardwareTexts& texts);
// How many times this process has gathered the texts (diagnostics).
int HardwareGatherCount();

// Runs query `index` into `result` (zero-filled first). Returns the number of
// objects stored (0 to 10), -1 for an unknown index, -2 without a WMI
// connection, -3 when the query cannot be issued.
int RunWmiQuery(const WmiConnection* connection, int index, WmiQueryResult& result);
// One text for all objects: values joined by "_" per object, non-empty object
// texts joined by ",".
std::wstring JoinWmiObjects(const WmiQueryResult& result, int count);
// Decodes a 40-digit hex serial, swaps neighbouring characters and removes spaces.
void NormalizeDiskSerial(std::wstring& text);
// The first usable serial of physical drives 0 to 15, or empty.
std::string ReadDiskSerialByIoctl();
// One zero-terminated text field of a storage device descriptor of `size`
// bytes, read as hex digits when possible, else as printable characters.
std::string DecodeDescriptorText(const unsigned char* descriptor, std::size_t size, long offset, bool swapPairs);
// Whether a decoded descriptor serial is taken: its first or twentieth
// character is a letter or digit.
bool IsUsableDescriptorSerial(const std::string& serial);

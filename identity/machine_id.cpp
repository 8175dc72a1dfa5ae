#include "identity/machine_id.h"

#include <atomic>
#include <mutex>

#include <windows.h>
#include <objbase.h>
#include <wbemidl.h>
#include <winioctl.h>

#include <cstring>
#include <memory>

#include "util/md5.h"
#include "util/com_ptr.h"
#include "util/com_scope.h"
#include "util/owned.h"
#include "util/text.h"
#include "util/variant.h"

struct WmiConnection {
    CComPtr<IWbemLocator> locator;
    CComPtr<IWbemServices> services;
};

namespace {

struct WmiQueryDef {
    const wchar_t* wql;
    int propertyCount;
    const wchar_t* properties[WmiQueryResult::kMaxValues];
};

const WmiQueryDef kQueries[WMI_QUERY_COUNT] = {
    {L"SELECT Manufacturer,Name,ProcessorId FROM Win32_Processor", 3, {L"Manufacturer", L"Name", L"ProcessorId"}},
    {L"SELECT SerialNumber,Product FROM Win32_BaseBoard WHERE (SerialNumber IS NOT NULL)",
     2,
     {L"SerialNumber", L"Product"}},
    {L"SELECT SerialNumber FROM Win32_DiskDrive WHERE (SerialNumber IS NOT NULL) AND (MediaType LIKE 'Fixed hard "
     L"disk%')",
     1,
     {L"SerialNumber"}},
};

constexpr std::size_t kMaxDescriptorText = 999;
constexpr DWORD kDescriptorBufferSize = 10000;

bool IsHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return c - L'A' + 10;
}

// Swaps neighbouring characters from the start; an odd last character is lost
// (it trades places with the terminating zero).
template <class Text>
void SwapPairs(Text& text) {
    const std::size_t n = text.size();
    for (std::size_t i = 0; i + 1 < n; i += 2) std::swap(text[i], text[i + 1]);
    if (n % 2 == 1) text.resize(n - 1);
}

bool IsSpaceByte(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsPrintableByte(unsigned char c) { return c >= 0x20 && c < 0x7f; }
bool IsAlnumByte(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

void RemoveSpaces(std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text)
        if (c != L' ') out.push_back(c);
    text.swap(out);
}

HardwareTexts g_texts;
std::once_flag g_gatherOnce;
std::atomic<int> g_gatherCount{0};

}  // namespace

std::string GetMachineId() {
    // Once per process, whichever thread comes first; the others wait for it.
    std::call_once(g_gatherOnce, [] { GatherHardwareTexts(g_texts); });
    const std::string bytes = WideToUtf8(g_texts.processor) + WideToUtf8(g_texts.baseboard) + WideToUtf8(g_texts.disk);
    CMd5 md5;
    md5.Update(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    return md5.HexDigest();
}

int HardwareGatherCount() { return g_gatherCount; }

void GatherHardwareTexts(HardwareTexts& texts) {
    ++g_gatherCount;
    {
        // Any thread may gather: one already in the multithreaded apartment
        // keeps its COM as it was (the WMI calls work there too).
        CComScope com(CComScope::kApartment);
        ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                               nullptr, EOAC_NONE, nullptr);
        WmiConnection connection;
        if (SUCCEEDED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                         connection.locator.outVoid()))) {
            UniqueBstr ns(::SysAllocString(L"ROOT\\CIMV2"));
            connection.locator->ConnectServer(ns.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                              connection.services.out());
            if (connection.services) {
                ::CoSetProxyBlanket(connection.services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                    RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
            }
        }
        // One result buffer, reused for each query.
        std::unique_ptr<WmiQueryResult> result(new WmiQueryResult);
        int n = RunWmiQuery(&connection, WMI_QUERY_PROCESSOR, *result);
        if (n > 0) texts.processor = JoinWmiObjects(*result, n);
        n = RunWmiQuery(&connection, WMI_QUERY_DISK, *result);
        if (n > 0) texts.disk = JoinWmiObjects(*result, n);
        n = RunWmiQuery(&connection, WMI_QUERY_BASEBOARD, *result);
        if (n > 0) texts.baseboard = JoinWmiObjects(*result, n);
        connection.services.reset();
        connection.locator.reset();
    }
    if (texts.disk.empty()) texts.disk = Utf8ToWide(ReadDiskSerialByIoctl());
}

int RunWmiQuery(const WmiConnection* connection, int index, WmiQueryResult& result) {
    std::memset(&result, 0, sizeof result);
    if (!connection || !connection->services || !connection->locator) return -2;
    if (index < 0 || index >= WMI_QUERY_COUNT) return -1;
    const WmiQueryDef& def = kQueries[index];

    UniqueBstr language(::SysAllocString(L"WQL"));
    UniqueBstr query(::SysAllocString(def.wql));
    CComPtr<IEnumWbemClassObject> enumerator;
    HRESULT hr = connection->services->ExecQuery(
        language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, enumerator.out());
    if (FAILED(hr) || !enumerator) return -3;

    int stored = 0;
    while (stored < WmiQueryResult::kMaxObjects) {
        CComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        enumerator->Next(WBEM_INFINITE, 1, object.out(), &returned);
        if (returned == 0 || !object) break;
        result.valueCount[stored] = def.propertyCount;
        for (int p = 0; p < def.propertyCount; ++p) {
            CVariant value;
            if (SUCCEEDED(object->Get(def.properties[p], 0, value.out(), nullptr, nullptr)) && value->vt == VT_BSTR &&
                value->bstrVal) {
                wchar_t* slot = result.values[stored][p];
                std::wcsncpy(slot, value->bstrVal, WmiQueryResult::kMaxValueLength);
                slot[WmiQueryResult::kMaxValueLength] = L'\0';
                if (p == 0) {
                    std::wstring first(slot);
                    if (index == WMI_QUERY_DISK) {
                        NormalizeDiskSerial(first);
                    } else {
                        RemoveSpaces(first);
                    }
                    std::wcscpy(slot, first.c_str());  // never longer than before
                }
            }
        }
        ++stored;
    }
    return stored;
}

std::wstring JoinWmiObjects(const WmiQueryResult& result, int count) {
    std::wstring joined;
    if (count > WmiQueryResult::kMaxObjects) count = WmiQueryResult::kMaxObjects;
    for (int i = 0; i < count; ++i) {
        std::wstring object;
        const int values =
            result.valueCount[i] > WmiQueryResult::kMaxValues ? WmiQueryResult::kMaxValues : result.valueCount[i];
        for (int v = 0; v < values; ++v) {
            if (v > 0) object += L'_';
            object += result.values[i][v];
        }
        if (object.empty()) continue;
        if (!joined.empty()) joined += L',';
        joined += object;
    }
    return joined;
}

void NormalizeDiskSerial(std::wstring& text) {
    if (text.size() == 40) {
        bool allHex = true;
        for (wchar_t c : text) allHex = allHex && IsHexDigit(c);
        if (allHex) {
            std::wstring decoded;
            for (std::size_t i = 0; i < 40; i += 2) {
                wchar_t byte = static_cast<wchar_t>(HexValue(text[i]) * 16 + HexValue(text[i + 1]));
                if (byte == 0) break;
                decoded.push_back(byte);
            }
            text.swap(decoded);
        }
    }
    SwapPairs(text);
    RemoveSpaces(text);
}

std::string DecodeDescriptorText(const unsigned char* descriptor, std::size_t size, long offset, bool swapPairs) {
    if (!descriptor || offset <= 0 || static_cast<std::size_t>(offset) >= size) return std::string();
    const unsigned char* field = descriptor + offset;
    // The field ends at its terminating zero, or at the end of the buffer.
    std::size_t length = 0;
    while (offset + length < size && field[length] != 0) ++length;

    std::string text;
    bool hexOk = true;
    unsigned byte = 0;
    int digits = 0;
    for (std::size_t i = 0; i < length && hexOk; ++i) {
        unsigned char c = field[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        int nibble;
        if (IsSpaceByte(c)) {
            nibble = 0;
        } else if (c >= '0' && c <= '9') {
            nibble = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            nibble = c - 'a' + 10;
        } else {
            hexOk = false;
            break;
        }
        byte = ((byte << 4) | static_cast<unsigned>(nibble)) & 0xff;
        if (++digits == 2) {
            if (byte != 0 && !IsPrintableByte(static_cast<unsigned char>(byte))) {
                hexOk = false;
                break;
            }
            if (text.size() < kMaxDescriptorText) text.push_back(static_cast<char>(byte));
            digits = 0;
            byte = 0;
        }
    }
    if (hexOk) {
        const std::size_t zero = text.find('\0');  // a decoded zero ends the text
        if (zero != std::string::npos) text.resize(zero);
    } else {
        text.clear();
        for (std::size_t i = 0; i < length; ++i) {
            if (!IsPrintableByte(field[i])) return std::string();
            if (text.size() < kMaxDescriptorText) text.push_back(static_cast<char>(field[i]));
        }
    }
    if (swapPairs && !text.empty()) SwapPairs(text);

    std::size_t first = 0;
    while (first < text.size() && IsSpaceByte(static_cast<unsigned char>(text[first]))) ++first;
    if (first == text.size()) return text;  // only white space: left as it is
    std::size_t last = text.size();
    while (last > first && IsSpaceByte(static_cast<unsigned char>(text[last - 1]))) --last;
    return text.substr(first, last - first);
}

bool IsUsableDescriptorSerial(const std::string& serial) {
    if (!serial.empty() && IsAlnumByte(static_cast<unsigned char>(serial[0]))) return true;
    return serial.size() >= 20 && IsAlnumByte(static_cast<unsigned char>(serial[19]));
}

std::string ReadDiskSerialByIoctl() {
    std::string serial;
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    if (!::GetVersionExW(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return serial;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kDescriptorBufferSize]);
    for (int n = 0; n < 16; ++n) {
        wchar_t name[64];
        ::wsprintfW(name, L"\\\\.\\PhysicalDrive%d", n);
        UniqueFile drive(
            ::CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!drive) continue;
        STORAGE_PROPERTY_QUERY query = {};
        query.PropertyId = StorageDeviceProperty;
        query.QueryType = PropertyStandardQuery;
        std::memset(buffer.get(), 0, kDescriptorBufferSize);
        DWORD returned = 0;
        if (!::DeviceIoControl(drive.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer.get(),
                               kDescriptorBufferSize, &returned, nullptr))
            continue;
        const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer.get());
        std::string decoded = DecodeDescriptorText(buffer.get(), kDescriptorBufferSize,
                                                   static_cast<long>(descriptor->SerialNumberOffset), true);
        if (serial.empty() && IsUsableDescriptorSerial(decoded)) serial = decoded;
    }
    return serial;
}

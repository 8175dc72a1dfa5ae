#include "install/payload_items.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "archive/callbacks.h"
#include "install/setup_viewer_api.h"
#include "util/owned.h"
#include "util/text.h"

namespace {

const char kHeader[] = "QVITEMS 1";

bool ParseNumber(const std::string& text, int base, unsigned long long limit, unsigned long long& value) {
    if (text.empty() || text.size() > 20) return false;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, base);
    return end && *end == '\0' && value <= limit;
}

bool ParseLine(const std::string& line, PayloadItem& item) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos && fields.size() < 3; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    if (fields.size() != 4 || fields[3].empty()) return false;
    item = PayloadItem();
    item.path = Utf8ToWide(fields[3]);
    if (!SevenZip::intl::IsContainedItemPath(item.path)) return false;
    if (fields[0] == "D") {
        item.isFolder = true;
        return fields[1].empty() && fields[2].empty();
    }
    if (fields[0] != "F") return false;
    unsigned long long number = 0;
    if (!ParseNumber(fields[1], 10, ~0ull, number)) return false;
    item.size = number;
    if (fields[2].empty()) return true;
    if (!ParseNumber(fields[2], 16, 0xFFFFFFFFull, number)) return false;
    item.hasCrc = true;
    item.crc = static_cast<std::uint32_t>(number);
    return true;
}

}  // namespace

std::wstring PayloadItemListPath(const std::wstring& payloadFolder) {
    std::wstring folder = payloadFolder;
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    const size_t slash = folder.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::wstring();
    return folder.substr(0, slash + 1) + QV_PAYLOAD_ITEM_LIST;
}

bool WritePayloadItems(const std::wstring& file, const std::vector<PayloadItem>& items) {
    std::string text = std::string(kHeader) + "\n";
    char number[64];
    for (const PayloadItem& item : items) {
        if (item.isFolder) {
            text += "D\t\t\t";
        } else {
            std::snprintf(number, sizeof number, "F\t%llu\t", static_cast<unsigned long long>(item.size));
            text += number;
            if (item.hasCrc) {
                std::snprintf(number, sizeof number, "%08lx", static_cast<unsigned long>(item.crc));
                text += number;
            }
            text += "\t";
        }
        text += WideToUtf8(item.path) + "\n";
    }
    UniqueFile out(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return false;
    DWORD written = 0;
    return ::WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool ReadPayloadItems(const std::wstring& file, std::vector<PayloadItem>& items) {
    try {
        UniqueFile in(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size = {};
        if (!in || !::GetFileSizeEx(in.get(), &size) || size.QuadPart > (64 << 20)) return false;
        std::string text(static_cast<size_t>(size.QuadPart), '\0');
        DWORD got = 0;
        if (!text.empty() && (!::ReadFile(in.get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr) ||
                              got != text.size()))
            return false;
        size_t start = 0, end = text.find('\n');
        if (end == std::string::npos || text.compare(0, end, kHeader) != 0) return false;
        std::vector<PayloadItem> read;
        for (start = end + 1; start < text.size(); start = end + 1) {
            end = text.find('\n', start);
            if (end == std::string::npos) return false;  // a cut list is no list
            PayloadItem item;
            if (!ParseLine(text.substr(start, end - start), item)) return false;
            read.push_back(item);
        }
        items.swap(read);
        return true;
    } catch (...) {
        return false;
    }
}

#include "contract/payload_items.h"

#include "archive/callbacks.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>

#include "contract/setup_viewer_api.h"
#include "util/path.h"
#include "util/owned.h"
#include "util/text.h"

namespace {

const char kItemsHeader[] = "QVITEMS 2";
const char kManifestHeader[] = "QVMANIFEST 1";

bool ParseNumber(const std::string& text, int base, unsigned long long limit, unsigned long long& value) {
    if (text.empty() || text.size() > 20) return false;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, base);
    return end && *end == '\0' && value <= limit;
}

bool IsHexDigest(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// One item a line: kind (F or D), size, CRC-32 (hex), MD5 (hex), path; the
// numbers and digests empty where unknown, all of them empty for a folder.
bool ParseLine(const std::string& line, PayloadItem& item) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos && fields.size() < 4; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    if (fields.size() != 5 || fields[4].empty()) return false;
    item = PayloadItem();
    item.path = Utf8ToWide(fields[4]);
    if (!SevenZip::intl::IsContainedItemPath(item.path)) return false;
    if (fields[0] == "D") {
        item.isFolder = true;
        return fields[1].empty() && fields[2].empty() && fields[3].empty();
    }
    if (fields[0] != "F") return false;
    unsigned long long number = 0;
    if (!ParseNumber(fields[1], 10, ~0ull, number)) return false;
    item.size = number;
    if (!fields[2].empty()) {
        if (!ParseNumber(fields[2], 16, 0xFFFFFFFFull, number)) return false;
        item.hasCrc = true;
        item.crc = static_cast<std::uint32_t>(number);
    }
    if (!fields[3].empty() && !IsHexDigest(fields[3])) return false;
    item.md5 = fields[3];
    return true;
}

std::string FormatList(const char* header, const std::vector<PayloadItem>& items) {
    std::string text = std::string(header) + "\n";
    char number[64];
    for (const PayloadItem& item : items) {
        if (item.isFolder) {
            text += "D\t\t\t\t";
        } else {
            std::snprintf(number, sizeof number, "F\t%llu\t", static_cast<unsigned long long>(item.size));
            text += number;
            if (item.hasCrc) {
                std::snprintf(number, sizeof number, "%08lx", static_cast<unsigned long>(item.crc));
                text += number;
            }
            text += "\t" + item.md5 + "\t";
        }
        text += WideToUtf8(item.path) + "\n";
    }
    return text;
}

bool WriteWhole(const std::wstring& file, const std::string& text, DWORD disposition) {
    UniqueFile out(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return false;
    DWORD written = 0;
    return ::WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool ParseList(const std::string& text, const char* header, std::vector<PayloadItem>& items) {
    size_t start = 0, end = text.find('\n');
    if (end == std::string::npos || text.compare(0, end, header) != 0) return false;
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
}

bool ReadList(const std::wstring& file, const char* header, std::vector<PayloadItem>& items) {
    try {
        UniqueFile in(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        std::string text;
        return in && ReadWholeFile(in.get(), text) && ParseList(text, header, items);
    } catch (...) {
        return false;
    }
}

}  // namespace

std::wstring PayloadItemListPath(const std::wstring& payloadFolder) {
    const std::wstring folder = WithoutTrailingSeparators(payloadFolder);
    const size_t slash = folder.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::wstring();
    return folder.substr(0, slash + 1) + QV_PAYLOAD_ITEM_LIST;
}

bool WritePayloadItems(const std::wstring& file, const std::vector<PayloadItem>& items) {
    try {
        return WriteWhole(file, FormatList(kItemsHeader, items), CREATE_NEW);
    } catch (...) {
        return false;
    }
}

bool ReadPayloadItems(const std::wstring& file, std::vector<PayloadItem>& items) {
    return ReadList(file, kItemsHeader, items);
}

const wchar_t kManifestName[] = L"manifest.lst";

std::wstring ManifestPath(const std::wstring& installFolder) {
    const std::wstring folder = WithoutTrailingSeparators(installFolder);
    return folder + (folder.back() == L'\\' ? L"" : L"\\") + kManifestName;
}

bool WriteManifest(const std::wstring& file, const std::vector<PayloadItem>& items) {
    try {
        return WriteWhole(file, FormatList(kManifestHeader, items), CREATE_ALWAYS);
    } catch (...) {
        return false;
    }
}

bool ReadWholeFile(HANDLE file, std::string& text) {
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart > (64 << 20)) return false;
    try {
        text.assign(static_cast<size_t>(size.QuadPart), '\0');
    } catch (...) {
        return false;
    }
    DWORD got = 0;
    return text.empty() ||
           (::ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr) && got == text.size());
}

std::string ManifestText(const std::vector<PayloadItem>& items) { return FormatList(kManifestHeader, items); }

bool ReadManifest(const std::wstring& file, std::vector<PayloadItem>& items) {
    UniqueFile in(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    return in && ReadWholeFile(in.get(), text) && ParseManifest(text, items);
}

bool ParseManifest(const std::string& text, std::vector<PayloadItem>& items) {
    std::vector<PayloadItem> read;
    try {
        if (!ParseList(text, kManifestHeader, read)) return false;
    } catch (...) {
        return false;
    }
    // An installation lists each path once: a list that names one twice (in
    // any letter case or with either separator) was not written by it and
    // is taken as damaged.
    try {
        std::set<std::wstring> seen;
        for (const PayloadItem& item : read) {
            std::wstring key = item.path;
            for (wchar_t& c : key)
                if (c == L'/') c = L'\\';
            if (!key.empty()) ::CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
            if (!seen.insert(key).second) return false;
        }
    } catch (...) {
        return false;
    }
    items.swap(read);
    return true;
}

std::vector<ListedDigest> ParseDigestList(const std::string& text) {
    std::vector<ListedDigest> list;
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line.size() < 35 || line.compare(32, 2, "  ") != 0) continue;
        const std::string digest = line.substr(0, 32);
        if (!IsHexDigest(digest)) continue;
        std::wstring path = Utf8ToWide(line.substr(34));
        for (wchar_t& c : path)
            if (c == L'/') c = L'\\';
        list.push_back(ListedDigest{path, digest});
    }
    return list;
}

std::string ListedDigestOf(const std::vector<ListedDigest>& list, const std::wstring& path) {
    for (const ListedDigest& listed : list)
        if (SameName(listed.path, path)) return listed.md5;
    return std::string();
}

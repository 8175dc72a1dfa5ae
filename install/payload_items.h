#pragma once
// The list of what the payload extraction wrote, handed from the installer
// to the helper library: the helper installs exactly these items and nothing
// else it may find in the payload folder. The installer writes the list into
// its private folder, beside the payload folder (QV_PAYLOAD_ITEM_LIST).
#include <cstdint>
#include <string>
#include <vector>

struct PayloadItem {
    std::wstring path;  // relative to the payload folder
    bool isFolder = false;
    std::uint64_t size = 0;
    bool hasCrc = false;
    std::uint32_t crc = 0;  // CRC-32 of the content, as the archive states it
};

// The list file beside a payload folder: its parent folder + QV_PAYLOAD_ITEM_LIST.
std::wstring PayloadItemListPath(const std::wstring& payloadFolder);
// Writes the list (UTF-8, one item a line); false when it cannot be written whole.
bool WritePayloadItems(const std::wstring& file, const std::vector<PayloadItem>& items);
// Reads a list written by WritePayloadItems. False for a missing or damaged
// file, or an item whose path could leave the payload folder.
bool ReadPayloadItems(const std::wstring& file, std::vector<PayloadItem>& items);

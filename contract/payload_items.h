#pragma once
// Lists of items kept in text files: what the payload extraction wrote
// (handed from the installer to the helper library, which installs exactly
// these and nothing else it may find in the payload folder) and what an
// installation put into its folder (its manifest, which a reinstall and the
// uninstaller go by). Both share one line format.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct PayloadItem {
    std::wstring path;  // relative to the payload or installation folder
    bool isFolder = false;
    std::uint64_t size = 0;
    bool hasCrc = false;
    std::uint32_t crc = 0;  // CRC-32 of the content, as the archive states it
    std::string md5;        // MD5 of the content as extracted or installed; empty when unknown
};

// The payload list beside a payload folder: its parent folder + QV_PAYLOAD_ITEM_LIST.
std::wstring PayloadItemListPath(const std::wstring& payloadFolder);
// Writes the payload list (UTF-8, one item a line) as a new file; false when
// it cannot be written whole.
bool WritePayloadItems(const std::wstring& file, const std::vector<PayloadItem>& items);
// Reads a list written by WritePayloadItems. False for a missing or damaged
// file, or an item whose path could leave its folder.
bool ReadPayloadItems(const std::wstring& file, std::vector<PayloadItem>& items);

// The manifest of an installation: installation folder + kManifestName.
extern const wchar_t kManifestName[];
std::wstring ManifestPath(const std::wstring& installFolder);
// Writes a manifest (replacing an existing file); the same rules as above.
bool WriteManifest(const std::wstring& file, const std::vector<PayloadItem>& items);
// Reads a manifest; false for a damaged one (also one that lists a path twice).
bool ReadManifest(const std::wstring& file, std::vector<PayloadItem>& items);
// The same from and to the text of a manifest.
bool ParseManifest(const std::string& text, std::vector<PayloadItem>& items);
std::string ManifestText(const std::vector<PayloadItem>& items);
// The payload's own list of digests (QV_PAYLOAD_CHECKSUMS at its top, made
// when the payload is built): "<md5>  <path>" lines, paths with '/' or '\'.
// Each well-formed line gives a path (with '\') and its lower-case hex MD5;
// other lines are passed over.
struct ListedDigest {
    std::wstring path;
    std::string md5;
};
std::vector<ListedDigest> ParseDigestList(const std::string& text);
// The digest the list gives a path (compared as file names are), or empty.
std::string ListedDigestOf(const std::vector<ListedDigest>& list, const std::wstring& path);

// Reads an open file whole (up to 64 MiB) from its current position.
bool ReadWholeFile(HANDLE file, std::string& text);

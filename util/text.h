#pragma once
// Conversions between UTF-16 (wide), UTF-8 and the ANSI code page, and the
// in-place string operations shared by the path, settings and identity code.
#include <string>
#include <vector>

// Conversions read their input up to its first NUL and never fail: text the
// platform cannot size converts to the empty string.
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
std::wstring AnsiToWide(const std::string& text);

// Removes every trailing `ch` (and everything from the first embedded NUL on).
void TrimEnd(std::wstring& text, wchar_t ch);
// Removes every leading and trailing `ch` (and everything from the first embedded NUL on).
void Trim(std::wstring& text, wchar_t ch);
// Replaces every occurrence of `search`, left to right; inserted text is not
// searched again. An empty search text changes nothing.
void ReplaceAll(std::wstring& text, const std::wstring& search, const std::wstring& replacement);
// Appends the pieces of `text` between occurrences of `delimiter` to `pieces`.
// Pieces are trimmed of U+0008; a text ending in the delimiter gives no
// trailing empty piece. An empty delimiter appends the whole text.
// The same name, letter case aside (ordinal: as the file system compares).
bool SameName(const std::wstring& a, const std::wstring& b);
void Split(const std::wstring& text, const std::wstring& delimiter, std::vector<std::wstring>& pieces, bool skipEmpty);

// Bytes as lowercase hexadecimal, two digits each, and back; FromHex is
// false for text of odd length or with another character.
std::string ToHex(const std::string& bytes);
bool FromHex(const std::string& text, std::string& bytes);

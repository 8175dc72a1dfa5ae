#include "util/text.h"

#include <windows.h>

#include <exception>
#include <memory>

namespace {

std::wstring MultiByteToWideText(UINT codePage, const std::string& text) {
    // The input is passed NUL-terminated, so it is read up to its first NUL.
    int size = ::MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 0) return std::wstring();
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[size + 1]());
    ::MultiByteToWideChar(codePage, 0, text.c_str(), -1, buffer.get(), size);
    return std::wstring(buffer.get());
}

// Copies `text` up to its first NUL; the result holds no embedded NUL.
std::wstring UpToNul(const std::wstring& text) { return std::wstring(text.c_str()); }

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::unique_ptr<char[]> buffer(new char[size + 1]());
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buffer.get(), size, nullptr, nullptr);
    return std::string(buffer.get());
}

std::wstring Utf8ToWide(const std::string& text) { return MultiByteToWideText(CP_UTF8, text); }

std::wstring AnsiToWide(const std::string& text) { return MultiByteToWideText(CP_ACP, text); }

void TrimEnd(std::wstring& text, wchar_t ch) {
    if (text.empty()) return;
    std::wstring work = UpToNul(text);
    size_t end = work.size();
    while (end > 0 && work[end - 1] == ch) --end;
    work.resize(end);
    text = std::move(work);
}

void Trim(std::wstring& text, wchar_t ch) {
    if (text.empty()) return;
    TrimEnd(text, ch);
    size_t start = 0;
    while (start < text.size() && text[start] == ch) ++start;
    text.erase(0, start);
}

void ReplaceAll(std::wstring& text, const std::wstring& search, const std::wstring& replacement) {
    if (text.empty() || search.empty()) return;
    size_t pos = 0;
    while ((pos = text.find(search, pos)) != std::wstring::npos) {
        text.replace(pos, search.size(), replacement);
        pos += replacement.size();
    }
}

void Split(const std::wstring& text, const std::wstring& delimiter, std::vector<std::wstring>& pieces, bool skipEmpty) {
    try {
        size_t pos = delimiter.empty() ? std::wstring::npos : text.find(delimiter);
        if (pos == std::wstring::npos) {
            if (!(text.empty() && skipEmpty)) pieces.push_back(text);
            return;
        }
        auto appendPiece = [&](std::wstring piece) {
            Trim(piece, L'\b');
            if (!(piece.empty() && skipEmpty)) pieces.push_back(std::move(piece));
        };
        size_t start = 0;
        while (pos != std::wstring::npos) {
            appendPiece(text.substr(start, pos - start));
            start = pos + delimiter.size();
            pos = text.find(delimiter, start);
        }
        if (start < text.size()) appendPiece(text.substr(start));
    } catch (const std::exception&) {
        // The pieces appended so far stay in the list.
    }
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::string ToHex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

bool FromHex(const std::string& text, std::string& bytes) {
    auto nibble = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
    bytes.clear();
    if (text.size() % 2) return false;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]), low = nibble(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

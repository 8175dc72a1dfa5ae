#include <gtest/gtest.h>

#include "util/crc32.h"
#include "util/text.h"

using Pieces = std::vector<std::wstring>;

TEST(TextConversion, Utf8RoundTripAndKnownBytes) {
    EXPECT_EQ(WideToUtf8(L""), "");
    EXPECT_EQ(WideToUtf8(L"\u00fc"), "\xC3\xBC");
    EXPECT_EQ(Utf8ToWide("\xE4\xBD\xA0"), L"\u4F60");
    const std::wstring chinese = L"Quiview\u5b89\u88c5 \u5fae\u8f6f\u96c5\u9ed1";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(chinese)), chinese);
    // A surrogate pair survives the round trip as one 4-byte sequence.
    EXPECT_EQ(WideToUtf8(L"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
}

TEST(TextConversion, StopsAtFirstNulAndNeverFails) {
    EXPECT_EQ(WideToUtf8(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(Utf8ToWide(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(AnsiToWide(std::string("xy\0z", 4)), L"xy");
    // A multi-byte sequence cut in the middle still converts.
    std::wstring cut = Utf8ToWide("a\xE4\xBD");
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(cut[0], L'a');
    EXPECT_EQ(cut.find(L'\0'), std::wstring::npos);
    EXPECT_EQ(AnsiToWide("plain ASCII"), L"plain ASCII");
}

TEST(TextTrim, TrimEndAndTrim) {
    std::wstring path = L"C:\\a\\b\\\\\\";
    TrimEnd(path, L'\\');
    EXPECT_EQ(path, L"C:\\a\\b");
    std::wstring lead = L"\\\\x";
    TrimEnd(lead, L'\\');
    EXPECT_EQ(lead, L"\\\\x");

    std::wstring spaced = L"  a b  ";
    Trim(spaced, L' ');
    EXPECT_EQ(spaced, L"a b");
    std::wstring only = L"\"\"\"";
    Trim(only, L'"');
    EXPECT_EQ(only, L"");
    std::wstring empty;
    Trim(empty, L' ');
    TrimEnd(empty, L' ');
    EXPECT_EQ(empty, L"");

    std::wstring nul(L" a \0 b ", 7);
    Trim(nul, L' ');
    EXPECT_EQ(nul, L"a");
    std::wstring nulEnd(L"a\\\0b\\", 5);
    TrimEnd(nulEnd, L'\\');
    EXPECT_EQ(nulEnd, L"a");
}

TEST(TextReplace, ReplacesEveryOccurrenceWithoutRescanning) {
    std::wstring slashes = L"/a//b/";
    ReplaceAll(slashes, L"/", L"\\");
    EXPECT_EQ(slashes, L"\\a\\\\b\\");
    std::wstring empty;
    ReplaceAll(empty, L"/", L"\\");
    EXPECT_EQ(empty, L"");
    // The replacement contains the search text: the scan resumes behind it.
    std::wstring grow = L"aXa";
    ReplaceAll(grow, L"a", L"aa");
    EXPECT_EQ(grow, L"aaXaa");
    std::wstring unchanged = L"abc";
    ReplaceAll(unchanged, L"", L"z");
    EXPECT_EQ(unchanged, L"abc");
    std::wstring longer = L"one--two----three";
    ReplaceAll(longer, L"--", L"-");
    EXPECT_EQ(longer, L"one-two--three");
}

TEST(TextSplit, PiecesAtASpace) {
    auto split = [](const std::wstring& text, bool skipEmpty) {
        Pieces pieces;
        Split(text, L" ", pieces, skipEmpty);
        return pieces;
    };
    EXPECT_EQ(split(L"a b", false), (Pieces{L"a", L"b"}));
    EXPECT_EQ(split(L" a", false), (Pieces{L"", L"a"}));
    EXPECT_EQ(split(L"a ", false), (Pieces{L"a"}));
    EXPECT_EQ(split(L"a  b", false), (Pieces{L"a", L"", L"b"}));
    EXPECT_EQ(split(L"a  b", true), (Pieces{L"a", L"b"}));
    EXPECT_EQ(split(L" a", true), (Pieces{L"a"}));
    EXPECT_EQ(split(L"", false), (Pieces{L""}));
    EXPECT_EQ(split(L"", true), (Pieces{}));
}

TEST(TextSplit, BackspaceTrimmingAndAppendOnlyList) {
    Pieces pieces{L"earlier"};
    Split(L"\bx\b y\b\b", L" ", pieces, false);
    EXPECT_EQ(pieces, (Pieces{L"earlier", L"x", L"y"}));

    // Without a delimiter the text is appended as it is, U+0008 included.
    Pieces whole;
    Split(L"\bword\b", L" ", whole, true);
    EXPECT_EQ(whole, (Pieces{L"\bword\b"}));

    // A piece made only of U+0008 becomes empty and is dropped when asked.
    Pieces dropped;
    Split(L"a \b\b b", L" ", dropped, true);
    EXPECT_EQ(dropped, (Pieces{L"a", L"b"}));

    Pieces multi;
    Split(L"k=1;;k=2", L";;", multi, false);
    EXPECT_EQ(multi, (Pieces{L"k=1", L"k=2"}));

    Pieces noDelimiter;
    Split(L"a b", L"", noDelimiter, false);
    EXPECT_EQ(noDelimiter, (Pieces{L"a b"}));
}

// Runs long enough for the folding path, at every alignment and with every
// tail length, against the checksum taken one bit at a time.
TEST(Checksum, Crc32LongRunsMatchTheBitwiseDefinition) {
    std::string bytes(1500, '\0');
    unsigned state = 1;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    const auto bitwise = [](std::uint32_t crc, const char* p, size_t n) {
        crc = ~crc;
        while (n--) {
            crc ^= static_cast<unsigned char>(*p++);
            for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        return ~crc;
    };
    for (size_t offset = 0; offset < 16; offset += 5)
        for (size_t size = 60; size < 1400; size += 13)
            ASSERT_EQ(Crc32Update(0x89abcdefu, bytes.data() + offset, size),
                      bitwise(0x89abcdefu, bytes.data() + offset, size))
                << offset << " " << size;
}

// Known values of the standard check string and of pieces fed one by one.
TEST(Checksum, Crc32KnownValuesAndPieces) {
    EXPECT_EQ(Crc32Update(0, "", 0), 0u);
    EXPECT_EQ(Crc32Update(0, "123456789", 9), 0xCBF43926u);
    const std::string text = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(Crc32Update(0, text.data(), text.size()), 0x414FA339u);
    for (size_t split : {size_t(1), size_t(7), size_t(8), size_t(9), size_t(40)}) {
        std::uint32_t crc = Crc32Update(0, text.data(), split);
        EXPECT_EQ(Crc32Update(crc, text.data() + split, text.size() - split), 0x414FA339u) << split;
    }
}

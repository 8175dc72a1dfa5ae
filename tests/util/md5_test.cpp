#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>

#include "util/md5.h"
#include "test_support.h"

namespace {

std::string HexOf(const std::string& bytes) {
    CMd5 md5;
    md5.Update(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    return md5.HexDigest();
}

// Bytes whose value depends on their position, so that misplaced pieces show.
std::string PatternBytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7) & 0xff);
    return s;
}

}  // namespace

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(HexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(HexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(HexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(HexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(HexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(HexOf("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                    "7890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingAcrossTheBlockBoundary) {
    EXPECT_EQ(HexOf(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(HexOf(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(HexOf(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(HexOf(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(HexOf(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
}

TEST(Md5, PiecewiseUpdatesAndRawDigest) {
    const std::string data = PatternBytes(5000);
    const std::string expected = "a639f24b2f2ecd1457eec6a7af942894";
    EXPECT_EQ(HexOf(data), expected);
    // Pieces of odd sizes, some across block boundaries, some zero-length.
    const size_t sizes[] = {1, 0, 63, 2, 64, 129, 7, 1000, 3};
    CMd5 md5;
    size_t at = 0, i = 0;
    while (at < data.size()) {
        size_t n = std::min(sizes[i++ % 9], data.size() - at);
        md5.Update(data.data() + at, static_cast<std::uint32_t>(n));
        at += n;
    }
    std::string first = md5.HexDigest();
    EXPECT_EQ(first, expected);
    EXPECT_EQ(md5.HexDigest(), first);  // asking again changes nothing
    EXPECT_EQ(DigestToHex(md5.Digest()), expected);

    Md5Digest raw = md5.Digest();
    EXPECT_EQ(raw[0], 0xa6);
    EXPECT_EQ(raw[15], 0x94);
}

TEST(Md5, HexTextIsLowerCaseAnd32Characters) {
    Md5Digest d;
    for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<unsigned char>(0xF0 | i);
    std::string hex = DigestToHex(d);
    EXPECT_EQ(hex, "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    for (int n : {0, 1, 17, 300}) {
        std::string h = HexOf(PatternBytes(n));
        ASSERT_EQ(h.size(), 32u);
        for (char c : h) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f'));
    }
}

TEST(Md5File, DigestsOfRealFiles) {
    qvtest::TempDir dir;
    const std::wstring empty = dir / L"empty.bin";
    qvtest::WriteBytes(empty, "");
    EXPECT_EQ(DigestFile(empty), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DigestFile(dir / L"missing.bin"), "");
    EXPECT_EQ(DigestFile(L""), "");

    // Larger than the 1024-byte reads and not a multiple of them.
    const std::string data = PatternBytes(5000);
    const std::wstring file = dir / L"\u6570\u636e.bin";
    qvtest::WriteBytes(file, data);
    EXPECT_EQ(DigestFile(file), HexOf(data));

    // A file held open for writing by someone else is still read.
    HANDLE writer = ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(DigestFile(file), HexOf(data));
    ::CloseHandle(writer);
}

TEST(Md5File, StreamIsClosedAndFailedStreamIgnored) {
    qvtest::TempDir dir;
    const std::wstring file = dir / L"s.bin";
    qvtest::WriteBytes(file, "abc");
    std::ifstream stream(file.c_str(), std::ios::binary);
    CMd5 md5;
    md5.UpdateFromStream(stream);
    EXPECT_FALSE(stream.is_open());
    EXPECT_EQ(md5.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");

    std::ifstream failed((dir / L"missing").c_str(), std::ios::binary);
    CMd5 untouched;
    untouched.UpdateFromStream(failed);
    EXPECT_EQ(untouched.HexDigest(), "d41d8cd98f00b204e9800998ecf8427e");
}

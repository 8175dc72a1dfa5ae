#include <gtest/gtest.h>

#include <windows.h>

#include <random>
#include <string>

#include "util/owned.h"
#include "util/sha256.h"
#include "test_support.h"

namespace {

std::string Hex(const Sha256Digest& digest) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : digest) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}

std::string HexOf(const std::string& bytes, CSha256::Engine engine = CSha256::Engine::kFastest) {
    CSha256 sha(engine);
    sha.Update(bytes.data(), bytes.size());
    return Hex(sha.Final());
}

std::string RandomData(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(random());
    return data;
}

const CSha256::Engine kEngines[] = {CSha256::Engine::kFastest, CSha256::Engine::kPortable};

}  // namespace

TEST(Sha256, KnownVectorsOnEveryEngine) {
    for (CSha256::Engine engine : kEngines) {
        SCOPED_TRACE(engine == CSha256::Engine::kPortable ? "portable" : "fastest");
        EXPECT_EQ(HexOf("", engine), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(HexOf("abc", engine), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", engine),
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        // A million 'a', fed in pieces that cross block boundaries.
        CSha256 sha(engine);
        const std::string piece(1001, 'a');
        for (int i = 0; i < 999; ++i) sha.Update(piece.data(), 1001);
        sha.Update(piece.data(), 1000000 - 999 * 1001);
        EXPECT_EQ(Hex(sha.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
        // Final starts the context over.
        EXPECT_EQ(Hex(sha.Final()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    }
}

TEST(Sha256, AcceleratedAndPortableAgreeOnRandomData) {
    if (!CSha256::ProcessorHasShaExtensions()) GTEST_SKIP() << "this processor has no SHA extensions";
    EXPECT_TRUE(CSha256(CSha256::Engine::kFastest).Accelerated());
    EXPECT_FALSE(CSha256(CSha256::Engine::kPortable).Accelerated());
    const std::string data = RandomData(300000, 42);
    // Every length around the padding boundaries, then long odd lengths.
    for (size_t size : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 4097u, 299999u, 300000u}) {
        const std::string part = data.substr(0, size);
        EXPECT_EQ(HexOf(part, CSha256::Engine::kFastest), HexOf(part, CSha256::Engine::kPortable)) << size;
    }
}

TEST(Sha256, FileDigestReadsTheWholeFileWhateverItsPosition) {
    qvtest::TempDir dir;
    // More than one read's worth, not a multiple of it.
    const std::string content = RandomData((3 << 20) + 12345, 7);
    const std::wstring path = dir / L"data.bin";
    qvtest::WriteBytes(path, content);
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    ::SetFilePointer(file.get(), 1000, nullptr, FILE_BEGIN);
    Sha256Digest digest{};
    ASSERT_TRUE(Sha256OfFile(file.get(), &digest));
    EXPECT_EQ(Hex(digest), HexOf(content));

    qvtest::WriteBytes(dir / L"empty.bin", "");
    UniqueFile empty(::CreateFileW((dir / L"empty.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(Sha256OfFile(empty.get(), &digest));
    EXPECT_EQ(Hex(digest), HexOf(""));

    // A handle without read access.
    UniqueFile attributesOnly(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(Sha256OfFile(attributesOnly.get(), &digest));
}

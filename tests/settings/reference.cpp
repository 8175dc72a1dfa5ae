#include "reference.h"

#include <cmath>

#include "settings/page_cipher.h"
#include "util/text.h"

namespace reftest {

namespace {

std::uint32_t Rotl(std::uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

std::vector<std::uint32_t> Words(const std::string& bytes) {
    std::vector<std::uint32_t> w(bytes.size() / 4);
    for (size_t i = 0; i < w.size(); ++i)
        for (int b = 3; b >= 0; --b) w[i] = (w[i] << 8) | static_cast<unsigned char>(bytes[4 * i + b]);
    return w;
}

void PutWords(std::string& bytes, const std::vector<std::uint32_t>& w) {
    for (size_t i = 0; i < w.size(); ++i)
        for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<char>(w[i] >> (8 * b));
}

std::uint32_t Mx(std::uint32_t y, std::uint32_t z, std::uint32_t sum, const std::vector<std::uint32_t>& k, size_t p,
                 unsigned e) {
    return (((z >> 5) ^ (y << 2)) + ((y >> 3) ^ (z << 4))) ^ ((sum ^ y) + (k[(p & 3) ^ e] ^ z));
}

void Xxtea(std::string& bytes, const std::string& digest, bool encipher) {
    std::vector<std::uint32_t> v = Words(bytes), k = Words(digest);
    const size_t n = v.size();
    const unsigned rounds = 6 + 52 / static_cast<unsigned>(n);
    const std::uint32_t delta = 0x9E3779B9u;
    std::uint32_t sum = encipher ? 0 : rounds * delta;
    for (unsigned r = 0; r < rounds; ++r) {
        if (encipher) sum += delta;
        const unsigned e = (sum >> 2) & 3;
        for (size_t i = 0; i < n; ++i) {
            const size_t p = encipher ? i : n - 1 - i;
            const std::uint32_t y = v[(p + 1) % n], z = v[(p + n - 1) % n];
            if (encipher)
                v[p] += Mx(y, z, sum, k, p, e);
            else
                v[p] -= Mx(y, z, sum, k, p, e);
        }
        if (!encipher) sum -= delta;
    }
    PutWords(bytes, v);
}

}  // namespace

std::string Md5(const std::string& message) {
    static const int shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    std::string m = message + '\x80';
    while (m.size() % 64 != 56) m += '\0';
    const unsigned long long bits = message.size() * 8ull;
    for (int i = 0; i < 8; ++i) m += static_cast<char>(bits >> (8 * i));
    for (size_t chunk = 0; chunk < m.size(); chunk += 64) {
        const std::vector<std::uint32_t> w = Words(m.substr(chunk, 64));
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f;
            int g;
            switch (i / 16) {
            case 0:
                f = (b & c) | (~b & d);
                g = i;
                break;
            case 1:
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
                break;
            case 2:
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
                break;
            default:
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
                break;
            }
            const std::uint32_t t = static_cast<std::uint32_t>(std::fabs(std::sin(i + 1.0)) * 4294967296.0);
            f += a + t + w[g];
            a = d;
            d = c;
            c = b;
            b += Rotl(f, shifts[i / 16][i % 4]);
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }
    std::string digest(16, '\0');
    PutWords(digest, std::vector<std::uint32_t>(h, h + 4));
    return digest;
}

void EncipherPage(std::string& bytes, const std::string& digest) { Xxtea(bytes, digest, true); }
void DecipherPage(std::string& bytes, const std::string& digest) { Xxtea(bytes, digest, false); }

std::string StoreKeyBytes() {
    std::string bytes;
    for (char ch : std::string("kestova")) bytes += std::string{ch, '\0'};
    return bytes;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char ch : bytes) out += std::string{digits[ch >> 4], digits[ch & 15]};
    return out;
}

RawDb::RawDb(const std::wstring& path, const std::string& key) {
    sqlite3_open(WideToUtf8(path).c_str(), &db_);
    if (!key.empty()) sqlite3_key(db_, key.data(), static_cast<int>(key.size()));
}

RawDb::~RawDb() { sqlite3_close(db_); }

int RawDb::Exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }

std::vector<std::string> RawDb::Rows(const std::string& sql, int* rc) {
    std::vector<std::string> rows;
    auto collect = [](void* out, int n, char** values, char**) {
        std::string row;
        for (int i = 0; i < n; ++i) row += (i ? "|" : "") + std::string(values[i] ? values[i] : "NULL");
        static_cast<std::vector<std::string>*>(out)->push_back(row);
        return 0;
    };
    const int result = sqlite3_exec(db_, sql.c_str(), collect, &rows, nullptr);
    if (rc) *rc = result;
    return rows;
}

void MakeTable(const std::wstring& path, const std::string& key, int pageSize, int rows) {
    RawDb db(path, key);
    db.Exec("PRAGMA page_size=" + std::to_string(pageSize));
    db.Exec("CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)");
    db.Exec("WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM c WHERE i<" + std::to_string(rows) +
            ") INSERT INTO t SELECT i, printf('original-%05d-%s', i, hex(randomblob(24))) FROM c");
}

}  // namespace reftest

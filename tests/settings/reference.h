#pragma once
// Test-side helpers: an MD5 and an XXTEA written from the published
// algorithms (independent of the product's code), and a raw SQLite connection.
#include <cstdint>
#include <string>
#include <vector>

#include "settings/page_cipher.h"

namespace reftest {

// RFC 1321 digest of the bytes.
std::string Md5(const std::string& bytes);
// The page transform written out independently: XXTEA over the little-endian
// words of `bytes` under the digest's four little-endian words.
void EncipherPage(std::string& bytes, const std::string& digest);
void DecipherPage(std::string& bytes, const std::string& digest);

// The key bytes the store hands over: "kestova" as UTF-16LE (14 bytes).
std::string StoreKeyBytes();
std::string Hex(const std::string& bytes);

// A connection opened through sqlite3_open and keyed with `key` (none if empty).
class RawDb {
public:
    RawDb(const std::wstring& path, const std::string& key);
    ~RawDb();
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;
    int Exec(const std::string& sql);
    // Every row as its columns joined by '|'; `rc` receives sqlite3_exec's result.
    std::vector<std::string> Rows(const std::string& sql, int* rc = nullptr);
    sqlite3* get() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// Creates table t(id, v) with `rows` rows at the given page size.
void MakeTable(const std::wstring& path, const std::string& key, int pageSize, int rows);

}  // namespace reftest

// Prints the settings held in a config.dat, one "key<TAB>value" line per row
// in the order they were first written. The file is opened read-only and is
// never changed. Usage: configdump [--key TEXT | --plain] FILE
// (default key text "kestova", handed over as UTF-16LE like the store does).
#include <windows.h>

#include <cstdio>
#include <string>

#include "settings/page_cipher.h"
#include "util/text.h"

namespace {

int Fail(const std::wstring& path, const std::string& why) {
    std::fprintf(stderr, "configdump: %s: %s\n", WideToUtf8(path).c_str(), why.c_str());
    return 1;
}

struct Connection {
    sqlite3* db = nullptr;
    ~Connection() { sqlite3_close(db); }
};
struct Statement {
    sqlite3_stmt* statement = nullptr;
    ~Statement() { sqlite3_finalize(statement); }
};

std::string Explain(int rc, sqlite3* db) {
    switch (rc) {
    case SQLITE_NOTADB: return "cannot be read: enciphered under another key, or not a settings database";
    case SQLITE_READONLY_ROLLBACK:
        return "holds an interrupted transaction (a -journal file lies beside it); open it with the viewer "
               "to roll it back, then try again";
    default: return std::string("cannot be read: ") + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring keyText = L"kestova", path;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--key" && i + 1 < argc)
            keyText = argv[++i];
        else if (arg == L"--plain")
            keyText.clear();
        else if (path.empty())
            path = arg;
        else
            path.clear(), i = argc;
    }
    if (path.empty()) {
        std::fprintf(stderr, "usage: configdump [--key TEXT | --plain] FILE\n");
        return 2;
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Fail(path, "no such file");
        return Fail(path, "cannot be opened (error " + std::to_string(error) + ")");
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(path, "is a folder");

    Connection connection;
    int rc = sqlite3_open_v2(WideToUtf8(path).c_str(), &connection.db, SQLITE_OPEN_READONLY, nullptr);
    if (rc != SQLITE_OK) return Fail(path, Explain(rc, connection.db));
    if (!keyText.empty() &&
        sqlite3_key(connection.db, keyText.data(), static_cast<int>(keyText.size() * sizeof(wchar_t))) != SQLITE_OK)
        return Fail(path, "cannot be keyed");

    Statement query;
    rc = sqlite3_prepare_v2(connection.db, "SELECT key, value FROM kestova ORDER BY rowid", -1, &query.statement,
                            nullptr);
    if (rc != SQLITE_OK) {
        if (rc == SQLITE_ERROR && sqlite3_extended_errcode(connection.db) == SQLITE_ERROR)
            return Fail(path, "holds no settings table");
        return Fail(path, Explain(sqlite3_extended_errcode(connection.db), connection.db));
    }
    while ((rc = sqlite3_step(query.statement)) == SQLITE_ROW) {
        const unsigned char* key = sqlite3_column_text(query.statement, 0);
        const unsigned char* value = sqlite3_column_text(query.statement, 1);
        std::printf("%s\t%s\n", key ? reinterpret_cast<const char*>(key) : "",
                    value ? reinterpret_cast<const char*>(value) : "");
    }
    if (rc != SQLITE_DONE) return Fail(path, Explain(sqlite3_extended_errcode(connection.db), connection.db));
    return 0;
}

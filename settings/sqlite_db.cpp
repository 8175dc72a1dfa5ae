#include "settings/sqlite_db.h"

#include "settings/page_cipher.h"
#include "util/text.h"

CSqliteStmt::~CSqliteStmt() {
    if (m_statement) sqlite3_finalize(m_statement);
}

CSqliteDb::~CSqliteDb() { Close(); }

void CSqliteDb::Close() {
    if (m_db) sqlite3_close(m_db);
    m_db = nullptr;
}

int CSqliteDb::Open(const std::string& path, const std::string& keyText) {
    m_path = path;
    Close();
    // A failed open may still hand out a handle; it is kept so that it is closed.
    return Key(sqlite3_open(path.c_str(), &m_db), keyText);
}

int CSqliteDb::OpenReadOnly(const std::string& path, const std::string& keyText) {
    m_path = path;
    Close();
    return Key(sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READONLY, nullptr), keyText);
}

int CSqliteDb::Key(int openResult, const std::string& keyText) {
    if (openResult != SQLITE_OK || keyText.empty()) return openResult;
    const std::wstring wide = AnsiToWide(keyText);
    // The key's own result is not examined: a file that cannot be keyed (an
    // in-memory database) reports it here, and for a real file the first read
    // decides (a wrong or missing key reads as "not a database").
    sqlite3_key(m_db, wide.data(), static_cast<int>(wide.size() * 2));
    return openResult;
}

int CSqliteDb::Exec(const std::string& statement) {
    sqlite3_stmt* handle = nullptr;
    if (sqlite3_prepare(m_db, statement.c_str(), -1, &handle, nullptr) != SQLITE_OK) handle = nullptr;
    CSqliteStmt holder(handle);
    // A failed preparation shows as the step's misuse code.
    const int rc = sqlite3_step(holder.get());
    if (rc == SQLITE_DONE) sqlite3_reset(holder.get());
    return rc;
}

namespace {

// Called from SQLite's C code: an allocation failure ends the query (the
// result is then SQLITE_ABORT) instead of unwinding through SQLite.
int CollectRow(void* context, int columns, char** values, char**) {
    try {
        QueryRows& rows = *static_cast<QueryRows*>(context);
        rows.emplace_back();
        for (int i = 0; i < columns; ++i) rows.back().emplace_back(values[i] ? values[i] : "");
        return 0;
    } catch (...) {
        return 1;
    }
}

}  // namespace

int CSqliteDb::Query(const std::string& statement, QueryRows& rows) {
    rows.clear();
    return sqlite3_exec(m_db, statement.c_str(), CollectRow, &rows, nullptr);
}

#pragma once
// A thin owner of one SQLite connection and of prepared statements, with the
// few operations the settings store needs.
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// Rows of texts, each row one text per column in column order.
using QueryRows = std::vector<std::vector<std::string>>;

// Owns a prepared statement (null when preparation failed) and finalises it.
class CSqliteStmt {
public:
    explicit CSqliteStmt(sqlite3_stmt* statement) : m_statement(statement) {}
    virtual ~CSqliteStmt();
    CSqliteStmt(const CSqliteStmt&) = delete;
    CSqliteStmt& operator=(const CSqliteStmt&) = delete;

    sqlite3_stmt* get() const { return m_statement; }

private:
    sqlite3_stmt* m_statement;
};

// Owns a connection handle (null when none) and closes it when reopened,
// closed or destroyed.
class CSqliteDb {
public:
    CSqliteDb() = default;
    virtual ~CSqliteDb();
    CSqliteDb(const CSqliteDb&) = delete;
    CSqliteDb& operator=(const CSqliteDb&) = delete;

    // Opens the UTF-8 path; with a non-empty key text, keys the database with
    // the UTF-16LE bytes of that text (taken through the ANSI code page).
    // Returns the result code of the open.
    int Open(const std::string& path, const std::string& keyText);
    // The same for reading only: the file is never created or changed.
    int OpenReadOnly(const std::string& path, const std::string& keyText);
    // Prepares and steps the statement once; SQLITE_DONE (101) is success.
    int Exec(const std::string& statement);
    // Runs the statement(s) and collects every row; SQLITE_OK (0) is success.
    // A NULL column reads as the empty text.
    int Query(const std::string& statement, QueryRows& rows);
    void Close();

    const std::string& Path() const { return m_path; }

private:
    int Key(int openResult, const std::string& keyText);

    sqlite3* m_db = nullptr;
    std::string m_path;
};

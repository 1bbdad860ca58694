#pragma once
// A small RAII layer over the SQLite C API, shared by every component that
// talks to a database. It adds ownership and nothing else: preparation and
// stepping report SQLite result codes, and each component turns them into its
// own error type with the texts it defines.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orlune::core::sqlite {

// SQLite's message for the last failure on `db`, or "Unknown error" when there
// is no connection or SQLite gives no text.
std::string errorMessage(sqlite3* db);

// Owns one connection; closes it on destruction. Move-only.
class Connection {
public:
    Connection() = default;
    explicit Connection(sqlite3* db) : db_(db) {}
    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Connection(Connection&& other) noexcept : db_(other.release()) {}
    Connection& operator=(Connection&& other) noexcept;

    // Opens `filename` with sqlite3_open_v2. Returns the result code; the
    // handle (if SQLite made one) is kept either way so that errorMessage()
    // can read the failure, and is closed with the object.
    int open(const std::string& filename, int flags);

    sqlite3* get() const { return db_; }
    explicit operator bool() const { return db_ != nullptr; }
    sqlite3* release() {
        sqlite3* db = db_;
        db_ = nullptr;
        return db;
    }
    // Closes the connection (sqlite3_close_v2); calling it again does nothing.
    void close();

    std::string errorMessage() const { return sqlite::errorMessage(db_); }

private:
    sqlite3* db_ = nullptr;
};

// Owns one prepared statement; finalizes it on destruction. Move-only.
// Texts are bound as UTF-8 copied by SQLite (SQLITE_TRANSIENT).
class Statement {
public:
    Statement() = default;
    ~Statement() { finalize(); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }
    Statement& operator=(Statement&& other) noexcept;

    // Prepares the first statement of `sql`. Returns the result code; on
    // failure the object stays empty. `tail`, when given, receives the number
    // of bytes of `sql` that were not consumed.
    int prepare(sqlite3* db, std::string_view sql, size_t* tail = nullptr);
    void finalize();

    sqlite3_stmt* get() const { return stmt_; }
    explicit operator bool() const { return stmt_ != nullptr; }

    int step() { return sqlite3_step(stmt_); }
    void reset() { sqlite3_reset(stmt_); }
    void clearBindings() { sqlite3_clear_bindings(stmt_); }

    void bindText(int index, std::string_view text);
    void bindOptionalText(int index, const std::optional<std::string>& text);
    void bindInt64(int index, int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
    void bindInt(int index, int value) { sqlite3_bind_int(stmt_, index, value); }
    void bindNull(int index) { sqlite3_bind_null(stmt_, index); }

    int columnCount() const { return sqlite3_column_count(stmt_); }
    int columnType(int column) const { return sqlite3_column_type(stmt_, column); }
    bool isNull(int column) const { return columnType(column) == SQLITE_NULL; }
    int64_t columnInt64(int column) const { return sqlite3_column_int64(stmt_, column); }
    int columnInt(int column) const { return sqlite3_column_int(stmt_, column); }
    double columnDouble(int column) const { return sqlite3_column_double(stmt_, column); }
    // The column as text: UTF-8 up to the first NUL byte, ill-formed
    // sequences replaced by U+FFFD. SQL NULL gives the empty string.
    std::string columnText(int column) const;
    // As columnText, but SQL NULL gives absent.
    std::optional<std::string> columnOptionalText(int column) const;
    // The column's raw bytes (blob or text), without any conversion.
    std::string columnBytes(int column) const;
    std::string columnName(int column) const;

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Runs `sql` (one or more statements) through sqlite3_exec. Returns the result
// code and, on failure, stores SQLite's error text (or "Unknown error") in
// `error`.
int exec(sqlite3* db, const char* sql, std::string& error);

} // namespace orlune::core::sqlite

#pragma once
// A small RAII layer over the SQLite C API, shared by every component that
// talks to a database: a connection, a prepared statement and a transaction,
// each released on destruction, copying deleted.
//
// Failures cannot be dropped by accident: preparing, binding, stepping and
// running SQL throw sqlite::Error with SQLite's result code and message, and a
// step that fails is an error, never an early end of the rows. Each component catches
// sqlite::Error at its boundary and throws its own error type with the texts
// it defines; sqlite::Error never reaches a user.

#include <cstdint>
#include <optional>
#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orlune::core::sqlite {

// SQLite's message for the last failure on `db`, or "Unknown error" when there
// is no connection or SQLite gives no text.
std::string errorMessage(sqlite3* db);

// A failed SQLite call. what() is SQLite's message ("Unknown error" when it
// gave none).
class Error : public std::runtime_error {
public:
    // What was being done: preparing a statement, binding a value to one,
    // stepping one, or running SQL text through exec (which prepares and
    // steps).
    enum class Stage { prepare, bind, step, exec };

    Error(Stage stage, int code, const std::string& message);

    Stage stage() const { return stage_; }
    // SQLite's result code, extended where the connection reports extended
    // codes.
    int code() const { return code_; }
    // The primary result code (SQLITE_BUSY, SQLITE_CORRUPT, ...).
    int primaryCode() const { return code_ & 0xFF; }
    // True for a file that SQLite found damaged or not to be a database.
    bool isDamage() const {
        return primaryCode() == SQLITE_CORRUPT || primaryCode() == SQLITE_NOTADB;
    }
    // True when another connection held a lock for longer than this one was
    // willing to wait.
    bool isBusy() const { return primaryCode() == SQLITE_BUSY || primaryCode() == SQLITE_LOCKED; }

private:
    Stage stage_;
    int code_;
};

class Statement;

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
    // can read the failure, and is closed with the object. Every connection
    // opened here has fts3_tokenizer() disabled.
    [[nodiscard]] int open(const std::string& filename, int flags);

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

    // Prepares the first statement of `sql`. Throws Error (prepare).
    Statement prepare(std::string_view sql) const;
    // Runs `sql` (one or more statements), discarding any rows. Throws Error
    // (exec).
    void exec(std::string_view sql) const;

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

    // Prepares the first statement of `sql` on `db`. Throws Error (prepare)
    // with SQLite's message; the object is then empty. `tail`, when given,
    // receives the number of bytes of `sql` that were not consumed. Text that
    // holds no statement (blanks, comments) leaves the object empty without
    // an error.
    void prepare(sqlite3* db, std::string_view sql, size_t* tail = nullptr);
    void finalize();

    sqlite3_stmt* get() const { return stmt_; }
    explicit operator bool() const { return stmt_ != nullptr; }

    // Runs the statement to its next row: true when a row is ready, false
    // when the statement is done. Any other result throws Error (step) with
    // SQLite's code and message.
    [[nodiscard]] bool step();
    // Steps until the statement is done, discarding any rows. Throws as
    // step().
    void run();
    // Makes the statement ready to run again (bindings stay). The error of a
    // failed step was already thrown by step(), so it is not reported again.
    void reset() { sqlite3_reset(stmt_); }
    void clearBindings() { sqlite3_clear_bindings(stmt_); }

    // Bind a value to parameter `index` (1 for the first). A value SQLite
    // refuses (an index the statement does not have, a text longer than the
    // connection's length limit, a statement that is running or gone) throws
    // Error (bind): "Could not bind parameter <index>: <SQLite's reason>".
    void bindText(int index, std::string_view text);
    void bindOptionalText(int index, const std::optional<std::string>& text);
    void bindInt64(int index, int64_t value);
    void bindInt(int index, int value);
    void bindNull(int index);
    void bindDouble(int index, double value);
    void bindBlob(int index, std::string_view bytes);

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

// One transaction on a connection: begun by the constructor, rolled back by
// the destructor unless commit() succeeded. A failed rollback is ignored, so
// the error that ended the transaction is the one the caller sees; a
// transaction SQLite has already rolled back by itself (after a full disk or
// an I/O error) is not rolled back again.
class Transaction {
public:
    enum class Mode {
        deferred,  // BEGIN: takes the write lock at the first write
        immediate, // BEGIN IMMEDIATE: takes the write lock now, waiting as the
                   // connection's busy timeout allows
    };

    // Throws Error (exec) when the transaction cannot begin.
    explicit Transaction(sqlite3* db, Mode mode = Mode::deferred);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Throws Error (exec); the transaction is then rolled back (if SQLite
    // left it open) and must not be used again.
    void commit();
    // Rolls back now rather than at destruction (a failure is ignored).
    void rollback() noexcept;

private:
    sqlite3* db_;
    bool open_ = true;
};

// Runs `sql` (one or more statements) on `db`, discarding any rows. Throws
// Error (exec) with SQLite's message.
void exec(sqlite3* db, std::string_view sql);

} // namespace orlune::core::sqlite

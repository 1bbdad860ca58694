#include "sql/SQLite.hpp"

#include "base/Utf8.hpp"

#include <cstring>

namespace orlune::core::sqlite {

namespace {

constexpr const char* kUnknownError = "Unknown error";

constexpr std::string_view kBegin = "BEGIN";
constexpr std::string_view kBeginImmediate = "BEGIN IMMEDIATE";
constexpr std::string_view kCommit = "COMMIT";
constexpr const char* kRollback = "ROLLBACK";

// SQLite's message for a failed step of `statement`.
Error stepError(sqlite3_stmt* statement, int code) {
    return Error(Error::Stage::step, code, errorMessage(sqlite3_db_handle(statement)));
}

// Throws when a bind of parameter `index` returned `code` other than
// SQLITE_OK. SQLite's general reason for the code is used: the connection's
// own message may still describe an earlier failure.
void checkBind(int code, int index) {
    if (code != SQLITE_OK) {
        throw Error(Error::Stage::bind, code,
                    "Could not bind parameter " + std::to_string(index) + ": " +
                        sqlite3_errstr(code));
    }
}

} // namespace

std::string errorMessage(sqlite3* db) {
    if (db == nullptr) {
        return kUnknownError;
    }
    const char* message = sqlite3_errmsg(db);
    if (message == nullptr || *message == '\0') {
        return kUnknownError;
    }
    return message;
}

Error::Error(Stage stage, int code, const std::string& message)
    : std::runtime_error(message.empty() ? std::string(kUnknownError) : message), stage_(stage),
      code_(code) {}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        close();
        db_ = other.release();
    }
    return *this;
}

int Connection::open(const std::string& filename, int flags) {
    close();
    const int rc = sqlite3_open_v2(filename.c_str(), &db_, flags, nullptr);
    if (db_ != nullptr) {
        // fts3_tokenizer() would give out the address of a tokenizer and take
        // a new one from any SQL; no connection of Orlune's needs it.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, nullptr);
    }
    return rc;
}

void Connection::close() {
    if (db_ != nullptr) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

Statement Connection::prepare(std::string_view sql) const {
    Statement statement;
    statement.prepare(db_, sql);
    return statement;
}

void Connection::exec(std::string_view sql) const {
    sqlite::exec(db_, sql);
}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        finalize();
        stmt_ = other.stmt_;
        other.stmt_ = nullptr;
    }
    return *this;
}

void Statement::prepare(sqlite3* db, std::string_view sql, size_t* tail) {
    finalize();
    if (db == nullptr) {
        throw Error(Error::Stage::prepare, SQLITE_MISUSE, "Database is closed");
    }
    const char* end = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, &end);
    if (tail != nullptr) {
        *tail = end == nullptr ? 0 : sql.size() - static_cast<size_t>(end - sql.data());
    }
    if (rc != SQLITE_OK) {
        finalize();
        throw Error(Error::Stage::prepare, rc, errorMessage(db));
    }
}

void Statement::finalize() {
    if (stmt_ != nullptr) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    throw stepError(stmt_, rc);
}

void Statement::run() {
    while (step()) {
    }
}

void Statement::bindText(int index, std::string_view text) {
    checkBind(
        sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8),
        index);
}

void Statement::bindInt64(int index, int64_t value) {
    checkBind(sqlite3_bind_int64(stmt_, index, value), index);
}

void Statement::bindInt(int index, int value) {
    checkBind(sqlite3_bind_int(stmt_, index, value), index);
}

void Statement::bindNull(int index) {
    checkBind(sqlite3_bind_null(stmt_, index), index);
}

void Statement::bindDouble(int index, double value) {
    checkBind(sqlite3_bind_double(stmt_, index, value), index);
}

void Statement::bindBlob(int index, std::string_view bytes) {
    checkBind(sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT),
              index);
}

void Statement::bindOptionalText(int index, const std::optional<std::string>& text) {
    if (text) {
        bindText(index, *text);
    } else {
        bindNull(index);
    }
}

std::string Statement::columnText(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (text == nullptr) {
        return {};
    }
    return utf8::sanitize(std::string_view(text, std::strlen(text)));
}

std::optional<std::string> Statement::columnOptionalText(int column) const {
    if (isNull(column)) {
        return std::nullopt;
    }
    return columnText(column);
}

std::string Statement::columnBytes(int column) const {
    const void* data = sqlite3_column_blob(stmt_, column);
    int size = sqlite3_column_bytes(stmt_, column);
    if (data == nullptr || size <= 0) {
        return {};
    }
    return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
}

std::string Statement::columnName(int column) const {
    const char* name = sqlite3_column_name(stmt_, column);
    return name == nullptr ? std::string() : std::string(name);
}

Transaction::Transaction(sqlite3* db, Mode mode) : db_(db) {
    exec(db_, mode == Mode::immediate ? kBeginImmediate : kBegin);
}

Transaction::~Transaction() {
    rollback();
}

void Transaction::commit() {
    if (!open_) {
        throw Error(Error::Stage::exec, SQLITE_MISUSE, "the transaction has already ended");
    }
    try {
        exec(db_, kCommit);
        open_ = false;
    } catch (const Error&) {
        // A COMMIT that fails (busy, a full disk) can leave the transaction
        // open, which would make every later call on the connection fail.
        rollback();
        throw;
    }
}

void Transaction::rollback() noexcept {
    if (!open_) {
        return;
    }
    open_ = false;
    // SQLite ends the transaction by itself after some failures; rolling
    // back then would only fail with "no transaction is active".
    if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) {
        sqlite3_exec(db_, kRollback, nullptr, nullptr, nullptr);
    }
}

void exec(sqlite3* db, std::string_view sql) {
    if (db == nullptr) {
        throw Error(Error::Stage::exec, SQLITE_MISUSE, "Database is closed");
    }
    char* message = nullptr;
    const int rc = sqlite3_exec(db, std::string(sql).c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string text = (message != nullptr && *message != '\0') ? message : kUnknownError;
        sqlite3_free(message);
        throw Error(Error::Stage::exec, rc, text);
    }
    sqlite3_free(message);
}

} // namespace orlune::core::sqlite

#include "sql/ResultBudget.hpp"

#include "base/Utf8.hpp"

#include <algorithm>
#include <cstring>

namespace orlune::core {

ResultBudget::ResultBudget(size_t maxCellBytes, size_t maxResultBytes)
    : maxCellBytes_(maxCellBytes), maxResultBytes_(maxResultBytes) {}

size_t ResultBudget::room() const {
    const size_t left = maxResultBytes_ > used_ ? maxResultBytes_ - used_ : 0;
    return std::min(maxCellBytes_, left);
}

void ResultBudget::charge(size_t bytes) {
    used_ += bytes;
}

void ResultBudget::noteCut(size_t whole) {
    if (room() < maxCellBytes_ && whole > room()) {
        cutShort_ = true;
    } else {
        ++cutCells_;
    }
}

std::string ResultBudget::readText(sqlite3_stmt* statement, int column) {
    charge(kCellOverhead);
    return textPayload(statement, column);
}

std::string ResultBudget::textPayload(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    if (text == nullptr) {
        return {};
    }
    // The text ends at its first NUL; sqlite3_column_bytes bounds the search.
    const size_t size = static_cast<size_t>(sqlite3_column_bytes(statement, column));
    const std::string_view whole(text, strnlen(text, size));
    const size_t room = this->room();
    // Replacing ill-formed bytes can lengthen the text, so it is cut again
    // after that.
    std::string kept = utf8::sanitize(utf8::prefixWithin(whole, room));
    if (whole.size() > room || kept.size() > room) {
        noteCut(std::max(whole.size(), kept.size()));
        kept.resize(utf8::prefixWithin(kept, room).size());
    }
    charge(kept.size());
    return kept;
}

SQLiteValue ResultBudget::read(sqlite3_stmt* statement, int column, std::string_view name) {
    charge(name.size() + kCellOverhead);
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return SQLiteValue::integer(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
        return SQLiteValue::real(sqlite3_column_double(statement, column));
    case SQLITE_TEXT:
        if (sqlite3_column_text(statement, column) == nullptr) {
            return SQLiteValue::null();
        }
        return SQLiteValue::text(textPayload(statement, column));
    case SQLITE_BLOB: {
        const void* data = sqlite3_column_blob(statement, column);
        const int size = sqlite3_column_bytes(statement, column);
        if (data == nullptr || size < 1) {
            return SQLiteValue::null();
        }
        const size_t kept = std::min(static_cast<size_t>(size), room());
        if (kept < static_cast<size_t>(size)) {
            noteCut(static_cast<size_t>(size));
        }
        charge(kept);
        if (kept == 0) {
            return SQLiteValue::null();
        }
        return SQLiteValue::blob(std::string(static_cast<const char*>(data), kept));
    }
    default:
        return SQLiteValue::null();
    }
}

} // namespace orlune::core

#pragma once
// Copies the cells of a stepped statement into values within the cell and
// result sizes of QueryBounds, cutting what does not fit, and remembers what
// it cut. Only the bytes it keeps are ever copied: a huge value SQLite
// produced is read through its pointer, never duplicated whole.
//
// One budget per result; used on one thread.

#include "sql/SQLiteValue.hpp"

#include <cstddef>
#include <sqlite3.h>
#include <string>
#include <string_view>

namespace orlune::core {

class ResultBudget {
public:
    // What every cell costs beyond its payload and its column name: about
    // what holding it in a result takes.
    static constexpr size_t kCellOverhead = 48;

    ResultBudget(size_t maxCellBytes, size_t maxResultBytes);

    // Column `column` of the statement's current row by its storage class:
    // INTEGER, FLOAT, TEXT (UTF-8 up to its first NUL, ill-formed sequences
    // replaced by U+FFFD), BLOB with at least one byte, else null. A text or
    // blob keeps at most maxCellBytes and at most what is left of the result
    // (a text cut at a character boundary); the cell is charged with its
    // kept payload, `name`'s size and kCellOverhead. A cell cut because the
    // result ran out sets cutShort(): its row is not whole, and the caller
    // drops it.
    SQLiteValue read(sqlite3_stmt* statement, int column, std::string_view name);

    // The column as text (SQL NULL gives ""), cut as read() does and charged
    // with its kept bytes and kCellOverhead.
    std::string readText(sqlite3_stmt* statement, int column);

    // True once the result's bytes are used up: no further row should be read.
    bool exhausted() const { return used_ >= maxResultBytes_; }
    // Texts and blobs cut to maxCellBytes so far (not those cut short by
    // the end of the result).
    size_t cutCells() const { return cutCells_; }
    // A cell was cut because the result ran out: the row read last is not
    // whole.
    bool cutShort() const { return cutShort_; }

private:
    // The most payload bytes the next cell may keep.
    size_t room() const;
    // Notes that a payload of `whole` bytes was cut to room().
    void noteCut(size_t whole);
    void charge(size_t bytes);
    // The text of the column, cut, with only its kept bytes charged.
    std::string textPayload(sqlite3_stmt* statement, int column);

    size_t maxCellBytes_;
    size_t maxResultBytes_;
    size_t used_ = 0;
    size_t cutCells_ = 0;
    bool cutShort_ = false;
};

} // namespace orlune::core

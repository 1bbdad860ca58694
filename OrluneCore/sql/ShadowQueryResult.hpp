#pragma once
// The rows of one statement run through the shadow database's read-only query
// surface. A plain value.

#include "sql/SQLiteValue.hpp"

#include <map>
#include <string>
#include <vector>

namespace orlune::core {

struct ShadowQueryResult {
    // Column names after de-duplication ("1", "1_2", "column_3"), in column
    // order.
    std::vector<std::string> columns;
    // One map per row, keyed by the entries of `columns`.
    std::vector<std::map<std::string, SQLiteValue>> rows;
    // What the size bounds (QueryBounds) left out: how many texts and blobs
    // were cut short, and whether reading stopped because the result reached
    // its size (rows after the last one were then not read).
    size_t cutCells = 0;
    bool stoppedAtSizeLimit = false;

    friend bool operator==(const ShadowQueryResult&, const ShadowQueryResult&) = default;
};

} // namespace orlune::core

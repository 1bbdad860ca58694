#pragma once
// The rows of one statement run through the shadow database's read-only query
// surface. A plain value.

#include "OrluneCore/SQLiteValue.hpp"

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

    friend bool operator==(const ShadowQueryResult&, const ShadowQueryResult&) = default;
};

} // namespace orlune::core

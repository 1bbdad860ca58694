#pragma once
// One column of a table, as `describeTable` reports it. A plain value.

#include <string>

namespace orlune::core {

struct ColumnInfo {
    std::string name;
    // The declared type as written in the table's definition; empty when none.
    std::string type;
    bool notNull = false;

    friend bool operator==(const ColumnInfo&, const ColumnInfo&) = default;
};

} // namespace orlune::core

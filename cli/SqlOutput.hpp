#pragma once
// Printing rows of the read-only query surface: a table, or JSON lines.

#include "OrluneCore/ShadowQueryResult.hpp"

#include <iosfwd>

namespace orlune::cli {

// As a table (or "(no rows)"), or with `json` one compact JSON object per
// row keyed by column name: integers and reals as numbers (a non-finite real
// as null), text as strings, blobs as hexadecimal text, NULL as null.
void printQueryResult(const core::ShadowQueryResult& result, bool json, std::ostream& out);

} // namespace orlune::cli

#pragma once
// Printing rows of the read-only query surface: a table, or JSON lines.

#include "sql/ShadowQueryResult.hpp"

#include <iosfwd>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace orlune::cli {

// As a table (or "(no rows)"), or with `json` one compact JSON object per
// row keyed by column name: integers and reals as numbers (a non-finite real
// as null), text as strings, blobs as hexadecimal text, NULL as null.
void printQueryResult(const core::ShadowQueryResult& result, bool json, std::ostream& out);

// `note` (what the size bounds cut from a result) on standard error,
// prefixed "Note: "; nothing when it is empty.
void printCutNote(const std::string& note);

// `line` as one compact line of JSON: what every verb's --json prints per
// row. Ill-formed UTF-8 in its strings comes out as U+FFFD.
void printJsonLine(const nlohmann::ordered_json& line, std::ostream& out);

} // namespace orlune::cli

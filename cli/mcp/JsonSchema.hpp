#pragma once
// Checks a tool's arguments against its input schema, the part of JSON
// Schema the tools' schemas use:
//   object   "properties", "required", "additionalProperties": false
//   string   "minLength", "maxLength" (in characters), "enum"
//   integer  "minimum", "maximum" (a number with no fraction, 5.0 included)
//   boolean
//   array    "items", "maxItems", "uniqueItems"
// Anything else in a schema is ignored. Pure; any thread.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace orlune::mcp {

// The first way `value` breaks `schema`, as a sentence naming the argument
// ("\"limit\" must be at most 100", "unknown argument \"colour\""), or
// absent when it fits. Names from the input are quoted JSON strings, cut to
// a few dozen characters.
std::optional<std::string> schemaViolation(const nlohmann::json& schema,
                                           const nlohmann::json& value);

} // namespace orlune::mcp

#include "mcp/JsonSchema.hpp"

#include "base/Utf8.hpp"

#include <cmath>
#include <set>

namespace orlune::mcp {

namespace {

using nlohmann::json;

// A name from the input as a JSON string, short enough for a message.
std::string quotedName(const std::string& name) {
    constexpr size_t kMaxNameBytes = 40;
    const std::string_view kept = core::utf8::prefixWithin(name, kMaxNameBytes);
    std::string shown =
        json(std::string(kept)).dump(-1, ' ', false, json::error_handler_t::replace);
    if (kept.size() < name.size()) {
        shown.insert(shown.size() - 1, "...");
    }
    return shown;
}

// Characters (code points) of well-formed UTF-8 text.
size_t characterCount(const std::string& text) {
    size_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

bool isInteger(const json& value) {
    if (value.is_number_integer()) {
        return true;
    }
    if (!value.is_number_float()) {
        return false;
    }
    const double number = value.get<double>();
    return std::isfinite(number) && std::floor(number) == number;
}

const char* typeName(const std::string& type) {
    if (type == "object") {
        return "an object";
    }
    if (type == "array") {
        return "a list";
    }
    if (type == "integer") {
        return "a whole number";
    }
    if (type == "boolean") {
        return "true or false";
    }
    return "a string";
}

bool hasType(const json& value, const std::string& type) {
    if (type == "object") {
        return value.is_object();
    }
    if (type == "array") {
        return value.is_array();
    }
    if (type == "integer") {
        return isInteger(value);
    }
    if (type == "boolean") {
        return value.is_boolean();
    }
    if (type == "string") {
        return value.is_string();
    }
    return true;
}

std::string enumList(const json& values) {
    std::string list;
    for (const json& value : values) {
        list += (list.empty() ? "" : ", ") + value.dump();
    }
    return list;
}

std::optional<std::string> check(const json& schema, const json& value, const std::string& where);

std::optional<std::string> checkObject(const json& schema, const json& value,
                                       const std::string& where) {
    const json properties = schema.value("properties", json::object());
    if (schema.contains("additionalProperties") && schema["additionalProperties"] == false) {
        for (const auto& [name, item] : value.items()) {
            if (!properties.contains(name)) {
                return "unknown argument " + quotedName(name) +
                       (where.empty() ? "" : " in " + where) + "; the arguments are " + [&] {
                           std::string names;
                           for (const auto& [known, unused] : properties.items()) {
                               names += (names.empty() ? "\"" : ", \"") + known + "\"";
                           }
                           return names;
                       }();
            }
        }
    }
    for (const json& required : schema.value("required", json::array())) {
        if (!value.contains(required.get<std::string>())) {
            return quotedName(required.get<std::string>()) + " is required";
        }
    }
    for (const auto& [name, item] : value.items()) {
        const auto property = properties.find(name);
        if (property == properties.end()) {
            continue;
        }
        if (auto violation =
                check(*property, item, where.empty() ? quotedName(name) : where + "." + name)) {
            return violation;
        }
    }
    return std::nullopt;
}

std::optional<std::string> checkString(const json& schema, const std::string& text,
                                       const std::string& where) {
    const size_t characters = characterCount(text);
    if (schema.contains("minLength") && characters < schema["minLength"].get<size_t>()) {
        return schema["minLength"].get<size_t>() == 1
                   ? where + " must not be empty"
                   : where + " must have at least " + schema["minLength"].dump() + " characters";
    }
    if (schema.contains("maxLength") && characters > schema["maxLength"].get<size_t>()) {
        return where + " must have at most " + schema["maxLength"].dump() + " characters (it has " +
               std::to_string(characters) + ")";
    }
    return std::nullopt;
}

std::optional<std::string> checkArray(const json& schema, const json& value,
                                      const std::string& where) {
    if (schema.contains("maxItems") && value.size() > schema["maxItems"].get<size_t>()) {
        return where + " must have at most " + schema["maxItems"].dump() + " items";
    }
    if (schema.value("uniqueItems", false)) {
        std::set<std::string> seen;
        for (const json& item : value) {
            if (!seen.insert(item.dump()).second) {
                return where + " lists " + item.dump() + " twice";
            }
        }
    }
    if (schema.contains("items")) {
        for (size_t i = 0; i < value.size(); ++i) {
            if (auto violation =
                    check(schema["items"], value[i], where + "[" + std::to_string(i) + "]")) {
                return violation;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> check(const json& schema, const json& value, const std::string& where) {
    const std::string type = schema.value("type", "");
    const std::string name = where.empty() ? "the arguments" : where;
    if (!type.empty() && !hasType(value, type)) {
        return name + " must be " + typeName(type);
    }
    if (schema.contains("enum")) {
        bool listed = false;
        for (const json& allowed : schema["enum"]) {
            listed = listed || allowed == value;
        }
        if (!listed) {
            return name + " must be one of " + enumList(schema["enum"]);
        }
    }
    if (type == "object") {
        return checkObject(schema, value, where);
    }
    if (type == "string") {
        return checkString(schema, value.get<std::string>(), name);
    }
    if (type == "integer") {
        const double number = value.get<double>();
        if (schema.contains("minimum") && number < schema["minimum"].get<double>()) {
            return name + " must be at least " + schema["minimum"].dump();
        }
        if (schema.contains("maximum") && number > schema["maximum"].get<double>()) {
            return name + " must be at most " + schema["maximum"].dump();
        }
    }
    if (type == "array") {
        return checkArray(schema, value, name);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> schemaViolation(const json& schema, const json& value) {
    return check(schema, value, "");
}

} // namespace orlune::mcp

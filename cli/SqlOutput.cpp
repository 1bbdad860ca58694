#include "SqlOutput.hpp"

#include "TextTable.hpp"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <ostream>

namespace orlune::cli {

namespace {

using core::SQLiteValue;

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string realText(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

std::string cellText(const SQLiteValue& value) {
    switch (value.kind()) {
    case SQLiteValue::Kind::integer:
        return std::to_string(value.asInteger());
    case SQLiteValue::Kind::real:
        return realText(value.asReal());
    case SQLiteValue::Kind::text:
        return value.asText();
    case SQLiteValue::Kind::blob:
        return "x'" + hex(value.asBlob()) + "'";
    case SQLiteValue::Kind::null:
        return "NULL";
    }
    return {};
}

nlohmann::ordered_json cellJson(const SQLiteValue& value) {
    switch (value.kind()) {
    case SQLiteValue::Kind::integer:
        return value.asInteger();
    case SQLiteValue::Kind::real:
        return std::isfinite(value.asReal()) ? nlohmann::ordered_json(value.asReal()) : nullptr;
    case SQLiteValue::Kind::text:
        return value.asText();
    case SQLiteValue::Kind::blob:
        return hex(value.asBlob());
    case SQLiteValue::Kind::null:
        return nullptr;
    }
    return nullptr;
}

} // namespace

void printCutNote(const std::string& note) {
    if (!note.empty()) {
        std::cerr << "Note: " << note << "\n";
    }
}

void printJsonLine(const nlohmann::ordered_json& line, std::ostream& out) {
    out << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

void printQueryResult(const core::ShadowQueryResult& result, bool json, std::ostream& out) {
    if (json) {
        for (const auto& row : result.rows) {
            nlohmann::ordered_json line = nlohmann::ordered_json::object();
            for (const auto& column : result.columns) {
                auto found = row.find(column);
                line[column] = found == row.end() ? nullptr : cellJson(found->second);
            }
            printJsonLine(line, out);
        }
        return;
    }
    if (result.rows.empty()) {
        out << "(no rows)\n";
        return;
    }
    TextTable table(result.columns);
    for (const auto& row : result.rows) {
        std::vector<std::string> cells;
        for (const auto& column : result.columns) {
            auto found = row.find(column);
            cells.push_back(found == row.end() ? "" : cellText(found->second));
        }
        table.addRow(std::move(cells));
    }
    table.print(out);
}

} // namespace orlune::cli

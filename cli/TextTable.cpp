#include "TextTable.hpp"

#include <algorithm>
#include <ostream>

namespace orlune::cli {

namespace {

// Characters of well-formed UTF-8 text: bytes that do not continue a sequence.
size_t characters(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// `text` on one line and at most `limit` characters long.
std::string fit(const std::string& text, size_t limit) {
    std::string line;
    for (char c : text) {
        line += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
    }
    if (characters(line) <= limit) {
        return line;
    }
    std::string cut;
    size_t count = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        bool starts = (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
        if (starts && ++count > limit - 1) {
            break;
        }
        cut += line[i];
    }
    return cut + "\u2026";
}

} // namespace

TextTable::TextTable(std::vector<std::string> headers, size_t maxColumnWidth)
    : headers_(std::move(headers)), maxColumnWidth_(std::max<size_t>(maxColumnWidth, 2)) {}

void TextTable::addRow(std::vector<std::string> cells) {
    cells.resize(headers_.size());
    for (auto& cell : cells) {
        cell = fit(cell, maxColumnWidth_);
    }
    rows_.push_back(std::move(cells));
}

void TextTable::print(std::ostream& out) const {
    std::vector<size_t> widths;
    for (const auto& header : headers_) {
        widths.push_back(characters(header));
    }
    for (const auto& row : rows_) {
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], characters(row[i]));
        }
    }
    auto printRow = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (size_t i = 0; i < cells.size(); ++i) {
            line += cells[i];
            if (i + 1 < cells.size()) {
                line += std::string(widths[i] - characters(cells[i]) + 2, ' ');
            }
        }
        out << line << "\n";
    };
    printRow(headers_);
    std::vector<std::string> rule;
    for (size_t width : widths) {
        rule.push_back(std::string(width, '-'));
    }
    printRow(rule);
    for (const auto& row : rows_) {
        printRow(row);
    }
}

} // namespace orlune::cli

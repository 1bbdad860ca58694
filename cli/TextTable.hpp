#pragma once
// A plain-text table for the terminal: a header row, a rule and the rows,
// columns padded to their widest cell (counted in characters, not bytes).
// Line breaks and tabs inside cells are shown as spaces; cells longer than
// the column limit are cut with an ellipsis.

#include <iosfwd>
#include <string>
#include <vector>

namespace orlune::cli {

class TextTable {
public:
    explicit TextTable(std::vector<std::string> headers, size_t maxColumnWidth = 60);

    void addRow(std::vector<std::string> cells);
    void print(std::ostream& out) const;

private:
    std::vector<std::string> headers_;
    std::vector<std::vector<std::string>> rows_;
    size_t maxColumnWidth_;
};

} // namespace orlune::cli

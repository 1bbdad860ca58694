#include "sql/QueryBounds.hpp"

#include <cctype>
#include <cstdio>

namespace orlune::core {

namespace {

std::string bytesText(size_t bytes) {
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0) {
        return std::to_string(bytes / (1024 * 1024)) + " MiB";
    }
    if (bytes >= 1024 && bytes % 1024 == 0) {
        return std::to_string(bytes / 1024) + " KiB";
    }
    return std::to_string(bytes) + " bytes";
}

} // namespace

std::string QueryBounds::timeLimitText() const {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", static_cast<double>(timeLimit.count()) / 1000.0);
    return text;
}

std::string QueryBounds::describeCut(size_t cutCells, bool stoppedAtSize, size_t rows) const {
    std::string text;
    if (cutCells > 0) {
        text = cutCells == 1 ? std::string("1 value was cut to its")
                             : std::to_string(cutCells) + " values were cut to their";
        text += " first " + bytesText(maxCellBytes);
    }
    if (stoppedAtSize) {
        if (!text.empty()) {
            text += "; ";
        }
        text += "the result reached its size limit of " + bytesText(maxResultBytes) +
                ", so reading stopped after " +
                (rows == 1 ? std::string("1 row") : std::to_string(rows) + " rows");
    }
    if (!text.empty()) {
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        text += ".";
    }
    return text;
}

} // namespace orlune::core

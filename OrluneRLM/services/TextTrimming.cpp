#include "services/TextTrimming.hpp"

#include <QString>

namespace orlune::rlm {

std::string trimmedText(const std::string& text) {
    // Fast path for the common case: nothing to trim and pure ASCII ends.
    auto isAsciiSpace = [](unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); };
    if (!text.empty() && !isAsciiSpace(text.front()) && !isAsciiSpace(text.back()) &&
        static_cast<unsigned char>(text.front()) < 0x80 &&
        static_cast<unsigned char>(text.back()) < 0x80) {
        return text;
    }
    // QChar::isSpace covers the Unicode separators plus U+0009..U+000D and U+0085.
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
        .trimmed()
        .toStdString();
}

} // namespace orlune::rlm

#include "store/MessageText.hpp"

#include <array>

namespace orlune::core {

namespace {

constexpr std::array<std::string_view, 2> kPlaceholders = {
    "\xEF\xBF\xBC", // U+FFFC OBJECT REPLACEMENT CHARACTER
    "\xEF\xBF\xBD", // U+FFFD REPLACEMENT CHARACTER
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The length of the placeholder starting at `pos`, or 0.
size_t placeholderAt(std::string_view text, size_t pos) {
    for (auto p : kPlaceholders) {
        if (text.compare(pos, p.size(), p) == 0) {
            return p.size();
        }
    }
    return 0;
}

} // namespace

std::string withoutPlaceholders(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool removed = false;
    size_t i = 0;
    while (i < text.size()) {
        size_t n = placeholderAt(text, i);
        if (n == 0) {
            out += text[i++];
            continue;
        }
        removed = true;
        while (n != 0) { // the whole run
            i += n;
            n = i < text.size() ? placeholderAt(text, i) : 0;
        }
        const bool spaceBefore = out.empty() || isSpace(out.back());
        const bool spaceAfter = i == text.size() || isSpace(text[i]);
        if (spaceBefore) {
            while (i < text.size() && isSpace(text[i])) {
                ++i;
            }
        } else if (!spaceAfter) {
            out += ' ';
        }
    }
    if (!removed) {
        return out;
    }
    size_t begin = 0;
    size_t end = out.size();
    while (begin < end && isSpace(out[begin])) {
        ++begin;
    }
    while (end > begin && isSpace(out[end - 1])) {
        --end;
    }
    return out.substr(begin, end - begin);
}

} // namespace orlune::core

#pragma once
// Case, white space and hexadecimal digits of ASCII only, for the parts of a
// text that are ASCII by definition (MIME types, vCard property names, region
// codes, file extensions, hex dumps). Every other byte, UTF-8 included, is
// kept as it is. For what a person wrote, fold with TextFold instead.

#include <string>
#include <string_view>

namespace orlune::core::ascii {

// `text` with A-Z turned into a-z.
inline std::string lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

// `text` with a-z turned into A-Z.
inline std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return result;
}

// `text` without the spaces, tabs, carriage returns and line feeds at its
// ends.
inline std::string trimmed(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kSpace);
    return std::string(text.substr(first, last - first + 1));
}

// The value of the hexadecimal digit `c` (either case), or -1 when `c` is
// not one.
inline int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// `number` in decimal with a comma between groups of three digits, as a
// person reads it in English: 2990 gives "2,990".
inline std::string groupedDigits(unsigned long long number) {
    const std::string digits = std::to_string(number);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return grouped;
}

} // namespace orlune::core::ascii

#include "contacts/VCardReader.hpp"

#include "base/AsciiText.hpp"
#include "base/Utf8.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>

namespace orlune::core {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           ascii::upper(text.substr(0, prefix.size())) == ascii::upper(prefix);
}

// Where the property's name and parameters end: the first ':' outside
// double quotes, or npos.
size_t headerEnd(std::string_view line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (line[i] == ':' && !quoted) {
            return i;
        }
    }
    return std::string_view::npos;
}

bool isQuotedPrintableLine(std::string_view line) {
    const size_t end = headerEnd(line);
    return end != std::string_view::npos &&
           ascii::upper(line.substr(0, end)).find("QUOTED-PRINTABLE") != std::string::npos;
}

// Content lines: physical lines split at CRLF, LF or CR, folded lines joined
// (the line end and one space or tab removed), and quoted-printable soft
// line breaks ("=" at the end) joined.
std::vector<std::string> contentLines(std::string_view text) {
    std::vector<std::string> lines;
    bool softBreak = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = text.substr(at, end - at);
        at = end;
        if (at < text.size() && text[at] == '\r') {
            ++at;
        }
        if (at < text.size() && text[at] == '\n') {
            ++at;
        }
        if (softBreak) {
            lines.back().pop_back();
            lines.back() += line;
        } else if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !lines.empty()) {
            lines.back() += line.substr(1);
        } else {
            lines.emplace_back(line);
        }
        softBreak = !lines.empty() && !lines.back().empty() && lines.back().back() == '=' &&
                    isQuotedPrintableLine(lines.back());
    }
    return lines;
}

struct Property {
    std::string name; // upper case, group removed
    std::string encoding;
    std::string charset;
    std::string rawValue;
};

// Splits on `separator` outside double quotes.
std::vector<std::string_view> splitOutsideQuotes(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            quoted = !quoted;
        } else if (text[i] == separator && !quoted) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    return parts;
}

std::string unquote(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

std::optional<Property> parseProperty(std::string_view line) {
    const size_t end = headerEnd(line);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    const auto header = splitOutsideQuotes(line.substr(0, end), ';');
    Property property;
    std::string_view name = header[0];
    if (auto dot = name.rfind('.'); dot != std::string_view::npos) {
        name = name.substr(dot + 1);
    }
    property.name = ascii::upper(ascii::trimmed(name));
    if (property.name.empty()) {
        return std::nullopt;
    }
    for (size_t i = 1; i < header.size(); ++i) {
        const std::string_view parameter = header[i];
        const auto equals = parameter.find('=');
        const std::string key = ascii::upper(ascii::trimmed(parameter.substr(0, equals)));
        const std::string value = equals == std::string_view::npos
                                      ? ""
                                      : unquote(ascii::trimmed(parameter.substr(equals + 1)));
        if (key == "ENCODING") {
            property.encoding = ascii::upper(value);
        } else if (key == "CHARSET") {
            property.charset = value;
        } else if (equals == std::string_view::npos &&
                   (key == "QUOTED-PRINTABLE" || key == "BASE64" || key == "B")) {
            property.encoding = key; // 2.1 writes the encoding bare
        }
    }
    property.rawValue = std::string(line.substr(end + 1));
    return property;
}

std::string decodeQuotedPrintable(std::string_view value) {
    std::string bytes;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '=' && i + 2 < value.size() && ascii::hexDigit(value[i + 1]) >= 0 &&
            ascii::hexDigit(value[i + 2]) >= 0) {
            bytes += static_cast<char>(ascii::hexDigit(value[i + 1]) * 16 +
                                       ascii::hexDigit(value[i + 2]));
            i += 2;
        } else {
            bytes += value[i];
        }
    }
    return bytes;
}

// `bytes` in `charset` as UTF-8; unchanged when the charset is UTF-8, absent
// or unknown to ICU.
std::string toUtf8(const std::string& bytes, const std::string& charset) {
    const std::string name = ascii::upper(charset);
    if (name.empty() || name == "UTF-8" || name == "UTF8") {
        return bytes;
    }
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(charset.c_str(), &status);
    if (U_FAILURE(status)) {
        return bytes;
    }
    const icu::UnicodeString decoded(bytes.data(), static_cast<int32_t>(bytes.size()), converter,
                                     status);
    ucnv_close(converter);
    if (U_FAILURE(status)) {
        return bytes;
    }
    std::string utf8;
    decoded.toUTF8String(utf8);
    return utf8;
}

// The property's value as UTF-8 text with escapes still in place, or absent
// for binary (base64) values.
std::optional<std::string> decodedValue(const Property& property) {
    if (property.encoding == "B" || property.encoding == "BASE64") {
        return std::nullopt;
    }
    std::string bytes = property.encoding == "QUOTED-PRINTABLE"
                            ? decodeQuotedPrintable(property.rawValue)
                            : property.rawValue;
    return utf8::sanitize(toUtf8(bytes, property.charset));
}

// Splits on `separator` where it is not escaped with a backslash; escapes
// stay for unescape().
std::vector<std::string> splitEscaped(std::string_view value, char separator) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            parts.back() += value[i];
            parts.back() += value[++i];
        } else if (value[i] == separator) {
            parts.emplace_back();
        } else {
            parts.back() += value[i];
        }
    }
    return parts;
}

std::string unescape(std::string_view value) {
    std::string text;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        const char next = value[++i];
        text += next == 'n' || next == 'N' ? '\n' : next;
    }
    return ascii::trimmed(text);
}

// A structured component that may hold a list ("Philip,Paul"), as words.
std::string componentText(std::string_view component) {
    std::string text;
    for (const std::string& item : splitEscaped(component, ',')) {
        const std::string word = unescape(item);
        if (!word.empty()) {
            text += text.empty() ? "" : " ";
            text += word;
        }
    }
    return text;
}

std::string telephoneValue(const std::string& value) {
    std::string number = unescape(value);
    if (startsWithNoCase(number, "tel:")) {
        number = number.substr(4);
        number = number.substr(0, number.find(';')); // ";ext=..." and other URI parameters
    }
    return ascii::trimmed(number);
}

std::string emailValue(const std::string& value) {
    std::string address = unescape(value);
    if (startsWithNoCase(address, "mailto:")) {
        address = address.substr(7);
    }
    return ascii::trimmed(address);
}

bool hasContent(const ContactCard& card) {
    return !card.firstName.empty() || !card.lastName.empty() || !card.middleName.empty() ||
           !card.organization.empty() || !card.formattedName.empty() || !card.nicknames.empty() ||
           !card.phones.empty() || !card.emails.empty();
}

void apply(ContactCard& card, const Property& property, bool& haveName) {
    const std::string& name = property.name;
    if (name != "N" && name != "FN" && name != "NICKNAME" && name != "ORG" && name != "TEL" &&
        name != "EMAIL" && name != "UID") {
        return;
    }
    auto value = decodedValue(property);
    if (!value) {
        return;
    }
    if (name == "N") {
        if (haveName) {
            return;
        }
        haveName = true;
        const auto parts = splitEscaped(*value, ';');
        auto part = [&](size_t i) { return i < parts.size() ? componentText(parts[i]) : ""; };
        card.lastName = part(0);
        card.firstName = part(1);
        card.middleName = part(2);
    } else if (name == "FN") {
        if (card.formattedName.empty()) {
            card.formattedName = unescape(*value);
        }
    } else if (name == "NICKNAME") {
        for (const std::string& item : splitEscaped(*value, ',')) {
            if (std::string nickname = unescape(item); !nickname.empty()) {
                card.nicknames.push_back(std::move(nickname));
            }
        }
    } else if (name == "ORG") {
        if (card.organization.empty()) {
            card.organization = unescape(splitEscaped(*value, ';')[0]);
        }
    } else if (name == "TEL") {
        if (std::string number = telephoneValue(*value); !number.empty()) {
            card.phones.push_back(std::move(number));
        }
    } else if (name == "EMAIL") {
        if (std::string address = emailValue(*value); !address.empty()) {
            card.emails.push_back(std::move(address));
        }
    } else if (name == "UID") {
        if (card.uid.empty()) {
            card.uid = unescape(*value);
        }
    }
}

bool mentionsVCard(std::string_view text) {
    return ascii::upper(text).find("BEGIN:VCARD") != std::string::npos;
}

} // namespace

VCardReader::Error::Error(std::string path, std::string message)
    : description_("vCard file " + std::move(path) + " could not be read: " + std::move(message)) {}

std::vector<ContactCard> VCardReader::parse(std::string_view text, const std::string& source,
                                            int sourceIndex) {
    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    std::vector<ContactCard> cards;
    ContactCard card;
    bool haveName = false;
    int depth = 0;
    int cardNumber = 0;
    auto finish = [&] {
        ++cardNumber;
        if (card.uid.empty()) {
            card.uid = source + "#" + std::to_string(cardNumber);
        }
        if (hasContent(card)) {
            cards.push_back(std::move(card));
        }
    };
    for (const std::string& line : contentLines(text)) {
        auto property = parseProperty(line);
        if (!property) {
            continue;
        }
        const std::string value = ascii::upper(ascii::trimmed(property->rawValue));
        if (property->name == "BEGIN" && value == "VCARD") {
            if (depth++ == 0) {
                card = ContactCard{};
                card.source = source;
                card.sourceIndex = sourceIndex;
                haveName = false;
            }
        } else if (property->name == "END" && value == "VCARD") {
            if (depth > 0 && --depth == 0) {
                finish();
            }
        } else if (depth == 1) {
            apply(card, *property, haveName);
        }
    }
    if (depth > 0) {
        finish(); // a last card cut off before its END
    }
    return cards;
}

std::vector<ContactCard> VCardReader::readFile(const std::string& path, int sourceIndex) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Error(path, std::strerror(errno));
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        throw Error(path, "reading failed");
    }
    const std::string text = bytes.str();
    if (!mentionsVCard(text)) {
        throw Error(path, "it holds no vCard (no BEGIN:VCARD line)");
    }
    return parse(text, path, sourceIndex);
}

} // namespace orlune::core

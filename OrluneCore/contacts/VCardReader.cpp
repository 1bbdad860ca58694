#include "contacts/VCardReader.hpp"

#include "base/AsciiText.hpp"
#include "base/Utf8.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unistd.h>

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

constexpr size_t kMaxContentLineBytes = 1 << 20;

// Appends `piece` to `text` while `text` stays within kMaxContentLineBytes.
// Past that, `over` is set and only the first kMaxContentLineBytes bytes and
// the last byte are kept: a line that long is dropped, and its last byte
// still says whether the next line continues it.
void keepBounded(std::string& text, std::string_view piece, bool& over) {
    if (piece.empty()) {
        return;
    }
    if (!over && text.size() + piece.size() <= kMaxContentLineBytes) {
        text.append(piece);
        return;
    }
    if (!over) {
        text.append(piece.substr(0, kMaxContentLineBytes - text.size()));
        text += piece.back();
        over = true;
        return;
    }
    text.back() = piece.back();
}

// Joins physical lines into content lines as they arrive: folded lines
// (a leading space or tab) and quoted-printable soft line breaks ("=" at the
// end) continue the line before. Work and memory are linear in the text: a
// line's header is scanned once, however many pieces it is folded into, and
// a content line longer than kMaxContentLineBytes is dropped (no name, number
// or address is that long; photos are skipped anyway).
class ContentLineJoiner {
public:
    explicit ContentLineJoiner(std::function<void(std::string_view)> onLine)
        : onLine_(std::move(onLine)) {}

    // One physical line, without its line end; `cut` when it was longer than
    // what was kept of it.
    void physicalLine(std::string_view line, bool cut) {
        if (softBreak_) {
            line_.pop_back();
            append(line);
        } else if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && started_) {
            append(line.substr(1));
        } else {
            flush();
            started_ = true;
            append(line);
        }
        tooLong_ = tooLong_ || cut;
        softBreak_ = !line_.empty() && line_.back() == '=' && isQuotedPrintable();
    }

    // Ends the last content line.
    void finish() { flush(); }

private:
    void append(std::string_view piece) { keepBounded(line_, piece, tooLong_); }

    // Whether the line's parameters say QUOTED-PRINTABLE; scans on from
    // where the last call stopped until the header's ':' is found.
    bool isQuotedPrintable() {
        if (!headerEnd_) {
            for (; scanned_ < line_.size(); ++scanned_) {
                if (line_[scanned_] == '"') {
                    quoted_ = !quoted_;
                } else if (line_[scanned_] == ':' && !quoted_) {
                    headerEnd_ = scanned_;
                    quotedPrintable_ = ascii::upper(std::string_view(line_).substr(0, scanned_))
                                           .find("QUOTED-PRINTABLE") != std::string::npos;
                    break;
                }
            }
        }
        return quotedPrintable_;
    }

    void flush() {
        if (started_ && !tooLong_) {
            onLine_(line_);
        }
        line_.clear();
        started_ = false;
        tooLong_ = false;
        softBreak_ = false;
        headerEnd_.reset();
        scanned_ = 0;
        quoted_ = false;
        quotedPrintable_ = false;
    }

    std::function<void(std::string_view)> onLine_;
    std::string line_;
    bool started_ = false;
    bool tooLong_ = false;
    bool softBreak_ = false;
    std::optional<size_t> headerEnd_;
    size_t scanned_ = 0;
    bool quoted_ = false;
    bool quotedPrintable_ = false;
};

// Splits text arriving in chunks into physical lines at CRLF, LF or CR (a
// CRLF split between two chunks is one line end) and hands them on.
class PhysicalLineSplitter {
public:
    explicit PhysicalLineSplitter(ContentLineJoiner& joiner) : joiner_(joiner) {}

    void feed(std::string_view chunk) {
        size_t at = 0;
        if (afterCarriageReturn_ && !chunk.empty() && chunk[0] == '\n') {
            at = 1;
        }
        afterCarriageReturn_ = false;
        while (at < chunk.size()) {
            const size_t end = chunk.find_first_of("\r\n", at);
            if (end == std::string_view::npos) {
                keep(chunk.substr(at));
                return;
            }
            keep(chunk.substr(at, end - at));
            joiner_.physicalLine(partial_, cut_);
            partial_.clear();
            cut_ = false;
            pending_ = false;
            at = end + 1;
            if (chunk[end] == '\r') {
                if (at < chunk.size()) {
                    at += chunk[at] == '\n' ? 1 : 0;
                } else {
                    afterCarriageReturn_ = true;
                }
            }
        }
    }

    void finish() {
        if (pending_) {
            joiner_.physicalLine(partial_, cut_);
        }
        joiner_.finish();
    }

private:
    void keep(std::string_view piece) {
        pending_ = pending_ || !piece.empty();
        keepBounded(partial_, piece, cut_);
    }

    ContentLineJoiner& joiner_;
    std::string partial_;
    bool pending_ = false; // a line has begun since the last line end
    bool cut_ = false;
    bool afterCarriageReturn_ = false;
};

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

// Builds cards from content lines, in order.
class CardCollector {
public:
    CardCollector(const std::string& source, int sourceIndex)
        : source_(source), sourceIndex_(sourceIndex) {}

    void line(std::string_view line) {
        auto property = parseProperty(line);
        if (!property) {
            return;
        }
        const std::string value = ascii::upper(ascii::trimmed(property->rawValue));
        if (property->name == "BEGIN" && value == "VCARD") {
            sawCard_ = true;
            if (depth_++ == 0) {
                card_ = ContactCard{};
                card_.source = source_;
                card_.sourceIndex = sourceIndex_;
                haveName_ = false;
            }
        } else if (property->name == "END" && value == "VCARD") {
            if (depth_ > 0 && --depth_ == 0) {
                finishCard();
            }
        } else if (depth_ == 1) {
            apply(card_, *property, haveName_);
        }
    }

    // The cards read; a last card cut off before its END is kept.
    std::vector<ContactCard> finish() {
        if (depth_ > 0) {
            finishCard();
            depth_ = 0;
        }
        return std::move(cards_);
    }

    // A BEGIN:VCARD line was read.
    bool sawCard() const { return sawCard_; }

private:
    void finishCard() {
        ++cardNumber_;
        if (card_.uid.empty()) {
            card_.uid = source_ + "#" + std::to_string(cardNumber_);
        }
        if (hasContent(card_)) {
            cards_.push_back(std::move(card_));
        }
    }

    const std::string& source_;
    int sourceIndex_;
    std::vector<ContactCard> cards_;
    ContactCard card_;
    bool haveName_ = false;
    int depth_ = 0;
    int cardNumber_ = 0;
    bool sawCard_ = false;
};

// Reads text chunk by chunk into cards: a UTF-8 byte-order mark at the start
// is skipped, then lines are split, joined and collected.
class CardStream {
public:
    CardStream(const std::string& source, int sourceIndex)
        : collector_(source, sourceIndex),
          joiner_([this](std::string_view line) { collector_.line(line); }), splitter_(joiner_) {}

    void feed(std::string_view chunk) {
        static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
        if (start_.size() < kByteOrderMark.size()) {
            // Held back until it is known whether the text starts with one.
            const size_t take = std::min(chunk.size(), kByteOrderMark.size() - start_.size());
            start_.append(chunk.substr(0, take));
            chunk.remove_prefix(take);
            if (start_.size() < kByteOrderMark.size()) {
                return;
            }
            splitter_.feed(start_ == kByteOrderMark ? std::string_view() : start_);
        }
        splitter_.feed(chunk);
    }

    std::vector<ContactCard> finish() {
        if (start_.size() < 3) {
            splitter_.feed(start_);
        }
        splitter_.finish();
        return collector_.finish();
    }

    bool sawCard() const { return collector_.sawCard(); }

private:
    std::string start_;
    CardCollector collector_;
    ContentLineJoiner joiner_;
    PhysicalLineSplitter splitter_;
};

std::string describeErrno(int error) {
    return std::strerror(error);
}

} // namespace

VCardReader::Error::Error(std::string path, std::string message)
    : description_("vCard file " + std::move(path) + " could not be read: " + std::move(message)) {}

std::vector<ContactCard> VCardReader::parse(std::string_view text, const std::string& source,
                                            int sourceIndex) {
    CardStream stream(source, sourceIndex);
    stream.feed(text);
    return stream.finish();
}

std::vector<ContactCard> VCardReader::readFile(const std::string& path, int sourceIndex) {
    // Opened without waiting, so that a pipe with no writer cannot hold the
    // sync; anything but a regular file is refused before a byte is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        throw Error(path, describeErrno(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        throw Error(path, describeErrno(errno));
    }
    if (S_ISDIR(status.st_mode)) {
        throw Error(path, "it is a folder; name a .vcf file inside it");
    }
    if (!S_ISREG(status.st_mode)) {
        throw Error(path, "it is not a regular file (a device, pipe or socket)");
    }
    const auto tooLarge = [&] {
        return Error(path, "it is larger than " + std::to_string(kMaxFileBytes >> 20) +
                               " MiB; split it into smaller files");
    };
    if (static_cast<uint64_t>(status.st_size) > kMaxFileBytes) {
        throw tooLarge();
    }
    CardStream stream(path, sourceIndex);
    std::vector<char> buffer(1 << 16);
    uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error(path, describeErrno(errno));
        }
        if (got == 0) {
            break;
        }
        total += static_cast<uint64_t>(got);
        if (total > kMaxFileBytes) {
            throw tooLarge(); // it grew while being read
        }
        stream.feed(std::string_view(buffer.data(), static_cast<size_t>(got)));
    }
    std::vector<ContactCard> cards = stream.finish();
    if (!stream.sawCard()) {
        throw Error(path, "it holds no vCard (no BEGIN:VCARD line)");
    }
    return cards;
}

} // namespace orlune::core

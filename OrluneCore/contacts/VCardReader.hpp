#pragma once
// Reads contact cards from vCard files (3.0 and 4.0, and the 2.1 habits that
// exports still carry), for machines without the macOS address book.
//
// Understood: lines folded with a leading space or tab; CRLF, LF or CR line
// ends; a UTF-8 byte-order mark; property groups ("item1.TEL"); parameters,
// quoted or not, and 2.1's bare types ("TEL;CELL:"); quoted-printable values
// with soft line breaks and a CHARSET (any ICU converts; UTF-8 when none);
// backslash escapes (\n \, \; \\); N, FN, NICKNAME (a list), ORG, TEL (text or
// a "tel:" URI), EMAIL and UID. Everything else is skipped, as are base64
// values (photos), cards nested inside a card (2.1 AGENT) and lines that are
// not properties. A card with no name, phone number or e-mail address is
// dropped. Text that is not well-formed UTF-8 gets U+FFFD. A content line
// longer than 1 MiB (once unfolded) is skipped.
//
// Reading is linear in the text and streams: a file is read in pieces, and
// what is held at once is one content line and the cards read so far.

#include "contacts/ContactCard.hpp"

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

class VCardReader {
public:
    class Error : public std::exception {
    public:
        Error(std::string path, std::string message);
        // "vCard file <path> could not be read: <message>".
        const char* what() const noexcept override { return description_.c_str(); }

    private:
        std::string description_;
    };

    // The cards of `text`, in order; `source` and `sourceIndex` are copied
    // into each. A card without UID gets "<source>#<n>", n counting the
    // file's cards from 1. Pure; never throws for malformed text.
    static std::vector<ContactCard> parse(std::string_view text, const std::string& source,
                                          int sourceIndex);

    // The largest vCard file read.
    static constexpr uint64_t kMaxFileBytes = uint64_t{128} << 20;

    // parse() of the file at `path`, read as it streams in. Throws Error
    // when it cannot be opened or read, is not a regular file (a folder, a
    // pipe, a device: refused without waiting for a writer), is larger than
    // kMaxFileBytes, or holds no vCard at all.
    static std::vector<ContactCard> readFile(const std::string& path, int sourceIndex);
};

} // namespace orlune::core

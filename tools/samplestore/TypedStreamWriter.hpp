#pragma once
// Writes message bodies as typedstream archives of an attributed string, in
// the form the operating system's archiver gives them: the header, a root
// NSAttributedString (or NSMutableAttributedString) whose first member is an
// NSString (or NSMutableString) holding the text as one `+` byte run, then
// the attribute runs (`iI`: a dictionary number and a length in UTF-16 units)
// each followed, the first time it is used, by an NSDictionary of attributes
// keyed by __kIM... names (and IMAudioTranscription) with NSNumber, NSString or NSURL values.
// Shared strings, classes and objects are written once and referred to afterwards.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::samplestore {

// The attributes of one run of the text.
struct TextAttributes {
    int64_t messagePart = 0;                       // __kIMMessagePartAttributeName (NSNumber)
    std::optional<std::string> link;               // __kIMLinkAttributeName (NSURL)
    std::optional<std::string> fileTransferGuid;   // __kIMFileTransferGUIDAttributeName (NSString)
    std::optional<std::string> audioTranscription; // IMAudioTranscription (NSString): a voice
                                                   // message's transcript, beside its guid
    std::optional<std::string> mention;            // __kIMMentionConfirmedMention (NSString)
    bool bold = false;                             // __kIMTextBoldAttributeName (NSNumber 1)

    bool operator==(const TextAttributes&) const = default;
};

// A run of `utf16Length` UTF-16 units of the text sharing `attributes`.
struct AttributeRun {
    uint64_t utf16Length = 0;
    TextAttributes attributes;
};

struct AttributedBodyOptions {
    // NSMutableAttributedString / NSMutableString instead of the immutable
    // classes (the archiver writes both).
    bool mutableClasses = false;
    // The runs, covering the text in order. Empty: one run over the whole
    // text with message part 0.
    std::vector<AttributeRun> runs;
};

class TypedStreamWriter {
public:
    // The archive of `text` (UTF-8 bytes, written unchanged) with `options`.
    static std::string attributedBody(std::string_view text,
                                      const AttributedBodyOptions& options = {});

    // The number of UTF-16 units of `text` (well-formed UTF-8): the unit that
    // attribute runs count in.
    static uint64_t utf16Length(std::string_view text);

    // An integer as the archive writes lengths and numbers: one byte from
    // -128 to 127 except the tag bytes, 0x81 and two little-endian bytes up to
    // 16 bits, 0x82 and four bytes beyond.
    static std::string encodeInteger(int64_t value);
};

} // namespace orlune::samplestore

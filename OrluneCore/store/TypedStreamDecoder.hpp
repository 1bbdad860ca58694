#pragma once
// Reads the text of a message body stored as a typedstream archive of an
// attributed string (the `attributedBody` column of the messaging store).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orlune::core {

class TypedStreamDecoder {
public:
    // The message text held in `data`, or absent when there is none.
    //
    // An archive in the form the operating system writes (header, a root
    // NSAttributedString or NSMutableAttributedString whose first member is an
    // NSString or NSMutableString holding the text as one `+` byte run) gives
    // that byte run as UTF-8, ill-formed sequences replaced by U+FFFD; the
    // attribute runs after it are not read. The text is absent when no
    // character of it is a letter, a number or an emoji (an attachment-only
    // body of U+FFFC, say, or one of punctuation alone); a body of emoji alone
    // is a message like any other.
    //
    // Anything else (another layout, a truncated archive) is read by a lenient
    // scan that collects the length-prefixed strings it meets, keeps those with
    // a letter, number or emoji that do not name framework classes or attribute keys,
    // and joins them with line feeds.
    //
    // Never throws and never reads outside `data`, whatever its bytes; no
    // state is shared, so any thread may call it.
    static std::optional<std::string> decodeToString(std::string_view data) noexcept;
    static std::optional<std::string> decodeToString(std::span<const uint8_t> data) noexcept;

    // The system's own transcript of a voice message held in `data`: the
    // string value of the attribute keyed kAudioTranscriptionKey beside the
    // audio attachment's placeholder (the body's text is then only U+FFFC).
    // Absent when the body has none, or its value has no letter, number or
    // emoji. Never throws; never reads outside `data`.
    static std::optional<std::string> audioTranscription(std::string_view data) noexcept;

    static constexpr std::string_view kAudioTranscriptionKey = "IMAudioTranscription";
};

} // namespace orlune::core

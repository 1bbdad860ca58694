#pragma once
// What kind of thing an attachment of the messaging store is, in the words a
// person would search with ("photo", "voice message", "pdf"). A pure
// function of the attachment row's values; any thread.

#include <optional>
#include <string_view>
#include <vector>

namespace orlune::core {

enum class AttachmentKind {
    Photo,
    Video,
    VoiceMessage,
    Audio,
    Pdf,
    ContactCard,
    Location,
    CalendarEvent,
    Document,
    Sticker,
    File, // anything else
};

// "photo", "video", "voice message", "audio", "pdf", "contact card",
// "location", "calendar event", "document", "sticker", "file".
std::string_view attachmentKindName(AttachmentKind kind);

// The facts an attachment row gives (absent where the column is NULL).
struct AttachmentFacts {
    std::optional<std::string_view> uti;      // attachment.uti
    std::optional<std::string_view> mimeType; // attachment.mime_type, often NULL
    std::optional<std::string_view> name;     // transfer_name, else filename
    bool isSticker = false;                   // attachment.is_sticker
    bool isAudioMessage = false;              // message.is_audio_message
};

// The kind, decided in this order: a sticker; a recorded voice message (the
// message's flag, or the Core Audio type the recorder writes); a shared
// location (a ".loc.vcf" card); then the MIME type, the UTI and the name's
// extension, the first that is known deciding; "file" when none is. Letter
// case does not matter; generic values (application/octet-stream,
// public.data, dynamic UTIs) decide nothing.
AttachmentKind attachmentKind(const AttachmentFacts& facts);

// A voice message carries no typed text: the text of a message with a
// visible attachment of kind "voice message" is the system's transcript of
// the recording (ChatDBReader copies it from the body). Wherever such a text
// is shown it follows kTranscriptMark.
bool isVoiceTranscript(std::string_view text, const std::vector<std::string>& visibleKinds);
inline constexpr std::string_view kTranscriptMark = "[voice message] ";

} // namespace orlune::core

#include "records/AttachmentKind.hpp"

#include "base/AsciiText.hpp"

#include <algorithm>
#include <array>
#include <string>

namespace orlune::core {

namespace {

struct Entry {
    std::string_view key;
    AttachmentKind kind;
};

// Exact MIME types; the top-level types image/, video/ and audio/ are
// handled after them.
constexpr std::array<Entry, 14> kMimeTypes = {{
    {"application/pdf", AttachmentKind::Pdf},
    {"text/vcard", AttachmentKind::ContactCard},
    {"text/x-vcard", AttachmentKind::ContactCard},
    {"text/directory", AttachmentKind::ContactCard},
    {"text/calendar", AttachmentKind::CalendarEvent},
    {"text/x-vcalendar", AttachmentKind::CalendarEvent},
    {"audio/x-caf", AttachmentKind::VoiceMessage},
    {"text/plain", AttachmentKind::Document},
    {"text/rtf", AttachmentKind::Document},
    {"application/rtf", AttachmentKind::Document},
    {"application/msword", AttachmentKind::Document},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document",
     AttachmentKind::Document},
    {"application/vnd.ms-excel", AttachmentKind::Document},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", AttachmentKind::Document},
}};

constexpr std::array<Entry, 33> kUtis = {{
    {"com.apple.coreaudio-format", AttachmentKind::VoiceMessage},
    {"com.adobe.pdf", AttachmentKind::Pdf},
    {"public.vcard", AttachmentKind::ContactCard},
    {"public.contact", AttachmentKind::ContactCard},
    {"com.apple.ical.ics", AttachmentKind::CalendarEvent},
    {"public.calendar-event", AttachmentKind::CalendarEvent},
    {"public.jpeg", AttachmentKind::Photo},
    {"public.png", AttachmentKind::Photo},
    {"public.heic", AttachmentKind::Photo},
    {"public.heif", AttachmentKind::Photo},
    {"public.tiff", AttachmentKind::Photo},
    {"public.image", AttachmentKind::Photo},
    {"com.compuserve.gif", AttachmentKind::Photo},
    {"org.webmproject.webp", AttachmentKind::Photo},
    {"com.microsoft.bmp", AttachmentKind::Photo},
    {"public.camera-raw-image", AttachmentKind::Photo},
    {"com.apple.quicktime-movie", AttachmentKind::Video},
    {"public.mpeg-4", AttachmentKind::Video},
    {"public.movie", AttachmentKind::Video},
    {"public.video", AttachmentKind::Video},
    {"public.3gpp", AttachmentKind::Video},
    {"com.apple.m4v-video", AttachmentKind::Video},
    {"public.avi", AttachmentKind::Video},
    {"public.mp3", AttachmentKind::Audio},
    {"public.mpeg-4-audio", AttachmentKind::Audio},
    {"com.apple.m4a-audio", AttachmentKind::Audio},
    {"public.aiff-audio", AttachmentKind::Audio},
    {"com.microsoft.waveform-audio", AttachmentKind::Audio},
    {"org.3gpp.adaptive-multi-rate-audio", AttachmentKind::Audio},
    {"public.audio", AttachmentKind::Audio},
    {"public.plain-text", AttachmentKind::Document},
    {"com.apple.iwork.pages.sffpages", AttachmentKind::Document},
    {"org.openxmlformats.wordprocessingml.document", AttachmentKind::Document},
}};

constexpr std::array<Entry, 36> kExtensions = {{
    {"jpg", AttachmentKind::Photo},        {"jpeg", AttachmentKind::Photo},
    {"png", AttachmentKind::Photo},        {"heic", AttachmentKind::Photo},
    {"heif", AttachmentKind::Photo},       {"gif", AttachmentKind::Photo},
    {"tif", AttachmentKind::Photo},        {"tiff", AttachmentKind::Photo},
    {"webp", AttachmentKind::Photo},       {"bmp", AttachmentKind::Photo},
    {"dng", AttachmentKind::Photo},        {"mov", AttachmentKind::Video},
    {"mp4", AttachmentKind::Video},        {"m4v", AttachmentKind::Video},
    {"3gp", AttachmentKind::Video},        {"avi", AttachmentKind::Video},
    {"caf", AttachmentKind::VoiceMessage}, {"mp3", AttachmentKind::Audio},
    {"m4a", AttachmentKind::Audio},        {"wav", AttachmentKind::Audio},
    {"aac", AttachmentKind::Audio},        {"aiff", AttachmentKind::Audio},
    {"amr", AttachmentKind::Audio},        {"pdf", AttachmentKind::Pdf},
    {"vcf", AttachmentKind::ContactCard},  {"ics", AttachmentKind::CalendarEvent},
    {"txt", AttachmentKind::Document},     {"rtf", AttachmentKind::Document},
    {"doc", AttachmentKind::Document},     {"docx", AttachmentKind::Document},
    {"pages", AttachmentKind::Document},   {"xls", AttachmentKind::Document},
    {"xlsx", AttachmentKind::Document},    {"numbers", AttachmentKind::Document},
    {"key", AttachmentKind::Document},     {"pptx", AttachmentKind::Document},
}};

template <size_t N>
std::optional<AttachmentKind> lookUp(const std::array<Entry, N>& table, std::string_view key) {
    for (const auto& entry : table) {
        if (entry.key == key) {
            return entry.kind;
        }
    }
    return std::nullopt;
}

std::optional<AttachmentKind> fromMimeType(std::string_view value) {
    const std::string mime = ascii::lower(value);
    if (auto kind = lookUp(kMimeTypes, mime)) {
        return kind;
    }
    if (mime.starts_with("image/")) {
        return AttachmentKind::Photo;
    }
    if (mime.starts_with("video/")) {
        return AttachmentKind::Video;
    }
    if (mime.starts_with("audio/")) {
        return AttachmentKind::Audio;
    }
    return std::nullopt;
}

std::optional<AttachmentKind> fromUti(std::string_view value) {
    return lookUp(kUtis, ascii::lower(value));
}

std::optional<AttachmentKind> fromName(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size() ||
        name.find('/', dot) != std::string_view::npos) {
        return std::nullopt;
    }
    return lookUp(kExtensions, ascii::lower(name.substr(dot + 1)));
}

} // namespace

std::string_view attachmentKindName(AttachmentKind kind) {
    switch (kind) {
    case AttachmentKind::Photo:
        return "photo";
    case AttachmentKind::Video:
        return "video";
    case AttachmentKind::VoiceMessage:
        return "voice message";
    case AttachmentKind::Audio:
        return "audio";
    case AttachmentKind::Pdf:
        return "pdf";
    case AttachmentKind::ContactCard:
        return "contact card";
    case AttachmentKind::Location:
        return "location";
    case AttachmentKind::CalendarEvent:
        return "calendar event";
    case AttachmentKind::Document:
        return "document";
    case AttachmentKind::Sticker:
        return "sticker";
    case AttachmentKind::File:
        return "file";
    }
    return "file";
}

AttachmentKind attachmentKind(const AttachmentFacts& facts) {
    if (facts.isSticker) {
        return AttachmentKind::Sticker;
    }
    if (facts.isAudioMessage ||
        (facts.uti && ascii::lower(*facts.uti) == "com.apple.coreaudio-format")) {
        return AttachmentKind::VoiceMessage;
    }
    if (facts.name && ascii::lower(*facts.name).ends_with(".loc.vcf")) {
        return AttachmentKind::Location;
    }
    if (facts.mimeType) {
        if (auto kind = fromMimeType(*facts.mimeType)) {
            return *kind;
        }
    }
    if (facts.uti) {
        if (auto kind = fromUti(*facts.uti)) {
            return *kind;
        }
    }
    if (facts.name) {
        if (auto kind = fromName(*facts.name)) {
            return *kind;
        }
    }
    return AttachmentKind::File;
}

bool isVoiceTranscript(std::string_view text, const std::vector<std::string>& visibleKinds) {
    return !text.empty() &&
           std::find(visibleKinds.begin(), visibleKinds.end(),
                     attachmentKindName(AttachmentKind::VoiceMessage)) != visibleKinds.end();
}

} // namespace orlune::core

#include "records/AttachmentKind.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

TEST(AttachmentKind, FromTheRowsFacts) {
    using K = AttachmentKind;
    using O = std::optional<std::string_view>;
    struct Case {
        const char* name;
        AttachmentFacts facts;
        K expected;
    };
    const Case cases[] = {
        {"photo by MIME", {O("public.heic"), O("image/heic"), O("IMG_0042.HEIC")}, K::Photo},
        {"photo by UTI, MIME missing", {O("public.jpeg"), std::nullopt, O("IMG_1.JPG")}, K::Photo},
        {"photo by extension only", {std::nullopt, std::nullopt, O("scan.PNG")}, K::Photo},
        {"gif", {O("com.compuserve.gif"), O("image/gif"), O("party.gif")}, K::Photo},
        {"video", {O("com.apple.quicktime-movie"), O("video/quicktime"), O("IMG_2.MOV")}, K::Video},
        {"video by MIME family", {std::nullopt, O("video/webm"), std::nullopt}, K::Video},
        {"voice message by the message flag",
         {O("com.apple.coreaudio-format"), std::nullopt, O("Audio Message.caf"), false, true},
         K::VoiceMessage},
        {"voice message by the recorder's UTI",
         {O("com.apple.coreaudio-format"), std::nullopt, O("Audio Message.caf")},
         K::VoiceMessage},
        {"flag wins over the file's type",
         {O("public.mpeg-4-audio"), O("audio/mp4"), O("a.m4a"), false, true},
         K::VoiceMessage},
        {"audio file", {O("public.mp3"), O("audio/mpeg"), O("song.mp3")}, K::Audio},
        {"audio from an MMS", {std::nullopt, O("audio/amr"), O("voice.amr")}, K::Audio},
        {"pdf", {O("com.adobe.pdf"), O("application/pdf"), O("Lease.pdf")}, K::Pdf},
        {"pdf by UTI", {O("com.adobe.pdf"), std::nullopt, std::nullopt}, K::Pdf},
        {"contact card", {O("public.vcard"), O("text/vcard"), O("Alex Kim.vcf")}, K::ContactCard},
        {"shared location is a card too",
         {O("public.vcard"), O("text/vcard"), O("CL.loc.vcf")},
         K::Location},
        {"named location",
         {O("public.vcard"), std::nullopt, O("Café Müller.LOC.VCF")},
         K::Location},
        {"calendar event",
         {O("com.apple.ical.ics"), O("text/calendar"), O("dinner.ics")},
         K::CalendarEvent},
        {"document",
         {O("org.openxmlformats.wordprocessingml.document"), std::nullopt, O("CV.docx")},
         K::Document},
        {"sticker whatever its image type",
         {O("public.png"), O("image/png"), O("s.png"), true},
         K::Sticker},
        {"generic MIME defers to the UTI",
         {O("com.adobe.pdf"), O("application/octet-stream"), O("x.bin")},
         K::Pdf},
        {"dynamic UTI defers to the extension",
         {O("dyn.ah62d4rv4ge80c8x1"), std::nullopt, O("notes.txt")},
         K::Document},
        {"case of MIME and UTI", {O("PUBLIC.JPEG"), O("IMAGE/JPEG"), std::nullopt}, K::Photo},
        {"unknown everything",
         {O("public.zip-archive"), O("application/zip"), O("x.zip")},
         K::File},
        {"nothing known", {}, K::File},
        {"dot in a folder, not an extension",
         {std::nullopt, std::nullopt, O("a.jpg/readme")},
         K::File},
        {"name ending in a dot", {std::nullopt, std::nullopt, O("photo.")}, K::File},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(attachmentKindName(attachmentKind(c.facts)), attachmentKindName(c.expected))
            << c.name;
    }
}

} // namespace
} // namespace orlune::core

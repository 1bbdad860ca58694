#include "store/TypedStreamDecoder.hpp"

#include "base/Utf8.hpp"
#include "tests/support/HexBytes.hpp"
#include "tools/samplestore/TypedStreamWriter.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace orlune::core {
namespace {

using samplestore::AttributedBodyOptions;
using samplestore::AttributeRun;
using samplestore::TextAttributes;
using samplestore::TypedStreamWriter;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out += static_cast<char>(v);
    }
    return out;
}

// The body of "Hi there" as the operating system's archiver writes it.
const std::string kHiThere =
    testing::bytesFromHex("04 0b 73 74 72 65 61 6d 74 79 70 65 64 81 e8 03 84 01 40 84 84 84 12 4e"
                          "53 41 74 74 72 69 62 75 74 65 64 53 74 72 69 6e 67 00 84 84 08 4e 53 4f"
                          "62 6a 65 63 74 00 85 92 84 84 84 08 4e 53 53 74 72 69 6e 67 01 94 84 01"
                          "2b 08 48 69 20 74 68 65 72 65 86 84 02 69 49 01 08 92 84 84 84 0c 4e 53"
                          "44 69 63 74 69 6f 6e 61 72 79 00 94 84 01 69 01 92 84 96 96 1d 5f 5f 6b"
                          "49 4d 4d 65 73 73 61 67 65 50 61 72 74 41 74 74 72 69 62 75 74 65 4e 61"
                          "6d 65 86 92 84 84 84 08 4e 53 4e 75 6d 62 65 72 00 84 84 07 4e 53 56 61"
                          "6c 75 65 00 94 84 01 2a 84 99 99 00 86 86 86");

// Version 4, "streamtyped", system version 1000.
std::string utf8Sanitized(std::string_view text) {
    return utf8::sanitize(text);
}

const std::string kHeader = bytes({0x04, 0x0B}) + "streamtyped" + bytes({0x81, 0xE8, 0x03});

TEST(TypedStreamDecoder, ReadsTheArchiversExample) {
    ASSERT_EQ(kHiThere.size(), 183u);
    EXPECT_EQ(TypedStreamDecoder::decodeToString(kHiThere), "Hi there");
}

TEST(TypedStreamDecoder, WriterProducesTheArchiversBytes) {
    EXPECT_EQ(TypedStreamWriter::attributedBody("Hi there"), kHiThere);
}

TEST(TypedStreamDecoder, BodiesOutsideTheArchiveFormFallBackToTheScan) {
    struct Case {
        const char* name;
        std::string body;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"new type byte then a plus run", kHeader + bytes({0x84, 0x2B, 0x05}) + "Hello", "Hello"},
        {"object with an inline NSString class",
         kHeader + bytes({0x84, 0x40, 0x84, 0x08}) + "NSString" + bytes({0x01, 0x05}) + "Hello",
         "Hello"},
        {"bare length after the header", kHeader + bytes({0x05}) + "Hello", std::nullopt},
        {"empty", "", std::nullopt},
        {"header only", kHeader, std::nullopt},
        {"framework names only are dropped", kHeader + bytes({0x84, 0x2B, 0x0D}) + "NSURL is here",
         std::nullopt},
        {"emoji alone are kept", kHeader + bytes({0x84, 0x2B, 0x08}) + "🙏🙏", "🙏🙏"},
        {"punctuation alone is dropped", kHeader + bytes({0x84, 0x2B, 0x03}) + "?!.", std::nullopt},
        {"two strings joined by a line feed",
         kHeader + bytes({0x84, 0x2B, 0x03}) + "one" + bytes({0x84, 0x2B, 0x03}) + "two",
         "one\ntwo"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TypedStreamDecoder::decodeToString(c.body), c.expected) << c.name;
    }
}

// The position of the text's length in a writer archive with immutable
// classes: after the header, the root object's chain and the string object's
// chain, as in the archiver's example (offset 73 there).
constexpr size_t kTextLengthOffset = 73;

TEST(TypedStreamDecoder, LengthsUseTheirShortestForm) {
    struct Case {
        size_t length;
        std::string encoded;
    };
    const Case cases[] = {
        {0, bytes({0x00})},
        {127, bytes({0x7F})},
        {128, bytes({0x81, 0x80, 0x00})},
        {255, bytes({0x81, 0xFF, 0x00})},
        {256, bytes({0x81, 0x00, 0x01})},
        {65535, bytes({0x81, 0xFF, 0xFF})},
        {65536, bytes({0x82, 0x00, 0x00, 0x01, 0x00})},
        {70000, bytes({0x82, 0x70, 0x11, 0x01, 0x00})},
    };
    for (const auto& c : cases) {
        std::string text(c.length, 'a');
        std::string archive = TypedStreamWriter::attributedBody(text);
        ASSERT_EQ(archive.compare(kTextLengthOffset, c.encoded.size(), c.encoded), 0) << c.length;
        ASSERT_EQ(archive.compare(kTextLengthOffset + c.encoded.size(), c.length, text), 0);
        if (c.length == 0) {
            EXPECT_EQ(TypedStreamDecoder::decodeToString(archive), std::nullopt);
        } else {
            EXPECT_EQ(TypedStreamDecoder::decodeToString(archive), text) << c.length;
        }
    }
}

std::string repeatToLength(std::string_view unit, size_t length) {
    std::string out;
    while (out.size() + unit.size() <= length) {
        out += unit;
    }
    out.append(length - out.size(), '.');
    return out;
}

TEST(TypedStreamDecoder, ReadsWriterArchives) {
    samplestore::TextAttributes link;
    link.link = "https://www.example.com/a";
    samplestore::TextAttributes attachment;
    attachment.fileTransferGuid = "at_0_5F3C2E1A-0000-4000-8000-000000000001";
    samplestore::TextAttributes mention;
    mention.mention = "+15550001";
    samplestore::TextAttributes caption;
    caption.messagePart = 1;
    caption.bold = true;
    const std::string attachmentCharacter = "\xEF\xBF\xBC";

    struct Case {
        const char* name;
        std::string text;
        AttributedBodyOptions options;
        std::optional<std::string> expected;
    };
    auto runs = [](std::vector<std::pair<std::string, TextAttributes>> pieces,
                   bool mutableClasses) {
        AttributedBodyOptions options;
        options.mutableClasses = mutableClasses;
        for (auto& [text, attributes] : pieces) {
            options.runs.push_back({TypedStreamWriter::utf16Length(text), attributes});
        }
        return options;
    };
    const std::string url = "https://www.example.com/a";
    const std::string accents = repeatToLength("Crème brûlée à São Paulo ", 300);
    const std::string emoji = "On the way 🚗💨 see you soon 👨‍👩‍👧";
    const std::string arabic = "مرحبا، كيف حالك؟";
    const Case cases[] = {
        {"short", "Hello", {}, "Hello"},
        {"mutable classes", "Hello", runs({{"Hello", {}}}, true), "Hello"},
        {"128 bytes", std::string(128, 'b'), {}, std::string(128, 'b')},
        {"256 bytes of accents", accents.substr(0, 256), {}, std::nullopt /* set below */},
        {"emoji", emoji, {}, emoji},
        {"arabic", arabic, {}, arabic},
        {"link run", "Look at this " + url, runs({{"Look at this ", {}}, {url, link}}, false),
         "Look at this " + url},
        {"mention run", "Bob are you coming?",
         runs({{"Bob", mention}, {" are you coming?", {}}}, true), "Bob are you coming?"},
        {"attachment with caption", attachmentCharacter + "Look",
         runs({{attachmentCharacter, attachment}, {"Look", caption}}, false),
         attachmentCharacter + "Look"},
        {"attachment only", attachmentCharacter, runs({{attachmentCharacter, attachment}}, false),
         std::nullopt},
        {"emoji only", "😂😂", {}, "😂😂"},
        {"a heart with its variation selector", "❤️", {}, "❤️"},
        {"a flag", "🇫🇷", {}, "🇫🇷"},
        {"punctuation and spaces", " ?! ", {}, std::nullopt},
        {"framework words typed by the user",
         "Is NSURL an Attribute of __kIM?",
         {},
         "Is NSURL an Attribute of __kIM?"},
        {"digits only", "42", {}, "42"},
    };
    for (const auto& c : cases) {
        std::string archive = TypedStreamWriter::attributedBody(c.text, c.options);
        std::optional<std::string> expected = c.expected;
        if (std::string_view(c.name) == "256 bytes of accents") {
            // The cut may split a character; the broken sequence becomes U+FFFD.
            expected = utf8Sanitized(c.text);
        }
        EXPECT_EQ(TypedStreamDecoder::decodeToString(archive), expected) << c.name;
    }
}

TEST(TypedStreamDecoder, IllFormedTextIsReplacedNotDropped) {
    const std::string text = std::string("caf\xC3", 4) + " ok";
    EXPECT_EQ(TypedStreamDecoder::decodeToString(TypedStreamWriter::attributedBody(text)),
              "caf\xEF\xBF\xBD ok");
}

// Each prefix is copied into a buffer of exactly its size so that a read past
// its end is caught by AddressSanitizer.
std::optional<std::string> decodeExactCopy(std::string_view bytes) {
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    return TypedStreamDecoder::decodeToString(std::span<const uint8_t>(copy.data(), copy.size()));
}

TEST(TypedStreamDecoder, TruncatedArchivesNeverReadPastTheEnd) {
    samplestore::TextAttributes link;
    link.link = "https://www.example.com/a";
    AttributedBodyOptions options;
    const std::string linked = "see https://www.example.com/a";
    options.runs = {{4, {}}, {25, link}};
    const std::pair<std::string, std::string> archives[] = {
        {"Hi there", kHiThere},
        {"Hello 👋 Zoë", TypedStreamWriter::attributedBody("Hello 👋 Zoë")},
        {std::string(300, 'z'), TypedStreamWriter::attributedBody(std::string(300, 'z'))},
        {linked, TypedStreamWriter::attributedBody(linked, options)},
    };
    for (const auto& [text, archive] : archives) {
        const size_t textEnd = archive.find(text) + text.size();
        for (size_t cut = 0; cut <= archive.size(); ++cut) {
            auto decoded = decodeExactCopy(std::string_view(archive).substr(0, cut));
            if (cut >= textEnd) {
                // The attribute runs after the text are not needed.
                EXPECT_EQ(decoded, text) << "cut at " << cut;
            } else if (decoded) {
                EXPECT_EQ(decoded->find("NS"), std::string::npos)
                    << "cut at " << cut << ": " << *decoded;
            }
        }
    }
}

TEST(TypedStreamDecoder, DeepClassChains) {
    // A root class with many superclasses before the text. The archive
    // reader keeps a bounded number of classes; past that it leaves the
    // body to the scan, which must still stop safely.
    for (int classes : {20, 40, 200}) {
        std::string blob = kHeader + bytes({0x84, 0x01, 0x40, 0x84, 0x84, 0x84, 0x12}) +
                           "NSAttributedString" + bytes({0x00});
        for (int i = 0; i < classes; ++i) {
            const std::string name = "Class" + std::to_string(i);
            blob += bytes({0x84, 0x84, static_cast<int>(name.size())}) + name + bytes({0x00});
        }
        blob += bytes({0x85, 0x92, 0x84, 0x84, 0x84, 0x08}) + "NSString" +
                bytes({0x01, 0x85, 0x84, 0x01, 0x2B, 0x04}) + "text" + bytes({0x86, 0x86});
        auto decoded = decodeExactCopy(blob);
        if (classes == 20) {
            EXPECT_EQ(decoded, "text");
        } else if (decoded) {
            EXPECT_FALSE(decoded->empty());
        }
    }
}

TEST(TypedStreamDecoder, ArbitraryBytesNeverCrash) {
    std::mt19937 rng(12345);
    const std::string base = TypedStreamWriter::attributedBody("Random 🎲 input");
    for (int round = 0; round < 4000; ++round) {
        std::string blob;
        switch (round % 3) {
        case 0: { // noise
            blob.resize(rng() % 200);
            for (auto& b : blob) {
                b = static_cast<char>(rng());
            }
            break;
        }
        case 1: { // a header, then tag-heavy noise
            blob = kHeader;
            const size_t n = rng() % 120;
            for (size_t i = 0; i < n; ++i) {
                blob += static_cast<char>(0x80 + rng() % 0x80);
            }
            break;
        }
        default: { // a real archive with a few bytes changed
            blob = base;
            for (int flips = 1 + static_cast<int>(rng() % 4); flips > 0; --flips) {
                blob[rng() % blob.size()] = static_cast<char>(rng());
            }
            break;
        }
        }
        auto decoded = decodeExactCopy(blob);
        if (decoded) {
            EXPECT_FALSE(decoded->empty());
        }
    }
}

} // namespace
} // namespace orlune::core

namespace orlune::core {
namespace {

// A voice message's body: its placeholder, with the attachment's guid and,
// when given, the system's transcript in its attributes; `caption` after.
std::string voiceBody(const std::optional<std::string>& transcript,
                      const std::string& caption = "") {
    TextAttributes voice;
    voice.fileTransferGuid = "at_0_5F3C2E1A-0000-4000-8000-000000000002";
    voice.audioTranscription = transcript;
    AttributedBodyOptions options;
    options.runs = {{1, voice}};
    if (!caption.empty()) {
        TextAttributes after;
        after.messagePart = 1;
        options.runs.push_back({TypedStreamWriter::utf16Length(caption), after});
    }
    return TypedStreamWriter::attributedBody("\xEF\xBF\xBC" + caption, options);
}

TEST(TypedStreamDecoder, VoiceMessageTranscripts) {
    const std::string longer(300, 'w');
    const struct {
        const char* name;
        std::string body;
        std::optional<std::string> transcript;
    } cases[] = {
        {"a transcript beside the placeholder", voiceBody("Running late, save me a seat"),
         "Running late, save me a seat"},
        {"a long transcript (16-bit length)", voiceBody(longer), longer},
        {"in a script without spaces", voiceBody("明天见"), "明天见"},
        {"no transcript", voiceBody(std::nullopt), std::nullopt},
        {"a transcript with no letter", voiceBody("..."), std::nullopt},
        {"the key's name typed as a message is no transcript",
         TypedStreamWriter::attributedBody("IMAudioTranscription"), std::nullopt},
        {"not an archive", std::string("\x14IMAudioTranscription\x86"), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TypedStreamDecoder::audioTranscription(c.body), c.transcript);
    }
    // The text itself is only the placeholder: no text of its own.
    EXPECT_EQ(TypedStreamDecoder::decodeToString(voiceBody("Running late")), std::nullopt);
}

TEST(TypedStreamDecoder, TruncatedVoiceBodiesGiveTheWholeTranscriptOrNone) {
    const std::string transcript = "Call me back when you land";
    const std::string body = voiceBody(transcript, "and a caption");
    for (size_t cut = 0; cut <= body.size(); ++cut) {
        const std::string copy = body.substr(0, cut); // exact size, for the sanitizers
        const auto found = TypedStreamDecoder::audioTranscription(copy);
        if (found) {
            EXPECT_EQ(*found, transcript) << "cut at " << cut;
        }
    }
    EXPECT_EQ(TypedStreamDecoder::audioTranscription(body), transcript);
}

} // namespace
} // namespace orlune::core

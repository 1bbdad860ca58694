#include "OrluneCore/TypedStreamDecoder.hpp"
#include "tools/samplestore/TypedStreamWriter.hpp"

#include <gtest/gtest.h>

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

std::string fromHex(std::string_view hex) {
    std::string out;
    int high = -1;
    for (char c : hex) {
        int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (digit < 0) {
            continue;
        }
        if (high < 0) {
            high = digit;
        } else {
            out += static_cast<char>(high * 16 + digit);
            high = -1;
        }
    }
    return out;
}

// The body of "Hi there" as the operating system's archiver writes it.
const std::string kHiThere = fromHex(
    "04 0b 73 74 72 65 61 6d 74 79 70 65 64 81 e8 03 84 01 40 84 84 84 12 4e"
    "53 41 74 74 72 69 62 75 74 65 64 53 74 72 69 6e 67 00 84 84 08 4e 53 4f"
    "62 6a 65 63 74 00 85 92 84 84 84 08 4e 53 53 74 72 69 6e 67 01 94 84 01"
    "2b 08 48 69 20 74 68 65 72 65 86 84 02 69 49 01 08 92 84 84 84 0c 4e 53"
    "44 69 63 74 69 6f 6e 61 72 79 00 94 84 01 69 01 92 84 96 96 1d 5f 5f 6b"
    "49 4d 4d 65 73 73 61 67 65 50 61 72 74 41 74 74 72 69 62 75 74 65 4e 61"
    "6d 65 86 92 84 84 84 08 4e 53 4e 75 6d 62 65 72 00 84 84 07 4e 53 56 61"
    "6c 75 65 00 94 84 01 2a 84 99 99 00 86 86 86");

// Version 4, "streamtyped", system version 1000.
const std::string kHeader =
    bytes({0x04, 0x0B}) + "streamtyped" + bytes({0x81, 0xE8, 0x03});

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
        {"framework names only are dropped",
         kHeader + bytes({0x84, 0x2B, 0x0D}) + "NSURL is here", std::nullopt},
        {"two strings joined by a line feed",
         kHeader + bytes({0x84, 0x2B, 0x03}) + "one" + bytes({0x84, 0x2B, 0x03}) + "two",
         "one\ntwo"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TypedStreamDecoder::decodeToString(c.body), c.expected) << c.name;
    }
}

} // namespace
} // namespace orlune::core

#include "store/BinaryPropertyList.hpp"

#include "tests/support/HexBytes.hpp"
#include "tools/samplestore/BinaryPropertyListWriter.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace orlune::core {
namespace {

using samplestore::BinaryPropertyListWriter;
using Array = PropertyListValue::Array;
using Dictionary = PropertyListValue::Dictionary;

} // namespace

// For readable failures.
void PrintTo(const PropertyListValue& value, std::ostream* os) {
    std::visit(
        [os](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                *os << "null";
            } else if constexpr (std::is_same_v<T, std::string>) {
                *os << '"' << v << '"';
            } else if constexpr (std::is_same_v<T, PropertyListDate>) {
                *os << "date(" << v.secondsSince2001 << ")";
            } else if constexpr (std::is_same_v<T, PropertyListData>) {
                *os << "data(" << v.bytes.size() << " bytes)";
            } else if constexpr (std::is_same_v<T, PropertyListUid>) {
                *os << "uid(" << v.value << ")";
            } else if constexpr (std::is_same_v<T, PropertyListValue::Array>) {
                *os << "[";
                for (const auto& item : v) {
                    PrintTo(item, os);
                    *os << ", ";
                }
                *os << "]";
            } else if constexpr (std::is_same_v<T, PropertyListValue::Dictionary>) {
                *os << "{";
                for (const auto& [key, item] : v) {
                    *os << key << ": ";
                    PrintTo(item, os);
                    *os << ", ";
                }
                *os << "}";
            } else {
                *os << v;
            }
        },
        value.storage());
}

namespace {

// Written by another implementation (Python's plistlib) from
//   {"ascii": "Hi there", "unicode": "Zoë 🎉", "small": 7, "short": 300,
//    "wide": 70000, "big": 2**40, "negative": -5, "real": 1.5,
//    "date": 2023-01-01T00:00:00Z, "data": b"\x00\x01\xff", "yes": True,
//    "no": False, "array": [1, "two", [3.0]], "uid": UID(7),
//    "long": "fifteen or more chars"}
// with its keys sorted.
const std::string kEveryType = testing::bytesFromHex(
    "62706c6973743030df100f0102030405060708090a0b0c0d0e0f1015161718191a1b1c1d1e1f2021225561727261"
    "795561736369695362696754646174615464617465546c6f6e67586e65676174697665526e6f547265616c557368"
    "6f727455736d616c6c5375696457756e69636f6465547769646553796573a311121310015374776fa11423400800"
    "0000000000584869207468657265130000010000000000430001ff3341c4b082400000005f10156669667465656e"
    "206f72206d6f726520636861727313fffffffffffffffb08233ff800000000000011012c1007800766005a006f00"
    "eb0020d83cdf8912000111700908292f35393e43485154595f656971767a7e8084868f98a1a5aec6cfd0d9dcdee0"
    "edf200000000000001010000000000000023000000000000000000000000000000f3");

const PropertyListValue kEveryTypeValue = Dictionary{
    {"array", Array{1, "two", Array{3.0}}},
    {"ascii", "Hi there"},
    {"big", int64_t{1} << 40},
    {"data", PropertyListData{std::string("\x00\x01\xff", 3)}},
    {"date", PropertyListDate{694224000.0}},
    {"long", "fifteen or more chars"},
    {"negative", -5},
    {"no", false},
    {"real", 1.5},
    {"short", 300},
    {"small", 7},
    {"uid", PropertyListUid{7}},
    {"unicode", "Zoë 🎉"},
    {"wide", 70000},
    {"yes", true},
};

TEST(BinaryPropertyList, ReadsEveryTypeAsAnotherSerializerWritesIt) {
    EXPECT_EQ(BinaryPropertyList::decode(kEveryType), kEveryTypeValue);
}

TEST(BinaryPropertyList, WriterOutputReadsBackTheSame) {
    Array many;
    for (int i = 0; i < 300; ++i) { // more objects than one-byte references reach
        many.push_back("item " + std::to_string(i));
    }
    const PropertyListValue values[] = {
        kEveryTypeValue,
        Array{},
        Dictionary{},
        PropertyListValue(),
        many,
        Dictionary{{"same", "x"}, {"again", "x"}, {"nested", Dictionary{{"same", "x"}}}},
        std::string(70000, 'z'),
        PropertyListData{std::string(300, '\0')},
        Array{int64_t{-1}, int64_t{INT64_MIN}, int64_t{INT64_MAX}, int64_t{0xFFFFFFFF}},
        Array{"😂🇫🇷", "ünïcödé", "\xEF\xBF\xBC"},
    };
    for (const auto& value : values) {
        EXPECT_EQ(BinaryPropertyList::decode(BinaryPropertyListWriter::write(value)), value);
    }
}

// A list made by hand from encoded objects (in order, from offset 8), with
// the trailer's fields open to change.
class HandMade {
public:
    HandMade(std::vector<std::string> objects) : objects_(std::move(objects)) {}

    HandMade& top(uint64_t v) { return top_ = v, *this; }
    HandMade& offsetSize(int v) { return offsetSize_ = v, *this; }
    HandMade& refSize(int v) { return refSize_ = v, *this; }
    HandMade& count(uint64_t v) { return count_ = v, *this; }
    HandMade& tableStart(uint64_t v) { return tableStart_ = v, *this; }
    HandMade& firstOffset(uint64_t v) { return firstOffset_ = v, *this; }
    HandMade& header(std::string v) { return header_ = std::move(v), *this; }

    std::string bytes() const {
        std::string out = header_;
        std::vector<uint64_t> offsets;
        for (const auto& o : objects_) {
            offsets.push_back(out.size());
            out += o;
        }
        if (firstOffset_ && !offsets.empty()) {
            offsets[0] = *firstOffset_;
        }
        const uint64_t table = out.size();
        auto bigEndian = [&out](uint64_t v, int width) { // wider than 8: zeros first
            for (int i = width - 1; i >= 0; --i) {
                out += static_cast<char>(i >= 8 ? 0 : (v >> (8 * i)) & 0xFF);
            }
        };
        for (uint64_t offset : offsets) {
            bigEndian(offset, offsetSize_);
        }
        out.append(6, '\0');
        out += static_cast<char>(offsetSize_);
        out += static_cast<char>(refSize_);
        bigEndian(count_.value_or(objects_.size()), 8);
        bigEndian(top_, 8);
        bigEndian(tableStart_.value_or(table), 8);
        return out;
    }

private:
    std::vector<std::string> objects_;
    uint64_t top_ = 0;
    int offsetSize_ = 1;
    int refSize_ = 1;
    std::optional<uint64_t> count_;
    std::optional<uint64_t> tableStart_;
    std::optional<uint64_t> firstOffset_;
    std::string header_ = "bplist00";
};

std::string b(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out += static_cast<char>(v);
    }
    return out;
}

TEST(BinaryPropertyList, HandMadeListsReadAsTheirObjectsSay) {
    struct Case {
        const char* name;
        HandMade list;
        std::optional<PropertyListValue> expected;
    };
    const Case cases[] = {
        {"one integer", HandMade({b({0x10, 0x2A})}), PropertyListValue(42)},
        {"fill read as null", HandMade({b({0x0F})}), PropertyListValue()},
        {"set read as an array", HandMade({b({0xC1, 0x01}), b({0x09})}),
         PropertyListValue(Array{true})},
        {"sixteen-byte integer that fits",
         HandMade({b({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0})}),
         PropertyListValue(256)},
        {"float", HandMade({b({0x22, 0x3F, 0xC0, 0x00, 0x00})}), PropertyListValue(1.5)},
        {"ASCII string with a high byte", HandMade({b({0x52, 'a', 0xE9})}),
         PropertyListValue("a\xEF\xBF\xBD")},
        {"UTF-16 with a lone surrogate", HandMade({b({0x62, 0xD8, 0x3C, 0x00, 'x'})}),
         PropertyListValue("\xEF\xBF\xBDx")},
        {"length written as a following integer", HandMade({b({0x4F, 0x10, 0x02, 0xAA, 0xBB})}),
         PropertyListValue(PropertyListData{b({0xAA, 0xBB})})},
        {"two-byte offsets and references",
         HandMade({b({0xA1, 0x00, 0x01}), b({0x10, 0x07})}).offsetSize(2).refSize(2),
         PropertyListValue(Array{7})},
        {"the same object from two places", HandMade({b({0xA2, 0x01, 0x01}), b({0x51, 'x'})}),
         PropertyListValue(Array{"x", "x"})},
        {"wrong header", HandMade({b({0x10, 0x2A})}).header("bplist01"), std::nullopt},
        {"offset width 0", HandMade({b({0x10, 0x2A})}).offsetSize(0), std::nullopt},
        {"offset width 9", HandMade({b({0x10, 0x2A})}).offsetSize(9), std::nullopt},
        {"reference width 0", HandMade({b({0x10, 0x2A})}).refSize(0), std::nullopt},
        {"no objects", HandMade({b({0x10, 0x2A})}).count(0), std::nullopt},
        {"top past the objects", HandMade({b({0x10, 0x2A})}).top(1), std::nullopt},
        {"more objects than the table holds", HandMade({b({0x10, 0x2A})}).count(1000),
         std::nullopt},
        {"huge object count", HandMade({b({0x10, 0x2A})}).count(UINT64_MAX), std::nullopt},
        {"table inside the header", HandMade({b({0x10, 0x2A})}).tableStart(3), std::nullopt},
        {"table in the trailer", HandMade({b({0x10, 0x2A})}).tableStart(40), std::nullopt},
        {"object offset in the header", HandMade({b({0x10, 0x2A})}).firstOffset(2), std::nullopt},
        {"object offset past the objects", HandMade({b({0x10, 0x2A})}).firstOffset(200),
         std::nullopt},
        {"reference past the objects", HandMade({b({0xA1, 0x05})}), std::nullopt},
        {"array containing itself", HandMade({b({0xA1, 0x00})}), std::nullopt},
        {"dictionary value containing it",
         HandMade({b({0xD1, 0x01, 0x02}), b({0x51, 'k'}), b({0xA1, 0x00})}), std::nullopt},
        {"integer dictionary key", HandMade({b({0xD1, 0x01, 0x01}), b({0x10, 0x01})}),
         std::nullopt},
        {"unknown type", HandMade({b({0x70})}), std::nullopt},
        {"unknown null-family marker", HandMade({b({0x01})}), std::nullopt},
        {"thirty-two-byte integer", HandMade({b({0x15, 0x00})}), std::nullopt},
        {"sixteen-byte integer too wide",
         HandMade({b({0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0})}), std::nullopt},
        {"two-byte real", HandMade({b({0x21, 0x00, 0x00})}), std::nullopt},
        {"string longer than the data", HandMade({b({0x5F, 0x10, 0xFF, 'a'})}), std::nullopt},
        {"data length near 2^64",
         HandMade({b({0x4F, 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0})}), std::nullopt},
        {"UTF-16 length overflowing when doubled",
         HandMade({b({0x6F, 0x13, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01})}), std::nullopt},
        {"array of 2^32 members", HandMade({b({0xAF, 0x12, 0xFF, 0xFF, 0xFF, 0xFF})}),
         std::nullopt},
        {"length given by a non-integer", HandMade({b({0x5F, 0x51, 'a'})}), std::nullopt},
        {"nine-byte UID", HandMade({b({0x88, 0, 0, 0, 0, 0, 0, 0, 0, 1})}), std::nullopt},
        {"integer cut by the trailer", HandMade({b({0x13, 0x01})}), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BinaryPropertyList::decode(c.list.bytes()), c.expected) << c.name;
    }
}

std::optional<PropertyListValue> decodeExactCopy(std::string_view bytes,
                                                 const BinaryPropertyList::Limits& limits = {}) {
    // A buffer of exactly this size, so that AddressSanitizer sees any read
    // past its end.
    auto copy = std::make_unique<char[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return BinaryPropertyList::decode(std::string_view(copy.get(), bytes.size()), limits);
}

// Containers nested `depth` deep around an empty array.
std::string nested(size_t depth) {
    std::vector<std::string> objects;
    for (size_t i = 0; i < depth; ++i) {
        objects.push_back(b({0xA1}) + std::string(1, static_cast<char>(i + 1)));
    }
    objects.push_back(b({0xA0}));
    return HandMade(objects).bytes();
}

// Array i holds array i-1 twice: a short list that expands to 2^levels
// values.
std::string doubling(int levels) {
    std::vector<std::string> objects = {b({0x51, 'x'})};
    for (int i = 1; i <= levels; ++i) {
        objects.push_back(b({0xA2, i - 1, i - 1}));
    }
    return HandMade(objects).top(static_cast<uint64_t>(levels)).bytes();
}

TEST(BinaryPropertyList, WhatOneDecodeBuildsIsBounded) {
    BinaryPropertyList::Limits limits;
    limits.maxDepth = 8;
    EXPECT_TRUE(decodeExactCopy(nested(7), limits));
    EXPECT_FALSE(decodeExactCopy(nested(8), limits));
    EXPECT_TRUE(decodeExactCopy(nested(63)));
    EXPECT_FALSE(decodeExactCopy(nested(200)));

    limits = {};
    limits.maxValues = 15; // levels 0..3: 1 + 2 + 4 + 8 values
    EXPECT_TRUE(decodeExactCopy(doubling(3), limits));
    EXPECT_FALSE(decodeExactCopy(doubling(4), limits));
    EXPECT_FALSE(decodeExactCopy(doubling(60))); // 2^60 values from ~200 bytes

    limits = {};
    limits.maxBytes = 8; // the string 'x' counts once per place it appears
    EXPECT_TRUE(decodeExactCopy(doubling(3), limits));
    EXPECT_FALSE(decodeExactCopy(doubling(4), limits));
}

// A message summary with the edit history of part 0.
const std::string& kSummary = testing::summaryEditedTwice();

TEST(BinaryPropertyList, DamagedListsNeverReadOutsideTheirBytes) {
    for (const std::string& list : {kEveryType, kSummary}) {
        ASSERT_TRUE(decodeExactCopy(list));
        for (size_t cut = 0; cut < list.size(); ++cut) {
            // The trailer is the last 32 bytes: any cut loses it.
            EXPECT_FALSE(decodeExactCopy(std::string_view(list).substr(0, cut))) << cut;
        }
        for (size_t at = 0; at < list.size(); ++at) {
            for (int value : {0x00, 0xFF, 0x7F}) {
                std::string damaged = list;
                damaged[at] = static_cast<char>(value);
                (void)decodeExactCopy(damaged); // must only not crash
            }
        }
    }
}

} // namespace
} // namespace orlune::core

#include "records/ShadowMessage.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

ShadowMessage message(std::string text, std::vector<std::string> kinds = {},
                      std::string guid = "g1", std::string chat = "chat1",
                      std::string sender = "me", int64_t timestamp = 1) {
    return ShadowMessage(std::move(guid), std::move(chat), std::nullopt, std::move(sender),
                         std::move(text), timestamp, true, false, !kinds.empty(), std::move(kinds),
                         7);
}

TEST(ShadowMessageContentHash, KnownDigests) {
    struct Case {
        std::string text;
        std::vector<std::string> kinds;
        std::string expected; // first 8 bytes of SHA-256 of "<text>|<sorted kinds>"
    };
    const Case cases[] = {
        {"abc", {}, "39674985912ef849"},         // "abc|"
        {"", {}, "cbe5cfdf7c2118a9"},            // "|"
        {"abc", {"b", "a"}, "f61c6114878bbfc4"}, // "abc|a,b"
    };
    for (const auto& c : cases) {
        EXPECT_EQ(message(c.text, c.kinds).contentHash(), c.expected) << c.text;
    }
}

TEST(ShadowMessageContentHash, AttachmentKindsAreSortedBeforeHashing) {
    EXPECT_EQ(message("abc", {"b", "a"}).contentHash(), message("abc", {"a", "b"}).contentHash());
    EXPECT_NE(message("abc", {"a", "b"}).contentHash(), message("abc").contentHash());
}

TEST(ShadowMessageContentHash, OnlyTextAndKindsEnterTheHash) {
    auto base = message("same text");
    EXPECT_EQ(base.contentHash(), message("same text", {}, "other-guid").contentHash());
    EXPECT_EQ(base.contentHash(), message("same text", {}, "g1", "other-chat").contentHash());
    EXPECT_EQ(base.contentHash(),
              message("same text", {}, "g1", "chat1", "+15551234").contentHash());
    EXPECT_EQ(base.contentHash(), message("same text", {}, "g1", "chat1", "me", 99).contentHash());
}

TEST(ShadowMessageContentHash, NonAsciiTextIsSixteenLowerHexDigits) {
    for (const char* text : {"héllo", "你好", "👋🏽 hi", "مرحبا"}) {
        std::string hash = message(text).contentHash();
        ASSERT_EQ(hash.size(), 16u);
        EXPECT_EQ(hash.find_first_not_of("0123456789abcdef"), std::string::npos) << text;
    }
}

} // namespace
} // namespace orlune::core

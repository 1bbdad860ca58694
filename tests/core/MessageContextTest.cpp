// ShadowDBReader::messageContext: a message and its neighbours in its chat.

#include "shadow/ShadowDB.hpp"
#include "tests/support/TempDir.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using orlune::testing::TempDir;
using ::testing::ElementsAreArray;

ShadowMessage message(std::string guid, std::string chatId, int64_t timestamp,
                      std::string text = "hello") {
    return ShadowMessage(std::move(guid), std::move(chatId), std::string("Chat"), "+15550001",
                         std::move(text), timestamp, false, true, false, {}, 1);
}

std::vector<std::string> guids(const std::vector<SearchResult>& results) {
    std::vector<std::string> out;
    for (const auto& r : results) {
        out.push_back(r.guid);
    }
    return out;
}

class MessageContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        db = std::make_unique<ShadowDB>(dir.file("shadow.db"));
        db->createSchemaIfNeeded();
        // Chat "a" in time order a1..a6, where a3 and a4 share a time (copied
        // in that order); chat "b" interleaved; two messages in no chat.
        db->insertBatch({
            message("a1", "a", 10),
            message("b1", "b", 15),
            message("a2", "a", 20),
            message("a3", "a", 30),
            message("a4", "a", 30),
            message("b2", "b", 35),
            message("a5", "a", 40),
            message("a6", "a", 50),
            message("n1", kNoChatId, 30),
            message("n2", kNoChatId, 31),
        });
    }
    TempDir dir;
    std::unique_ptr<ShadowDB> db;
};

TEST_F(MessageContextTest, NeighboursComeFromTheSameChatInTimeOrder) {
    struct Case {
        const char* guid;
        int before;
        int after;
        std::vector<std::string> expectedBefore;
        std::vector<std::string> expectedAfter;
    };
    const Case cases[] = {
        {"a3", 2, 2, {"a1", "a2"}, {"a4", "a5"}},
        // Equal times are ordered by copying order, on both sides.
        {"a4", 1, 1, {"a3"}, {"a5"}},
        {"a1", 3, 1, {}, {"a2"}},
        {"a6", 1, 5, {"a5"}, {}},
        {"b1", 5, 5, {}, {"b2"}},
        {"a3", 0, -4, {}, {}},
        // Messages in no chat are not one conversation.
        {"n1", 3, 3, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.guid);
        auto context = db->messageContext(c.guid, c.before, c.after, QueryBounds{});
        ASSERT_TRUE(context.message.has_value());
        EXPECT_EQ(context.message->guid, c.guid);
        EXPECT_THAT(guids(context.before), ElementsAreArray(c.expectedBefore));
        EXPECT_THAT(guids(context.after), ElementsAreArray(c.expectedAfter));
    }
}

TEST_F(MessageContextTest, AnUnknownGuidFindsNothing) {
    for (const char* guid : {"nope", "", "a1' OR '1'='1"}) {
        auto context = db->messageContext(guid, 3, 3, QueryBounds{});
        EXPECT_FALSE(context.message.has_value()) << guid;
        EXPECT_TRUE(context.before.empty());
        EXPECT_TRUE(context.after.empty());
    }
}

TEST_F(MessageContextTest, LongTextsAreCutAndAFullBudgetDropsTheFarthestNeighbours) {
    db->insertBatch({message("c1", "c", 1, std::string(500, 'x')),
                     message("c2", "c", 2, std::string(500, 'y')),
                     message("c3", "c", 3, std::string(500, 'z')),
                     message("c4", "c", 4, std::string(500, 'w'))});
    QueryBounds bounds;
    bounds.maxCellBytes = 100;
    bounds.maxResultBytes = 500;
    auto context = db->messageContext("c2", 5, 5, bounds);
    ASSERT_TRUE(context.message.has_value());
    EXPECT_LE(context.message->text.size(), 100u);
    EXPECT_GT(context.cutTexts, 0u);
    // The message and the nearest neighbour before it fill the budget.
    EXPECT_THAT(guids(context.before), ElementsAreArray({"c1"}));
    EXPECT_TRUE(context.after.empty());
}

} // namespace
} // namespace orlune::core

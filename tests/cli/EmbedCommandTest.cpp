// `orlune embed`: with a model server named it stores every message's vector
// and says how far it came; without one, or when the server fails, it says
// why and keeps what it stored.

#include "tests/cli/RunOrlune.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/FakeEmbeddingServer.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::cli {
namespace {

using orlune::testing::DatabaseProbe;
using orlune::testing::FakeEmbeddingServer;
using orlune::testing::runOrlune;
using orlune::testing::TempDir;
using ::testing::HasSubstr;

constexpr int kMessages = 5;

class EmbedCommandTest : public ::testing::Test {
protected:
    TempDir dir;
    FakeEmbeddingServer server{{{"hello", 0}}, 4};
    std::string shadow = dir.file("shadow.db");

    void SetUp() override {
        samplestore::ChatStoreWriter store(dir.file("chat.db"));
        store.addHandle({1, std::string("+15550001"), std::string("iMessage")});
        store.addChat(
            {1, "iMessage;-;+15550001", std::nullopt, samplestore::kDirectChatStyle, "+15550001"});
        store.addChatMember(1, 1);
        for (int rowid = 1; rowid <= kMessages; ++rowid) {
            samplestore::MessageRow row;
            row.rowid = rowid;
            row.guid = "guid-" + std::to_string(rowid);
            row.text = "hello " + std::to_string(rowid);
            row.date = rowid;
            row.handleId = 1;
            store.addMessage(row);
            store.joinMessageToChat(rowid, 1, rowid);
        }
        ASSERT_EQ(runOrlune(dir, {"sync", "--chat-db", dir.file("chat.db"), "--shadow-db", shadow})
                      .exitCode,
                  0);
    }

    std::string vectors() {
        return DatabaseProbe(shadow).value("SELECT count(*) FROM message_vectors");
    }
};

TEST_F(EmbedCommandTest, StoresEveryVectorOrSaysWhyNot) {
    const std::map<std::string, std::optional<std::string>> noServer = {
        {"VEYRLINK_BASE_URL", std::nullopt}};
    const std::map<std::string, std::optional<std::string>> withServer = {
        {"VEYRLINK_BASE_URL", server.baseUrl()}, {"ORLUNE_EMBEDDING_MODEL", "fake-embed"}};

    const auto none = runOrlune(dir, {"embed", "--shadow-db", shadow}, noServer);
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_THAT(none.err, HasSubstr("no model server is set"));
    EXPECT_TRUE(server.requests().empty());

    const auto missing = runOrlune(dir, {"embed", "--shadow-db", dir.file("none.db")}, withServer);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_THAT(missing.err, HasSubstr("run `orlune sync` first"));

    server.failNextRequest();
    const auto failed = runOrlune(dir, {"embed", "--shadow-db", shadow}, withServer);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_THAT(failed.err, HasSubstr("HTTP status 500"));
    EXPECT_THAT(failed.err, HasSubstr("run `orlune embed` again"));
    EXPECT_EQ(vectors(), "0");

    const auto done = runOrlune(dir, {"embed", "--shadow-db", shadow}, withServer);
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_THAT(done.err, HasSubstr("Embedded 5 of 5 messages"));
    EXPECT_EQ(vectors(), std::to_string(kMessages));
    EXPECT_EQ(server.requests().back().model, "fake-embed");
}

} // namespace
} // namespace orlune::cli

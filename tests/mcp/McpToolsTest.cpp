// The tools of `orlune mcp` on the people fixture: what they answer, what
// they refuse, what they keep out, and that nothing in a message can pass
// for the reply's own structure.

#include "shadow/ShadowDB.hpp"
#include "tests/mcp/McpTestSupport.hpp"
#include "tests/support/PeopleStore.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sqlite3.h>

namespace orlune::testing {
namespace {

// `prefix` and `number`, as a guid.
std::string numbered(const std::string& prefix, int number) {
    std::string guid = prefix;
    guid += std::to_string(number);
    return guid;
}

mcp::McpSettings withPrivacy(mcp::Privacy privacy) {
    mcp::McpSettings settings;
    settings.privacy = privacy;
    return settings;
}

mcp::McpSettings withBudget(size_t bytes) {
    mcp::McpSettings settings;
    settings.maxReplyBytes = bytes;
    return settings;
}

mcp::McpSettings hiding(const std::string& chatId) {
    mcp::McpSettings settings;
    settings.hiddenChatIds = {chatId};
    return settings;
}

class McpToolsTest : public ::testing::Test {
protected:
    void SetUp() override { writeMcpFixture(dir); }

    // The structured result of a call that must succeed.
    json result(const std::string& tool, const json& arguments) {
        const json reply = harness.call(tool, arguments);
        EXPECT_EQ(reply["result"]["isError"], false) << reply;
        return reply["result"]["structuredContent"];
    }

    static std::vector<std::string> field(const json& items, const char* key) {
        std::vector<std::string> values;
        for (const json& item : items) {
            values.push_back(item[key].is_null() ? "null" : item[key].get<std::string>());
        }
        return values;
    }

    ScopedEnv zone{"TZ", "UTC"};
    TempDir dir;
    McpHarness harness{dir.file("shadow.db")};
};

TEST_F(McpToolsTest, RefusesArgumentsTheSchemaDoesNotAllow) {
    struct Case {
        const char* tool;
        json arguments;
        const char* reason;
    };
    const Case cases[] = {
        {"no_such_tool", json::object(), "unknown tool \"no_such_tool\""},
        {"ask", json::object(), "\"question\" is required"},
        {"ask", {{"question", ""}}, "\"question\" must not be empty"},
        {"ask", {{"question", 42}}, "\"question\" must be a string"},
        {"ask", {{"question", std::string(1001, 'a')}}, "at most 1000 characters"},
        {"ask", {{"question", "hi"}, {"limit", "5"}}, "\"limit\" must be a whole number"},
        {"ask", {{"question", "hi"}, {"limit", 2.5}}, "\"limit\" must be a whole number"},
        {"ask", {{"question", "hi"}, {"limit", 0}}, "\"limit\" must be at least 1"},
        {"ask", {{"question", "hi"}, {"limit", 1e12}}, "\"limit\" must be at most 50"},
        {"ask", {{"question", "hi"}, {"colour", "red"}}, "unknown argument \"colour\""},
        {"search_messages", json::object(), "give \"words\" or at least one of"},
        {"search_messages", {{"kinds", {"photo", "hologram"}}}, "\"kinds\"[1] must be one of"},
        {"search_messages", {{"kinds", {"photo", "photo"}}}, "lists \"photo\" twice"},
        {"search_messages", {{"kinds", "photo"}}, "\"kinds\" must be a list"},
        {"search_messages", {{"words", "flight"}, {"cursor", "-3"}}, "\"cursor\" is not one"},
        {"search_messages", {{"words", "flight"}, {"cursor", "1e9"}}, "\"cursor\" is not one"},
        {"get_conversation", {{"before", 5}}, "give \"chat\" or \"around_guid\""},
        {"get_conversation", {{"chat", "Alex"}, {"after", -1}}, "\"after\" must be at least 0"},
        {"stats", {{"by", "year"}}, "\"by\" must be one of \"person\", \"chat\", \"month\""},
        {"list_chats", {{"limit", nullptr}}, "\"limit\" must be a whole number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tool) + " " + c.arguments.dump());
        const json reply = harness.call(c.tool, c.arguments);
        ASSERT_TRUE(reply.contains("error")) << reply;
        EXPECT_EQ(reply["error"]["code"], -32602);
        EXPECT_NE(reply["error"]["message"].get<std::string>().find(c.reason), std::string::npos)
            << reply["error"]["message"];
    }
}

TEST_F(McpToolsTest, ToolFailuresAreResultsMarkedAsErrors) {
    const std::pair<const char*, json> cases[] = {
        {"search_messages", {{"words", "flight"}, {"since", "the twelfth of never"}}},
        {"get_conversation", {{"around_guid", "no-such-guid"}}},
        {"get_conversation", {{"chat", "Nobody Atall"}}},
    };
    for (const auto& [tool, arguments] : cases) {
        const json reply = harness.call(tool, arguments);
        EXPECT_EQ(reply["result"]["isError"], true) << reply;
        EXPECT_FALSE(reply["result"]["content"][0]["text"].get<std::string>().empty());
    }
}

TEST_F(McpToolsTest, SearchesWithNamesAndLocalTimes) {
    const json found = result("search_messages", {{"words", "flight booked"}});
    ASSERT_EQ(found["messages"].size(), 2u);
    std::set<std::string> senders;
    for (const json& message : found["messages"]) {
        senders.insert(message["from"]);
    }
    EXPECT_EQ(senders, (std::set<std::string>{"Chloé Martin", "You"}));

    const json fromJess = result("search_messages", {{"words", "flight"}, {"from", "Jessie"}});
    ASSERT_EQ(fromJess["messages"].size(), 1u);
    const json& message = fromJess["messages"][0];
    EXPECT_EQ(message["guid"], "m3");
    EXPECT_EQ(message["from"], "Jess Day");
    EXPECT_EQ(message["from_handle"], "+15550100002");
    EXPECT_EQ(message["chat"], "Alex, Jess and 3 others");
    EXPECT_EQ(message["time"], "Fri 5 Dec 2025, 18:00");
    EXPECT_EQ(message["time_iso"], "2025-12-05T18:00:00+00:00");
    EXPECT_EQ(message["text"], "the flight number is BA117");

    // Punctuation is only words: no operator, no syntax error.
    EXPECT_TRUE(result("search_messages", {{"words", "flight\" OR \"NOT (*"}})["messages"].empty());
    const json nobody = result("search_messages", {{"words", "flight"}, {"from", "Bob"}});
    EXPECT_TRUE(nobody["messages"].empty());
    EXPECT_FALSE(nobody["notes"].empty());
}

TEST_F(McpToolsTest, ReadsAConversationByChatOrByMessage) {
    // The newest message of the chat with Alex and the two before it.
    const json latest = result("get_conversation", {{"chat", "Alex Kim"}, {"before", 2}});
    EXPECT_EQ(field(latest["messages"], "guid"), (std::vector<std::string>{"m2", "m7", "forged"}));
    EXPECT_EQ(latest["messages"][2]["anchor"], true);

    const json around =
        result("get_conversation", {{"around_guid", "m7"}, {"before", 1}, {"after", 1}});
    EXPECT_EQ(field(around["messages"], "guid"), (std::vector<std::string>{"m2", "m7", "forged"}));
    EXPECT_EQ(around["messages"][1]["anchor"], true);
    EXPECT_EQ(around["messages"][1]["from"], "Alex Kim") << "named, not the handle";

    // Up to the end of a day: the newest message by then.
    const json byDay =
        result("get_conversation", {{"chat", "Alex"}, {"around_time", "2025-11-20"}, {"after", 0}});
    EXPECT_EQ(field(byDay["messages"], "guid"), (std::vector<std::string>{"m1", "m2"}));
}

// A message that starts a thread or replies in one brings the thread: its
// originator and the other replies, even those outside the window.
TEST_F(McpToolsTest, AConversationSaysWhichThreadItsMessageIsIn) {
    {
        const std::string alex = "iMessage;-;+15550100001";
        auto message = [&](const char* guid, const char* sender, const char* text, const char* at,
                           int64_t rowid) {
            const bool mine = std::string(sender) == "me";
            return core::ShadowMessage(guid, alex, std::nullopt, sender, text, peopleStoreDate(at),
                                       mine, false, false, {}, rowid);
        };
        core::ShadowDB db(dir.file("shadow.db"));
        db.insertBatch({
            message("t0", "me", "can you feed the cat on Friday?", "2025-12-11 09:00", 101),
            message("t1", "+15550100001", "sure, I'll swing by at 6", "2025-12-11 09:30", 102)
                .inThreadOf("t0"),
            message("t2", "+15550100001", "unrelated", "2025-12-11 10:00", 103),
            message("t3", "me", "thanks!", "2025-12-11 11:00", 104).inThreadOf("t0"),
        });
    }
    const struct {
        const char* anchor;
        std::vector<std::string> thread; // guids; empty for no thread
        const char* originator;
    } cases[] = {
        {"t1", {"t0", "t3"}, "t0"},
        {"t0", {"t1", "t3"}, "t0"},
        {"t2", {}, nullptr},
        {"m7", {}, nullptr},
    };
    for (const auto& c : cases) {
        const json window =
            result("get_conversation", {{"around_guid", c.anchor}, {"before", 0}, {"after", 0}});
        if (c.thread.empty()) {
            EXPECT_FALSE(window.contains("thread")) << c.anchor;
            continue;
        }
        const json& thread = window["thread"];
        EXPECT_EQ(thread["originator"], c.originator) << c.anchor;
        EXPECT_EQ(field(thread["messages"], "guid"), c.thread) << c.anchor;
        for (const json& message : thread["messages"]) {
            EXPECT_EQ(message["is_originator"], message["guid"] == c.originator) << c.anchor;
        }
    }
    const json reply = result("get_conversation", {{"around_guid", "t0"}, {"after", 0}});
    EXPECT_EQ(reply["thread"]["messages"][0]["from"], "Alex Kim");
    EXPECT_EQ(reply["thread"]["messages"][0]["text"], "sure, I'll swing by at 6");
}

TEST_F(McpToolsTest, ListsPeopleAndChatsWithCountsAndLastActivity) {
    const json people = result("list_people", json::object());
    EXPECT_EQ(people["your_messages"], 2);
    const json& alex = people["people"][0];
    EXPECT_EQ(alex["name"], "Alex Kim");
    EXPECT_EQ(alex["messages_from_them"], 4); // m1, m6 (by e-mail), m7 (by SMS), forged
    // The number over iMessage and SMS is one handle text.
    EXPECT_EQ(alex["handles"], (json{"+15550100001", "alex.k@example.com"}));
    EXPECT_EQ(alex["last_message"], "Wed 10 Dec 2025, 08:00");
    bool unknownNumber = false;
    for (const json& person : people["people"]) {
        unknownNumber = unknownNumber ||
                        (person["name"].is_null() && person["handles"] == json{"+15550100009"});
    }
    EXPECT_TRUE(unknownNumber);
    EXPECT_EQ(field(result("list_people", {{"name", "jessie"}})["people"], "name"),
              (std::vector<std::string>{"Jess Day"}));

    const json chats = result("list_chats", json::object());
    ASSERT_EQ(chats["chats"].size(), 5u);
    EXPECT_EQ(chats["chats"][0]["title"], "Alex Kim"); // most recent first
    EXPECT_EQ(chats["chats"][0]["messages"], 4);
    const json ski = result("list_chats", {{"name", "ski trip"}})["chats"];
    ASSERT_EQ(ski.size(), 1u);
    EXPECT_EQ(ski[0]["is_group"], true);
    EXPECT_EQ(ski[0]["members"], (json{"Alex Kim", "Jess Day"}));
}

// People are listed from who wrote, a page at a time: the rest of a large
// address book never appears, and "more" counts and reaches the others.
TEST_F(McpToolsTest, ListsPeopleAPageAtATimeFromWhoWrote) {
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(dir.file("shadow.db").c_str(), &db), SQLITE_OK);
        // 3,000 people in the address book who never wrote.
        const char* sql =
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
            "INSERT INTO people (person_id, display_name) "
            "SELECT 'silent' || i, 'Silent Person ' || i FROM n;"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
            "INSERT INTO person_handles (handle, person_id) "
            "SELECT 'silent' || i || '@example.com', 'silent' || i FROM n;";
        ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    const json all = result("list_people", {{"limit", 200}});
    const std::vector<std::string> names = field(all["people"], "name");
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& name) { return name.find("Silent") == 0; }),
              0);
    ASSERT_GE(names.size(), 3u);

    const json first = result("list_people", {{"limit", 2}});
    EXPECT_EQ(field(first["people"], "name"), (std::vector<std::string>{names[0], names[1]}));
    EXPECT_EQ(first["more"]["left_out"], names.size() - 2);
    EXPECT_EQ(first["more"]["cursor"], "2");
    const json next = result("list_people", {{"limit", 2}, {"cursor", "2"}});
    EXPECT_EQ(field(next["people"], "name").front(), names[2]);
    EXPECT_EQ(next["your_messages"], 2) << "the same counts on every page";
}

TEST_F(McpToolsTest, CountsByMonthPersonAndChat) {
    const json months = result("stats", {{"by", "month"}});
    EXPECT_EQ(months["total_messages"], 11);
    EXPECT_EQ(months["sent_by_you"], 2);
    EXPECT_EQ(months["counts"], (json{{{"month", "2024-12"}, {"messages", 1}},
                                      {{"month", "2025-11"}, {"messages", 2}},
                                      {{"month", "2025-12"}, {"messages", 8}}}));
    const json december = result("stats", {{"by", "person"}, {"since", "2025-12-01"}});
    EXPECT_EQ(december["total_messages"], 8);
    EXPECT_EQ(december["counts"][0]["person"], "Alex Kim");
    EXPECT_EQ(december["counts"][0]["messages"], 3);
    const json chats = result("stats", {{"by", "chat"}, {"limit", 1}});
    ASSERT_EQ(chats["counts"].size(), 1u);
    EXPECT_EQ(chats["counts"][0]["messages"], 4);
    EXPECT_EQ(chats["more"]["cursor"], "1");
    EXPECT_EQ(chats["more"]["left_out"], 4);
}

TEST_F(McpToolsTest, AsksTheAnswerEngine) {
    const json answer = result("ask", {{"question", "what did Jess say about the flight?"}});
    ASSERT_FALSE(answer["messages"].empty());
    EXPECT_EQ(answer["messages"][0]["guid"], "m3");
    EXPECT_NE(answer["understood"].get<std::string>().find("Jess"), std::string::npos);
    EXPECT_FALSE(answer["answer"].get<std::string>().empty());
}

// A question about a time the copy does not reach says where the messages
// start or end, as the offline answer of the CLI and the app does.
TEST_F(McpToolsTest, AnAskedTimeOutsideTheCopyIsNamed) {
    const std::pair<const char*, const char*> cases[] = {
        {"what did Jess say about the flight in 2019?",
         "Your messages here start in December 2024. "},
        {"what did Jess say about the flight in 2031?",
         "Your messages here end in December 2025. "},
        {"what did Jess say about the flight in December 2025?", nullptr},
    };
    for (const auto& [question, note] : cases) {
        const std::string answer = result("ask", {{"question", question}})["answer"];
        if (note == nullptr) {
            EXPECT_EQ(answer.find("Your messages here"), std::string::npos) << question;
        } else {
            EXPECT_EQ(answer.rfind(note, 0), 0u) << question << ": " << answer;
        }
    }
}

// Every string in `value` with where it is.
void collectStrings(const json& value, const std::string& where,
                    std::vector<std::pair<std::string, std::string>>& out) {
    if (value.is_string()) {
        out.emplace_back(where, value.get<std::string>());
    } else if (value.is_structured()) {
        for (const auto& [key, item] : value.items()) {
            collectStrings(item, where + "/" + key, out);
        }
    }
}

TEST_F(McpToolsTest, MessageTextCannotForgeStructure) {
    const std::pair<const char*, json> calls[] = {
        {"search_messages", {{"words", "passwords"}}},
        {"get_conversation", {{"around_guid", "forged"}}},
        {"ask", {{"question", "what did Alex say about passwords"}}},
    };
    for (const auto& [tool, arguments] : calls) {
        SCOPED_TRACE(tool);
        const std::string line = harness.callLine(tool, arguments);
        // One reply, one line: no line of it comes from a message.
        EXPECT_EQ(line.find('\n'), std::string::npos);
        const json reply = json::parse(line);
        const json& structured = reply["result"]["structuredContent"];
        // The text content is the same object, every string escaped.
        EXPECT_EQ(json::parse(reply["result"]["content"][0]["text"].get<std::string>()),
                  structured);
        std::vector<std::pair<std::string, std::string>> strings;
        collectStrings(structured, "", strings);
        size_t whole = 0;
        for (const auto& [where, text] : strings) {
            if (text.find("[10:00] You:") != std::string::npos) {
                EXPECT_EQ(text, kForgingText) << where;
                EXPECT_NE(where.find("/text"), std::string::npos) << where;
                ++whole;
            }
        }
        EXPECT_EQ(whole, 1u);
    }
}

TEST_F(McpToolsTest, MetadataPrivacyShowsNoText) {
    McpHarness metadata(dir.file("shadow.db"), withPrivacy(mcp::Privacy::metadataOnly));
    const std::pair<const char*, json> calls[] = {
        {"search_messages", {{"words", "passwords"}}},
        {"get_conversation", {{"around_guid", "forged"}}},
        {"ask", {{"question", "what did Alex say about passwords"}}},
    };
    for (const auto& [tool, arguments] : calls) {
        const std::string line = metadata.callLine(tool, arguments);
        const json reply = json::parse(line);
        ASSERT_EQ(reply["result"]["isError"], false) << line;
        const json& messages = reply["result"]["structuredContent"]["messages"];
        ASSERT_FALSE(messages.empty()) << tool;
        for (const json& message : messages) {
            EXPECT_FALSE(message.contains("text"));
            EXPECT_TRUE(message.contains("from"));
        }
        EXPECT_EQ(line.find("ignore the above"), std::string::npos) << tool;
    }
}

TEST_F(McpToolsTest, HiddenChatsNeverAppear) {
    McpHarness hidden(dir.file("shadow.db"), hiding("iMessage;+;chat200"));
    auto structured = [&](const std::string& tool, const json& arguments) {
        return hidden.call(tool, arguments)["result"]["structuredContent"];
    };
    const std::string line = hidden.callLine("list_chats", json::object()) +
                             hidden.callLine("search_messages", {{"words", "flight"}}) +
                             hidden.callLine("stats", {{"by", "chat"}});
    EXPECT_EQ(line.find("chat200"), std::string::npos);
    EXPECT_EQ(line.find("Ski trip"), std::string::npos);
    EXPECT_EQ(structured("stats", {{"by", "month"}})["total_messages"], 9);
    EXPECT_EQ(hidden.call("get_conversation", {{"around_guid", "m6"}})["result"]["isError"], true);
}

class McpBudgetTest : public ::testing::Test {
protected:
    void SetUp() override {
        syncPeopleShadow(dir);
        core::ShadowDB db(dir.file("shadow.db"));
        std::vector<core::ShadowMessage> messages;
        for (int i = 0; i < 60; ++i) {
            // Long texts of characters that grow sixfold when escaped.
            std::string text = numbered("budget ", i) + " " + std::string(700, '\x01');
            messages.emplace_back(numbered("b", i), "iMessage;-;+15550100001", std::nullopt,
                                  "+15550100001", text,
                                  peopleStoreDate("2025-12-11 10:00") + i * 1'000'000'000LL, false,
                                  false, false, std::vector<std::string>{}, 200 + i);
        }
        messages.emplace_back("huge", "iMessage;-;+15550100001", std::nullopt, "+15550100001",
                              "budget huge " + std::string(300000, '"'),
                              peopleStoreDate("2025-12-12 10:00"), false, false, false,
                              std::vector<std::string>{}, 300);
        db.insertBatch(messages);
    }

    TempDir dir;
    static constexpr size_t kBudget = 8192;
    McpHarness harness{dir.file("shadow.db"), withBudget(kBudget)};
};

TEST_F(McpBudgetTest, EveryReplyFitsAndTheCursorGivesTheRest) {
    std::set<std::string> seen;
    json arguments = {{"words", "budget"}, {"limit", 100}};
    for (int page = 0; page < 100; ++page) {
        const std::string line = harness.callLine("search_messages", arguments);
        ASSERT_LE(line.size(), kBudget);
        const json structured = json::parse(line)["result"]["structuredContent"];
        ASSERT_FALSE(structured["messages"].empty()) << line;
        for (const json& message : structured["messages"]) {
            EXPECT_TRUE(seen.insert(message["guid"]).second) << message["guid"];
        }
        if (!structured.contains("more")) {
            break;
        }
        EXPECT_GT(structured["more"]["left_out"].get<int>(), 0);
        arguments["cursor"] = structured["more"]["cursor"];
    }
    EXPECT_EQ(seen.size(), 61u);
}

TEST_F(McpBudgetTest, AConversationIsCutAtWholeMessagesAndContinues) {
    std::vector<std::string> guids;
    json arguments = {{"around_guid", "b0"}, {"before", 0}, {"after", 100}};
    for (int page = 0; page < 100; ++page) {
        const std::string line = harness.callLine("get_conversation", arguments);
        ASSERT_LE(line.size(), kBudget);
        const json structured = json::parse(line)["result"]["structuredContent"];
        for (const json& message : structured["messages"]) {
            guids.push_back(message["guid"]);
        }
        if (!structured.contains("more")) {
            break;
        }
        arguments = {{"around_guid", "b0"},
                     {"cursor", structured["more"]["cursor"]},
                     {"before", 0},
                     {"after", 100}};
    }
    ASSERT_GE(guids.size(), 61u);
    EXPECT_EQ(guids.front(), "b0");
    EXPECT_EQ(guids[59], "b59");
    EXPECT_EQ(guids[60], "huge");
}

TEST(McpLifecycleTest, DatabaseProblemsAreToolErrorsAndTheServerGoesOn) {
    TempDir dir;
    const std::string path = dir.file("shadow.db");
    McpHarness harness(path);
    auto failure = [&] {
        const json reply = harness.call("list_chats", json::object());
        EXPECT_EQ(reply["result"]["isError"], true) << reply;
        return reply["result"]["content"][0]["text"].get<std::string>();
    };
    // Missing: the server still starts and answers.
    EXPECT_EQ(
        harness.send(R"({"jsonrpc":"2.0","id":1,"method":"initialize",)"
                     R"("params":{"protocolVersion":"2025-06-18"}})")["result"]["protocolVersion"],
        "2025-06-18");
    EXPECT_FALSE(failure().empty());
    EXPECT_FALSE(std::filesystem::exists(path)); // never made

    // Not a database.
    std::ofstream(path) << std::string(8192, 'z');
    EXPECT_NE(failure().find(path), std::string::npos);

    // A database from a newer version.
    std::filesystem::remove(path);
    syncPeopleShadow(dir);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 999", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_NE(failure().find("newer"), std::string::npos);

    // Repaired: the next call opens it afresh.
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 7", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(harness.call("list_chats", json::object())["result"]["isError"], false);
}

TEST(McpLifecycleTest, ReadsStayWholeWhileASyncWrites) {
    TempDir dir;
    syncPeopleShadow(dir);
    McpHarness harness(dir.file("shadow.db"));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        core::ShadowDB db(dir.file("shadow.db"));
        for (int batch = 0; batch < 40; ++batch) {
            std::vector<core::ShadowMessage> messages;
            for (int i = 0; i < 50; ++i) {
                const std::string guid = numbered("w", batch * 50 + i);
                messages.emplace_back(guid, "iMessage;-;+15550100001", std::nullopt, "+15550100001",
                                      "flight written " + guid,
                                      peopleStoreDate("2025-12-11 10:00") + batch * 50 + i, false,
                                      false, false, std::vector<std::string>{}, 1000 + batch);
            }
            db.insertBatch(messages);
        }
        done = true;
    });
    int64_t lastTotal = 0;
    while (!done) {
        const json stats = harness.call("stats", {{"by", "chat"}});
        ASSERT_EQ(stats["result"]["isError"], false) << stats;
        const int64_t total = stats["result"]["structuredContent"]["total_messages"];
        EXPECT_EQ((total - 10) % 50, 0); // whole batches only
        EXPECT_GE(total, lastTotal);
        lastTotal = total;
        EXPECT_EQ(harness.call("search_messages", {{"words", "flight"}})["result"]["isError"],
                  false);
    }
    writer.join();
    // Counts kept from before the last batch are not served again.
    EXPECT_EQ(
        harness.call("stats", {{"by", "chat"}})["result"]["structuredContent"]["total_messages"],
        2010);
}

} // namespace
} // namespace orlune::testing

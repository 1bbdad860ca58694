// `orlune search` with names and filters: after `orlune sync` on a store
// whose people are in two address books, each filter returns exactly the
// store's messages that match it, and hits carry names and local times.

#include "tests/cli/RunOrlune.hpp"
#include "tests/support/PeopleStore.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace orlune::cli {
namespace {

using orlune::testing::kPeopleStoreMessages;
using orlune::testing::PeopleStoreMessage;
using orlune::testing::runOrlune;
using orlune::testing::TempDir;
using ::testing::HasSubstr;
using ::testing::Not;

std::vector<nlohmann::json> jsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

const PeopleStoreMessage& storeMessage(const std::string& guid) {
    for (const auto& message : kPeopleStoreMessages) {
        if (guid == message.guid) {
            return message;
        }
    }
    throw std::runtime_error("no message " + guid);
}

class SearchFilters : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        testing::writePeopleStore(dir->file("chat.db"));
        testing::writePeopleBooks(dir->file("AddressBook"));
        auto synced = run({"sync", "--chat-db", dir->file("chat.db")});
        ASSERT_EQ(synced.exitCode, 0) << synced.err;
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }

    static testing::ProcessResult run(std::vector<std::string> args, const char* zone = "UTC") {
        return runOrlune(*dir, args,
                         {{"ADDRESS_BOOK_PATH", dir->file("AddressBook")},
                          {"TZ", std::string(zone)},
                          {"LANG", std::string("en_US.UTF-8")}});
    }

    static TempDir* dir;
};

TempDir* SearchFilters::dir = nullptr;

TEST_F(SearchFilters, EachFilterReturnsOnlyTheMessagesItMatches) {
    // Every expectation is a predicate over the store's own rows: the hits
    // must be exactly the rows it accepts.
    using Accept = std::function<bool(const PeopleStoreMessage&)>;
    auto alex = [](const PeopleStoreMessage& m) {
        return m.handle == 1 || m.handle == 2 || m.handle == 3;
    };
    auto between = [](const char* first, const char* end) {
        return [=](const PeopleStoreMessage& m) {
            return std::string(m.utc) >= first && std::string(m.utc) < end;
        };
    };
    const struct Case {
        std::vector<std::string> args;
        const char* zone;
        Accept accept;
    } cases[] = {
        {{"--from", "alex"}, "UTC", alex},
        {{"--from", "alex", "lake"}, "UTC", [](auto& m) { return m.rowid == 7; }},
        {{"--from", "Jessie"}, "UTC", [](auto& m) { return m.handle == 4; }},
        {{"--from", "CHLOE"}, "UTC", [](auto& m) { return m.handle == 5; }},
        {{"--from", "(555) 010-0002"}, "UTC", [](auto& m) { return m.handle == 4; }},
        {{"--from", "me"}, "UTC", [](auto& m) { return m.handle == 0; }},
        {{"--from", "acme"}, "UTC", [](auto& m) { return m.handle == 7; }},
        {{"--from", "nobody at all"}, "UTC", [](auto&) { return false; }},
        {{"--chat", "ski trip"}, "UTC", [](auto& m) { return m.chat == 3; }},
        {{"--chat", "Alex Kim"}, "UTC", [](auto& m) { return m.chat == 1; }},
        {{"--chat", "+15550100009"}, "UTC", [](auto& m) { return m.chat == 4; }},
        {{"--since", "2025-12-08", "--until", "2025-12-09"},
         "UTC",
         between("2025-12-08 00:00", "2025-12-10 00:00")},
        // The same days in Los Angeles end eight hours later in UTC.
        {{"--since", "2025-12-08", "--until", "2025-12-09"},
         "America/Los_Angeles",
         between("2025-12-08 08:00", "2025-12-10 08:00")},
        {{"--until", "2024-12-31"}, "UTC", between("2000", "2025-01-01 00:00")},
        {{"--from", "alex", "--since", "2025-12-01", "--chat", "Ski trip"},
         "UTC",
         [](auto& m) { return m.rowid == 6; }},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"search", "--json", "--limit", "50"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (c.args.size() % 2 == 0) {
            args.push_back("flight");
        }
        const std::string label = ::testing::PrintToString(c.args) + " in " + c.zone;
        auto result = run(args, c.zone);
        ASSERT_EQ(result.exitCode, 0) << label << result.err;
        std::set<std::string> found;
        for (const auto& hit : jsonLines(result.out)) {
            found.insert(hit["guid"].get<std::string>());
        }
        std::set<std::string> expected;
        for (const auto& message : kPeopleStoreMessages) {
            if (c.accept(message)) {
                expected.insert(message.guid);
            }
        }
        EXPECT_EQ(found, expected) << label;
    }
}

TEST_F(SearchFilters, WithoutAQueryTheNewestMatchingMessagesComeFirst) {
    auto result = run({"search", "--json", "--from", "alex"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> guids;
    for (const auto& hit : jsonLines(result.out)) {
        guids.push_back(hit["guid"].get<std::string>());
        EXPECT_EQ(hit["rank"], 0.0);
    }
    EXPECT_EQ(guids, (std::vector<std::string>{"m7", "m6", "m1"}));
}

TEST_F(SearchFilters, HitsNameTheSenderAndTheChat) {
    auto result = run({"search", "--json", "--limit", "50", "flight"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::map<std::string, nlohmann::json> byGuid;
    for (auto& hit : jsonLines(result.out)) {
        byGuid[hit["guid"].get<std::string>()] = hit;
    }
    const struct {
        const char* guid;
        nlohmann::json senderName;
        const char* chatTitle;
    } cases[] = {
        {"m1", "Alex Kim", "Alex Kim"},
        {"m2", nullptr, "Alex Kim"}, // your own
        {"m4", "Chloé Martin", "Alex, Jess and 3 others"},
        {"m5", nullptr, "+15550100009"}, // no card
        {"m6", "Alex Kim", "Ski trip"},
    };
    for (const auto& c : cases) {
        const auto& hit = byGuid[c.guid];
        EXPECT_EQ(hit["sender_name"], c.senderName) << c.guid;
        EXPECT_EQ(hit["chat_title"], c.chatTitle) << c.guid;
        EXPECT_EQ(hit["sender"], c.guid == std::string("m2") ? "me" : hit["sender"]);
        EXPECT_EQ(hit["timestamp"], testing::peopleStoreDate(storeMessage(c.guid).utc))
            << "the stored value, unconverted";
    }

    // The table shows names and local times.
    auto table = run({"search", "--from", "chloe"}, "Europe/Paris");
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_THAT(table.out, HasSubstr("Chloé Martin"));
    EXPECT_THAT(table.out, HasSubstr("Mon 8 Dec 2025, 10:00")); // 09:00 UTC
    EXPECT_THAT(table.out, Not(HasSubstr("+15550100003")));
}

TEST_F(SearchFilters, FiltersThatCannotBeReadAreRefused) {
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* err;
    } cases[] = {
        {{"search", "--since", "the day after never"}, 2, "not a time"},
        {{"search", "--since", "tomorrow"}, 2, "--since: \"tomorrow\" is in the future"},
        {{"search", "--since", "9999999 years ago"},
         2,
         "--since: \"9999999 years ago\" is further back than any message"},
        {{"search", "--since", "2025-12-09", "--until", "2025-12-01"},
         2,
         "--since \"2025-12-09\" begins after until \"2025-12-01\" ends, so no message can be "
         "in between: swap them"},
        {{"search", "--until", "soonish", "flight"}, 2, "until"},
        {{"search"}, 2, "QUERY is needed"},
        {{"search", "--from", "nobody at all"}, 0, "No person or handle matches"},
        {{"search", "--chat", "no such chat"}, 0, "No chat matches"},
    };
    for (const auto& c : cases) {
        auto result = run(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << ::testing::PrintToString(c.args) << result.err;
        EXPECT_THAT(result.err, HasSubstr(c.err));
    }
}

TEST(SyncContacts, VCardFilesNameThePeopleAndUnreadableOnesAreSkipped) {
    TempDir dir;
    testing::writePeopleStore(dir.file("chat.db"));
    testing::writeFile(dir.file("pat.vcf"),
                       "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Pat Doe\r\nTEL:(555) 010-0009\r\n"
                       "END:VCARD\r\n");
    const std::map<std::string, std::optional<std::string>> env = {
        {"ADDRESS_BOOK_PATH", dir.file("no-books-here")}, {"LANG", std::string("en_US.UTF-8")}};
    auto synced = runOrlune(dir,
                            {"sync", "--chat-db", dir.file("chat.db"), "--contacts",
                             dir.file("pat.vcf"), "--contacts=" + dir.file("gone.vcf")},
                            env);
    ASSERT_EQ(synced.exitCode, 0) << synced.err;
    EXPECT_THAT(synced.err, HasSubstr("gone.vcf"));
    EXPECT_THAT(synced.err, HasSubstr("no-books-here"));

    auto found = runOrlune(dir, {"search", "--json", "--from", "pat"}, env);
    ASSERT_EQ(found.exitCode, 0) << found.err;
    auto hits = jsonLines(found.out);
    ASSERT_EQ(hits.size(), 1u) << found.out;
    EXPECT_EQ(hits[0]["guid"], "m5");
    EXPECT_EQ(hits[0]["sender_name"], "Pat Doe");
    EXPECT_EQ(hits[0]["chat_title"], "Pat Doe");
}

TEST(SyncContacts, TheConfigurationsVCardFilesAreReadWithThoseGiven) {
    TempDir dir;
    testing::writePeopleStore(dir.file("chat.db"));
    testing::writeFile(dir.file("pat.vcf"),
                       "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Pat Doe\r\nTEL:(555) 010-0009\r\n"
                       "END:VCARD\r\n");
    std::filesystem::create_directories(dir.file("data/OrluneRLM"));
    testing::writeFile(dir.file("data/OrluneRLM/config.json"), R"({"contactsFiles":[")" +
                                                                   dir.file("pat.vcf") + R"(",")" +
                                                                   dir.file("old.vcf") + R"("]})");
    const std::map<std::string, std::optional<std::string>> env = {
        {"ADDRESS_BOOK_PATH", dir.file("no-books-here")}, {"LANG", std::string("en_US.UTF-8")}};
    // The configured file given again is read once; a missing one is
    // reported and skipped.
    auto synced = runOrlune(dir,
                            {"sync", "--chat-db", dir.file("chat.db"), "--contacts",
                             dir.file("pat.vcf"), "--contacts", dir.file("also-gone.vcf")},
                            env);
    ASSERT_EQ(synced.exitCode, 0) << synced.err;
    EXPECT_THAT(synced.err, HasSubstr("old.vcf could not be read"));
    EXPECT_THAT(synced.err, HasSubstr("also-gone.vcf could not be read"));
    EXPECT_THAT(synced.err, Not(HasSubstr("pat.vcf")));

    auto found = runOrlune(dir, {"search", "--json", "--from", "pat"}, env);
    ASSERT_EQ(found.exitCode, 0) << found.err;
    auto hits = jsonLines(found.out);
    ASSERT_EQ(hits.size(), 1u) << found.out;
    EXPECT_EQ(hits[0]["sender_name"], "Pat Doe");

    // A configuration that cannot be used stops no sync.
    testing::writeFile(dir.file("data/OrluneRLM/config.json"), R"({"contactsFiles":"pat.vcf"})");
    auto again = runOrlune(dir, {"sync", "--chat-db", dir.file("chat.db")}, env);
    EXPECT_EQ(again.exitCode, 0) << again.err;
}

} // namespace
} // namespace orlune::cli

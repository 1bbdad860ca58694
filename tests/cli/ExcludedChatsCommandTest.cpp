// Leaving a chat out from the command line: `orlune sync --exclude-chat`
// records it in the configuration and takes it out of the copy, every read
// verb then goes without it, `orlune chats` says so, and `--include-chat`
// brings it back.

#include "tests/cli/RunOrlune.hpp"
#include "tests/support/PeopleStore.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace orlune::cli {
namespace {

using nlohmann::json;
using orlune::testing::ProcessResult;
using orlune::testing::readFile;
using orlune::testing::runOrlune;
using orlune::testing::TempDir;
using ::testing::HasSubstr;

constexpr const char* kSkiTrip = "iMessage;+;chat200";

class ExcludedChatsCommandTest : public ::testing::Test {
protected:
    TempDir dir;
    const std::map<std::string, std::optional<std::string>> env = {
        {"ADDRESS_BOOK_PATH", dir.file("AddressBook")}, {"LANG", std::string("en_US.UTF-8")}};

    void SetUp() override {
        testing::writePeopleStore(dir.file("chat.db"));
        testing::writePeopleBooks(dir.file("AddressBook"));
    }

    ProcessResult orlune(std::vector<std::string> args) { return runOrlune(dir, args, env); }

    ProcessResult sync(std::vector<std::string> options) {
        std::vector<std::string> args = {"sync", "--chat-db", dir.file("chat.db")};
        args.insert(args.end(), options.begin(), options.end());
        return orlune(args);
    }

    // `orlune chats --json`, by chat id.
    std::map<std::string, json> chats() {
        const ProcessResult listed = orlune({"chats", "--json"});
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        std::map<std::string, json> byId;
        std::istringstream lines(listed.out);
        for (std::string line; std::getline(lines, line);) {
            const json chat = json::parse(line);
            byId[chat["chat_id"].get<std::string>()] = chat;
        }
        return byId;
    }

    std::string configText() { return readFile(dir.file("data/OrluneRLM/config.json")); }
    std::string shadow() { return dir.file("data/OrluneRLM/shadow.db"); }
};

TEST_F(ExcludedChatsCommandTest, AChatLeftOutIsGoneFromEveryVerbUntilTakenBackIn) {
    ASSERT_EQ(sync({}).exitCode, 0);
    json ski = chats()[kSkiTrip];
    EXPECT_EQ(ski["title"], "Ski trip");
    EXPECT_EQ(ski["messages"], 2);
    EXPECT_EQ(ski["excluded"], false);

    const ProcessResult excluded = sync({"--exclude-chat", kSkiTrip});
    ASSERT_EQ(excluded.exitCode, 0) << excluded.err;
    EXPECT_THAT(
        configText(),
        HasSubstr(R"("excludedChats":[{"chatId":"iMessage;+;chat200","title":"Ski trip"}])"));
    ski = chats()[kSkiTrip];
    EXPECT_EQ(ski["title"], "Ski trip") << "kept by the configuration";
    EXPECT_EQ(ski["messages"], 0);
    EXPECT_EQ(ski["excluded"], true);
    EXPECT_EQ(chats()["iMessage;+;chat100"]["excluded"], false);
    EXPECT_EQ(json::parse(orlune({"status", "--json"}).out)["chats_excluded"], 1);

    // Every surface: search, sql, the database's bytes.
    const struct {
        std::vector<std::string> args;
    } reads[] = {
        {{"search", "--json", "packing"}},
        {{"search", "--json", "flight", "--limit", "50"}},
        {{"sql", "--json", "SELECT text, chat_name FROM messages"}},
        {{"sql", "--json", "SELECT title FROM chats"}},
    };
    for (const auto& read : reads) {
        const ProcessResult result = orlune(read.args);
        SCOPED_TRACE(::testing::PrintToString(read.args));
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out.find("packing"), std::string::npos) << result.out;
        EXPECT_EQ(result.out.find("Jessie booked"), std::string::npos) << result.out;
        EXPECT_EQ(result.out.find("Ski trip"), std::string::npos) << result.out;
    }
    for (const char* word : {"packing", "Jessie booked", "Ski trip"}) {
        for (const char* suffix : {"", "-wal"}) {
            EXPECT_FALSE(testing::fileHolds(shadow() + suffix, word)) << word << suffix;
        }
    }

    const ProcessResult back = sync({"--include-chat", kSkiTrip});
    ASSERT_EQ(back.exitCode, 0) << back.err;
    EXPECT_EQ(configText(), "{}");
    ski = chats()[kSkiTrip];
    EXPECT_EQ(ski["messages"], 2);
    EXPECT_EQ(ski["excluded"], false);
    EXPECT_EQ(json::parse(orlune({"status", "--json"}).out)["chats_excluded"], 0);
    const ProcessResult found = orlune({"search", "--json", "packing"});
    EXPECT_THAT(found.out, HasSubstr("packing for the flight tonight"));
}

// A chat left out before the first sync is never copied, and `orlune chats`
// lists it from the configuration alone.
TEST_F(ExcludedChatsCommandTest, AChatLeftOutBeforeTheFirstSyncIsNeverCopied) {
    ASSERT_EQ(sync({"--exclude-chat", kSkiTrip, "--exclude-chat=iMessage;+;chat100"}).exitCode, 0);
    EXPECT_EQ(configText(), R"({"excludedChats":[{"chatId":"iMessage;+;chat200"},)"
                            R"({"chatId":"iMessage;+;chat100"}]})");
    auto listed = chats();
    EXPECT_EQ(listed[kSkiTrip]["excluded"], true);
    EXPECT_EQ(listed[kSkiTrip]["title"], nullptr);
    EXPECT_EQ(listed["iMessage;-;+15550100001"]["messages"], 3);
    for (const char* word : {"packing", "BA117"}) {
        EXPECT_FALSE(testing::fileHolds(shadow(), word)) << word;
        EXPECT_FALSE(testing::fileHolds(shadow() + "-wal", word)) << word;
    }
}

// Wrong use is refused before anything is copied, and a configuration that
// cannot be read is not replaced: the choice cannot be recorded.
TEST_F(ExcludedChatsCommandTest, AChoiceThatCannotBeRecordedCopiesNothing) {
    const ProcessResult missing = sync({"--exclude-chat"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_THAT(missing.err, HasSubstr("--exclude-chat needs a chat id"));
    const ProcessResult empty = sync({"--include-chat="});
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_THAT(empty.err, HasSubstr("--include-chat needs a non-empty chat id"));

    std::filesystem::create_directories(dir.file("data/OrluneRLM"));
    testing::writeFile(dir.file("data/OrluneRLM/config.json"), "{broken");
    const ProcessResult refused = sync({"--exclude-chat", kSkiTrip});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_THAT(refused.err, HasSubstr("config.json"));
    EXPECT_EQ(configText(), "{broken");
    EXPECT_FALSE(std::filesystem::exists(shadow()));
}

// An id of no chat, in the store or the copy, is refused by name before
// anything is recorded or copied; an id the configuration leaves out can
// always be taken back in, even once its chat is gone everywhere.
TEST_F(ExcludedChatsCommandTest, AnIdOfNoChatIsRefusedAndRecordsNothing) {
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--exclude-chat", "iMessage;+;chat999"}, "iMessage;+;chat999"},
        {{"--include-chat", "iMessage;+;chat999"}, "iMessage;+;chat999"},
        {{"--exclude-chat", kSkiTrip, "--exclude-chat=Ski trip"}, "Ski trip"},
    };
    for (const auto& [options, unknown] : refused) {
        const ProcessResult result = sync(options);
        EXPECT_EQ(result.exitCode, 1) << unknown;
        EXPECT_THAT(result.err, HasSubstr("no chat has the id '" + unknown + "'"));
        EXPECT_THAT(result.err, HasSubstr("`orlune chats` lists the chats"));
        EXPECT_FALSE(std::filesystem::exists(dir.file("data/OrluneRLM/config.json")));
        EXPECT_FALSE(std::filesystem::exists(shadow()));
    }

    std::filesystem::create_directories(dir.file("data/OrluneRLM"));
    testing::writeFile(dir.file("data/OrluneRLM/config.json"),
                       R"({"excludedChats":[{"chatId":"iMessage;+;chat999"}]})");
    const ProcessResult back = sync({"--include-chat", "iMessage;+;chat999"});
    EXPECT_EQ(back.exitCode, 0) << back.err;
    EXPECT_EQ(configText(), "{}");
}

// What the configuration logs (a choice saved, a file that cannot be read)
// goes to the log file; standard error holds only what is for the person.
TEST_F(ExcludedChatsCommandTest, LogLinesGoToTheLogFileNotToStandardError) {
    struct Logging {
        std::vector<std::string> args;
        const char* config; // written first, when given
        const char* event;
    };
    const Logging cases[] = {
        {{"sync", "--chat-db", dir.file("chat.db"), "--exclude-chat", kSkiTrip},
         nullptr,
         "\"config_saved\""},
        {{"chats"}, "{broken", "\"config_load_failed\""},
    };
    for (const auto& [args, config, event] : cases) {
        if (config != nullptr) {
            testing::writeFile(dir.file("data/OrluneRLM/config.json"), config);
        }
        const ProcessResult result = orlune(args);
        EXPECT_EQ(result.err.find("{\""), std::string::npos) << event << ": " << result.err;
        EXPECT_THAT(readFile(dir.file("data/Logs/Orlune/OrluneRLM.log")), HasSubstr(event));
    }
}

// While the configuration cannot be read, a sync leaves out what the last
// one left out, rather than copying it back.
TEST_F(ExcludedChatsCommandTest, AnUnreadableConfigurationKeepsTheChatsLeftOut) {
    ASSERT_EQ(sync({"--exclude-chat", kSkiTrip}).exitCode, 0);
    testing::writeFile(dir.file("data/OrluneRLM/config.json"), "{broken");
    const ProcessResult synced = sync({});
    EXPECT_EQ(synced.exitCode, 0) << synced.err;
    EXPECT_THAT(synced.err, HasSubstr("left out at the last sync stay left out"));
    EXPECT_FALSE(testing::fileHolds(shadow(), "packing"));
    const ProcessResult found = orlune({"search", "--json", "packing"});
    EXPECT_EQ(found.out, "");
}

} // namespace
} // namespace orlune::cli

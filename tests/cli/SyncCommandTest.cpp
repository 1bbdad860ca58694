// Runs the built `orlune` binary on fixture stores.

#include "tests/cli/RunOrlune.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::cli {
namespace {

using orlune::testing::readFile;
using orlune::testing::TempDir;
using ::testing::HasSubstr;
using ::testing::Not;

using Result = orlune::testing::ProcessResult;
using orlune::testing::runOrlune;

void makeStore(const std::string& path, int messages) {
    samplestore::ChatStoreWriter store(path);
    store.addHandle({1, std::string("+15550001"), std::string("iMessage")});
    store.addChat(
        {1, "iMessage;-;+15550001", std::nullopt, samplestore::kDirectChatStyle, "+15550001"});
    store.addChatMember(1, 1);
    store.beginTransaction();
    for (int rowid = 1; rowid <= messages; ++rowid) {
        samplestore::MessageRow row;
        row.rowid = rowid;
        row.guid = "guid-" + std::to_string(rowid);
        row.text = "hello " + std::to_string(rowid);
        row.date = rowid;
        row.handleId = 1;
        store.addMessage(row);
        store.joinMessageToChat(rowid, 1, rowid);
    }
    store.commit();
}

TEST(OrluneCli, HelpExplainsTheToolAndTheSyncVerb) {
    TempDir dir;
    Result top = runOrlune(dir, {"--help"});
    EXPECT_EQ(top.exitCode, 0);
    EXPECT_THAT(top.out, HasSubstr("sync"));
    EXPECT_THAT(top.out, HasSubstr("orlune VERB --help"));

    Result sync = runOrlune(dir, {"sync", "--help"});
    EXPECT_EQ(sync.exitCode, 0);
    EXPECT_THAT(sync.out, HasSubstr("Usage: orlune sync [--chat-db PATH] [--shadow-db PATH]"));
    EXPECT_THAT(sync.out, HasSubstr("CHAT_DB_PATH"));
    EXPECT_THAT(sync.out, HasSubstr("SHADOW_DB_PATH"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("data/Orlune"))) << "help syncs nothing";
}

TEST(OrluneCli, SyncPrintsWhatItWroteAndTheCount) {
    TempDir dir;
    makeStore(dir.file("chat.db"), 12);
    std::string shadow = dir.file("out/shadow.db");
    std::filesystem::create_directories(dir.file("out"));

    Result first =
        runOrlune(dir, {"sync", "--chat-db", dir.file("chat.db"), "--shadow-db", shadow});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_THAT(first.out, HasSubstr("Messages written: 12\n"));
    EXPECT_THAT(first.out, HasSubstr("Messages in the shadow database: 12\n"));
    EXPECT_EQ(first.err, "") << "no progress when standard error is not a terminal";

    Result second =
        runOrlune(dir, {"sync", "--chat-db=" + dir.file("chat.db"), "--shadow-db=" + shadow});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_THAT(second.out, HasSubstr("Messages written: 0\n"));
    EXPECT_THAT(second.out, HasSubstr("Messages in the shadow database: 12\n"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("data/Orlune/shadow.db")))
        << "an explicit --shadow-db leaves the default place alone";
}

TEST(OrluneCli, SyncUsesTheDefaultPathsFromTheEnvironment) {
    TempDir dir;
    makeStore(dir.file("store.db"), 3);
    Result viaVariables =
        runOrlune(dir, {"sync"},
                  {{"CHAT_DB_PATH", dir.file("store.db")}, {"SHADOW_DB_PATH", dir.file("s.db")}});
    EXPECT_EQ(viaVariables.exitCode, 0) << viaVariables.err;
    EXPECT_THAT(viaVariables.out, HasSubstr("Messages in the shadow database: 3\n"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("s.db")));

    // Without variables: the home folder's store and the data folder's shadow.
    std::filesystem::create_directories(dir.file("Library/Messages"));
    makeStore(dir.file("Library/Messages/chat.db"), 5);
    Result viaHome = runOrlune(dir, {"sync"});
    EXPECT_EQ(viaHome.exitCode, 0) << viaHome.err;
    EXPECT_THAT(viaHome.out, HasSubstr("Messages written: 5\n"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("data/Orlune/shadow.db")));
}

TEST(OrluneCli, SyncFailuresGoToStandardErrorWithAFailingStatus) {
    TempDir dir;
    makeStore(dir.file("chat.db"), 2);
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string err;
    };
    const Case cases[] = {
        {"missing store",
         {"sync", "--chat-db", dir.file("none/chat.db"), "--shadow-db", dir.file("s.db")},
         1,
         "iMessage database not found. Ensure Full Disk Access is granted.\n"},
        {"unopenable shadow database",
         {"sync", "--chat-db", dir.file("chat.db"), "--shadow-db", dir.file("no/such/s.db")},
         1,
         "Failed to open database: unable to open database file\n"},
        {"unknown argument",
         {"sync", "--fast"},
         2,
         "orlune sync: unknown argument '--fast'\nRun `orlune sync --help` for usage.\n"},
        {"option without its path",
         {"sync", "--chat-db"},
         2,
         "orlune sync: --chat-db needs a path\n"},
    };
    for (const Case& c : cases) {
        Result result = runOrlune(dir, c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.name;
        EXPECT_EQ(result.err, c.err) << c.name;
        EXPECT_THAT(result.out, Not(HasSubstr("Messages written"))) << c.name;
    }
}

} // namespace
} // namespace orlune::cli

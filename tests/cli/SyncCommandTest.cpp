// Runs the built `orlune` binary on fixture stores.

#include "tests/cli/RunOrlune.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace orlune::cli {
namespace {

using orlune::testing::readFile;
using orlune::testing::TempDir;
using ::testing::HasSubstr;
using ::testing::Not;

using Result = orlune::testing::ProcessResult;
using orlune::testing::runOrlune;

// Adds messages `first`..`last` (ROWIDs and dates) to a store made by makeStore.
void addMessages(samplestore::ChatStoreWriter& store, int first, int last) {
    store.beginTransaction();
    for (int rowid = first; rowid <= last; ++rowid) {
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

void makeStore(const std::string& path, int messages) {
    samplestore::ChatStoreWriter store(path);
    store.addHandle({1, std::string("+15550001"), std::string("iMessage")});
    store.addChat(
        {1, "iMessage;-;+15550001", std::nullopt, samplestore::kDirectChatStyle, "+15550001"});
    store.addChatMember(1, 1);
    addMessages(store, 1, messages);
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
    EXPECT_FALSE(std::filesystem::exists(dir.file("data"))) << "help syncs nothing";

    // Every verb that reaches the shadow database names the one default.
    for (const char* verb : {"sync", "search", "sql", "tables", "describe", "ask"}) {
        Result help = runOrlune(dir, {verb, "--help"});
        EXPECT_EQ(help.exitCode, 0) << verb;
        EXPECT_THAT(help.out, HasSubstr("$SHADOW_DB_PATH")) << verb;
        EXPECT_THAT(help.out, HasSubstr("OrluneRLM/shadow.db in your")) << verb;
    }
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
    EXPECT_FALSE(std::filesystem::exists(dir.file("data/OrluneRLM/shadow.db")))
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
    EXPECT_TRUE(std::filesystem::exists(dir.file("data/OrluneRLM/shadow.db")));
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
         "iMessage database not found. Ensure Full Disk Access is granted.\nNothing is at " +
             dir.file("none/chat.db") +
             ". Name the messaging store with --chat-db PATH (or CHAT_DB_PATH); on macOS, give "
             "the program running orlune Full Disk Access (System Settings > Privacy & "
             "Security > Full Disk Access).\n"},
        {"unopenable shadow database",
         {"sync", "--chat-db", dir.file("chat.db"), "--shadow-db", dir.file("no/such/s.db")},
         1,
         "Failed to open database: the folder " + dir.file("no/such") + " of the shadow database " +
             dir.file("no/such/s.db") +
             " does not exist (No such file or directory): create it, or set SHADOW_DB_PATH "
             "to a file in a folder you can write\n"},
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

namespace orlune::cli {
namespace {

using orlune::testing::DatabaseProbe;
using orlune::testing::TempDir;
using orlune::testing::writeFile;
using ::testing::HasSubstr;
using Result = orlune::testing::ProcessResult;
using orlune::testing::runOrlune;

void makeStoreAt(const TempDir& dir, int messages) {
    std::filesystem::create_directories(dir.file("Library/Messages"));
    makeStore(dir.file("Library/Messages/chat.db"), messages);
}

TEST(OneShadowDatabase, SyncSearchAndAskUseTheSameFileWithNoFlags) {
    TempDir dir;
    makeStoreAt(dir, 4);
    ASSERT_EQ(runOrlune(dir, {"sync"}).exitCode, 0);

    Result search = runOrlune(dir, {"search", "hello"});
    EXPECT_EQ(search.exitCode, 0) << search.err;
    EXPECT_THAT(search.out, HasSubstr("hello 3"));

    // The helper is handed the same file.
    writeFile(dir.file("helper.sh"),
              "#!/bin/sh\ncat > \"$OUT/request.json\"; printf '%s' '{\"answer\":\"ok\"}'\n");
    ::chmod(dir.file("helper.sh").c_str(), 0755);
    Result ask = runOrlune(dir, {"ask", "What did they say?"},
                           {{"ORLUNE_RLM_HELPER_CMD", dir.file("helper.sh")},
                            {"OUT", dir.path().string()},
                            {"VEYRLINK_API_KEY", "key"}});
    EXPECT_EQ(ask.exitCode, 0) << ask.err;
    EXPECT_THAT(orlune::testing::readFile(dir.file("request.json")),
                HasSubstr("\"db_path\":\"" + dir.file("data/OrluneRLM/shadow.db") + "\""));
}

TEST(OneShadowDatabase, ACopyAtTheOldDefaultIsMovedAndNotCopiedAgain) {
    TempDir dir;
    makeStoreAt(dir, 6);
    const std::string old = dir.file("data/Orlune/shadow.db");
    std::filesystem::create_directories(dir.file("data/Orlune"));
    ASSERT_EQ(runOrlune(dir, {"sync"}, {{"SHADOW_DB_PATH", old}}).exitCode, 0);

    Result sync = runOrlune(dir, {"sync"});
    EXPECT_EQ(sync.exitCode, 0) << sync.err;
    EXPECT_THAT(sync.out, HasSubstr("Messages written: 0\n"));
    EXPECT_THAT(sync.out, HasSubstr("Messages in the shadow database: 6\n"));
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_TRUE(std::filesystem::exists(dir.file("data/OrluneRLM/shadow.db")));
}

// Two `orlune sync` started together on a new shadow database: one copies,
// the other copies too or says that a sync is running; the database always
// ends whole.
TEST(OneShadowDatabase, TwoSyncsAtOnceNeverLeaveAHalfMadeDatabase) {
    TempDir dir;
    makeStore(dir.file("chat.db"), 3000);
    const std::string shadow = dir.file("shadow.db");
    for (int round = 0; round < 5; ++round) {
        for (const char* file : {"", "-wal", "-shm"}) {
            std::filesystem::remove(shadow + file);
        }
        const std::vector<std::string> args = {"sync", "--chat-db", dir.file("chat.db"),
                                               "--shadow-db", shadow};
        Result first;
        std::thread other([&] { first = runOrlune(dir, args); });
        Result second = runOrlune(dir, args);
        other.join();
        for (const Result* result : {&first, &second}) {
            if (result->exitCode != 0) {
                EXPECT_EQ(result->exitCode, 1);
                EXPECT_THAT(result->err,
                            HasSubstr("Sync failed: another sync into " + shadow + " is running"));
            }
        }
        EXPECT_TRUE(first.exitCode == 0 || second.exitCode == 0) << first.err << second.err;
        EXPECT_EQ(DatabaseProbe(shadow).value("SELECT count(*) FROM messages"), "3000");
    }
}

// --shadow-db is a file name, whatever it looks like, and a file of another
// program is refused before anything in it changes.
TEST(OneShadowDatabase, TheShadowPathIsTakenLiterallyAndForeignFilesAreRefused) {
    TempDir dir;
    makeStore(dir.file("chat.db"), 2);
    std::filesystem::create_directories(dir.file("work"));
    Result uriLike =
        runOrlune(dir, {"sync", "--chat-db", dir.file("chat.db"), "--shadow-db", "file:x?y#z"}, {},
                  dir.file("work"));
    EXPECT_EQ(uriLike.exitCode, 0) << uriLike.err;
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.file("work/file:x?y#z")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("work/x")));

    const std::string foreign = dir.file("notes.sqlite");
    samplestore::ChatStoreWriter(foreign).close(); // another program's tables
    const std::string before = orlune::testing::readFile(foreign);
    Result refused =
        runOrlune(dir, {"sync", "--chat-db", dir.file("chat.db"), "--shadow-db", foreign});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_THAT(refused.err, HasSubstr(foreign + " is not a shadow database (its tables: "));
    EXPECT_EQ(orlune::testing::readFile(foreign), before);
    EXPECT_FALSE(std::filesystem::exists(foreign + "-wal"));
}

// `orlune sync --watch` started in the background, its output in files.
class WatchingSync {
public:
    WatchingSync(const TempDir& dir, const std::vector<std::string>& args) : dir_(dir) {
        std::vector<std::string> all = {ORLUNE_CLI_PATH, "sync", "--watch"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> environment = orlune::testing::environmentWith(
            {{"HOME", dir.path().string()}, {"ORLUNE_DATA_DIR", dir.file("data")}});
        std::vector<char*> envp;
        for (std::string& entry : environment) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, dir.file("watch.out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, dir.file("watch.err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~WatchingSync() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    std::string out() const { return readFile(dir_.file("watch.out")); }
    // Sends `signal` and returns the exit status (-1 unless it exited).
    int stop(int signal) {
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    const TempDir& dir_;
    pid_t pid_ = -1;
};

bool eventually(const std::function<bool()>& condition) {
    for (int tries = 0; tries < 200; ++tries) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(OrluneCli, SyncWatchFollowsTheStoreAndEndsCleanlyOnASignal) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        TempDir dir;
        makeStore(dir.file("chat.db"), 12);
        const std::string shadow = dir.file("shadow.db");
        WatchingSync watching(dir, {"--chat-db", dir.file("chat.db"), "--shadow-db", shadow});
        ASSERT_TRUE(eventually([&] {
            return watching.out().find("in the shadow database: 12\n") != std::string::npos;
        })) << watching.out();

        // Another process writes the store: copied within seconds.
        {
            samplestore::ChatStoreWriter store(dir.file("chat.db"),
                                               samplestore::ChatStoreWriter::OpenExisting{});
            addMessages(store, 13, 20);
        }
        ASSERT_TRUE(eventually([&] {
            return watching.out().find("in the shadow database: 20\n") != std::string::npos;
        })) << watching.out();

        EXPECT_EQ(watching.stop(signal), 0);
        EXPECT_THAT(watching.out(), HasSubstr("Stopped.\n"));
        EXPECT_EQ(readFile(dir.file("watch.err")), "");
        // An unchanged store: one more pass writes nothing.
        Result again =
            runOrlune(dir, {"sync", "--chat-db", dir.file("chat.db"), "--shadow-db", shadow});
        EXPECT_THAT(again.out, HasSubstr("Messages written: 0\n"));
        EXPECT_THAT(again.out, HasSubstr("Messages in the shadow database: 20\n"));
    }
}

// A store written to without a pause (every 100 ms, never quiet for the
// half second a burst waits for) is still copied while the writing goes on.
TEST(OrluneCli, SyncWatchPassesWhileTheStoreKeepsChanging) {
    TempDir dir;
    makeStore(dir.file("chat.db"), 12);
    WatchingSync watching(dir,
                          {"--chat-db", dir.file("chat.db"), "--shadow-db", dir.file("shadow.db")});
    ASSERT_TRUE(eventually([&] {
        return watching.out().find("in the shadow database: 12\n") != std::string::npos;
    })) << watching.out();

    samplestore::ChatStoreWriter store(dir.file("chat.db"),
                                       samplestore::ChatStoreWriter::OpenExisting{});
    // The first pass's line, then one more.
    auto passedWhileWriting = [&] {
        const std::string out = watching.out();
        size_t passes = 0;
        for (size_t at = out.find("Messages written: "); at != std::string::npos;
             at = out.find("Messages written: ", at + 1)) {
            ++passes;
        }
        return passes >= 2;
    };
    bool passed = false;
    for (int rowid = 13; rowid < 13 + 100 && !passed; ++rowid) {
        addMessages(store, rowid, rowid);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        passed = passedWhileWriting();
    }
    EXPECT_TRUE(passed) << watching.out();
    EXPECT_EQ(watching.stop(SIGTERM), 0);
}

} // namespace

} // namespace orlune::cli

// Runs the built `orlune` binary's read-only verbs (search, sql, tables,
// describe) on a shadow database, and its benchmark verb on a corpus file.

#include "benchmark/BenchmarkMetrics.hpp"
#include "shadow/ShadowDB.hpp"
#include "tests/cli/RunOrlune.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace orlune::cli {
namespace {

using orlune::testing::readFile;
using orlune::testing::TempDir;
using orlune::testing::writeFile;
using ::testing::HasSubstr;
using ::testing::Not;

using Result = orlune::testing::ProcessResult;
using orlune::testing::runOrlune;

std::vector<nlohmann::ordered_json> jsonLines(const std::string& text) {
    std::vector<nlohmann::ordered_json> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(nlohmann::ordered_json::parse(line));
    }
    return lines;
}

std::vector<std::string> keys(const nlohmann::ordered_json& object) {
    std::vector<std::string> out;
    for (const auto& [key, value] : object.items()) {
        out.push_back(key);
    }
    return out;
}

core::ShadowMessage message(std::string guid, std::string text, std::optional<std::string> chatName,
                            std::string sender, int64_t timestamp) {
    bool fromMe = sender == "me";
    return core::ShadowMessage(std::move(guid), "chat-1", std::move(chatName), std::move(sender),
                               std::move(text), timestamp, fromMe, true, false, {}, 1);
}

// A synced shadow database where `orlune sync` would put it: the default
// path inside the test's own data folder.
class ReadVerbs : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.file("data/OrluneRLM"));
        shadowPath = dir.file("data/OrluneRLM/shadow.db");
        core::ShadowDB db(shadowPath);
        db.createSchemaIfNeeded();
        db.insertBatch(
            {message("g1", "Dinner tomorrow at 7?", std::string("Family"), "+15550100", 700),
             message("g2", "dinner was lovely\nthank you", std::nullopt, "me", 800),
             message("g3", "parking permit renewed", std::string("Flat"), "+15550177", 900)});
    }

    std::string databaseBytes() { return readFile(shadowPath); }

    TempDir dir;
    std::string shadowPath;
};

TEST_F(ReadVerbs, SearchPrintsATableOrJsonLines) {
    Result table = runOrlune(dir, {"search", "dinner"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_THAT(table.out, HasSubstr("sender"));
    EXPECT_THAT(table.out, HasSubstr("rank"));
    EXPECT_THAT(table.out, HasSubstr("Dinner tomorrow at 7?"));
    EXPECT_THAT(table.out, HasSubstr("dinner was lovely thank you")); // one line per hit
    EXPECT_THAT(table.out, Not(HasSubstr("parking")));

    Result json = runOrlune(dir, {"search", "--json", "--limit", "5", "dinner"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    auto hits = jsonLines(json.out);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(keys(hits[0]), (std::vector<std::string>{
                                 "guid", "chat_id", "chat_name", "sender", "text", "timestamp",
                                 "is_from_me", "is_group", "rank", "sender_name", "chat_title",
                                 "reactions", "attachments", "transcript"}));
    for (const auto& hit : hits) {
        EXPECT_TRUE(hit["reactions"].is_array() && hit["reactions"].empty());
        EXPECT_TRUE(hit["attachments"].is_array() && hit["attachments"].empty());
        if (hit["guid"] == "g2") {
            EXPECT_TRUE(hit["chat_name"].is_null());
            EXPECT_EQ(hit["is_from_me"], true);
            EXPECT_EQ(hit["timestamp"], 800);
        }
    }
    EXPECT_LE(hits[0]["rank"].get<double>(), hits[1]["rank"].get<double>());

    Result limited = runOrlune(dir, {"search", "--json", "--limit=1", "dinner"});
    EXPECT_EQ(jsonLines(limited.out).size(), 1u);

    Result other = runOrlune(dir, {"search", "--shadow-db", shadowPath, "sender:15550177"});
    EXPECT_THAT(other.out, HasSubstr("parking permit renewed"));
}

// Everyday text that is not an FTS5 expression is searched as its words,
// and the person is told so; with no words to search it is an error that
// says how to quote. Never a silent "No messages match.".
TEST_F(ReadVerbs, SearchesFTS5CannotReadAreSearchedAsWordsOrExplained) {
    const std::string nested = std::string(100, '(') + "dinner" + std::string(100, ')');
    struct Case {
        std::string query;
        int exitCode;
        std::string out; // a part of standard output
        std::string err; // a part of standard error
    };
    const Case cases[] = {
        {"dinner?", 0, "Dinner tomorrow at 7?", "so its words were searched: \"dinner?\""},
        {"Tomorrow.", 0, "Dinner tomorrow at 7?", "could not be read as written (fts5: syntax"},
        {"permit-renewed", 0, "parking permit renewed", "searched: \"permit-renewed\""},
        {"what's up", 0, "No messages match.", "searched: \"what's\" \"up\". Put words"},
        {"nosuchcol:dinner", 0, "No messages match.", "no such column: nosuchcol"},
        {nested, 0, "Dinner tomorrow at 7?", ""},
        {"\"", 1, "", "The search \"\"\" could not be read (unterminated string). Put"},
        {"( ? )", 1, "", "Put words with punctuation in double quotes"},
    };
    for (const Case& c : cases) {
        const Result result = runOrlune(dir, {"search", c.query});
        EXPECT_EQ(result.exitCode, c.exitCode) << c.query << ": " << result.err;
        EXPECT_THAT(result.out, HasSubstr(c.out)) << c.query;
        EXPECT_THAT(result.err, HasSubstr(c.err)) << c.query;
    }
}

// Text from others never reaches the terminal as control characters: a
// message that would retitle the window, clear the screen and (C1 CSI) move
// the cursor is printed with those escaped, by every verb and in errors that
// echo what was typed.
TEST_F(ReadVerbs, ControlCharactersInWhatIsPrintedAreEscaped) {
    const std::string hostile = "tickets \x1b]0;TITLE\x07\x1b[2J\xC2\x9B"
                                "31m\r done \x7f";
    {
        core::ShadowDB db(shadowPath);
        db.insertBatch({message("g4", hostile, std::string("Fam\x1b[8mily"), "+15550100", 1000)});
    }
    const std::string escaped = "tickets \\u001b]0;TITLE\\u0007\\u001b[2J\\u009b31m";
    const std::vector<std::string> argsList[] = {
        {"search", "tickets"},
        {"search", "--json", "tickets"},
        {"search", "--chat", "Fam\x1b[8mily"},
        {"sql", "SELECT text FROM messages WHERE guid = 'g4'"},
        {"sql", "--json", "SELECT text, chat_name FROM messages WHERE guid = 'g4'"},
        {"describe", "\x1b]52;c;aGk=\x07"},
        {"sql", "SELECT \x1b[2J"},
    };
    for (const auto& args : argsList) {
        const Result result = runOrlune(dir, args);
        for (const std::string& output : {result.out, result.err}) {
            EXPECT_EQ(output.find_first_of("\x1b\x07\x7f"), std::string::npos) << args.back();
            EXPECT_EQ(output.find("\xC2\x9B"), std::string::npos) << args.back();
        }
        if (args[0] == "search" && args[1] != "--chat") {
            EXPECT_THAT(result.out, HasSubstr(escaped)) << args[1];
        }
        if (args[1] == "--json") {
            // Escaped as JSON escapes: the line still reads back as the text.
            EXPECT_EQ(jsonLines(result.out).at(0)["text"], hostile);
        }
    }
}

TEST_F(ReadVerbs, SqlTablesAndDescribe) {
    Result rows = runOrlune(
        dir, {"sql", "--json", "SELECT guid, timestamp, chat_name FROM messages ORDER BY guid"});
    ASSERT_EQ(rows.exitCode, 0) << rows.err;
    auto lines = jsonLines(rows.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].dump(), R"({"guid":"g1","timestamp":700,"chat_name":"Family"})");
    EXPECT_TRUE(lines[1]["chat_name"].is_null());

    Result limited = runOrlune(dir, {"sql", "--limit", "2", "SELECT guid FROM messages"});
    ASSERT_EQ(limited.exitCode, 0) << limited.err;
    EXPECT_THAT(limited.out, HasSubstr("guid"));
    EXPECT_THAT(limited.out, Not(HasSubstr("g3")));

    Result tables = runOrlune(dir, {"tables", "--json"});
    ASSERT_EQ(tables.exitCode, 0) << tables.err;
    EXPECT_THAT(tables.out, HasSubstr(R"({"name":"messages"})"));
    EXPECT_THAT(tables.out, HasSubstr(R"({"name":"messages_fts"})"));
    EXPECT_THAT(runOrlune(dir, {"tables"}).out, HasSubstr("sync_state"));

    Result columns = runOrlune(dir, {"describe", "--json", "messages"});
    ASSERT_EQ(columns.exitCode, 0) << columns.err;
    auto described = jsonLines(columns.out);
    ASSERT_EQ(described.size(), 15u);
    EXPECT_THAT(columns.out,
                HasSubstr(R"({"name":"thread_originator_guid","type":"TEXT","not_null":false})"));
    EXPECT_EQ(described[1].dump(), R"({"name":"guid","type":"TEXT","not_null":true})");
    Result shown = runOrlune(dir, {"describe", "sync_state"});
    EXPECT_THAT(shown.out, HasSubstr("last_rowid"));
    EXPECT_THAT(shown.out, HasSubstr("not_null"));
}

TEST_F(ReadVerbs, ErrorsGoToStandardErrorAndNothingIsWritten) {
    { core::ShadowDB checkpoint(shadowPath); } // the last close folds the log into the file
    std::string before = databaseBytes();
    std::string pAndP5000 = "p*";
    for (int i = 1; i < 5000; ++i) {
        pAndP5000 += " AND p*";
    }
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string error;
    };
    const Case cases[] = {
        {{"sql", "DELETE FROM messages"},
         1,
         "Query failed: Only read-only SQL statements are allowed"},
        {{"sql", "SELECT 1; SELECT 2"}, 1, "Query failed: Only a single SQL statement is allowed"},
        {{"sql", "ATTACH '" + dir.file("x.db") + "' AS y"}, 1, "Query failed: Attaching"},
        {{"sql", "PRAGMA user_version = 9"}, 1, "Query failed: PRAGMA user_version"},
        {{"sql", "SELECT hex(fts3_tokenizer('simple'))"},
         1,
         "Query failed: fts3_tokenizer is not allowed on the read-only surface"},
        {{"sql", "SELECT nope FROM messages"},
         1,
         "Statement preparation failed: no such column: nope"},
        {{"sql", "   "}, 1, "Query failed: SQL query must not be empty"},
        {{"describe", "messages; DROP TABLE messages"},
         1,
         "Invalid table name: messages; DROP TABLE messages"},
        {{"describe", "no_such_table"}, 1, "No table named 'no_such_table'"},
        {{"search"}, 2, "a QUERY is needed"},
        {{"search", "--limit", "0", "x"}, 2, "--limit needs a whole number"},
        {{"sql", "--limit", "ten", "SELECT 1"}, 2, "--limit needs a whole number"},
        {{"search", "--frobnicate", "x"}, 2, "unknown option '--frobnicate'"},
        {{"tables", "extra"}, 2, "unexpected argument 'extra'"},
        {{"search", "--shadow-db", dir.file("absent.db"), "x"}, 1, "No shadow database at"},
        // Values and searches too large to run are refused at once.
        {{"sql", "--limit", "5", "SELECT printf('%.*c',999999999,'x') FROM messages"},
         1,
         "Query failed: A value in the result would be larger than 16777216 bytes"},
        {{"sql", "SELECT zeroblob(999999999)"}, 1, "larger than 16777216 bytes"},
        {{"search", pAndP5000}, 1, "The search expression is 34995 bytes long; at most 4096"},
        {{"search", "NEAR(a* b* c* d* e* f* g* h* i* j* k* l* m* n* o* p* q*, 1000000)"},
         1,
         "The search expression has 17 prefix terms (word*); at most 16 are allowed"},
    };
    for (const auto& c : cases) {
        Result result = runOrlune(dir, c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.args[0] << " " << c.args.back();
        EXPECT_THAT(result.err, HasSubstr(c.error)) << c.args.back();
        EXPECT_EQ(result.out, "") << c.args.back();
    }
    EXPECT_EQ(databaseBytes(), before);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.db")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("absent.db")));
}

TEST_F(ReadVerbs, SqlAndSearchSayWhatTheSizeBoundsCut) {
    Result sql = runOrlune(dir, {"sql", "--json",
                                 "SELECT printf('%.*c', 2000000, 'x') AS v, "
                                 "printf('%.*c', 3, 'y') AS w"});
    ASSERT_EQ(sql.exitCode, 0) << sql.err;
    auto lines = jsonLines(sql.out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["v"], std::string(1024 * 1024, 'x'));
    EXPECT_EQ(lines[0]["w"], "yyy");
    EXPECT_EQ(sql.err, "Note: 1 value was cut to its first 1 MiB.\n");

    Result whole = runOrlune(dir, {"sql", "SELECT guid FROM messages"});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(whole.err, "");
}

// A damaged shadow database is an error naming the damage, never "No
// messages match.".
TEST_F(ReadVerbs, ADamagedDatabaseIsAnErrorThatNamesTheDamage) {
    { core::ShadowDB checkpoint(shadowPath); } // the last close folds the log into the file
    orlune::testing::damagePage(
        shadowPath, orlune::testing::DatabaseProbe(shadowPath).leafPages("messages").at(0));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"search", "dinner"},
          std::vector<std::string>{"sql", "SELECT text FROM messages"}}) {
        Result result = runOrlune(dir, args);
        EXPECT_EQ(result.exitCode, 1) << args[0];
        EXPECT_THAT(result.err, HasSubstr("database disk image is malformed")) << args[0];
        EXPECT_THAT(result.err, HasSubstr(shadowPath + " is damaged")) << args[0];
        EXPECT_EQ(result.out, "") << args[0];
    }
}

// What the sync recorded is read back as it is: the counts, the dates in
// the local zone, and nothing written.
TEST_F(ReadVerbs, StatusSaysWhatIsCoveredAndWhatWasLeftOut) {
    orlune::testing::DatabaseProbe(shadowPath)
        .exec("UPDATE left_out_counts SET reactions = 1234, events = 5, junk = 6, unsent = 7;"
              "INSERT INTO recently_deleted (source_rowid, guid) VALUES (1, 'x'), (2, 'y');"
              "INSERT INTO attachments (message_guid, position, kind, downloaded, hidden) "
              "VALUES ('g1', 0, 'photo', 0, 0), ('g1', 1, 'photo', 1, 0), "
              "('g2', 0, 'photo', 0, 1)");
    const std::string before = databaseBytes();
    const std::map<std::string, std::optional<std::string>> tokyo = {{"TZ", "Asia/Tokyo"}};

    Result json = runOrlune(dir, {"status", "--json"}, tokyo);
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const auto status = nlohmann::ordered_json::parse(json.out);
    EXPECT_EQ(keys(status), (std::vector<std::string>{"messages", "first_message", "last_message",
                                                      "chats", "chats_excluded", "left_out",
                                                      "attachments_not_downloaded"}));
    EXPECT_EQ(status["messages"], 3);
    EXPECT_EQ(status["first_message"], "2001-01-01T09:11:40+09:00");
    EXPECT_EQ(status["last_message"], "2001-01-01T09:15:00+09:00");
    EXPECT_EQ(status["chats"], 1);
    EXPECT_EQ(status["chats_excluded"], 0);
    EXPECT_EQ(status["left_out"],
              nlohmann::ordered_json::parse(
                  R"({"reactions": 1234, "events": 5, "junk": 6, "unsent": 7, "deleted": 2})"));
    EXPECT_EQ(status["attachments_not_downloaded"], 1);

    Result text = runOrlune(dir, {"status"}, tokyo);
    ASSERT_EQ(text.exitCode, 0) << text.err;
    for (const char* line :
         {"Messages indexed            3\n", "First message               Mon 1 Jan 2001, 09:11\n",
          "Left out: reactions         1,234\n", "Left out: recently deleted  2\n",
          "Attachments not downloaded  1\n"}) {
        EXPECT_THAT(text.out, HasSubstr(line));
    }
    EXPECT_EQ(databaseBytes(), before);
}

TEST(ReadVerbsWithoutDatabase, TheDefaultPathIsNamedAndNotCreated) {
    TempDir dir;
    // An older version's database stays where it is: only a sync moves it.
    std::filesystem::create_directories(dir.file("data/Orlune"));
    orlune::testing::writeFile(dir.file("data/Orlune/shadow.db"), "");
    Result result = runOrlune(dir, {"tables"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.err,
                HasSubstr("No shadow database at " + dir.file("data/OrluneRLM/shadow.db")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("data/OrluneRLM"))) << "no folder either";
    EXPECT_TRUE(std::filesystem::exists(dir.file("data/Orlune/shadow.db")));
    Result fromEnv = runOrlune(dir, {"search", "x"}, {{"SHADOW_DB_PATH", dir.file("env.db")}});
    EXPECT_THAT(fromEnv.err, HasSubstr("No shadow database at " + dir.file("env.db")));
}

const char* kSmallCorpus = R"({
  "version": "t",
  "messages": [
    {"guid": "a", "chat_id": "c", "sender": "+1", "text": "parking permit", "timestamp": 1, "is_from_me": false, "is_group": false},
    {"guid": "b", "chat_id": "c", "sender": "me", "text": "dinner tomorrow", "timestamp": 2, "is_from_me": true, "is_group": false}
  ],
  "queries": [
    {"id": "q1", "text": "parking", "category": "keyword", "expected_guids": ["a"]},
    {"id": "q2", "text": "cinema", "category": "semantic", "expected_guids": ["b"]}
  ]
})";

TEST(BenchVerb, PrintsScoresWritesMetricsAndCleansUp) {
    TempDir dir;
    writeFile(dir.file("corpus.json"), kSmallCorpus);
    std::filesystem::create_directory(dir.file("tmp"));
    Result result = runOrlune(
        dir, {"bench", "--verbose", "--json", dir.file("out.json"), dir.file("corpus.json")},
        {{"TMPDIR", dir.file("tmp")}});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("  \u2713 q1: R@5=100%\n  \u2717 q2: R@5=0%\n"));
    EXPECT_THAT(result.out, HasSubstr("Overall (2 queries)"));
    EXPECT_THAT(result.out, HasSubstr("recall     0.500  0.500  0.500"));
    EXPECT_THAT(result.out, HasSubstr("keyword   1        1.000     1.000        1.000"));
    EXPECT_THAT(result.out, HasSubstr("semantic"));
    EXPECT_THAT(result.out, HasSubstr("p95 (ms)"));
    auto metrics = core::BenchmarkMetrics::fromJson(
        nlohmann::ordered_json::parse(readFile(dir.file("out.json"))));
    EXPECT_EQ(metrics.queryCount, 2);
    EXPECT_DOUBLE_EQ(metrics.recallAt5, 0.5);
    EXPECT_EQ(metrics.perCategoryMetrics.size(), 2u);
    // The answer engine asks the same queries; both side by side.
    EXPECT_THAT(result.out, HasSubstr("Asking 2 questions of the answer engine"));
    EXPECT_THAT(result.out, HasSubstr("Full-text search against the answer engine"));
    auto answers = core::BenchmarkMetrics::fromJson(
        nlohmann::ordered_json::parse(readFile(dir.file("out.json")))["answer_engine"]);
    EXPECT_EQ(answers.queryCount, 2);
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("tmp")));

    Result quiet =
        runOrlune(dir, {"bench", dir.file("corpus.json")}, {{"TMPDIR", dir.file("tmp")}});
    EXPECT_THAT(quiet.out, Not(HasSubstr("q1:")));
}

TEST(BenchVerb, Failures) {
    TempDir dir;
    writeFile(dir.file("bad.json"),
              R"({"version": "t", "messages": [], "queries": [{"id": "q"}]})");
    writeFile(dir.file("corpus.json"), kSmallCorpus);
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string error;
    };
    const Case cases[] = {
        {{"bench", dir.file("missing.json")}, 1, "Cannot read benchmark corpus"},
        {{"bench", dir.file("bad.json")}, 1, "Invalid benchmark corpus"},
        {{"bench", "--json", dir.file("no/such/dir/out.json"), dir.file("corpus.json")},
         1,
         "Cannot write the metrics to"},
        {{"bench"}, 2, "a CORPUS.json file is needed"},
    };
    for (const auto& c : cases) {
        Result result = runOrlune(dir, c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.args.back();
        EXPECT_THAT(result.err, HasSubstr(c.error)) << c.args.back();
    }
}

} // namespace
} // namespace orlune::cli

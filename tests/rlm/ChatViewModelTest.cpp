#include "models/ChatViewModel.hpp"

#include "services/FileSessionStore.hpp"
#include "services/UnreadableSessionsError.hpp"
#include "shadow/ShadowDB.hpp"
#include "sql/SQLite.hpp"
#include "tests/rlm/ModelTestSupport.hpp"

#include <QSignalSpy>
#include <QThreadPool>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

namespace orlune::rlm {
namespace {

using nlohmann::json;
using testing::eventsNamed;
using testing::readFile;
using testing::RlmTestFolder;
using testing::SignalRecorder;
using testing::writeFile;

// Keeps sessions in memory and remembers every save.
class FakeSessionStore final : public SessionStore {
public:
    std::vector<ChatSession> load() const override {
        if (loadFailure) {
            throw std::runtime_error(*loadFailure);
        }
        return stored;
    }
    void save(const std::vector<ChatSession>& sessions) const override {
        if (saveFailure) {
            throw std::runtime_error(*saveFailure);
        }
        saves.push_back(sessions);
        stored = sessions;
    }

    mutable std::vector<ChatSession> stored;
    mutable std::vector<std::vector<ChatSession>> saves;
    std::optional<std::string> loadFailure;
    std::optional<std::string> saveFailure;
};

ChatMessage message(ChatRole role, std::string text, double time) {
    return ChatMessage{QUuid::createUuid(),   role,        std::move(text), ChatDate{time}, {},
                       AnswerSource::unknown, std::nullopt};
}

ChatSession session(std::string id, double lastMessageAt, std::vector<ChatMessage> messages,
                    std::optional<std::string> summary = std::nullopt) {
    ChatSession stored;
    stored.id = std::move(id);
    stored.createdAt = ChatDate{1.0};
    stored.lastMessageAt = ChatDate{lastMessageAt};
    stored.title = "title of " + stored.id;
    stored.messageCount = 7; // deliberately not the length of `messages`
    stored.messages = std::move(messages);
    stored.summary = std::move(summary);
    return stored;
}

class ChatViewModelTest : public ::testing::Test {
protected:
    ChatViewModelTest() {
        testing::coreApplication();
        writeFile(dbPath(), "");
        // Answers request N with response-N.json (or "answer N"), or fails
        // with stderr-N; keeps every request as request-N.json.
        RlmTestFolder::writeScript(helperPath(), "dir='" + folder.file("") + "'\n" + R"(
n=$(cat "$dir/count" 2>/dev/null || echo 0)
n=$((n + 1))
echo "$n" > "$dir/count"
cat > "$dir/request-$n.json"
if [ -f "$dir/stderr-$n" ]; then cat "$dir/stderr-$n" >&2; exit 3; fi
if [ -f "$dir/response-$n.json" ]; then cat "$dir/response-$n.json"; else printf '{"answer":"answer %s"}' "$n"; fi
)");
    }

    std::string dbPath() const { return folder.file("shadow.db"); }
    std::string helperPath() const { return folder.file("helper.sh"); }

    ChatViewModel::Seams seams(bool withHelperCommand = true) const {
        ChatViewModel::Seams seams;
        seams.loadConfiguration = [] { return AppConfig{"key"}; };
        seams.environment = [this, withHelperCommand] {
            RLMHelperRunner::EnvironmentMap env;
            if (withHelperCommand) {
                env["ORLUNE_RLM_HELPER_CMD"] = helperPath();
            }
            return env;
        };
        seams.runner.resourcesFolder = folder.file("no-resources");
        seams.runner.liveEnvironment = [this] {
            return RLMHelperRunner::EnvironmentMap{{"PATH", "/usr/bin:/bin"},
                                                   {"HOME", folder.file("")}};
        };
        seams.runner.logger = folder.logger("rlm-helper");
        seams.logger = folder.logger("chat");
        // The answer from the index beside a slow model has its own test.
        seams.firstAnswerDelay = std::nullopt;
        return seams;
    }
    std::unique_ptr<ChatViewModel> makeModel(std::shared_ptr<SessionStore> withStore = nullptr,
                                             bool withHelperCommand = true) {
        return std::make_unique<ChatViewModel>(QString::fromStdString(dbPath()),
                                               withStore ? withStore : store,
                                               seams(withHelperCommand));
    }

    void respond(int request, const std::string& response) {
        writeFile(folder.file("response-" + std::to_string(request) + ".json"), response);
    }
    void failWith(int request, const std::string& standardError) {
        writeFile(folder.file("stderr-" + std::to_string(request)), standardError);
    }
    json request(int n) const {
        return json::parse(readFile(folder.file("request-" + std::to_string(n) + ".json")));
    }
    int requestCount() const {
        return std::filesystem::exists(folder.file("count"))
                   ? std::stoi(readFile(folder.file("count")))
                   : 0;
    }

    static void waitUntilIdle(ChatViewModel& model) {
        if (!model.isSending()) {
            return;
        }
        QSignalSpy spy(&model, &ChatViewModel::isSendingChanged);
        ASSERT_TRUE(spy.wait(30000)) << "no answer";
        ASSERT_FALSE(model.isSending());
    }
    static void ask(ChatViewModel& model, const std::string& question) {
        model.setInputText(QString::fromStdString(question));
        model.send();
        ASSERT_TRUE(model.isSending());
        waitUntilIdle(model);
    }

    // The chat model's own events, by name, in order.
    std::vector<std::string> chatEvents() const {
        std::vector<std::string> names;
        for (const auto& entry : folder.loggedEntries()) {
            if (entry["category"] == "chat") {
                names.push_back(entry["message"]);
            }
        }
        return names;
    }

    RlmTestFolder folder;
    std::shared_ptr<FakeSessionStore> store = std::make_shared<FakeSessionStore>();
};

TEST_F(ChatViewModelTest, FirstStartWithNoSessionsFileStoresOneNewConversation) {
    const std::string sessionsPath = folder.dataFolder() + "/Orlune/sessions.json";
    auto model = makeModel(std::make_shared<FileSessionStore>(sessionsPath));

    EXPECT_TRUE(model->messages().empty());
    EXPECT_EQ(model->sessionTitle(), "New conversation");
    EXPECT_TRUE(model->lastError().isEmpty());
    const auto sessions = FileSessionStore::decode(readFile(sessionsPath));
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].id, model->currentSessionID());
    EXPECT_EQ(sessions[0].title, "New conversation");
    EXPECT_EQ(sessions[0].messageCount, 0);
    EXPECT_FALSE(sessions[0].summary);
    EXPECT_EQ(chatEvents(), (std::vector<std::string>{"session_saved", "session_new_started"}));
    EXPECT_EQ(eventsNamed(folder, "session_new_started")[0]["session_id"],
              model->currentSessionID());
    EXPECT_EQ(eventsNamed(folder, "session_saved")[0]["message_count"], "0");
}

TEST_F(ChatViewModelTest, ResumesTheLatestSessionWithoutSaving) {
    const auto older = session("A", 100, {message(ChatRole::user, "old", 90)});
    const auto latest = session(
        "B", 300, {message(ChatRole::user, "q", 250), message(ChatRole::assistant, "a", 300)},
        "what we said");
    const auto tied = session("C", 300, {message(ChatRole::user, "tied", 300)});
    store->stored = {older, latest, tied};

    auto model = makeModel();

    EXPECT_EQ(model->currentSessionID(), "B");
    EXPECT_EQ(model->messages(), latest.messages);
    EXPECT_EQ(model->sessionTitle(), "title of B");
    EXPECT_TRUE(store->saves.empty());
    EXPECT_EQ(chatEvents(), std::vector<std::string>{"session_loaded"});
    const auto loaded = eventsNamed(folder, "session_loaded")[0];
    EXPECT_EQ(loaded["session_id"], "B");
    EXPECT_EQ(loaded["message_count"], "7");

    // The resumed conversation and its summary go with the next question,
    // and the session moves to the front of the store.
    ask(*model, "next");
    EXPECT_EQ(request(1)["conversation_summary"], "what we said");
    EXPECT_EQ(request(1)["conversation_messages"],
              json::parse(R"([{"role":"user","text":"q"},{"role":"assistant","text":"a"}])"));
    ASSERT_EQ(store->stored.size(), 3u);
    EXPECT_EQ(store->stored[0].id, "B");
    EXPECT_EQ(store->stored[1].id, "A");
    EXPECT_EQ(store->stored[2].id, "C");
    EXPECT_EQ(store->stored[0].summary, "what we said");
}

TEST_F(ChatViewModelTest, AQuestionIsTrimmedStoredAndAnswered) {
    auto model = makeModel();
    const std::string sessionID = model->currentSessionID();
    store->saves.clear();
    respond(1, R"({"answer":"  On a Tuesday.\n"})");

    model->setInputText(" \n When did we meet?\t\n ");
    model->send();

    EXPECT_TRUE(model->isSending());
    EXPECT_TRUE(model->inputText().isEmpty());
    ASSERT_EQ(model->messages().size(), 1u);
    EXPECT_EQ(model->messages()[0].role, ChatRole::user);
    EXPECT_EQ(model->messages()[0].text, "When did we meet?");
    EXPECT_EQ(model->sessionTitle(), "When did we meet?");
    ASSERT_EQ(store->saves.size(), 1u);
    EXPECT_EQ(store->saves[0][0].messages, model->messages());
    const auto started = eventsNamed(folder, "chat_send_started");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0]["message_count"], "1");
    EXPECT_EQ(started[0]["session_id"], sessionID);

    waitUntilIdle(*model);

    const json sent = request(1);
    EXPECT_EQ(sent["question"], "When did we meet?");
    EXPECT_EQ(sent["db_path"], dbPath());
    EXPECT_FALSE(sent.contains("conversation_messages"));
    EXPECT_FALSE(sent.contains("conversation_summary"));
    ASSERT_EQ(model->messages().size(), 2u);
    EXPECT_EQ(model->messages()[1].role, ChatRole::assistant);
    EXPECT_EQ(model->messages()[1].text, "On a Tuesday.");
    EXPECT_TRUE(model->lastError().isEmpty());
    ASSERT_EQ(store->saves.size(), 2u);
    const ChatSession& saved = store->saves[1][0];
    EXPECT_EQ(saved.id, sessionID);
    EXPECT_EQ(saved.title, "When did we meet?");
    EXPECT_EQ(saved.messageCount, 2);
    EXPECT_EQ(saved.messages, model->messages());
    EXPECT_EQ(saved.lastMessageAt, model->messages()[1].timestamp);
}

TEST_F(ChatViewModelTest, TheSecondQuestionCarriesTheEarlierTurnsAndTheSummary) {
    auto model = makeModel();
    respond(1, R"({"answer":"First answer","conversationSummary":"  they met in May \n"})");
    ask(*model, "First?");
    ask(*model, "Second?");

    const json second = request(2);
    EXPECT_EQ(second["question"], "Second?");
    EXPECT_EQ(
        second["conversation_messages"],
        json::parse(
            R"([{"role":"user","text":"First?"},{"role":"assistant","text":"First answer"}])"));
    // The summary is kept exactly as the helper sent it.
    EXPECT_EQ(second["conversation_summary"], "  they met in May \n");
    EXPECT_EQ(model->messages().size(), 4u);
    EXPECT_EQ(model->sessionTitle(), "First?");
    EXPECT_EQ(store->stored[0].summary, "  they met in May \n");
}

// Each answer keeps who wrote it, as the helper said, and is stored with it.
TEST_F(ChatViewModelTest, AnAnswerKeepsWhoWroteIt) {
    auto model = makeModel();
    respond(1, R"({"answer":"At 8.","model":"m-1"})");
    respond(2,
            R"j({"answer":"Answer from your messages (no model used: x)\n\n1. y","model":null})j");
    respond(3, R"j({"answer":"Answer from your messages (no model used: x)"})j");
    ask(*model, "First?");
    ask(*model, "Second?");
    ask(*model, "Third?");
    const std::vector<ChatMessage>& messages = model->messages();
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages[1].source, AnswerSource::model);
    EXPECT_EQ(messages[1].model, "m-1");
    EXPECT_EQ(messages[3].source, AnswerSource::index);
    EXPECT_TRUE(messages[3].isIndexAnswer());
    EXPECT_EQ(messages[5].source, AnswerSource::unknown) << "the words decide nothing";
    EXPECT_FALSE(messages[0].isIndexAnswer());
    EXPECT_EQ(store->stored.at(0).messages, messages);
}

TEST_F(ChatViewModelTest, AFailedRunKeepsTheQuestionAndShowsTheError) {
    auto model = makeModel();
    failWith(1, "  boom \n");
    ask(*model, "Will it fail?");

    EXPECT_EQ(model->lastError(), "The answer could not be made: boom");
    EXPECT_FALSE(model->isSending());
    ASSERT_EQ(model->messages().size(), 1u);
    EXPECT_EQ(model->messages()[0].text, "Will it fail?");
    EXPECT_EQ(store->stored[0].messages, model->messages());
    EXPECT_EQ(store->saves.size(),
              2u); // the new session, then the question; nothing after the failure

    // The next question clears the error and carries the unanswered one.
    model->setInputText("Again?");
    model->send();
    EXPECT_TRUE(model->lastError().isEmpty());
    waitUntilIdle(*model);
    EXPECT_EQ(request(2)["conversation_messages"],
              json::parse(R"([{"role":"user","text":"Will it fail?"}])"));
    EXPECT_EQ(model->messages().size(), 3u);
}

TEST_F(ChatViewModelTest, AMissingShadowDatabaseIsReportedAndStartsNoHelper) {
    std::filesystem::remove(dbPath());
    auto model = makeModel();
    ask(*model, "Anything?");
    EXPECT_EQ(model->lastError(), "Nothing is indexed yet: wait for the first sync to finish.");
    EXPECT_EQ(requestCount(), 0);
}

TEST_F(ChatViewModelTest, ARepeatedSummaryIsLoggedOnceAndAMissingOneIsKept) {
    auto model = makeModel();
    const std::string summary =
        "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD ok"; // a thumbs-up with skin tone, then " ok"
    respond(1, json{{"answer", "1"}, {"conversationSummary", summary}}.dump());
    respond(2, json{{"answer", "2"}, {"conversationSummary", summary}}.dump());
    respond(3, R"({"answer":"3"})");
    respond(4, R"({"answer":"4","conversationSummary":" \n "})");
    for (const char* question : {"a", "b", "c", "d", "e"}) {
        ask(*model, question);
    }

    const auto updated = eventsNamed(folder, "session_summary_updated");
    ASSERT_EQ(updated.size(), 1u);
    EXPECT_EQ(updated[0]["chars"], "4");
    EXPECT_EQ(updated[0]["session_id"], model->currentSessionID());
    for (int n = 2; n <= 5; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(request(n)["conversation_summary"], summary);
    }
}

TEST_F(ChatViewModelTest, SendDoesNothingForBlankInputOrWhileAQuestionIsInFlight) {
    auto model = makeModel();
    const size_t savesAtStart = store->saves.size();
    SignalRecorder changes;
    changes.watch(model.get(), &ChatViewModel::messagesChanged, "messages");
    changes.watch(model.get(), &ChatViewModel::isSendingChanged, "isSending");

    model->setInputText(" \n\t ");
    model->send();
    EXPECT_EQ(model->inputText(), " \n\t ");
    EXPECT_TRUE(model->messages().empty());
    EXPECT_TRUE(changes.take().empty());
    EXPECT_EQ(store->saves.size(), savesAtStart);

    model->setInputText("first");
    model->send();
    changes.take();
    model->setInputText("second");
    model->send();
    EXPECT_EQ(model->inputText(), "second");
    EXPECT_EQ(model->messages().size(), 1u);
    EXPECT_TRUE(changes.take().empty());

    waitUntilIdle(*model);
    EXPECT_EQ(requestCount(), 1);
    EXPECT_EQ(eventsNamed(folder, "chat_send_started").size(), 1u);
    EXPECT_EQ(model->inputText(), "second");
}

TEST_F(ChatViewModelTest, AQuestionOverTheLengthCapIsRefusedAndKeptToBeShortened) {
    auto model = makeModel();
    const size_t savesAtStart = store->saves.size();
    const QString tooLong = QString(4000, QChar(0x00E9)) + QStringLiteral("?");
    model->setInputText(tooLong);
    model->send();
    EXPECT_EQ(model->lastError(),
              "This question is 4,001 characters long; ask it in at most 4,000 characters.");
    EXPECT_EQ(model->inputText(), tooLong);
    EXPECT_TRUE(model->messages().empty());
    EXPECT_FALSE(model->isSending());
    EXPECT_EQ(store->saves.size(), savesAtStart);

    model->setInputText(tooLong.left(4000));
    model->send();
    waitUntilIdle(*model);
    EXPECT_EQ(requestCount(), 1);
    EXPECT_EQ(model->lastError(), "");
}

// A message unsent or deleted in Messages leaves the shadow database at the
// next sync; its text, quoted under an earlier answer, leaves the sessions
// with it, from the conversation shown and from the others.
TEST_F(ChatViewModelTest, CitationsOfMessagesASyncRemovedAreDroppedFromEverySession) {
    std::filesystem::remove(dbPath());
    {
        core::ShadowDB db(dbPath());
        db.createSchemaIfNeeded();
        db.insertBatch(
            {core::ShadowMessage("g-kept", "c1", std::nullopt, "+15550100", "party on Saturday",
                                 700, false, false, false, {}, 1),
             core::ShadowMessage("g-gone", "c1", std::nullopt, "+15550100", "secret unsent text",
                                 800, false, false, false, {}, 2)});
    }
    ChatMessage answer = message(ChatRole::assistant, "Saturday.", 20.0);
    answer.citations = {{"g-kept", "Jess", "Jess", "Tue 9 Dec", "party on Saturday"},
                        {"g-gone", "Jess", "Jess", "Tue 9 Dec", "secret unsent text"}};
    store->stored = {session("current", 20.0, {message(ChatRole::user, "when?", 10.0), answer}),
                     session("older", 5.0, {answer})};
    auto model = makeModel();
    ASSERT_EQ(model->messages().back().citations.size(), 2u) << "nothing is gone yet";
    const size_t savesBefore = store->saves.size();

    {
        core::sqlite::Connection db;
        ASSERT_EQ(db.open(dbPath(), SQLITE_OPEN_READWRITE), SQLITE_OK);
        core::sqlite::exec(db.get(), "DELETE FROM messages WHERE guid = 'g-gone'");
    }
    model->forgetRemovedMessages();

    ASSERT_EQ(model->messages().back().citations.size(), 1u);
    EXPECT_EQ(model->messages().back().citations[0].guid, "g-kept");
    ASSERT_EQ(store->saves.size(), savesBefore + 1);
    ASSERT_EQ(store->stored.size(), 2u);
    for (const ChatSession& stored : store->stored) {
        for (const ChatMessage& kept : stored.messages) {
            for (const CitedMessage& cited : kept.citations) {
                EXPECT_NE(cited.text, "secret unsent text") << stored.id;
            }
        }
    }
    // A database that cannot be read drops nothing.
    std::filesystem::remove(dbPath());
    model->forgetRemovedMessages();
    EXPECT_EQ(model->messages().back().citations.size(), 1u);
    EXPECT_EQ(store->saves.size(), savesBefore + 1);
}

TEST_F(ChatViewModelTest, WithoutAHelperEverySendSaysTheCommandIsNotSet) {
    auto model = makeModel(nullptr, false);
    EXPECT_EQ(model->lastError(), "The answering program is missing from this installation.");

    model->setInputText("hello");
    model->send();
    EXPECT_EQ(model->lastError(), "The answering program is missing from this installation.");
    EXPECT_EQ(model->inputText(), "hello");
    EXPECT_TRUE(model->messages().empty());
    EXPECT_FALSE(model->isSending());
}

TEST_F(ChatViewModelTest, FieldsChangeInOrder) {
    auto model = makeModel();
    SignalRecorder changes;
    changes.watch(model.get(), &ChatViewModel::messagesChanged, "messages");
    changes.watch(model.get(), &ChatViewModel::inputTextChanged, "inputText");
    changes.watch(model.get(), &ChatViewModel::isSendingChanged, "isSending");
    changes.watch(model.get(), &ChatViewModel::lastErrorChanged, "lastError");
    changes.watch(model.get(), &ChatViewModel::sessionTitleChanged, "sessionTitle");

    failWith(1, "no");
    model->setInputText("q1");
    EXPECT_EQ(changes.take(), std::vector<std::string>{"inputText"});
    model->send();
    EXPECT_EQ(changes.take(),
              (std::vector<std::string>{"inputText", "messages", "sessionTitle", "isSending"}));
    waitUntilIdle(*model);
    EXPECT_EQ(changes.take(), (std::vector<std::string>{"lastError", "isSending"}));

    model->setInputText("q2");
    changes.take();
    model->send();
    EXPECT_EQ(changes.take(),
              (std::vector<std::string>{"lastError", "inputText", "messages", "isSending"}));
    waitUntilIdle(*model);
    EXPECT_EQ(changes.take(), (std::vector<std::string>{"messages", "isSending"}));

    model->startNewSession(true);
    EXPECT_EQ(changes.take(), (std::vector<std::string>{"messages", "sessionTitle"}));
}

TEST_F(ChatViewModelTest, TitlesAreCutAtEightyUserPerceivedCharacters) {
    const std::string accented = "e\xCC\x81"; // e + combining acute: one character
    const std::string family =
        "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"; // woman ZWJ girl: one character
    const struct {
        const char* name;
        std::string text;
        std::string title;
    } cases[] = {
        {"short", "Hello", "Hello"},
        {"exactly eighty", std::string(80, 'x'), std::string(80, 'x')},
        {"a hundred", std::string(100, 'y'), std::string(80, 'y')},
        {"combining mark at the cut", std::string(79, 'a') + accented + "bbb",
         std::string(79, 'a') + accented},
        {"emoji sequences",
         [&] {
             std::string text;
             for (int i = 0; i < 85; ++i)
                 text += family;
             return text;
         }(),
         [&] {
             std::string text;
             for (int i = 0; i < 80; ++i)
                 text += family;
             return text;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ChatViewModel::truncatedToGraphemes(c.text, 80), c.title);
    }
    EXPECT_EQ(ChatViewModel::graphemeCount(std::string(79, 'a') + accented + family), 81);

    auto model = makeModel();
    ask(*model, std::string(100, 'q'));
    EXPECT_EQ(model->sessionTitle().toStdString(), std::string(80, 'q'));
    EXPECT_EQ(store->stored[0].title, std::string(80, 'q'));
    EXPECT_EQ(model->messages()[0].text, std::string(100, 'q'));
}

TEST_F(ChatViewModelTest, NewConversationsAreStoredBesideTheEarlierOnesWhileTheyAreCurrent) {
    store->stored = {session("OLD", 50, {message(ChatRole::user, "old", 50)})};
    auto model = makeModel();
    ask(*model, "question"); // continues the resumed conversation
    const std::string first = model->currentSessionID();
    EXPECT_EQ(first, "OLD");

    model->startNewSession(true);
    const std::string second = model->currentSessionID();
    model->startNewSession(true);
    const std::string third = model->currentSessionID();

    EXPECT_TRUE(model->messages().empty());
    EXPECT_EQ(model->sessionTitle(), "New conversation");
    // The empty conversation left by the second "New" is not kept.
    ASSERT_EQ(store->stored.size(), 2u);
    EXPECT_EQ(store->stored[0].id, third);
    EXPECT_EQ(store->stored[1].id, first);
    EXPECT_EQ(store->stored[1].messages.size(), 3u);
    EXPECT_NE(second, third);
    EXPECT_EQ(store->stored[0].title, "New conversation");
    EXPECT_EQ(store->stored[0].messageCount, 0);
    EXPECT_EQ(eventsNamed(folder, "session_new_started").size(), 2u);
}

TEST_F(ChatViewModelTest, StoreFailuresAreLoggedAndTheConversationGoesOn) {
    store->loadFailure = "cannot read";
    store->saveFailure = "disk full";
    auto model = makeModel();
    EXPECT_EQ(eventsNamed(folder, "session_load_failed")[0]["error"], "cannot read");
    EXPECT_TRUE(model->lastError().isEmpty());

    ask(*model, "still there?");
    EXPECT_EQ(model->messages().size(), 2u);
    EXPECT_EQ(model->sessionTitle(), "still there?");
    const auto failed = eventsNamed(folder, "session_save_failed");
    ASSERT_EQ(failed.size(), 3u); // the new session, the question, the answer
    EXPECT_EQ(failed[2]["error"], "disk full");
    EXPECT_EQ(failed[2]["session_id"], model->currentSessionID());
    EXPECT_TRUE(eventsNamed(folder, "session_saved").empty());
}

TEST_F(ChatViewModelTest, AnUnreadableSessionsFileIsMovedAsideNotOverwritten) {
    const std::string folderPath = folder.dataFolder() + "/Orlune";
    const std::string sessionsPath = folderPath + "/sessions.json";
    std::filesystem::create_directories(folderPath);
    const std::string damaged = R"([{"id":"S","title":"half a conversation")";
    writeFile(sessionsPath, damaged);

    auto model = makeModel(std::make_shared<FileSessionStore>(sessionsPath));

    // The damaged file sits beside the new one under a name that says so.
    std::vector<std::string> besides;
    for (const auto& entry : std::filesystem::directory_iterator(folderPath)) {
        besides.push_back(entry.path().filename().string());
    }
    ASSERT_EQ(besides.size(), 2u);
    std::sort(besides.begin(), besides.end());
    EXPECT_EQ(besides[0], "sessions.json");
    const std::string movedName = besides[1];
    EXPECT_TRUE(movedName.starts_with("sessions.unreadable-")) << movedName;
    EXPECT_TRUE(movedName.ends_with("Z.json")) << movedName;
    EXPECT_EQ(movedName.size(), std::string("sessions.unreadable-20261210T013000Z.json").size())
        << movedName;
    EXPECT_EQ(readFile(folderPath + "/" + movedName), damaged);

    const auto sessions = FileSessionStore::decode(readFile(sessionsPath));
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].id, model->currentSessionID());

    const auto failed = eventsNamed(folder, "session_load_failed");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_NE(failed[0]["error"].get<std::string>().find(sessionsPath), std::string::npos);
    const auto moved = eventsNamed(folder, "session_file_moved_aside");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0]["level"], "warning");
    EXPECT_EQ(moved[0]["path"], sessionsPath);
    EXPECT_EQ(moved[0]["moved_to"], folderPath + "/" + movedName);
}

TEST_F(ChatViewModelTest, AModelDestroyedWithAQuestionInFlightDropsTheAnswer) {
    auto model = makeModel();
    model->setInputText("anyone there?");
    model->send();
    model.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(requestCount(), 1);
    ASSERT_FALSE(store->stored.empty());
    EXPECT_EQ(store->stored[0].messages.size(), 1u) << "nothing stored after the model is gone";
}

// A slow model: the index answers first, and what the model run ends with
// decides what stays beside it.
TEST_F(ChatViewModelTest, WhileAModelWorksTheIndexAnswersFirst) {
    // The index answers at once; the model run waits for "model-reply".
    RlmTestFolder::writeScript(helperPath(), "dir='" + folder.file("") + "'\n" + R"(
request=$(cat)
case "$request" in
*'"index_only":true'*)
    printf '%s' '{"answer":"Answer from your messages (no model used: first)\n\n1. y","model":null}'
    exit 0 ;;
esac
while [ ! -f "$dir/model-reply" ]; do sleep 0.05; done
cat "$dir/model-reply"
)");
    const std::string indexAnswer = "Answer from your messages (no model used: first)\n\n1. y";
    const struct {
        const char* name;
        bool withKey;
        // What the model run answers; none: the question is cancelled.
        std::optional<std::string> modelReply;
        std::vector<std::string> answers; // the conversation's answers in the end
        QString error;
    } cases[] = {
        {"the model answers after the index",
         true,
         R"({"answer":"At 8.","model":"m-1"})",
         {indexAnswer, "At 8."},
         ""},
        {"the model fails and the helper answers from the index again",
         true,
         R"j({"answer":"Answer from your messages (no model used: late)\n\n1. y","model":null})j",
         {"Answer from your messages (no model used: late)\n\n1. y"},
         ""},
        {"cancelled while the model works", true, std::nullopt, {indexAnswer}, "Cancelled."},
        {"no model is asked without a key", false, R"({"answer":"Only one."})", {"Only one."}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(folder.file("model-reply"));
        ChatViewModel::Seams withFirstAnswer = seams();
        withFirstAnswer.firstAnswerDelay = std::chrono::milliseconds(0);
        if (!c.withKey) {
            withFirstAnswer.loadConfiguration = [] { return AppConfig{}; };
            writeFile(folder.file("model-reply"), *c.modelReply);
        }
        auto model = std::make_unique<ChatViewModel>(QString::fromStdString(dbPath()),
                                                     std::make_shared<FakeSessionStore>(),
                                                     std::move(withFirstAnswer));
        model->setInputText("When is dinner?");
        model->send();
        if (c.withKey) {
            QSignalSpy changes(model.get(), &ChatViewModel::isSendingChanged);
            while (!model->isAwaitingModel() && changes.wait(30000)) {
            }
            ASSERT_TRUE(model->isAwaitingModel()) << "the index's answer came";
            ASSERT_TRUE(model->isSending()) << "the model still works";
            ASSERT_EQ(model->messages().size(), 2u);
            EXPECT_EQ(model->messages()[1].text, indexAnswer);
            EXPECT_TRUE(model->messages()[1].isIndexAnswer());
            if (c.modelReply) {
                writeFile(folder.file("model-reply"), *c.modelReply);
            } else {
                model->cancel();
            }
        }
        waitUntilIdle(*model);
        EXPECT_FALSE(model->isAwaitingModel());
        std::vector<std::string> answers;
        for (const ChatMessage& message : model->messages()) {
            if (message.role == ChatRole::assistant) {
                answers.push_back(message.text);
            }
        }
        EXPECT_EQ(answers, c.answers);
        EXPECT_EQ(model->lastError(), c.error);
    }
}

TEST(FileSessionStoreSetAsideTest, NamesSayUnreadableAndNeverCollide) {
    RlmTestFolder folder;
    const auto time = std::chrono::sys_days{std::chrono::year{2026} / 12 / 10} +
                      std::chrono::hours{1} + std::chrono::minutes{30};
    const std::string path = folder.file("sessions.json");
    EXPECT_EQ(FileSessionStore::setAsidePath(path, time),
              folder.file("sessions.unreadable-20261210T013000Z.json"));
    writeFile(folder.file("sessions.unreadable-20261210T013000Z.json"), "earlier");
    EXPECT_EQ(FileSessionStore::setAsidePath(path, time),
              folder.file("sessions.unreadable-20261210T013000Z-2.json"));
    EXPECT_EQ(FileSessionStore::setAsidePath(folder.file("dir.d/sessions"), time),
              folder.file("dir.d/sessions.unreadable-20261210T013000Z"));

    // A folder where the file should be is set aside too, contents and all.
    std::filesystem::create_directories(folder.file("store/sessions.json/inside"));
    FileSessionStore store(folder.file("store/sessions.json"));
    try {
        store.load();
        ADD_FAILURE() << "loaded";
    } catch (const UnreadableSessionsError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::read);
        ASSERT_FALSE(error.movedTo().empty());
        EXPECT_TRUE(std::filesystem::is_directory(error.movedTo() + "/inside"));
    }
    store.save({});
    EXPECT_EQ(readFile(folder.file("store/sessions.json")), "[]");
}

} // namespace
} // namespace orlune::rlm

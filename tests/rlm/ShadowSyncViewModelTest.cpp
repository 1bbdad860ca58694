#include "models/ShadowSyncViewModel.hpp"

#include "answer/CoverageText.hpp"
#include "services/FileError.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/rlm/ModelTestSupport.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "time/StoreTime.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>

namespace orlune::rlm {
namespace {

using testing::eventNames;
using testing::eventsNamed;
using testing::RlmTestFolder;
using testing::ScopedEnv;
using testing::SignalRecorder;
using testing::writeFile;

// What the engine reports (and the log keeps) when nothing is at the store's path.
constexpr const char* kStoreMissing =
    "iMessage database not found. Ensure Full Disk Access is granted.";

class ShadowSyncViewModelTest : public ::testing::Test {
protected:
    ShadowSyncViewModelTest() : chatDBPath_("CHAT_DB_PATH", chatDB()) {
        testing::coreApplication();
    }

    std::string chatDB() const { return folder.file("chat.db"); }
    std::string expectedShadowDB() const { return folder.dataFolder() + "/OrluneRLM/shadow.db"; }
    void makeStore(int64_t messages = 40) {
        samplestore::SampleStoreOptions options;
        options.messageCount = messages;
        samplestore::buildSampleStore(chatDB(), options);
    }
    // What the shadow database holds, counted apart from the model.
    int64_t shadowCount() const {
        return core::ShadowSync(chatDB(), expectedShadowDB()).messageCount();
    }

    ShadowSyncViewModel::Seams seams() const {
        ShadowSyncViewModel::Seams seams;
        seams.logger = folder.logger("shadow-sync");
        return seams;
    }
    // Runs the event loop until the sync in flight has been published.
    static void waitUntilIdle(ShadowSyncViewModel& model) {
        // A pass asked for during another starts as that one ends, without
        // the event loop running in between: idle means no pass is left.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model.isSyncing(); }, 60000))
            << "the sync did not end";
    }

    // Records each of `model`'s change signals under its property's name.
    static void watchAll(SignalRecorder& changes, ShadowSyncViewModel& model) {
        changes.watch(&model, &ShadowSyncViewModel::isSyncingChanged, "isSyncing");
        changes.watch(&model, &ShadowSyncViewModel::lastErrorChanged, "lastError");
        changes.watch(&model, &ShadowSyncViewModel::messageCountChanged, "messageCount");
        changes.watch(&model, &ShadowSyncViewModel::hasSyncedChanged, "hasSynced");
    }
    // Appends to `counts`, each time isSyncing drops, how many `event`
    // entries the log holds at that moment; `counts` is held by reference.
    void countEventsWhenIdle(ShadowSyncViewModel& model, const std::string& event,
                             std::vector<size_t>& counts) {
        QObject::connect(&model, &ShadowSyncViewModel::isSyncingChanged, &model,
                         [this, &model, event, &counts] {
                             if (!model.isSyncing()) {
                                 counts.push_back(eventsNamed(folder, event).size());
                             }
                         });
    }

    RlmTestFolder folder;
    ScopedEnv chatDBPath_;
};

TEST_F(ShadowSyncViewModelTest, ConstructionResolvesThePathAndReadsNothing) {
    makeStore();
    // A shadow database left by an earlier run is not counted before a sync.
    std::filesystem::create_directories(folder.dataFolder() + "/OrluneRLM");
    core::ShadowSync(chatDB(), expectedShadowDB()).performSync();
    ASSERT_GT(shadowCount(), 0);

    ShadowSyncViewModel model(seams());

    EXPECT_EQ(model.shadowDBPath().toStdString(), expectedShadowDB());
    EXPECT_FALSE(model.isSyncing());
    EXPECT_FALSE(model.hasSynced());
    EXPECT_EQ(model.messageCount(), 0);
    EXPECT_TRUE(model.coverageLine().isEmpty());
    EXPECT_TRUE(model.lastError().isEmpty());
    EXPECT_TRUE(folder.loggedEntries().empty());
}

TEST_F(ShadowSyncViewModelTest, ASuccessfulSyncPublishesInOrderAndASecondRequestIsIgnored) {
    makeStore();
    ShadowSyncViewModel model(seams());
    SignalRecorder changes;
    watchAll(changes, model);
    // The event comes after the fields: when isSyncing drops, it is not logged yet.
    std::vector<size_t> completeEventsWhenIdle;
    countEventsWhenIdle(model, "shadow_sync_complete", completeEventsWhenIdle);

    model.syncIfPossible();
    EXPECT_TRUE(model.isSyncing());
    EXPECT_EQ(changes.take(), std::vector<std::string>{"isSyncing"});
    const auto started = eventsNamed(folder, "shadow_sync_start");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0]["shadow_db_path"], expectedShadowDB());

    waitUntilIdle(model);

    EXPECT_EQ(changes.take(), (std::vector<std::string>{"messageCount", "hasSynced", "isSyncing"}));
    EXPECT_EQ(completeEventsWhenIdle, std::vector<size_t>{0});
    EXPECT_TRUE(model.hasSynced());
    EXPECT_EQ(model.messageCount(), shadowCount());
    EXPECT_GT(model.messageCount(), 0);
    EXPECT_TRUE(model.lastError().isEmpty());
    EXPECT_EQ(eventNames(folder),
              (std::vector<std::string>{"shadow_sync_start", "shadow_sync_complete"}));
    const auto complete = eventsNamed(folder, "shadow_sync_complete")[0];
    EXPECT_EQ(complete["level"], "info");
    EXPECT_EQ(complete["message_count"], std::to_string(model.messageCount()));
    EXPECT_NE(complete["inserted"], "0");
    // The coverage line spans the store's own first and last dates.
    {
        testing::DatabaseProbe store(chatDB());
        core::Coverage coverage;
        coverage.messages = model.messageCount();
        coverage.span = core::MessageTimeSpan{
            *core::instantFromStoreDate(std::stoll(store.value("SELECT MIN(date) FROM message"))),
            *core::instantFromStoreDate(std::stoll(store.value("SELECT MAX(date) FROM message")))};
        EXPECT_EQ(model.coverageLine().toStdString(),
                  core::coverageLine(coverage, core::LocalCalendar(core::TimeContext::system())));
        EXPECT_THAT(model.coverageLine().toStdString(), ::testing::HasSubstr(" messages · "));
    }

    // New messages in the store: the next pass copies them.
    samplestore::appendSampleMessages(chatDB(), 10, 7);
    const int64_t before = model.messageCount();
    model.syncIfPossible();
    waitUntilIdle(model);
    EXPECT_GT(model.messageCount(), before);
    EXPECT_EQ(model.messageCount(), shadowCount());

    // A pass with nothing new still succeeds; only isSyncing moves.
    changes.take();
    model.syncIfPossible();
    waitUntilIdle(model);
    EXPECT_EQ(changes.take(), (std::vector<std::string>{"isSyncing", "isSyncing"}));
    const auto last = eventsNamed(folder, "shadow_sync_complete").back();
    EXPECT_EQ(last["inserted"], "0");
    EXPECT_EQ(last["message_count"], std::to_string(model.messageCount()));
    EXPECT_TRUE(model.hasSynced());
}

TEST_F(ShadowSyncViewModelTest, ContactsThatCannotBeReadAreReportedUntilTheyCanBe) {
    makeStore();
    const std::string card = folder.file("work.vcf");
    std::vector<std::string> files = {card};
    int asked = 0;
    ShadowSyncViewModel::Seams withContacts = seams();
    withContacts.contactFiles = [&] {
        ++asked;
        return files;
    };
    ShadowSyncViewModel model(std::move(withContacts));
    SignalRecorder changes;
    watchAll(changes, model);
    changes.watch(&model, &ShadowSyncViewModel::contactWarningsChanged, "contactWarnings");

    model.syncIfPossible();
    waitUntilIdle(model);
    EXPECT_TRUE(model.hasSynced()) << "a missing file fails no sync";
    ASSERT_EQ(model.contactWarnings().size(), 1);
    EXPECT_TRUE(model.contactWarnings()[0].contains(QString::fromStdString(card)));
    EXPECT_EQ(changes.take(), (std::vector<std::string>{"isSyncing", "contactWarnings",
                                                        "messageCount", "hasSynced", "isSyncing"}));
    const auto skipped = eventsNamed(folder, "shadow_contacts_skipped");
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0]["level"], "warning");
    EXPECT_EQ(skipped[0]["warning"], model.contactWarnings()[0].toStdString());

    // Still missing: the same line, not logged again. A second file added
    // meanwhile is read from the next sync on.
    files.push_back(folder.file("family.vcf"));
    model.syncIfPossible();
    waitUntilIdle(model);
    EXPECT_EQ(model.contactWarnings().size(), 2);
    EXPECT_EQ(eventsNamed(folder, "shadow_contacts_skipped").size(), 2u);
    EXPECT_EQ(asked, 2) << "the files are asked for at every sync";

    // Both readable now: the warnings go.
    for (const std::string& path : files) {
        writeFile(path, "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Pat Doe\r\nTEL:(555) 010-0009\r\n"
                        "END:VCARD\r\n");
    }
    changes.take();
    model.syncIfPossible();
    waitUntilIdle(model);
    EXPECT_TRUE(model.contactWarnings().isEmpty());
    EXPECT_EQ(changes.take(),
              (std::vector<std::string>{"isSyncing", "contactWarnings", "isSyncing"}));
}

// What a pass has to tell about the index (here: another store stands at
// the path, so the copy was made again) is published and logged, and stays
// through later passes that say nothing.
TEST_F(ShadowSyncViewModelTest, ThePassNotesAreKeptForThePerson) {
    makeStore(40);
    ShadowSyncViewModel model(seams());
    SignalRecorder changes;
    changes.watch(&model, &ShadowSyncViewModel::syncNotesChanged, "syncNotes");
    model.syncIfPossible();
    waitUntilIdle(model);
    EXPECT_TRUE(model.syncNotes().isEmpty());

    std::filesystem::remove(chatDB());
    makeStore(10);
    model.syncIfPossible();
    waitUntilIdle(model);
    ASSERT_EQ(model.syncNotes().size(), 1);
    EXPECT_TRUE(model.syncNotes()[0].contains("is not the one last copied"));
    EXPECT_EQ(changes.take(), (std::vector<std::string>{"syncNotes"}));
    const auto logged = eventsNamed(folder, "shadow_sync_note");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0]["note"], model.syncNotes()[0].toStdString());

    model.syncIfPossible();
    waitUntilIdle(model);
    EXPECT_EQ(model.syncNotes().size(), 1);
    EXPECT_TRUE(changes.take().empty());
}

// The chats left out are asked for at every sync; when they cannot be told
// (absent), those the last sync left out stay out.
TEST_F(ShadowSyncViewModelTest, ChatsLeftOutAreAskedForAtEverySync) {
    makeStore(200);
    std::optional<std::set<std::string>> excluded = std::set<std::string>{};
    ShadowSyncViewModel::Seams leaving = seams();
    leaving.excludedChats = [&] { return excluded; };
    ShadowSyncViewModel model(std::move(leaving));
    model.syncIfPossible();
    waitUntilIdle(model);
    const int64_t all = model.messageCount();
    const std::string chat = testing::DatabaseProbe(expectedShadowDB())
                                 .value("SELECT chat_id FROM messages WHERE chat_id <> 'unknown' "
                                        "GROUP BY chat_id ORDER BY COUNT(*) DESC LIMIT 1");
    auto inChat = [&] {
        return testing::DatabaseProbe(expectedShadowDB())
            .value("SELECT COUNT(*) FROM messages WHERE chat_id = '" + chat + "'");
    };
    ASSERT_NE(inChat(), "0");

    const struct {
        const char* step;
        std::optional<std::set<std::string>> excluded;
        bool chatCopied;
    } steps[] = {
        {"left out", std::set<std::string>{chat}, false},
        {"cannot be told", std::nullopt, false},
        {"taken back in", std::set<std::string>{}, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        excluded = step.excluded;
        model.syncIfPossible();
        waitUntilIdle(model);
        EXPECT_TRUE(model.lastError().isEmpty()) << model.lastError().toStdString();
        EXPECT_EQ(inChat() != "0", step.chatCopied);
        EXPECT_EQ(model.messageCount() == all, step.chatCopied);
    }
}

TEST_F(ShadowSyncViewModelTest, AFailedSyncKeepsCountAndHasSyncedAndTheNextOneClearsTheError) {
    ShadowSyncViewModel model(seams());
    SignalRecorder changes;
    watchAll(changes, model);
    std::vector<size_t> failedEventsWhenIdle;
    countEventsWhenIdle(model, "shadow_sync_failed", failedEventsWhenIdle);

    // No store yet.
    model.syncIfPossible();
    waitUntilIdle(model);
    EXPECT_EQ(changes.take(), (std::vector<std::string>{"isSyncing", "lastError", "isSyncing"}));
    EXPECT_EQ(failedEventsWhenIdle, std::vector<size_t>{0});
    EXPECT_EQ(model.lastError(),
              ShadowSyncViewModel::missingStoreText(QString::fromStdString(chatDB())));
    EXPECT_TRUE(model.storeMissing());
    EXPECT_FALSE(model.hasSynced());
    EXPECT_EQ(model.messageCount(), 0);
    const auto failed = eventsNamed(folder, "shadow_sync_failed");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0]["level"], "warning");
    EXPECT_EQ(failed[0]["error"], kStoreMissing);

    // The retry clears the error as it starts, then succeeds.
    makeStore();
    model.syncIfPossible();
    EXPECT_EQ(changes.take(), (std::vector<std::string>{"isSyncing", "lastError"}));
    EXPECT_TRUE(model.lastError().isEmpty());
    waitUntilIdle(model);
    ASSERT_TRUE(model.hasSynced());
    EXPECT_FALSE(model.storeMissing());
    const int64_t count = model.messageCount();
    ASSERT_GT(count, 0);

    // A store that is no database: the failure keeps what the success published.
    std::filesystem::remove(chatDB());
    writeFile(chatDB(), std::string(4096, 'x'));
    changes.take();
    model.syncIfPossible();
    waitUntilIdle(model);
    EXPECT_EQ(changes.take(), (std::vector<std::string>{"isSyncing", "lastError", "isSyncing"}));
    EXPECT_TRUE(model.hasSynced());
    EXPECT_EQ(model.messageCount(), count);
    EXPECT_FALSE(model.lastError().isEmpty());
    EXPECT_EQ(eventsNamed(folder, "shadow_sync_failed").back()["error"],
              model.lastError().toStdString());
}

TEST_F(ShadowSyncViewModelTest, ARequestDuringASyncRunsOneMorePassAfterIt) {
    makeStore();
    ShadowSyncViewModel model(seams());
    model.syncIfPossible();
    // Changes noticed while a pass runs may lie behind what it reads.
    model.syncIfPossible();
    model.syncIfPossible();
    EXPECT_EQ(eventsNamed(folder, "shadow_sync_start").size(), 1u);
    waitUntilIdle(model);
    EXPECT_EQ(eventNames(folder),
              (std::vector<std::string>{"shadow_sync_start", "shadow_sync_complete",
                                        "shadow_sync_start", "shadow_sync_complete"}));
}

TEST_F(ShadowSyncViewModelTest, TheLiveIndexCopiesWhatTheStoreGainsWithoutBeingAsked) {
    makeStore();
    auto live = seams();
    live.debounce = std::chrono::milliseconds(100);
    ShadowSyncViewModel model(live);
    model.startLiveIndex();
    EXPECT_TRUE(model.isLive());
    EXPECT_TRUE(model.isSyncing()) << "a sync at start";
    waitUntilIdle(model);
    const int64_t first = model.messageCount();
    ASSERT_GT(first, 0);
    EXPECT_TRUE(model.lastSyncedAt().isValid());
    model.startLiveIndex(); // once only
    EXPECT_FALSE(model.isSyncing());

    // Another process writes the store: indexed within seconds, no call.
    samplestore::appendSampleMessages(chatDB(), 10, 7);
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.messageCount() > first; }, 10000));
    waitUntilIdle(model);
    EXPECT_EQ(model.messageCount(), shadowCount());

    // Nothing changes: no pass.
    const size_t passes = eventsNamed(folder, "shadow_sync_start").size();
    QTest::qWait(600);
    EXPECT_EQ(eventsNamed(folder, "shadow_sync_start").size(), passes);
}

TEST_F(ShadowSyncViewModelTest, PollingCatchesChangesTheWatchMisses) {
    // The store appears after the watch began, in a folder made later: only
    // the slow poll can see it.
    ScopedEnv elsewhere("CHAT_DB_PATH", folder.file("later/chat.db"));
    auto live = seams();
    live.debounce = std::chrono::milliseconds(50);
    live.pollInterval = std::chrono::milliseconds(300);
    ShadowSyncViewModel model(live);
    model.startLiveIndex();
    waitUntilIdle(model);
    EXPECT_TRUE(model.storeMissing());

    std::filesystem::create_directories(folder.file("later"));
    samplestore::SampleStoreOptions options;
    options.messageCount = 30;
    samplestore::buildSampleStore(folder.file("later/chat.db"), options);
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.hasSynced(); }, 10000));
    EXPECT_FALSE(model.storeMissing());
    EXPECT_GT(model.messageCount(), 0);
}

TEST_F(ShadowSyncViewModelTest, AModelDestroyedDuringASyncLetsTheSyncFinish) {
    makeStore();
    auto model = std::make_unique<ShadowSyncViewModel>(seams());
    model->syncIfPossible();
    model.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_GT(shadowCount(), 0);
    EXPECT_TRUE(eventsNamed(folder, "shadow_sync_complete").empty());
}

TEST_F(ShadowSyncViewModelTest, AnUnresolvablePathDisablesSyncing) {
    makeStore();
    // The data folder lies under a plain file, so its folders cannot be made.
    writeFile(folder.file("blocker"), "a file");
    ScopedEnv dataFolder("ORLUNE_DATA_DIR", folder.file("blocker/data"));

    ShadowSyncViewModel model(seams());

    EXPECT_TRUE(model.shadowDBPath().isEmpty());
    EXPECT_FALSE(model.lastError().isEmpty());
    const auto errors = eventsNamed(folder, "shadow_path_error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["level"], "error");
    EXPECT_EQ(errors[0]["error"], model.lastError().toStdString());

    SignalRecorder changes;
    changes.watch(&model, &ShadowSyncViewModel::isSyncingChanged, "isSyncing");
    changes.watch(&model, &ShadowSyncViewModel::lastErrorChanged, "lastError");
    const QString pathError = model.lastError();
    model.syncIfPossible();
    model.syncIfPossible();
    EXPECT_FALSE(model.isSyncing());
    EXPECT_EQ(model.lastError(), pathError);
    EXPECT_TRUE(changes.take().empty());
    EXPECT_EQ(folder.loggedEntries().size(), 1u);
}

TEST_F(ShadowSyncViewModelTest, ThePathResolverSeamReportsItsError) {
    auto withFailingResolver = seams();
    withFailingResolver.resolveShadowDBPath = []() -> std::string {
        throw FileError(FileError::Kind::noDataFolder, {}, {});
    };
    ShadowSyncViewModel model(withFailingResolver);
    EXPECT_EQ(model.lastError(), "No per-user data folder is known; set HOME or XDG_DATA_HOME.");
    EXPECT_TRUE(model.shadowDBPath().isEmpty());
}

} // namespace
} // namespace orlune::rlm

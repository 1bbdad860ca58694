#include "OrluneRLM/ShadowSyncViewModel.hpp"

#include "OrluneCore/ShadowSync.hpp"
#include "OrluneRLM/FileError.hpp"
#include "tests/rlm/ModelTestSupport.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <QSignalSpy>
#include <QThreadPool>
#include <filesystem>
#include <gtest/gtest.h>

namespace orlune::rlm {
namespace {

using testing::eventNames;
using testing::eventsNamed;
using testing::RlmTestFolder;
using testing::ScopedEnv;
using testing::SignalRecorder;
using testing::writeFile;

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
        if (!model.isSyncing()) {
            return;
        }
        QSignalSpy spy(&model, &ShadowSyncViewModel::isSyncingChanged);
        ASSERT_TRUE(spy.wait(60000)) << "the sync did not end";
        ASSERT_FALSE(model.isSyncing());
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
    model.syncIfPossible(); // while one runs: nothing at all
    EXPECT_TRUE(changes.take().empty());
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
    EXPECT_EQ(model.lastError(), kStoreMissing);
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

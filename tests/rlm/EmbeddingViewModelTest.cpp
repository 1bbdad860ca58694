// The app's search by meaning: after a sync, with a model server set, the
// messages are embedded in the background with progress; a failure is shown
// and the next run goes on; without a model server nothing is sent.

#include "models/EmbeddingViewModel.hpp"

#include "sync/ShadowSync.hpp"
#include "tests/rlm/ModelTestSupport.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/FakeEmbeddingServer.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::rlm {
namespace {

using testing::eventsNamed;
using testing::FakeEmbeddingServer;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::RlmTestFolder;
using ::testing::SizeIs;

class EmbeddingViewModelTest : public ::testing::Test {
protected:
    RlmTestFolder folder;
    FakeEmbeddingServer server{{{"dinner", 0}}, 4};
    QString shadowPath = QString::fromStdString(folder.file("shadow.db"));
    int64_t withText = 0;

    EmbeddingViewModelTest() {
        testing::coreApplication();
        samplestore::SampleStoreOptions options;
        options.messageCount = 40;
        samplestore::buildSampleStore(folder.file("chat.db"), options);
        core::ShadowSync(folder.file("chat.db"), shadowPath.toStdString()).performSync();
        withText = std::stoll(testing::DatabaseProbe(shadowPath.toStdString())
                                  .value("SELECT count(*) FROM messages WHERE trim(text) <> ''"));
    }

    EmbeddingViewModel::Seams seams(bool serverSet = true) {
        EmbeddingViewModel::Seams seams;
        seams.logger = folder.logger("shadow-sync");
        const std::string address = server.baseUrl();
        seams.source = [serverSet, address]() -> std::optional<ModelServer::EmbeddingSource> {
            if (!serverSet) {
                return std::nullopt;
            }
            return ModelServer::EmbeddingSource{address, "", "fake-embed"};
        };
        return seams;
    }

    static void runToTheEnd(EmbeddingViewModel& model, const QString& path) {
        model.embedIfPossible(path);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model.isEmbedding(); }, 60000));
    }
};

TEST_F(EmbeddingViewModelTest, EmbedsInTheBackgroundAndSaysSoWhileItWorks) {
    ASSERT_GT(withText, 0);
    EmbeddingViewModel model(seams());
    model.embedIfPossible(shadowPath);
    EXPECT_TRUE(model.isEmbedding()) << "returns at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.isEmbedding(); }, 60000));

    EXPECT_EQ(model.embedded(), withText);
    EXPECT_EQ(model.embeddable(), withText);
    EXPECT_EQ(model.lastError(), "");
    EXPECT_EQ(model.statusText(), "") << "nothing to say once done";
    EXPECT_THAT(eventsNamed(folder, "embedding_complete"), SizeIs(1));
    EXPECT_EQ(testing::DatabaseProbe(shadowPath.toStdString())
                  .value("SELECT count(*) FROM message_vectors"),
              std::to_string(withText));
}

TEST_F(EmbeddingViewModelTest, AFailureIsShownAndTheNextRunGoesOn) {
    EmbeddingViewModel model(seams());
    server.failNextRequest();
    runToTheEnd(model, shadowPath);
    EXPECT_THAT(model.lastError().toStdString(), HasSubstr("HTTP status 500"));
    EXPECT_THAT(model.statusText().toStdString(), HasSubstr("Search by meaning paused: "));
    EXPECT_THAT(eventsNamed(folder, "embedding_failed"), SizeIs(1));

    runToTheEnd(model, shadowPath);
    EXPECT_EQ(model.lastError(), "");
    EXPECT_EQ(model.embedded(), withText);
}

TEST_F(EmbeddingViewModelTest, WithoutAModelServerNothingIsSent) {
    EmbeddingViewModel model(seams(false));
    model.embedIfPossible(shadowPath);
    EXPECT_FALSE(model.isEmbedding());
    EXPECT_THAT(server.requests(), IsEmpty());
}

} // namespace
} // namespace orlune::rlm

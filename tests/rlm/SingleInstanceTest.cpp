// One running copy per data folder: the lock, the call that brings the
// running copy forward, and a lock left by a copy that is gone.

#include "services/SingleInstance.hpp"

#include "tests/rlm/ModelTestSupport.hpp"
#include "tests/rlm/RlmTestFolder.hpp"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace orlune::rlm {
namespace {

using testing::RlmTestFolder;

TEST(SingleInstanceTest, ASecondCopyBringsTheFirstForwardAndTheLockPassesOnWhenItEnds) {
    testing::coreApplication();
    RlmTestFolder folder;
    const QString lock = QString::fromStdString(folder.file("data/Orlune/OrluneRLM.lock"));

    auto first = std::make_unique<SingleInstance>(lock);
    ASSERT_TRUE(first->isPrimary());
    EXPECT_EQ(RlmTestFolder::mode(folder.file("data/Orlune")), 0700u);
    EXPECT_EQ(RlmTestFolder::mode(lock.toStdString()), 0600u);
    QSignalSpy activated(first.get(), &SingleInstance::activationRequested);

    SingleInstance second(lock);
    EXPECT_FALSE(second.isPrimary());
    EXPECT_TRUE(second.bringPrimaryForward());
    EXPECT_TRUE(QTest::qWaitFor([&] { return activated.count() == 1; }, 5000));
    EXPECT_FALSE(first->bringPrimaryForward()) << "the primary calls no one";

    // Another data folder is another application's world.
    SingleInstance elsewhere(QString::fromStdString(folder.file("other/OrluneRLM.lock")));
    EXPECT_TRUE(elsewhere.isPrimary());

    first.reset();
    SingleInstance third(lock);
    EXPECT_TRUE(third.isPrimary()) << "the lock is free once the first copy has gone";
}

TEST(SingleInstanceTest, ALockLeftByACopyThatDiedIsTakenOver) {
    testing::coreApplication();
    RlmTestFolder folder;
    const std::string lock = folder.file("OrluneRLM.lock");
    // A lock file naming a process that no longer runs.
    testing::writeFile(lock,
                       "999999\nOrluneRLM\n" + QSysInfo::machineHostName().toStdString() + "\n");
    SingleInstance copy(QString::fromStdString(lock));
    EXPECT_TRUE(copy.isPrimary());
}

} // namespace
} // namespace orlune::rlm

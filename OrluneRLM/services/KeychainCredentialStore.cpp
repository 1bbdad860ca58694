#include "services/KeychainCredentialStore.hpp"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace orlune::rlm {

namespace {

// Failures that mean "nothing is stored" rather than "the store cannot be
// used".
bool meansNothingStored(QKeychain::Error error) {
    return error == QKeychain::EntryNotFound;
}

} // namespace

std::chrono::milliseconds KeychainCredentialStore::defaultTimeout() {
#ifdef __APPLE__
    return std::chrono::minutes(2);
#else
    return std::chrono::seconds(5);
#endif
}

KeychainCredentialStore::KeychainCredentialStore(std::string service, std::string account,
                                                 std::chrono::milliseconds timeout)
    : service_(std::move(service)), account_(std::move(account)), timeout_(timeout),
      unreachable_(std::make_shared<std::atomic<bool>>(false)) {}

CredentialStore::Result KeychainCredentialStore::read() const {
    return run(Operation::read, {});
}

CredentialStore::Result KeychainCredentialStore::write(const std::string& secret) const {
    return run(Operation::write, secret);
}

CredentialStore::Result KeychainCredentialStore::remove() const {
    return run(Operation::remove, {});
}

CredentialStore::Result KeychainCredentialStore::run(Operation operation,
                                                     const std::string& secret) const {
    if (unreachable_->load()) {
        return Result::unavailable("the credential store could not be reached earlier");
    }
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() != application->thread()) {
        return Result::unavailable("the credential store is used only from the main thread");
    }
#ifndef __APPLE__
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        unreachable_->store(true);
        return Result::unavailable("no session bus, so no credential service");
    }
#endif

    const QString service = QString::fromStdString(service_);
    QKeychain::Job* job = nullptr;
    QKeychain::ReadPasswordJob* readJob = nullptr;
    switch (operation) {
    case Operation::read:
        job = readJob = new QKeychain::ReadPasswordJob(service);
        break;
    case Operation::write: {
        auto* writeJob = new QKeychain::WritePasswordJob(service);
        writeJob->setBinaryData(QByteArray::fromStdString(secret));
        job = writeJob;
        break;
    }
    case Operation::remove:
        job = new QKeychain::DeletePasswordJob(service);
        break;
    }
    job->setKey(QString::fromStdString(account_));
    // Never the plain-text QSettings file QtKeychain can fall back to: the
    // configuration file is this application's fallback.
    job->setInsecureFallback(false);
    // The job deletes itself once finished, also when this wait has given up
    // on it; the connection below ends with the loop.
    job->setAutoDelete(true);

    QEventLoop loop;
    bool finished = false;
    Result result;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* done) {
        finished = true;
        const QKeychain::Error error = done->error();
        if (error == QKeychain::NoError) {
            if (readJob != nullptr) {
                result.secret = readJob->binaryData().toStdString();
            }
        } else if (!meansNothingStored(error)) {
            result = Result::unavailable(done->errorString().toStdString());
        }
        loop.quit();
    });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeout_);
    job->start();
    if (!finished) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!finished) {
        unreachable_->store(true);
        return Result::unavailable("the credential store did not answer in time");
    }
    if (!result.available) {
        unreachable_->store(true);
    }
    return result;
}

} // namespace orlune::rlm

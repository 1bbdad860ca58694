#include "models/FullDiskAccessViewModel.hpp"

#include "models/PropertyChange.hpp"
#include "services/FullDiskAccessChecker.hpp"

namespace orlune::rlm {

namespace {

FullDiskAccessViewModel::UrlOpener& installedOpener() {
    static FullDiskAccessViewModel::UrlOpener opener;
    return opener;
}

} // namespace

FullDiskAccessViewModel::FullDiskAccessViewModel(QObject* parent)
    : FullDiskAccessViewModel(Seams{}, parent) {}

FullDiskAccessViewModel::FullDiskAccessViewModel(Seams seams, QObject* parent)
    : QObject(parent),
      urlOpener_(seams.urlOpener ? std::move(seams.urlOpener) : defaultUrlOpener()),
      environment_(seams.environment ? seams.environment : &core::Environment::process()),
      storeAccess_(std::move(seams.storeAccess)), logger_(std::move(seams.logger)) {}

void FullDiskAccessViewModel::setDefaultUrlOpener(UrlOpener opener) {
    installedOpener() = std::move(opener);
}

FullDiskAccessViewModel::UrlOpener FullDiskAccessViewModel::defaultUrlOpener() {
    if (installedOpener()) {
        return installedOpener();
    }
    return [](const QUrl&) { return false; };
}

void FullDiskAccessViewModel::refresh() {
    const FullDiskAccessResult result =
        FullDiskAccessChecker::checkChatDatabaseAccess(logger_, *environment_, storeAccess_);
    accessDenied_ = result.accessDenied;
    assignIfChanged(hasAccess_, result.hasAccess, [this] { emit hasAccessChanged(); });
    const QString error =
        result.errorMessage ? QString::fromStdString(*result.errorMessage) : QString();
    assignIfChanged(lastError_, error, [this] { emit lastErrorChanged(); });
}

void FullDiskAccessViewModel::openSettings() {
    openSettingsFrom(0);
}

void FullDiskAccessViewModel::openOtherSettingsAddress() {
    if (canOpenOtherSettingsAddress()) {
        openSettingsFrom(nextAddress_);
    }
}

void FullDiskAccessViewModel::openSettingsFrom(size_t first) {
    size_t next = kSettingsAddresses.size();
    bool opened = false;
    for (size_t i = first; i < kSettingsAddresses.size() && !opened; ++i) {
        const char* address = kSettingsAddresses[i];
        const QUrl url(QString::fromLatin1(address), QUrl::StrictMode);
        if (url.isValid() && urlOpener_ && urlOpener_(url)) {
            logger_.info("fda_open_settings", {{"url", address}});
            next = i + 1;
            opened = true;
        }
    }
    if (!opened) {
        logger_.warning("fda_open_settings_failed");
    }
    const bool couldOpenOther = canOpenOtherSettingsAddress();
    nextAddress_ = next;
    if (couldOpenOther != canOpenOtherSettingsAddress()) {
        emit canOpenOtherSettingsAddressChanged();
    }
}

} // namespace orlune::rlm

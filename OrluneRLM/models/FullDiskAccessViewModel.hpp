#pragma once
// The state behind the access request screen: whether the messaging store
// may be read, and the way to the system's privacy settings.

#include "base/Environment.hpp"
#include "services/FullDiskAccessChecker.hpp"
#include "services/FullDiskAccessResult.hpp"
#include "services/StructuredLogger.hpp"

#include <QObject>
#include <QString>
#include <QUrl>
#include <array>
#include <functional>

namespace orlune::rlm {

// Lives on the GUI thread and must be used only there. Each published field
// has a NOTIFY signal without arguments, emitted after the field has changed
// (only when its value really changed). Nothing here throws; events go to
// the log with category "full-disk-access".
//
// Access is tested only by refresh(): nothing re-tests it by itself, and
// nothing opens the privacy settings unless asked to (they would cover the
// instructions on the access screen).
class FullDiskAccessViewModel : public QObject {
    Q_OBJECT
    // Outcome of the last test; false until the first.
    Q_PROPERTY(bool hasAccess READ hasAccess NOTIFY hasAccessChanged)
    // Reason of the last failed test; empty when the last test succeeded or
    // none has run.
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    // Whether openOtherSettingsAddress() has an address left to try.
    Q_PROPERTY(bool canOpenOtherSettingsAddress READ canOpenOtherSettingsAddress NOTIFY
                   canOpenOtherSettingsAddressChanged)

public:
    // Asks the platform to open an address; returns whether it did. The
    // application installs one built on QDesktopServices::openUrl (this
    // library stays free of QtGui).
    using UrlOpener = std::function<bool(const QUrl& address)>;

    // The privacy settings' Full Disk Access list, in the order tried: the
    // System Settings address of macOS 13 and later, then the System
    // Preferences one of earlier versions (which later ones still accept).
    static constexpr std::array<const char*, 2> kSettingsAddresses = {
        "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_AllFiles",
        "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles",
    };

    // What tests replace. Every member has a default.
    struct Seams {
        // Opens the settings addresses; defaultUrlOpener() when empty.
        UrlOpener urlOpener;
        // Where the store's path comes from; the process environment when null.
        // Must outlive the model.
        const core::Environment* environment = nullptr;
        // How the access test reaches the store.
        FullDiskAccessChecker::StoreAccess storeAccess =
            FullDiskAccessChecker::StoreAccess::system();
        StructuredLogger logger{StructuredLogger::kBundleIdentifier,
                                StructuredLogger::kFullDiskAccessCategory};
    };

    // Sets the initial values only; runs no test.
    explicit FullDiskAccessViewModel(QObject* parent = nullptr);
    FullDiskAccessViewModel(Seams seams, QObject* parent = nullptr);

    // The opener used by models built without one: the one last installed
    // with setDefaultUrlOpener(), else one that opens nothing (so
    // openSettings() then logs "fda_open_settings_failed"). Set it on the GUI
    // thread before the first model is built.
    //
    // Only macOS handles these addresses. Elsewhere QDesktopServices::openUrl
    // hands them to xdg-open and reports success as soon as that starts, so
    // an application there should install no opener (or one that declines
    // the "x-apple.systempreferences" scheme) to get the failure event.
    static void setDefaultUrlOpener(UrlOpener opener);
    static UrlOpener defaultUrlOpener();

    bool hasAccess() const { return hasAccess_; }
    // The last test found the store but the system refused it (as opposed
    // to a missing or unreadable store); false until the first test. Read
    // on each hasAccessChanged or lastErrorChanged.
    bool accessDenied() const { return accessDenied_; }
    const QString& lastError() const { return lastError_; }
    bool canOpenOtherSettingsAddress() const { return nextAddress_ < kSettingsAddresses.size(); }

    // Runs the access test, then sets hasAccess and, after it, lastError
    // (so a successful test clears an earlier error).
    Q_INVOKABLE void refresh();

    // Opens the first settings address, logging "fda_open_settings" {"url"}.
    // An address the opener declines is skipped for the next at once; when
    // none is accepted, "fda_open_settings_failed" is logged. An accepted
    // address only means it was handed over (macOS reports success for any
    // settings address, even one that shows another pane), so the next one
    // is not tried by itself: canOpenOtherSettingsAddress offers it to the
    // person instead. Changes neither hasAccess nor lastError.
    Q_INVOKABLE void openSettings();

    // Opens the address after the one opened last, in the same way; does
    // nothing when canOpenOtherSettingsAddress is false.
    Q_INVOKABLE void openOtherSettingsAddress();

signals:
    void hasAccessChanged();
    void lastErrorChanged();
    void canOpenOtherSettingsAddressChanged();

private:
    void openSettingsFrom(size_t first);

    UrlOpener urlOpener_;
    const core::Environment* environment_;
    FullDiskAccessChecker::StoreAccess storeAccess_;
    StructuredLogger logger_;
    bool hasAccess_ = false;
    bool accessDenied_ = false;
    QString lastError_;
    // The address the next openOtherSettingsAddress() starts from; the
    // array's size when there is none left (or none has been opened).
    size_t nextAddress_ = kSettingsAddresses.size();
};

} // namespace orlune::rlm

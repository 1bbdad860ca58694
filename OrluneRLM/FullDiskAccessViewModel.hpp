#pragma once
// The state behind the access request screen: whether the messaging store
// may be read, and the way to the system's privacy settings.

#include "OrluneCore/Environment.hpp"
#include "OrluneRLM/FullDiskAccessResult.hpp"
#include "OrluneRLM/StructuredLogger.hpp"

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
// Access is tested only by refresh(): nothing re-tests it by itself.
class FullDiskAccessViewModel : public QObject {
    Q_OBJECT
    // Outcome of the last test; false until the first.
    Q_PROPERTY(bool hasAccess READ hasAccess NOTIFY hasAccessChanged)
    // Reason of the last failed test; empty when the last test succeeded or
    // none has run.
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)

public:
    // Asks the platform to open an address; returns whether it did. The
    // application installs one built on QDesktopServices::openUrl (this
    // library stays free of QtGui).
    using UrlOpener = std::function<bool(const QUrl& address)>;

    // The privacy settings' Full Disk Access list, in the order tried.
    static constexpr std::array<const char*, 4> kSettingsAddresses = {
        "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles",
        "x-apple.systempreferences:com.apple.preference.security?Privacy_FullDiskAccess",
        "x-apple.systempreferences:com.apple.settings.PrivacySecurity?Privacy_AllFiles",
        "x-apple.systempreferences:com.apple.settings.PrivacySecurity?Privacy_FullDiskAccess",
    };

    // What tests replace. Every member has a default.
    struct Seams {
        // Opens the settings addresses; defaultUrlOpener() when empty.
        UrlOpener urlOpener;
        // Where the store's path comes from; the process environment when null.
        // Must outlive the model.
        const core::Environment* environment = nullptr;
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
    const QString& lastError() const { return lastError_; }

    // Runs the access test, then sets hasAccess and, after it, lastError
    // (so a successful test clears an earlier error).
    Q_INVOKABLE void refresh();

    // Opens the settings the first time it is called in the model's life;
    // afterwards does nothing.
    Q_INVOKABLE void autoOpenSettingsIfNeeded();

    // Tries the four settings addresses in order until one opens, logging
    // "fda_open_settings" {"url"} for it, or "fda_open_settings_failed" when
    // none does. Changes no published field and shows nothing.
    Q_INVOKABLE void openSettings();

signals:
    void hasAccessChanged();
    void lastErrorChanged();

private:
    UrlOpener urlOpener_;
    const core::Environment* environment_;
    StructuredLogger logger_;
    bool hasAccess_ = false;
    QString lastError_;
    bool didAutoOpenSettings_ = false;
};

} // namespace orlune::rlm

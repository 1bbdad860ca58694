#pragma once
// The content of the menu-bar window: the title and one of three screens
// (API-key setup, access request, or the working screen with sync status,
// chat, "Settings" and "Quit"), and the settings sheet.

#include "models/FullDiskAccessViewModel.hpp"
#include "models/ShadowSyncViewModel.hpp"
#include "services/ConfigManager.hpp"
#include "views/ChatView.hpp"
#include "views/MenuScreen.hpp"
#include "views/SettingsView.hpp"
#include "views/SyncStatusView.hpp"

#include <QPointer>
#include <QWidget>

class QLabel;

namespace orlune::rlm {

class APIKeySetupView;

// GUI thread only. Owns the access and sync models for its whole life and
// builds each screen the first time it is needed (the chat view, and so the
// chat model, when the working screen is first shown), keeping it afterwards.
//
// Each time the widget is shown ("appears") access is tested and the live
// index is started (a sync now, then one whenever the store changes); while
// no sync has succeeded, each appearance tries again. Saving a key starts a
// sync at once. Only a store the system refuses (on the Mac: no Full Disk
// Access) leads to the access screen, which explains how to grant it; the
// privacy settings open only from its button (opened by themselves they
// would hide the popup and its instructions). A missing store is said on
// the working screen, where the index and past conversations stay usable.
// Without a key the working screen opens at once (answers then come from
// the index alone, or from a model server on this machine, which needs no
// key); only a model server elsewhere configured without a key opens on the
// setup screen (ModelServer::asksForKey), which offers to go on without one,
// a choice remembered for that server. The key can always be entered in
// Settings. A line under the sync status names what answers (the index, or
// the model and its server). "Settings" and "Quit" are under every screen.
// Contacts the sync could not read are said in a quiet line under the sync
// status; each sync reads the contact files of the configuration.
class OrluneRLMMenu : public QWidget {
    Q_OBJECT

public:
    // What tests replace. Every member has a default.
    struct Seams {
        // The configuration the key is read from and saved to;
        // ConfigManager::shared() when null. Must outlive the menu.
        ConfigManager* config = nullptr;
        // Passed to the access model; its urlOpener also opens the gateway link.
        FullDiskAccessViewModel::Seams access;
        ShadowSyncViewModel::Seams sync;
        // Makes the chat model; ChatView::defaultModel when empty.
        ChatView::ModelFactory makeChatModel;
        // Asks the person for a messaging store ("Choose…"); the path, or
        // empty when cancelled. The platform's file dialog when empty.
        std::function<QString(QWidget* parent)> chooseStore;
        // Whether a store the system refuses leads to the access screen's
        // instructions (true on the Mac, where a grant is what is missing);
        // elsewhere the refusal is a sync failure on the working screen.
#ifdef Q_OS_MACOS
        bool explainsAccessGrant = true;
#else
        bool explainsAccessGrant = false;
#endif
    };

    explicit OrluneRLMMenu(QWidget* parent = nullptr);
    explicit OrluneRLMMenu(Seams seams, QWidget* parent = nullptr);
    ~OrluneRLMMenu() override;

    ShadowSyncViewModel& syncModel() {
        return *syncModel_;
    }
    bool hasApiKey() const {
        return hasApiKey_;
    }
    // The open settings sheet, or null.
    SettingsView* settingsSheet() const {
        return settingsSheet_;
    }
    // The chat view, once the working screen has been shown.
    ChatView* chatView() const {
        return chatView_;
    }
    // Whether the popup stays open when the application loses the focus:
    // while the settings sheet is open (it may not be the active window yet
    // when the popup loses the focus), and on the access screen, whose steps
    // the person follows in System Settings, which takes the focus.
    bool staysOpenWhenInactive() const;

    // The widest a window fitted to its content grows, in points.
    static constexpr int kFittedMaximumWidth = 360;

    // How the menu sizes itself when it is a window of its own. Fitted (the
    // default, for the popup): its size follows its content, wrapped text
    // included, between its minimum width and kFittedMaximumWidth.
    // Otherwise (a normal window) the user sets the size and only the
    // height needed by the content at the current width is enforced.
    void setFittedToContent(bool fitted);
    // The tallest a window fitted to its content is made (the popup: the
    // room on its screen beside the tray item); what does not fit scrolls
    // inside. 0: no limit.
    void setHeightLimit(int limit);
    int heightLimit() const {
        return heightLimit_;
    }

    // Puts the keyboard focus where the person types next: the question
    // field on the working screen, the key field on the setup screen.
    void focusInput();

    // Starts the live index without waiting for the window to appear (the
    // application does so at start).
    void startLiveIndex();
    // Leaves the setup screen without a key (its "Continue without a key").
    void continueWithoutKey();
    // Opens the settings sheet ("Settings"); does nothing while it is open.
    void showSettings();

    // The quiet line under the sync status when contacts were skipped: what
    // it means for the person, then each source and why, one a line.
    static QString contactWarningsText(const QStringList& warnings);

signals:
    // "Quit" was pressed; the application ends.
    void quitRequested();
    // An answer was added to the conversation (ChatViewModel::answerAdded).
    void answerArrived();
    // "Quit & Reopen" was pressed on the access screen: the application ends
    // and starts again, which a new Full Disk Access grant needs.
    void relaunchRequested();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void appear();
    void fitWindowToContent();
    void setHasApiKey(bool value);
    // Reads the settings again: whether the key setup is asked for, and
    // what answers.
    void readSettings();
    MenuScreen currentScreen() const;
    // "Choose…": the store the person picks is remembered and synced.
    void chooseStore();
    void updateScreen();
    // Tab goes through the screens' controls top to bottom, then "Settings"
    // and "Quit" (which are made before any screen).
    void orderTabs();
    void updateAccessScreen();
    void updateWorkingScreen();
    QWidget* buildAccessScreen();
    QWidget* buildWorkingScreen();
    SyncStatusView::State syncState() const;
    bool storeRefusedBySystem() const;

    ConfigManager& config_;
    FullDiskAccessViewModel::UrlOpener openUrl_;
    ChatView::ModelFactory makeChatModel_;
    std::function<QString(QWidget*)> chooseStore_;

    // In the order they are made.
    FullDiskAccessViewModel* accessModel_ = nullptr;
    ShadowSyncViewModel* syncModel_ = nullptr;
    bool hasApiKey_ = false;
    bool continuedWithoutKey_ = false;
    // ModelServer::asksForKey() of the settings as last read.
    bool asksForKeyFirst_ = false;
    bool explainsAccessGrant_ = false;
    QPointer<SettingsView> settingsSheet_;

    bool fittedToContent_ = true;
    int heightLimit_ = 0;
    bool fitting_ = false;

    QWidget* screens_ = nullptr;
    QWidget* settingsButton_ = nullptr;
    QWidget* quitButton_ = nullptr;
    APIKeySetupView* setupScreen_ = nullptr;
    QWidget* accessScreen_ = nullptr;
    QLabel* accessErrorLabel_ = nullptr;
    QWidget* otherSettingsButton_ = nullptr;
    QWidget* workingScreen_ = nullptr;
    SyncStatusView* syncStatus_ = nullptr;
    QLabel* contactWarningsLabel_ = nullptr;
    // What the last sync that had notes said (ShadowSyncViewModel::syncNotes).
    QLabel* syncNotesLabel_ = nullptr;
    QLabel* answerSourceLabel_ = nullptr;
    ChatView* chatView_ = nullptr;
};

} // namespace orlune::rlm

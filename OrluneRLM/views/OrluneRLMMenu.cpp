#include "views/OrluneRLMMenu.hpp"

#include "base/Environment.hpp"
#include "services/AppRelauncher.hpp"
#include "services/ChatList.hpp"
#include "services/ModelServer.hpp"
#include "store/ChatDBReader.hpp"
#include "views/APIKeySetupView.hpp"
#include "views/MenuScreen.hpp"
#include "views/SettingsView.hpp"
#include "views/SyncStatusView.hpp"
#include "views/ViewStyle.hpp"

#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>

namespace orlune::rlm {

namespace {

constexpr int kInset = 12;
constexpr int kMinimumWidth = 300;

// Holds the screens. It asks for their full height, and when the popup's
// height limit leaves less room than the least they need (their wrapped
// text, the conversation's least height), it scrolls them rather than
// squeezing them over one another.
class ScreensArea : public QScrollArea {
public:
    explicit ScreensArea(QWidget* content, QWidget* parent) : QScrollArea(parent) {
        setObjectName(QStringLiteral("screensArea"));
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setWidgetResizable(false);
        // Tab goes through the screens' controls, never to the area itself.
        setFocusPolicy(Qt::NoFocus);
        setWidget(content);
        viewport()->setAutoFillBackground(false);
        content->setAutoFillBackground(false);
        content->installEventFilter(this);
        // What scrolls away is the top: the question field stays in view
        // until the person scrolls.
        connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
                [this] { followEnd_ = false; });
        connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int maximum) {
            if (followEnd_) {
                verticalScrollBar()->setValue(maximum);
            }
        });
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        QLayout* content = widget()->layout();
        return content->hasHeightForWidth() ? content->totalHeightForWidth(width)
                                            : content->totalSizeHint().height();
    }
    QSize sizeHint() const override {
        const int width = widget()->layout()->totalSizeHint().width();
        return {width, heightForWidth(width)};
    }
    QSize minimumSizeHint() const override {
        return {widget()->layout()->totalMinimumSize().width(), 0};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == widget() && event->type() == QEvent::LayoutRequest) {
            // The screens' content changed: the window refits, and so do they.
            updateGeometry();
            fitContent();
        }
        return QScrollArea::eventFilter(watched, event);
    }
    bool viewportEvent(QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            fitContent();
        }
        return QScrollArea::viewportEvent(event);
    }

private:
    // The screens fill the room there is, and are never made shorter than
    // they need: the rest scrolls.
    void fitContent() {
        QWidget* content = widget();
        const int width = viewport()->width();
        QLayout* layout = content->layout();
        const int least = layout->hasHeightForWidth() ? layout->totalMinimumHeightForWidth(width)
                                                      : layout->totalMinimumSize().height();
        content->resize(width, std::max(viewport()->height(), least));
        if (least <= viewport()->height()) {
            followEnd_ = true;
        }
    }

    bool followEnd_ = true;
};

} // namespace

OrluneRLMMenu::OrluneRLMMenu(QWidget* parent) : OrluneRLMMenu(Seams{}, parent) {}

OrluneRLMMenu::OrluneRLMMenu(Seams seams, QWidget* parent)
    : QWidget(parent), config_(seams.config ? *seams.config : ConfigManager::shared()),
      openUrl_(seams.access.urlOpener ? seams.access.urlOpener
                                      : FullDiskAccessViewModel::defaultUrlOpener()),
      makeChatModel_(std::move(seams.makeChatModel)), chooseStore_(std::move(seams.chooseStore)),
      explainsAccessGrant_(seams.explainsAccessGrant) {
    setObjectName(QStringLiteral("orluneMenu"));
    setMinimumWidth(kMinimumWidth);
    seams.access.urlOpener = openUrl_;
    if (!seams.sync.contactFiles) {
        // Read at each sync, so that files added in the settings count at once.
        ConfigManager* config = &config_;
        seams.sync.contactFiles = [config] {
            return config->loadWithoutCredentials().contactsFiles;
        };
    }
    if (!seams.sync.excludedChats) {
        // Read at each sync, so that a chat left out in the settings goes at
        // once. A configuration that cannot be read keeps those the last
        // sync left out, rather than copying them.
        ConfigManager* config = &config_;
        seams.sync.excludedChats = [config]() -> std::optional<std::set<std::string>> {
            try {
                return config->readSettings().excludedChatIds();
            } catch (const std::exception&) {
                return std::nullopt;
            }
        };
    }
    if (!seams.sync.resolveChatDBPath) {
        // The store the person chose wins over the one found by default.
        ConfigManager* config = &config_;
        seams.sync.resolveChatDBPath = [config] {
            const std::optional<std::string> chosen =
                config->loadWithoutCredentials().chatStorePath;
            return chosen ? *chosen : core::ChatDBReader::defaultChatDBPath();
        };
    }
    if (!chooseStore_) {
        chooseStore_ = [](QWidget* parent) {
            return QFileDialog::getOpenFileName(
                parent, QStringLiteral("Choose the Message Store"), QString(),
                QStringLiteral("Message stores (*.db);;All files (*)"));
        };
    }
    accessModel_ = new FullDiskAccessViewModel(std::move(seams.access), this);
    syncModel_ = new ShadowSyncViewModel(std::move(seams.sync), this);
    hasApiKey_ = config_.hasApiKey();
    asksForKeyFirst_ = ModelServer::asksForKey(config_.loadWithoutCredentials(), false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kInset, kInset, kInset, kInset);
    layout->setSpacing(12);
    layout->addWidget(ViewStyle::label(QStringLiteral("OrluneRLM"), ViewStyle::TextStyle::headline,
                                       ViewStyle::Tint::primary, QStringLiteral("menuTitle"),
                                       this));
    screens_ = new QWidget(this);
    auto* screensLayout = new QVBoxLayout(screens_);
    screensLayout->setContentsMargins(0, 0, 0, 0);
    screensLayout->setSpacing(0);
    layout->addWidget(new ScreensArea(screens_, this), 1);

    // Every screen can reach the settings and end the application.
    layout->addWidget(ViewStyle::divider(this));
    auto* buttons = new QHBoxLayout;
    auto* settingsButton = new QPushButton(QStringLiteral("Settings"), this);
    settingsButton->setObjectName(QStringLiteral("settingsButton"));
    auto* quitButton = new QPushButton(QStringLiteral("Quit"), this);
    quitButton->setObjectName(QStringLiteral("quitButton"));
    buttons->addWidget(settingsButton);
    buttons->addStretch(1);
    buttons->addWidget(quitButton);
    layout->addLayout(buttons);
    settingsButton_ = settingsButton;
    quitButton_ = quitButton;
    connect(settingsButton, &QPushButton::clicked, this, &OrluneRLMMenu::showSettings);
    connect(quitButton, &QPushButton::clicked, this, &OrluneRLMMenu::quitRequested);

    connect(accessModel_, &FullDiskAccessViewModel::hasAccessChanged, this,
            &OrluneRLMMenu::updateScreen);
    connect(accessModel_, &FullDiskAccessViewModel::lastErrorChanged, this,
            &OrluneRLMMenu::updateScreen);
    connect(accessModel_, &FullDiskAccessViewModel::canOpenOtherSettingsAddressChanged, this,
            &OrluneRLMMenu::updateAccessScreen);
    for (auto signal :
         {&ShadowSyncViewModel::isSyncingChanged, &ShadowSyncViewModel::lastErrorChanged,
          &ShadowSyncViewModel::messageCountChanged, &ShadowSyncViewModel::hasSyncedChanged,
          &ShadowSyncViewModel::progressChanged, &ShadowSyncViewModel::lastSyncedAtChanged,
          &ShadowSyncViewModel::contactWarningsChanged, &ShadowSyncViewModel::syncNotesChanged,
          &ShadowSyncViewModel::coverageChanged}) {
        connect(syncModel_, signal, this, &OrluneRLMMenu::updateWorkingScreen);
    }
    updateScreen();
}

OrluneRLMMenu::~OrluneRLMMenu() {
    // The views go before the models they read.
    delete screens_;
    screens_ = nullptr;
}

void OrluneRLMMenu::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    appear();
}

bool OrluneRLMMenu::event(QEvent* event) {
    // The layout has been activated by the time the widget sees the request.
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest) {
        fitWindowToContent();
    }
    return handled;
}

void OrluneRLMMenu::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Colours taken from the palette when the screens were built would stay
    // those of the old appearance (light or dark).
    if (ViewStyle::changesStyle(event)) {
        ViewStyle::restyle(this);
    }
}

void OrluneRLMMenu::focusInput() {
    const char* field = nullptr;
    if (workingScreen_ && workingScreen_->isVisibleTo(this)) {
        field = "questionField";
    } else if (setupScreen_ && setupScreen_->isVisibleTo(this)) {
        field = "apiKeyField";
    }
    if (field != nullptr) {
        if (auto* input = findChild<QWidget*>(QString::fromLatin1(field))) {
            input->setFocus(Qt::ActiveWindowFocusReason);
        }
    }
}

void OrluneRLMMenu::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!fittedToContent_ && event->size().width() != event->oldSize().width()) {
        fitWindowToContent();
    }
}

void OrluneRLMMenu::setFittedToContent(bool fitted) {
    fittedToContent_ = fitted;
    if (fitted) {
        setFixedWidth(
            std::clamp(layout()->totalSizeHint().width(), kMinimumWidth, kFittedMaximumWidth));
    } else {
        setMinimumSize(kMinimumWidth, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        // Starts as small as its content allows; the user may enlarge it.
        resize(std::clamp(layout()->totalSizeHint().width(), kMinimumWidth, kFittedMaximumWidth),
               1);
    }
    fitWindowToContent();
}

void OrluneRLMMenu::fitWindowToContent() {
    // Top-level layouts size windows by their items' size hints, which for
    // wrapped text are a guess; the height the text needs at the window's
    // width is asked for here instead.
    if (!isWindow() || fitting_) {
        return;
    }
    fitting_ = true;
    QLayout* content = layout();
    const int width = fittedToContent_ ? std::clamp(content->totalSizeHint().width(), kMinimumWidth,
                                                    kFittedMaximumWidth)
                                       : std::max(this->width(), kMinimumWidth);
    const int wanted = content->hasHeightForWidth() ? content->totalHeightForWidth(width)
                                                    : content->totalSizeHint().height();
    // The conversation and the list of conversations scroll: the window may
    // leave them less than they ask for.
    const bool chatShown = chatView_ && workingScreen_ && workingScreen_->isVisibleTo(this);
    const int least = std::max(1, wanted - (chatShown ? chatView_->shrinkableHeight() : 0));
    if (fittedToContent_) {
        setFixedSize(width, heightLimit_ > 0 ? std::min(wanted, heightLimit_) : wanted);
    } else {
        setMinimumHeight(least);
        if (this->height() < least) {
            resize(width, least);
        }
    }
    fitting_ = false;
}

void OrluneRLMMenu::setHeightLimit(int limit) {
    if (heightLimit_ != limit) {
        heightLimit_ = std::max(0, limit);
        fitWindowToContent();
    }
}

void OrluneRLMMenu::appear() {
    accessModel_->refresh();
    if (!syncModel_->isLive()) {
        syncModel_->startLiveIndex();
    } else if (!syncModel_->hasSynced() && !syncModel_->isSyncing()) {
        // The last attempt failed: each appearance tries again.
        syncModel_->syncIfPossible();
    }
}

void OrluneRLMMenu::startLiveIndex() {
    syncModel_->startLiveIndex();
}

void OrluneRLMMenu::setHasApiKey(bool value) {
    if (hasApiKey_ == value) {
        return;
    }
    hasApiKey_ = value;
    readSettings();
    updateScreen();
    if (hasApiKey_) {
        accessModel_->refresh();
        if (chatView_) {
            chatView_->model().reloadConfiguration();
        }
        // The person has just set up the application: index now rather than
        // waiting for the store to change.
        if (!syncModel_->isLive()) {
            syncModel_->startLiveIndex();
        } else {
            syncModel_->syncIfPossible();
        }
    }
    updateWorkingScreen();
}

bool OrluneRLMMenu::storeRefusedBySystem() const {
    return explainsAccessGrant_ && accessModel_->accessDenied();
}

MenuScreen OrluneRLMMenu::currentScreen() const {
    return menuScreenFor(
        {hasApiKey_, continuedWithoutKey_, asksForKeyFirst_, storeRefusedBySystem()});
}

void OrluneRLMMenu::continueWithoutKey() {
    if (hasApiKey_ || continuedWithoutKey_) {
        return;
    }
    continuedWithoutKey_ = true;
    updateScreen();
    if (!syncModel_->isLive()) {
        syncModel_->startLiveIndex();
    }
    focusInput();
}

void OrluneRLMMenu::showSettings() {
    if (settingsSheet_) {
        return;
    }
    settingsSheet_ = new SettingsView(config_, openUrl_, this);
    settingsSheet_->model().setChatSource(
        [path = syncModel_->shadowDBPath().toStdString()](const AppConfig& stored) {
            core::ShadowDBReader copy(path);
            return listChats(copy, stored);
        });
    connect(settingsSheet_, &QDialog::finished, settingsSheet_, &QObject::deleteLater);
    // A key saved (or removed) in the settings applies to the next question;
    // changed contact files are read, and chats left out or taken back in
    // are handled, by a sync now.
    connect(settingsSheet_, &QDialog::finished, this,
            [this, before = config_.loadWithoutCredentials()] {
                const AppConfig after = config_.loadWithoutCredentials();
                if (after.contactsFiles != before.contactsFiles ||
                    after.excludedChatIds() != before.excludedChatIds()) {
                    syncModel_->syncIfPossible();
                }
                const bool hasKey = config_.hasApiKey();
                if (hasKey != hasApiKey_) {
                    setHasApiKey(hasKey);
                } else if (chatView_) {
                    chatView_->model().reloadConfiguration();
                }
                readSettings();
            });
    settingsSheet_->open();
}

void OrluneRLMMenu::chooseStore() {
    const QString path = chooseStore_(this);
    if (path.isEmpty()) {
        return;
    }
    try {
        AppConfig settings = config_.load();
        settings.chatStorePath = path.toStdString();
        config_.save(settings);
    } catch (const std::exception&) {
        // Not remembered (the manager logged why): used for this run all the same.
    }
    syncModel_->setChatDBPath(path);
}

void OrluneRLMMenu::orderTabs() {
    // Each screen's controls are made top to bottom, so their order among
    // themselves is right; a screen made later must still come before the
    // buttons under all screens.
    QList<QWidget*> chain;
    for (QWidget* screen : {static_cast<QWidget*>(setupScreen_), accessScreen_, workingScreen_}) {
        if (!screen) {
            continue;
        }
        for (QWidget* widget : screen->findChildren<QWidget*>()) {
            if (widget->focusPolicy() & Qt::TabFocus) {
                chain.append(widget);
            }
        }
    }
    chain << settingsButton_ << quitButton_;
    for (qsizetype index = 0; index + 1 < chain.size(); ++index) {
        QWidget::setTabOrder(chain[index], chain[index + 1]);
    }
}

void OrluneRLMMenu::readSettings() {
    const AppConfig settings = config_.loadWithoutCredentials();
    const bool askedFirst = asksForKeyFirst_;
    asksForKeyFirst_ = ModelServer::asksForKey(settings, false);
    if (answerSourceLabel_) {
        const core::Environment& environment = core::Environment::process();
        answerSourceLabel_->setText(ViewStyle::wrappable(ModelServer::answerSourceText(
            settings, hasApiKey_, environment.variable("VEYRLINK_BASE_URL"),
            environment.variable("ORLUNE_RLM_MODEL"))));
    }
    if (askedFirst != asksForKeyFirst_) {
        updateScreen();
    }
}

void OrluneRLMMenu::updateScreen() {
    if (!screens_) {
        return;
    }
    QWidget* shown = nullptr;
    const MenuScreen screen = currentScreen();
    if (screen == MenuScreen::keySetup) {
        if (!setupScreen_) {
            setupScreen_ = new APIKeySetupView(config_, openUrl_, screens_);
            screens_->layout()->addWidget(setupScreen_);
            connect(setupScreen_, &APIKeySetupView::completed, this,
                    [this] { setHasApiKey(true); });
            connect(setupScreen_, &APIKeySetupView::continueWithoutKeyRequested, this,
                    &OrluneRLMMenu::continueWithoutKey);
        }
        shown = setupScreen_;
    } else if (screen == MenuScreen::working) {
        if (!workingScreen_) {
            workingScreen_ = buildWorkingScreen();
            screens_->layout()->addWidget(workingScreen_);
            readSettings();
        }
        shown = workingScreen_;
    } else {
        if (!accessScreen_) {
            accessScreen_ = buildAccessScreen();
            screens_->layout()->addWidget(accessScreen_);
        }
        shown = accessScreen_;
    }
    for (QWidget* screen : {static_cast<QWidget*>(setupScreen_), accessScreen_, workingScreen_}) {
        if (screen) {
            screen->setVisible(screen == shown);
        }
    }
    orderTabs();
    updateAccessScreen();
    updateWorkingScreen();
}

bool OrluneRLMMenu::staysOpenWhenInactive() const {
    return (settingsSheet_ && settingsSheet_->isVisible()) ||
           (accessScreen_ && !accessScreen_->isHidden());
}

QWidget* OrluneRLMMenu::buildAccessScreen() {
    auto* screen = new QWidget(screens_);
    screen->setObjectName(QStringLiteral("accessScreen"));
    auto* layout = new QVBoxLayout(screen);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(ViewStyle::label(QStringLiteral("Grant Full Disk Access"),
                                       ViewStyle::TextStyle::subheadline, ViewStyle::Tint::primary,
                                       QStringLiteral("accessHeading"), screen));
    layout->addWidget(ViewStyle::label(
        QStringLiteral("OrluneRLM needs Full Disk Access to read your Messages database."),
        ViewStyle::TextStyle::body, ViewStyle::Tint::secondary, QStringLiteral("accessExplanation"),
        screen));
    // The system adds nothing to the list by itself, and a grant reaches only
    // a copy of the app started after it.
    layout->addWidget(ViewStyle::label(
        QStringLiteral("1. Open System Settings, then Privacy & Security, then Full Disk Access.\n"
                       "2. Click +, choose OrluneRLM and turn it on.\n"
                       "3. Press Quit & Reopen: the access applies from the next start."),
        ViewStyle::TextStyle::body, ViewStyle::Tint::primary, QStringLiteral("accessSteps"),
        screen));
    // Which copy to choose after +: a grant to another copy does not count.
    layout->addWidget(ViewStyle::label(
        QStringLiteral("This copy of OrluneRLM: ") +
            AppRelauncher::applicationLocation(QCoreApplication::applicationFilePath()),
        ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
        QStringLiteral("accessAppLocation"), screen));
    accessErrorLabel_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
                         QStringLiteral("accessErrorLabel"), screen);
    layout->addWidget(accessErrorLabel_);

    auto* buttons = new QHBoxLayout;
    auto* openButton = new QPushButton(QStringLiteral("Open System Settings"), screen);
    openButton->setObjectName(QStringLiteral("openSettingsButton"));
    auto* checkButton = new QPushButton(QStringLiteral("Check Access"), screen);
    checkButton->setObjectName(QStringLiteral("checkAccessButton"));
    buttons->addWidget(openButton, 0, Qt::AlignVCenter);
    buttons->addWidget(checkButton, 0, Qt::AlignVCenter);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    // The settings may open on another pane: macOS reports success for any
    // settings address, so the other one is offered rather than tried.
    auto* otherButton =
        new QPushButton(QStringLiteral("Not the Full Disk Access list? Try Again"), screen);
    otherButton->setObjectName(QStringLiteral("otherSettingsButton"));
    otherButton->setFlat(true);
    otherSettingsButton_ = otherButton;
    layout->addWidget(otherButton, 0, Qt::AlignLeft);

    auto* reopenRow = new QHBoxLayout;
    auto* reopenButton = new QPushButton(QStringLiteral("Quit & Reopen"), screen);
    reopenButton->setObjectName(QStringLiteral("quitAndReopenButton"));
    ViewStyle::makeProminent(reopenButton);
    reopenRow->addStretch(1);
    reopenRow->addWidget(reopenButton);
    layout->addLayout(reopenRow);

    connect(openButton, &QPushButton::clicked, accessModel_,
            &FullDiskAccessViewModel::openSettings);
    connect(checkButton, &QPushButton::clicked, accessModel_, &FullDiskAccessViewModel::refresh);
    connect(otherButton, &QPushButton::clicked, accessModel_,
            &FullDiskAccessViewModel::openOtherSettingsAddress);
    connect(reopenButton, &QPushButton::clicked, this, &OrluneRLMMenu::relaunchRequested);
    return screen;
}

QWidget* OrluneRLMMenu::buildWorkingScreen() {
    auto* screen = new QWidget(screens_);
    screen->setObjectName(QStringLiteral("workingScreen"));
    auto* layout = new QVBoxLayout(screen);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    ShadowSyncViewModel* sync = syncModel_;
    syncStatus_ = new SyncStatusView(
        syncState(), [sync] { sync->syncIfPossible(); }, [this] { chooseStore(); }, screen);
    layout->addWidget(syncStatus_);
    contactWarningsLabel_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
                         QStringLiteral("contactWarningsLabel"), screen);
    layout->addWidget(contactWarningsLabel_);
    syncNotesLabel_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
                         QStringLiteral("syncNotesLabel"), screen);
    layout->addWidget(syncNotesLabel_);
    answerSourceLabel_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
                         QStringLiteral("answerSourceLabel"), screen);
    layout->addWidget(answerSourceLabel_);
    layout->addWidget(ViewStyle::divider(screen));
    chatView_ = new ChatView(sync->shadowDBPath(), sync->hasIndex(), makeChatModel_, screen);
    connect(&chatView_->model(), &ChatViewModel::answerAdded, this, &OrluneRLMMenu::answerArrived);
    layout->addWidget(chatView_, 1);
    return screen;
}

QString OrluneRLMMenu::contactWarningsText(const QStringList& warnings) {
    QString text = QStringLiteral("Some contacts could not be read, so some names may be missing "
                                  "(tried again at every sync):");
    for (const QString& warning : warnings) {
        text += QStringLiteral("\n• ") + warning;
    }
    return ViewStyle::wrappable(text);
}

SyncStatusView::State OrluneRLMMenu::syncState() const {
    SyncStatusView::State state;
    state.messageCount = syncModel_->messageCount();
    state.isSyncing = syncModel_->isSyncing();
    state.lastError = syncModel_->lastError();
    state.storeMissing = syncModel_->storeMissing();
    state.progressDone = syncModel_->progressDone();
    state.progressTotal = syncModel_->progressTotal();
    state.secondsLeft = syncModel_->secondsLeft();
    state.lastSyncedAt = syncModel_->lastSyncedAt();
    state.nextRetryAt = syncModel_->nextRetryAt();
    state.coverage = syncModel_->coverageLine();
    return state;
}

void OrluneRLMMenu::updateAccessScreen() {
    if (!accessErrorLabel_) {
        return;
    }
    const QString& error = accessModel_->lastError();
    accessErrorLabel_->setText(QStringLiteral("Last error: ") + error);
    accessErrorLabel_->setVisible(!error.isEmpty());
    otherSettingsButton_->setVisible(accessModel_->canOpenOtherSettingsAddress());
}

void OrluneRLMMenu::updateWorkingScreen() {
    // The chat view is made after the status block, and making it reads the
    // configuration, which may wait for the Keychain in a local event loop
    // where a sync result can arrive.
    if (!syncStatus_ || !chatView_) {
        return;
    }
    syncStatus_->setState(syncState());
    const QStringList& skipped = syncModel_->contactWarnings();
    contactWarningsLabel_->setText(skipped.isEmpty() ? QString() : contactWarningsText(skipped));
    contactWarningsLabel_->setVisible(!skipped.isEmpty());
    const QStringList& notes = syncModel_->syncNotes();
    syncNotesLabel_->setText(ViewStyle::wrappable(notes.join(QLatin1Char('\n'))));
    syncNotesLabel_->setVisible(!notes.isEmpty());
    // Questions are answered from the index, also while a sync adds to it.
    chatView_->setReady(syncModel_->hasIndex());
    chatView_->setIndexGrowing(syncModel_->isIndexGrowing());
}

} // namespace orlune::rlm

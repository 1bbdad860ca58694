#include "views/ChatView.hpp"

#include "services/FileError.hpp"
#include "services/FileSessionStore.hpp"
#include "services/TextTrimming.hpp"
#include "views/MessageRow.hpp"
#include "views/ViewStyle.hpp"

#include <QDateTime>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace orlune::rlm {

namespace {

// Lines of the question box.
constexpr int kQuestionLines = 3;

// Stands in for the sessions file when the platform reports no data folder:
// every load and save fails with that reason, which the chat model logs
// while the conversation goes on in memory.
class UnavailableSessionStore final : public SessionStore {
public:
    explicit UnavailableSessionStore(FileError error) : error_(std::move(error)) {}
    std::vector<ChatSession> load() const override { throw error_; }
    void save(const std::vector<ChatSession>&) const override { throw error_; }

private:
    FileError error_;
};

// A scroll area that reports its width changes, so that the owner can fit
// its height to the wrapped content, and asks for the content's height up
// to a preferred maximum (a window may give it more).
class ConversationArea : public QScrollArea {
public:
    std::function<void()> onResize;
    int preferredHeight = 0;

    QSize sizeHint() const override { return {QScrollArea::sizeHint().width(), preferredHeight}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QScrollArea::resizeEvent(event);
        if (onResize && event->size().width() != event->oldSize().width()) {
            onResize();
        }
    }
};

// How a stored conversation is listed: its title and local date.
QString sessionLabel(const ChatSession& session) {
    const auto unixMs = static_cast<qint64>(
        (session.lastMessageAt.secondsSinceReferenceDate + ChatDate::kReferenceUnixSeconds) *
        1000.0);
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(unixMs).toLocalTime();
    return QString::fromStdString(session.title) + QStringLiteral("  ·  ") +
           when.toString(QStringLiteral("ddd d MMM, HH:mm"));
}

} // namespace

ChatView::ChatView(const QString& shadowDBPath, bool isReady, QWidget* parent)
    : ChatView(shadowDBPath, isReady, ModelFactory{}, parent) {}

ChatView::ChatView(const QString& shadowDBPath, bool isReady, const ModelFactory& makeModel,
                   QWidget* parent)
    : QWidget(parent), isReady_(isReady) {
    setObjectName(QStringLiteral("chatView"));
    model_ = makeModel ? makeModel(shadowDBPath) : defaultModel(shadowDBPath);
    model_->setIndexReady(isReady);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(ViewStyle::label(QStringLiteral("Chat"), ViewStyle::TextStyle::subheadline,
                                       ViewStyle::Tint::primary, QStringLiteral("chatHeading"),
                                       this));
    sessionTitleLabel_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
                         QStringLiteral("sessionTitleLabel"), this);
    titles->addWidget(sessionTitleLabel_);
    header->addLayout(titles, 1);
    sessionsButton_ = new QPushButton(QStringLiteral("Conversations"), this);
    sessionsButton_->setObjectName(QStringLiteral("sessionsButton"));
    sessionsButton_->setCheckable(true);
    sessionsButton_->setAccessibleName(QStringLiteral("Earlier conversations"));
    header->addWidget(sessionsButton_, 0, Qt::AlignVCenter);
    newSessionButton_ = new QPushButton(QStringLiteral("New"), this);
    newSessionButton_->setObjectName(QStringLiteral("newSessionButton"));
    newSessionButton_->setToolTip(QStringLiteral("New conversation (Ctrl+N)"));
    newSessionButton_->setAccessibleName(QStringLiteral("New conversation"));
    header->addWidget(newSessionButton_, 0, Qt::AlignVCenter);
    layout->addLayout(header);

    sessionsPanel_ = new QWidget(this);
    sessionsPanel_->setObjectName(QStringLiteral("sessionsPanel"));
    auto* panelLayout = new QVBoxLayout(sessionsPanel_);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(4);
    sessionList_ = new QListWidget(sessionsPanel_);
    sessionList_->setObjectName(QStringLiteral("sessionList"));
    sessionList_->setAccessibleName(QStringLiteral("Conversations"));
    sessionList_->setMaximumHeight(160);
    panelLayout->addWidget(sessionList_);
    auto* panelButtons = new QHBoxLayout;
    // A deleted conversation can be brought back until the next question
    // or choice.
    undoLabel_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
                         QStringLiteral("deletedLabel"), sessionsPanel_);
    undoButton_ = new QPushButton(QStringLiteral("Undo"), sessionsPanel_);
    undoButton_->setObjectName(QStringLiteral("undoDeleteButton"));
    undoButton_->setAccessibleName(QStringLiteral("Undo the deletion"));
    panelButtons->addWidget(undoLabel_, 1);
    panelButtons->addWidget(undoButton_);
    deleteSessionButton_ = new QPushButton(QStringLiteral("Delete"), sessionsPanel_);
    deleteSessionButton_->setObjectName(QStringLiteral("deleteSessionButton"));
    deleteSessionButton_->setAccessibleName(QStringLiteral("Delete the chosen conversation"));
    panelButtons->addStretch(1);
    panelButtons->addWidget(deleteSessionButton_);
    panelLayout->addLayout(panelButtons);
    sessionsPanel_->hide();
    layout->addWidget(sessionsPanel_);

    auto* area = new ConversationArea;
    area->setParent(this);
    conversation_ = area;
    conversation_->setObjectName(QStringLiteral("conversationList"));
    conversation_->setAccessibleName(QStringLiteral("Conversation"));
    conversation_->setFrameShape(QFrame::NoFrame);
    conversation_->setWidgetResizable(true);
    conversation_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    conversation_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    conversation_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    conversationContent_ = new QWidget;
    conversationContent_->setObjectName(QStringLiteral("conversationContent"));
    conversationContent_->setAutoFillBackground(false);
    rowsLayout_ = new QVBoxLayout(conversationContent_);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(8);
    rowsLayout_->addStretch(1);
    conversation_->setWidget(conversationContent_);
    conversation_->viewport()->setAutoFillBackground(false);
    area->onResize = [this] { updateConversationHeight(); };
    // New content makes the range grow after the layout has run: keep the
    // newest exchange in view until the person scrolls.
    connect(conversation_->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
        if (followNewest_) {
            bringNewestIntoView();
        }
    });
    connect(conversation_->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this] { followNewest_ = false; });
    layout->addWidget(conversation_, 1);

    workingRow_ = new QWidget(this);
    workingRow_->setObjectName(QStringLiteral("workingRow"));
    auto* workingLayout = new QHBoxLayout(workingRow_);
    workingLayout->setContentsMargins(0, 0, 0, 0);
    workingLabel_ =
        ViewStyle::label(QString(), ViewStyle::TextStyle::body, ViewStyle::Tint::secondary,
                         QStringLiteral("workingLabel"), workingRow_);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), workingRow_);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    cancelButton_->setAccessibleName(QStringLiteral("Cancel the question"));
    workingLayout->addWidget(workingLabel_, 1);
    workingLayout->addWidget(cancelButton_);
    workingRow_->hide();
    layout->addWidget(workingRow_);
    workingTimer_.setInterval(1000);
    connect(&workingTimer_, &QTimer::timeout, this, &ChatView::updateWidgets);

    errorLabel_ = ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::red,
                                   QStringLiteral("chatErrorLabel"), this);
    errorLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(errorLabel_);

    indexGrowingNote_ = ViewStyle::label(
        QStringLiteral("Still indexing: answers come from the messages indexed so far."),
        ViewStyle::TextStyle::caption, ViewStyle::Tint::secondary,
        QStringLiteral("indexGrowingNote"), this);
    indexGrowingNote_->hide();
    layout->addWidget(indexGrowingNote_);

    auto* inputRow = new QHBoxLayout;
    inputRow->setSpacing(8);
    questionField_ = new QPlainTextEdit(this);
    questionField_->setObjectName(QStringLiteral("questionField"));
    questionField_->setAccessibleName(QStringLiteral("Question"));
    questionField_->setAccessibleDescription(
        QStringLiteral("Return sends the question, Shift+Return starts a new line"));
    questionField_->setPlaceholderText(
        QStringLiteral("Ask about your messages (Shift+Return for a new line)"));
    questionField_->setTabChangesFocus(true);
    {
        const QFontMetrics metrics(questionField_->font());
        const QMargins margins = questionField_->contentsMargins();
        questionField_->setFixedHeight(
            metrics.lineSpacing() * kQuestionLines +
            static_cast<int>(questionField_->document()->documentMargin()) * 2 + margins.top() +
            margins.bottom() + 4);
    }
    questionField_->installEventFilter(this);
    sendButton_ = new QPushButton(QStringLiteral("Send"), this);
    sendButton_->setObjectName(QStringLiteral("sendButton"));
    sendButton_->setAccessibleName(QStringLiteral("Send the question"));
    inputRow->addWidget(questionField_, 1);
    inputRow->addWidget(sendButton_, 0, Qt::AlignBottom);
    layout->addLayout(inputRow);

    ChatViewModel* model = model_.get();
    connect(questionField_, &QPlainTextEdit::textChanged, this,
            [this] { model_->setInputText(questionField_->toPlainText()); });
    connect(sendButton_, &QPushButton::clicked, this, &ChatView::trySend);
    connect(cancelButton_, &QPushButton::clicked, model, &ChatViewModel::cancel);
    connect(newSessionButton_, &QPushButton::clicked, this, &ChatView::newConversation);
    connect(sessionsButton_, &QPushButton::toggled, sessionsPanel_, &QWidget::setVisible);
    connect(sessionList_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        model_->openSession(item->data(Qt::UserRole).toString().toStdString());
    });
    connect(sessionList_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        model_->openSession(item->data(Qt::UserRole).toString().toStdString());
    });
    connect(undoButton_, &QPushButton::clicked, model, &ChatViewModel::undoDelete);
    connect(deleteSessionButton_, &QPushButton::clicked, this, [this] {
        if (QListWidgetItem* item = sessionList_->currentItem()) {
            model_->deleteSession(item->data(Qt::UserRole).toString().toStdString());
        }
    });

    connect(model, &ChatViewModel::messagesChanged, this, &ChatView::syncMessages);
    connect(model, &ChatViewModel::inputTextChanged, this, &ChatView::syncInput);
    connect(model, &ChatViewModel::isSendingChanged, this, &ChatView::updateWidgets);
    connect(model, &ChatViewModel::lastErrorChanged, this, &ChatView::updateWidgets);
    connect(model, &ChatViewModel::sessionTitleChanged, this, &ChatView::updateWidgets);
    connect(model, &ChatViewModel::sessionsChanged, this, &ChatView::syncSessions);

    syncMessages();
    syncInput();
    syncSessions();
}

ChatView::~ChatView() {
    // The model goes first, so that none of its signals reaches a half-torn view.
    if (model_) {
        model_->disconnect(this);
    }
}

std::unique_ptr<ChatViewModel> ChatView::defaultModel(const QString& shadowDBPath) {
    std::shared_ptr<SessionStore> store;
    try {
        store = std::make_shared<FileSessionStore>(FileSessionStore::defaultSessionsURL());
    } catch (const FileError& error) {
        store = std::make_shared<UnavailableSessionStore>(error);
    }
    return std::make_unique<ChatViewModel>(shadowDBPath, std::move(store));
}

void ChatView::setReady(bool ready) {
    if (isReady_ != ready) {
        isReady_ = ready;
        model_->setIndexReady(ready);
        updateWidgets();
    }
}

void ChatView::setIndexGrowing(bool growing) {
    indexGrowingNote_->setVisible(growing);
}

bool ChatView::canSend() const {
    const bool hasQuestion = !trimmedText(model_->inputText().toStdString()).empty();
    return hasQuestion && !model_->isSending();
}

void ChatView::trySend() {
    if (canSend()) {
        model_->send();
    }
}

void ChatView::newConversation() {
    if (!model_->isSending()) {
        model_->startNewSession(true);
    }
}

bool ChatView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == questionField_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            !(key->modifiers() & Qt::ShiftModifier)) {
            trySend();
            return true; // Return never adds a line; Shift+Return does
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ChatView::syncMessages() {
    const std::vector<ChatMessage>& messages = model_->messages();
    // Rows already shown for the leading messages are kept (the usual case:
    // one message appended); otherwise the list is rebuilt.
    size_t kept = 0;
    while (kept < rows_.size() && kept < messages.size() &&
           rows_[kept]->message() == messages[kept]) {
        ++kept;
    }
    for (size_t index = kept; index < rows_.size(); ++index) {
        rows_[index]->deleteLater();
        rowsLayout_->removeWidget(rows_[index]);
    }
    const bool rowsChanged = kept != rows_.size() || kept != messages.size();
    rows_.resize(kept);
    // The notice of an answer made without a model is shown once per
    // conversation: on the first such answer only.
    bool noticeShown = false;
    for (size_t index = 0; index < kept; ++index) {
        noticeShown = noticeShown || messages[index].isIndexAnswer();
    }
    for (size_t index = kept; index < messages.size(); ++index) {
        const bool hasNotice = messages[index].isIndexAnswer();
        auto* row = new MessageRow(messages[index], hasNotice && noticeShown, conversationContent_);
        noticeShown = noticeShown || hasNotice;
        rowsLayout_->insertWidget(rowsLayout_->count() - 1, row);
        // Shown now rather than when the event loop next runs, so that the
        // height below counts it.
        row->show();
        rows_.push_back(row);
    }
    updateConversationHeight();
    if (rowsChanged) {
        followNewest_ = true;
        bringNewestIntoView();
        // The layout settles when the event loop next runs.
        QTimer::singleShot(0, this, [this] {
            if (followNewest_) {
                bringNewestIntoView();
            }
        });
    }
    updateWidgets();
}

int ChatView::newestExchangeTop() const {
    if (rows_.empty()) {
        return 0;
    }
    const MessageRow* newest = rows_.back();
    if (rows_.size() < 2 || newest->message().role != ChatRole::assistant) {
        return newest->y();
    }
    const MessageRow* question = rows_[rows_.size() - 2];
    const bool bothFit =
        question->message().role == ChatRole::user &&
        newest->geometry().bottom() - question->y() <= conversation_->viewport()->height();
    return bothFit ? question->y() : newest->y();
}

void ChatView::bringNewestIntoView() {
    // The list's end when the newest rows are short; otherwise the top of the
    // newest exchange, so that a long answer is read from its beginning.
    QScrollBar* bar = conversation_->verticalScrollBar();
    bar->setValue(std::min(bar->maximum(), newestExchangeTop()));
}

void ChatView::syncInput() {
    if (questionField_->toPlainText() != model_->inputText()) {
        questionField_->setPlainText(model_->inputText());
    }
    updateWidgets();
}

void ChatView::syncSessions() {
    updateWidgets();
    const QSignalBlocker blocker(sessionList_);
    sessionList_->clear();
    std::vector<ChatSession> sessions = model_->sessions();
    std::stable_sort(sessions.begin(), sessions.end(), [](const auto& a, const auto& b) {
        return a.lastMessageAt > b.lastMessageAt;
    });
    for (const ChatSession& session : sessions) {
        if (session.messages.empty() && session.id != model_->currentSessionID()) {
            continue;
        }
        auto* item = new QListWidgetItem(sessionLabel(session), sessionList_);
        item->setData(Qt::UserRole, QString::fromStdString(session.id));
        if (session.id == model_->currentSessionID()) {
            QFont font = item->font();
            font.setBold(true);
            item->setFont(font);
            sessionList_->setCurrentItem(item);
        }
    }
}

void ChatView::updateWidgets() {
    const QString deleted = model_->deletedTitle();
    undoLabel_->setText(deleted.isEmpty()
                            ? QString()
                            : ViewStyle::wrappable(QStringLiteral("Deleted “%1”.").arg(deleted)));
    undoLabel_->setVisible(!deleted.isEmpty());
    undoButton_->setVisible(!deleted.isEmpty());
    sessionTitleLabel_->setText(ViewStyle::wrappable(model_->sessionTitle()));
    errorLabel_->setText(model_->lastError());
    errorLabel_->setVisible(!model_->lastError().isEmpty());
    sendButton_->setEnabled(canSend());
    newSessionButton_->setEnabled(!model_->isSending());
    sessionList_->setEnabled(!model_->isSending());
    deleteSessionButton_->setEnabled(!model_->isSending());

    const bool working = model_->isSending();
    if (working && !workingTimer_.isActive()) {
        workingClock_.start();
        workingTimer_.start();
    } else if (!working) {
        workingTimer_.stop();
    }
    if (working) {
        const qint64 seconds = workingClock_.elapsed() / 1000;
        if (model_->isWaitingForIndex()) {
            workingLabel_->setText(QStringLiteral("Waiting for the first messages to be indexed: "
                                                  "your question is sent then."));
        } else {
            workingLabel_->setText(
                model_->isCancelling() ? QStringLiteral("Cancelling...")
                : model_->isAwaitingModel()
                    ? QStringLiteral("Above: the answer from your messages. The model is still "
                                     "working... %1 s")
                          .arg(seconds)
                    : QStringLiteral("Working on your answer... %1 s").arg(seconds));
        }
        cancelButton_->setEnabled(!model_->isCancelling());
    }
    workingRow_->setVisible(working);
}

int ChatView::shrinkableHeight() const {
    int slack = 0;
    if (conversation_->isVisibleTo(this)) {
        slack += std::max(0, conversation_->sizeHint().height() - conversation_->minimumHeight());
    }
    if (sessionsPanel_->isVisibleTo(this)) {
        const int asked =
            std::min(sessionList_->sizeHint().height(), sessionList_->maximumHeight());
        slack += std::max(0, asked - sessionList_->minimumSizeHint().height());
    }
    return slack;
}

void ChatView::updateConversationHeight() {
    auto* area = static_cast<ConversationArea*>(conversation_);
    // An empty conversation takes no room at all, so the input row follows
    // the header directly.
    conversation_->setVisible(!rows_.empty());
    if (rows_.empty()) {
        return;
    }
    const int width = std::max(1, conversation_->viewport()->width());
    QLayout* rows = conversationContent_->layout();
    const int content = rows->hasHeightForWidth() ? rows->totalHeightForWidth(width)
                                                  : conversationContent_->sizeHint().height();
    area->preferredHeight = std::min(content, kConversationPreferredHeight);
    conversation_->setMinimumHeight(std::min(content, kConversationMinimumHeight));
    conversation_->updateGeometry();
}

} // namespace orlune::rlm

#include "OrluneRLM/views/ChatView.hpp"

#include "OrluneRLM/FileError.hpp"
#include "OrluneRLM/FileSessionStore.hpp"
#include "OrluneRLM/TextTrimming.hpp"
#include "OrluneRLM/views/MessageRow.hpp"
#include "OrluneRLM/views/ViewStyle.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

namespace orlune::rlm {

namespace {

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
// its height to the wrapped content.
class ConversationArea : public QScrollArea {
public:
    std::function<void()> onResize;

protected:
    void resizeEvent(QResizeEvent* event) override {
        QScrollArea::resizeEvent(event);
        if (onResize && event->size().width() != event->oldSize().width()) {
            onResize();
        }
    }
};

} // namespace

ChatView::ChatView(const QString& shadowDBPath, bool isReady, QWidget* parent)
    : ChatView(shadowDBPath, isReady, ModelFactory{}, parent) {}

ChatView::ChatView(const QString& shadowDBPath, bool isReady, const ModelFactory& makeModel,
                   QWidget* parent)
    : QWidget(parent), isReady_(isReady) {
    setObjectName(QStringLiteral("chatView"));
    model_ = makeModel ? makeModel(shadowDBPath) : defaultModel(shadowDBPath);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

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
    newSessionButton_ = new QPushButton(QStringLiteral("New Session"), this);
    newSessionButton_->setObjectName(QStringLiteral("newSessionButton"));
    header->addWidget(newSessionButton_, 0, Qt::AlignVCenter);
    layout->addLayout(header);

    auto* area = new ConversationArea;
    area->setParent(this);
    conversation_ = area;
    conversation_->setObjectName(QStringLiteral("conversationList"));
    conversation_->setFrameShape(QFrame::NoFrame);
    conversation_->setWidgetResizable(true);
    conversation_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    conversation_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    conversation_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
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
    layout->addWidget(conversation_);

    errorLabel_ = ViewStyle::label(QString(), ViewStyle::TextStyle::caption, ViewStyle::Tint::red,
                                   QStringLiteral("chatErrorLabel"), this);
    errorLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(errorLabel_);

    auto* inputRow = new QHBoxLayout;
    inputRow->setSpacing(8);
    questionField_ = new QLineEdit(this);
    questionField_->setObjectName(QStringLiteral("questionField"));
    questionField_->setPlaceholderText(QStringLiteral("Ask anything..."));
    sendButton_ = new QPushButton(QStringLiteral("Send"), this);
    sendButton_->setObjectName(QStringLiteral("sendButton"));
    inputRow->addWidget(questionField_, 1);
    inputRow->addWidget(sendButton_);
    layout->addLayout(inputRow);

    ChatViewModel* model = model_.get();
    connect(questionField_, &QLineEdit::textChanged, model, &ChatViewModel::setInputText);
    connect(questionField_, &QLineEdit::returnPressed, model, &ChatViewModel::send);
    connect(sendButton_, &QPushButton::clicked, model, &ChatViewModel::send);
    connect(newSessionButton_, &QPushButton::clicked, model,
            [model] { model->startNewSession(true); });

    connect(model, &ChatViewModel::messagesChanged, this, &ChatView::syncMessages);
    connect(model, &ChatViewModel::inputTextChanged, this, &ChatView::syncInput);
    connect(model, &ChatViewModel::isSendingChanged, this, &ChatView::updateWidgets);
    connect(model, &ChatViewModel::lastErrorChanged, this, &ChatView::updateWidgets);
    connect(model, &ChatViewModel::sessionTitleChanged, this, &ChatView::updateWidgets);

    syncMessages();
    syncInput();
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
        updateWidgets();
    }
}

void ChatView::syncMessages() {
    const std::vector<ChatMessage>& messages = model_->messages();
    // Rows already shown for the leading messages are kept (the usual case:
    // one message appended); otherwise the list is rebuilt. The scroll
    // position is kept either way.
    size_t kept = 0;
    while (kept < rows_.size() && kept < messages.size() &&
           rows_[kept]->message() == messages[kept]) {
        ++kept;
    }
    const int scrollValue = conversation_->verticalScrollBar()->value();
    for (size_t index = kept; index < rows_.size(); ++index) {
        rows_[index]->deleteLater();
        rowsLayout_->removeWidget(rows_[index]);
    }
    rows_.resize(kept);
    for (size_t index = kept; index < messages.size(); ++index) {
        auto* row = new MessageRow(messages[index], conversationContent_);
        rowsLayout_->insertWidget(rowsLayout_->count() - 1, row);
        // Shown now rather than when the event loop next runs, so that the
        // height below counts it.
        row->show();
        rows_.push_back(row);
    }
    updateConversationHeight();
    conversation_->verticalScrollBar()->setValue(scrollValue);
    updateWidgets();
}

void ChatView::syncInput() {
    if (questionField_->text() != model_->inputText()) {
        questionField_->setText(model_->inputText());
    }
    updateWidgets();
}

void ChatView::updateWidgets() {
    sessionTitleLabel_->setText(model_->sessionTitle());
    errorLabel_->setText(model_->lastError());
    errorLabel_->setVisible(!model_->lastError().isEmpty());
    const bool hasQuestion = !trimmedText(model_->inputText().toStdString()).empty();
    sendButton_->setEnabled(isReady_ && hasQuestion && !model_->isSending());
    newSessionButton_->setEnabled(!model_->isSending());
}

void ChatView::updateConversationHeight() {
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
    conversation_->setFixedHeight(std::min(content, kConversationMaxHeight));
}

} // namespace orlune::rlm

#pragma once
// The chat panel: the conversation's title, the list of earlier
// conversations, "New", the conversation, the working state with "Cancel",
// the last error, and the question box with "Send".

#include "models/ChatViewModel.hpp"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace orlune::rlm {

class MessageRow;

// GUI thread only. Owns its ChatViewModel, made once when the view is built
// and destroyed with it; the view shows the model's state and forwards the
// user's actions, nothing more.
//
// The question box takes several lines: Return sends, Shift+Return starts a
// new line. Return and "Send" follow one rule (canSend()): the trimmed input
// is not empty and no question is in flight. A question asked before the
// view is ready (before the first sync has indexed any message) is held by
// the model and sent once it is, which the working line says. While a
// question is in flight, a working line counts the seconds and "Cancel"
// ends the helper at once. While the first index is still growing a note
// says that answers come from the messages indexed so far. The conversation takes the room the
// window gives it and scrolls to the newest message whenever one is added. "Conversations" shows
// the stored conversations (newest first): choosing one opens it, "Delete" removes the chosen one,
// and "Undo" beside the note that it was deleted brings it back.
class ChatView : public QWidget {
    Q_OBJECT

public:
    // Makes the chat model for a shadow database path.
    using ModelFactory = std::function<std::unique_ptr<ChatViewModel>(const QString& shadowDBPath)>;

    // The height the conversation asks for at most (a popup sized to its
    // content); a window may give it more.
    static constexpr int kConversationPreferredHeight = 420;
    // The least height it keeps when it has messages.
    static constexpr int kConversationMinimumHeight = 140;

    // Builds the model with defaultModel().
    ChatView(const QString& shadowDBPath, bool isReady, QWidget* parent = nullptr);
    // Builds the model with `makeModel` (defaultModel() when empty).
    ChatView(const QString& shadowDBPath, bool isReady, const ModelFactory& makeModel,
             QWidget* parent = nullptr);
    ~ChatView() override;

    // The application's model: a FileSessionStore on the default sessions
    // file (a store that cannot be read or written when there is no data
    // folder) and the process's configuration and environment.
    static std::unique_ptr<ChatViewModel> defaultModel(const QString& shadowDBPath);

    bool isReady() const { return isReady_; }
    void setReady(bool ready);
    // Whether the first index is still being written (answers then come
    // from part of the messages).
    void setIndexGrowing(bool growing);
    bool canSend() const;

    ChatViewModel& model() { return *model_; }
    // The rows currently shown, in the model's order.
    const std::vector<MessageRow*>& rows() const { return rows_; }

    // How much less height than it asks for the view can do with: what the
    // conversation and the open list of conversations would scroll.
    int shrinkableHeight() const;

    // Starts a new conversation (the view's "New"; Ctrl+N).
    void newConversation();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void trySend();
    void syncMessages();
    void syncInput();
    void syncSessions();
    void updateWidgets();
    void updateConversationHeight();
    // Where the newest exchange starts in the list: the question when it and
    // its answer fit in the view together, else the newest row.
    int newestExchangeTop() const;
    // Scrolls to the newest exchange (see newestExchangeTop), or to the end.
    void bringNewestIntoView();

    std::unique_ptr<ChatViewModel> model_;
    bool isReady_ = false;
    std::vector<MessageRow*> rows_;
    // Whether layout changes keep the newest exchange in view; ends when the
    // person scrolls, starts again with the next new message.
    bool followNewest_ = true;

    QLabel* sessionTitleLabel_ = nullptr;
    QPushButton* sessionsButton_ = nullptr;
    QPushButton* newSessionButton_ = nullptr;
    QWidget* sessionsPanel_ = nullptr;
    QListWidget* sessionList_ = nullptr;
    QPushButton* deleteSessionButton_ = nullptr;
    QLabel* undoLabel_ = nullptr;
    QPushButton* undoButton_ = nullptr;
    QScrollArea* conversation_ = nullptr;
    QWidget* conversationContent_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    QWidget* workingRow_ = nullptr;
    QLabel* workingLabel_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QLabel* indexGrowingNote_ = nullptr;
    QPlainTextEdit* questionField_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QTimer workingTimer_;
    QElapsedTimer workingClock_;
};

} // namespace orlune::rlm

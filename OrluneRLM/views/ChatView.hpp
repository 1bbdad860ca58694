#pragma once
// The chat panel: session title, "New Session", the conversation, the last
// error, and the question field with "Send".

#include "OrluneRLM/ChatViewModel.hpp"

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace orlune::rlm {

class MessageRow;

// GUI thread only. Owns its ChatViewModel, made once when the view is built
// and destroyed with it; the view shows the model's state and forwards the
// user's actions, nothing more.
//
// Return in the question field always calls send(); "Send" is enabled only
// when the view is ready (a sync has succeeded and none is running), the
// trimmed input is not empty and no question is in flight. "New Session" is
// disabled while a question is in flight. The conversation grows with its
// content up to 220 points and then scrolls; it never scrolls by itself.
class ChatView : public QWidget {
    Q_OBJECT

public:
    // Makes the chat model for a shadow database path.
    using ModelFactory = std::function<std::unique_ptr<ChatViewModel>(const QString& shadowDBPath)>;

    // The tallest the conversation list grows before it scrolls, in points.
    static constexpr int kConversationMaxHeight = 220;

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

    ChatViewModel& model() { return *model_; }
    // The rows currently shown, in the model's order.
    const std::vector<MessageRow*>& rows() const { return rows_; }

private:
    void syncMessages();
    void syncInput();
    void updateWidgets();
    void updateConversationHeight();

    std::unique_ptr<ChatViewModel> model_;
    bool isReady_ = false;
    std::vector<MessageRow*> rows_;

    QLabel* sessionTitleLabel_ = nullptr;
    QPushButton* newSessionButton_ = nullptr;
    QScrollArea* conversation_ = nullptr;
    QWidget* conversationContent_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QLineEdit* questionField_ = nullptr;
    QPushButton* sendButton_ = nullptr;
};

} // namespace orlune::rlm

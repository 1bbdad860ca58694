#pragma once
// The state behind the chat view: the current conversation, the question
// being typed, the helper run in flight and the stored sessions.

#include "services/AppConfig.hpp"
#include "services/RLMHelperRunner.hpp"
#include "services/StoreWatcher.hpp"
#include "services/StructuredLogger.hpp"
#include "sessions/ChatMessage.hpp"
#include "sessions/ChatSession.hpp"
#include "sessions/SessionStore.hpp"

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orlune::rlm {

// Lives on the GUI thread and must be used only there: the constructor,
// send(), startNewSession(), every setter and every signal. The only work
// done elsewhere is the helper run itself (one per accepted question, on the
// global thread pool); its outcome comes back to this thread through the
// event loop, so answers arrive only while the event loop runs.
//
// Every published field has a NOTIFY signal without arguments, emitted after
// the field has changed (and only when its value really changed); read the
// new value through the getter. Where several fields change in one step the
// signals come in the order the fields are set (for an accepted question:
// lastError, inputText, messages, sessionTitle, isSending).
//
// Nothing here throws. Failures end up in lastError (what the user should
// see) and in the log (category "chat").
//
// If the model is destroyed while a question is in flight, the helper
// process still runs to its end on the pool but its outcome is dropped.
class ChatViewModel : public QObject {
    Q_OBJECT
    // The current conversation, oldest first.
    Q_PROPERTY(std::vector<orlune::rlm::ChatMessage> messages READ messages NOTIFY messagesChanged)
    // The text being typed; written by the view.
    Q_PROPERTY(QString inputText READ inputText WRITE setInputText NOTIFY inputTextChanged)
    // True from the moment a question is accepted until its answer or error
    // has been handled.
    Q_PROPERTY(bool isSending READ isSending NOTIFY isSendingChanged)
    // The description of the last failure; empty when there is none.
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    // Title of the current session ("New conversation" until the first question).
    Q_PROPERTY(QString sessionTitle READ sessionTitle NOTIFY sessionTitleChanged)
    // A Cancel has been asked for the question in flight and not yet handled.
    Q_PROPERTY(bool isCancelling READ isCancelling NOTIFY isSendingChanged)
    // The question in flight is held until the index can be asked (the
    // first sync has not written any messages yet).
    Q_PROPERTY(bool isWaitingForIndex READ isWaitingForIndex NOTIFY isSendingChanged)
    // The answer from the index is shown while a model still works on the
    // question in flight.
    Q_PROPERTY(bool isAwaitingModel READ isAwaitingModel NOTIFY isSendingChanged)

public:
    // Title of a session without a user message.
    static constexpr const char* kNewConversationTitle = "New conversation";
    // Longest title, in user-perceived characters (grapheme clusters).
    static constexpr int kTitleLength = 80;
    // How long a model may work on a question before the answer from the
    // index is asked for and shown meanwhile.
    static constexpr std::chrono::milliseconds kFirstAnswerDelay{2000};

    // What tests replace. Every member has a default.
    struct Seams {
        // Reads the configuration once, at construction, for the API key;
        // ConfigManager::shared().load() when empty.
        std::function<AppConfig()> loadConfiguration;
        // The environment the helper runner is resolved from (at
        // construction); the process environment when empty.
        std::function<RLMHelperRunner::EnvironmentMap()> environment;
        // Passed on to the runner (resource folder, launcher, live
        // environment, the runner's logger).
        RLMHelperRunner::Seams runner;
        // Where this model's events go.
        StructuredLogger logger{StructuredLogger::kBundleIdentifier,
                                StructuredLogger::kChatCategory};
        // kFirstAnswerDelay, or none: the index is never asked beside a model.
        std::optional<std::chrono::milliseconds> firstAnswerDelay = kFirstAnswerDelay;
    };

    // Reads the configuration once, builds the helper runner (on failure
    // lastError holds the reason and every send() reports that no helper
    // command is set), then resumes the stored session with the latest
    // lastMessageAt, or starts and stores a new one when there is none or the
    // store cannot be read. `shadowDBPath` is passed to every helper run.
    // `sessionStore` must not be null; the model keeps it for its whole life
    // and calls it only on the GUI thread.
    ChatViewModel(const QString& shadowDBPath, std::shared_ptr<SessionStore> sessionStore,
                  QObject* parent = nullptr);
    ChatViewModel(const QString& shadowDBPath, std::shared_ptr<SessionStore> sessionStore,
                  Seams seams, QObject* parent = nullptr);
    ~ChatViewModel() override;

    const std::vector<ChatMessage>& messages() const { return messages_; }
    const QString& inputText() const { return inputText_; }
    bool isSending() const { return isSending_; }
    const QString& lastError() const { return lastError_; }
    const QString& sessionTitle() const { return sessionTitle_; }
    bool isCancelling() const { return isCancelling_; }
    bool isWaitingForIndex() const { return isWaitingForIndex_; }
    bool isAwaitingModel() const { return firstAnswerAt_.has_value(); }
    // The stored conversations, the current one included, newest first.
    const std::vector<ChatSession>& sessions() const { return sessions_; }

    // Identifier of the current session (upper-case canonical UUID text).
    const std::string& currentSessionID() const { return currentSessionID_; }
    const QString& shadowDBPath() const { return shadowDBPath_; }

    void setInputText(const QString& text);

    // Takes inputText, trimmed, as the next question and returns at once;
    // the answer (or the error) arrives later through the published fields.
    // Does nothing while a question is in flight or when the trimmed input
    // is empty (the input then stays as typed). A question longer than
    // core::kMaxQuestionCharacters only sets lastError to say so, keeping
    // the input to be shortened. Without a helper runner it
    // only sets lastError to "RLM helper command not set. Set
    // ORLUNE_RLM_HELPER_CMD.". While the index cannot be asked yet the
    // question is accepted and held (isSending and isWaitingForIndex), and
    // goes to the helper as soon as setIndexReady(true) is called.
    //
    // When a model answers (RLMHelperRunner::asksAModel) and has not done so
    // within firstAnswerDelay, the answer from the index is asked for beside
    // it and added to the conversation as soon as it comes (isAwaitingModel);
    // the model's answer follows it. An answer from the index that the helper
    // gives in the end (the model failed) takes the first one's place. The
    // first answer stays when the question is cancelled or the model fails.
    Q_INVOKABLE void send();

    // Whether the shadow database holds messages the helper can search
    // (true unless told otherwise). A held question is sent when it becomes
    // true.
    void setIndexReady(bool ready);
    bool isIndexReady() const { return indexReady_; }

    // Stores the current session when `persistExisting` is true, then starts
    // an empty one and stores it at once. The view's "new conversation"
    // action passes true.
    Q_INVOKABLE void startNewSession(bool persistExisting);

    // Ends the helper of the question in flight at once (with everything it
    // started), or stops holding a question that waits for the index. The
    // question stays in the conversation; lastError then says it was
    // cancelled. Does nothing when no question is in flight.
    Q_INVOKABLE void cancel();

    // Makes the stored session `id` the current one (the current one is
    // stored first). Does nothing while a question is in flight or when no
    // session has that id.
    void openSession(const std::string& id);

    // Removes the stored session `id` (a save never brings it back, unless
    // undoDelete() does). When it is the current one, an empty session takes
    // its place. Does nothing while a question is in flight on that session.
    void deleteSession(const std::string& id);
    // The title of the session deleted last, while undoDelete() can bring
    // it back (until a question is sent or another session is opened or
    // deleted); empty otherwise.
    QString deletedTitle() const;
    // Brings the session deleted last back, stored again; it becomes the
    // current one when the current one is empty.
    void undoDelete();

    // Reads the configuration again (the key may have been saved or removed
    // since) and rebuilds the helper runner for the next question.
    void reloadConfiguration();

    // Drops from every session the cited messages that the shadow database
    // no longer holds (unsent or deleted in Messages, then removed by a
    // sync), so that their text does not outlive them in the sessions file;
    // saves the sessions when any was dropped. Nothing changes when the
    // database cannot be read. Runs at start and whenever the shadow
    // database changes.
    void forgetRemovedMessages();

    // What a person reads for a failed question: the helper's failure in
    // plain words, without the program's name.
    static QString personText(const std::exception_ptr& failure);

    // `text` cut to its first `length` user-perceived characters (grapheme
    // clusters); otherwise unchanged, no ellipsis.
    static std::string truncatedToGraphemes(const std::string& text, int length);
    // The number of user-perceived characters in `text`.
    static qsizetype graphemeCount(const std::string& text);

signals:
    void messagesChanged();
    void inputTextChanged();
    void isSendingChanged();
    void lastErrorChanged();
    void sessionTitleChanged();
    // sessions() changed (a save, a delete, a switch).
    void sessionsChanged();
    // An answer to a question asked here was added to the conversation
    // (the index's first answer too); after messagesChanged.
    void answerAdded();

private:
    struct RunOutcome;

    void loadSessions();
    void buildRunner();
    // Saves sessions_ merged with what the file holds now: sessions another
    // copy of the application wrote are kept, deleted ones stay deleted.
    void saveSessions();
    void applySession(const ChatSession& session);
    void persistCurrentSession();
    std::vector<HostConversationMessage> contextMessages(const std::string& question) const;
    void handleOutcome(const RunOutcome& outcome);
    // Hands `question` (the last message) to the helper on the pool.
    void startRun(const std::string& question);
    // Asks the helper for the index's answer to the question in flight.
    void startFirstAnswerRun();
    void handleFirstAnswer(const RunOutcome& outcome, quint64 run);
    // Ends the first answer's run, if any, and forgets where its answer is.
    void endFirstAnswer();

    void setMessages(std::vector<ChatMessage> messages);
    void appendMessage(ChatMessage message);
    void setIsSending(bool value);
    void setLastError(const QString& value);
    void setSessionTitle(const QString& value);

    // Published.
    std::vector<ChatMessage> messages_;
    QString inputText_;
    bool isSending_ = false;
    QString lastError_;
    QString sessionTitle_;

    // Private state.
    bool isCancelling_ = false;
    bool isWaitingForIndex_ = false;
    bool indexReady_ = true;
    // Counts the questions handed to the helper; a first answer of an
    // earlier one is dropped.
    quint64 runNumber_ = 0;
    std::optional<std::chrono::milliseconds> firstAnswerDelay_;
    QTimer* firstAnswerTimer_ = nullptr;
    std::shared_ptr<ProcessStop> firstAnswerStop_;
    // Where the first answer of the question in flight is in messages_.
    std::optional<size_t> firstAnswerAt_;
    std::shared_ptr<ProcessStop> stop_;
    std::function<AppConfig()> loadConfiguration_;
    std::function<RLMHelperRunner::EnvironmentMap()> environment_;
    RLMHelperRunner::Seams runnerSeams_;
    std::set<std::string> deletedSessionIDs_;
    std::optional<ChatSession> lastDeleted_;
    std::optional<RLMHelperRunner> helperRunner_;
    QString shadowDBPath_;
    std::shared_ptr<SessionStore> sessionStore_;
    StructuredLogger logger_;
    std::vector<ChatSession> sessions_;
    std::string currentSessionID_;
    ChatDate currentSessionCreatedAt_;
    std::optional<std::string> sessionSummary_;
    StoreWatcher* shadowWatcher_ = nullptr;
};

} // namespace orlune::rlm

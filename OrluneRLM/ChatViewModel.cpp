#include "OrluneRLM/ChatViewModel.hpp"

#include "OrluneRLM/ConfigManager.hpp"
#include "OrluneRLM/CurrentException.hpp"
#include "OrluneRLM/PropertyChange.hpp"
#include "OrluneRLM/RLMHelperError.hpp"
#include "OrluneRLM/TextTrimming.hpp"
#include "OrluneRLM/UnreadableSessionsError.hpp"

#include <QFutureWatcher>
#include <QTextBoundaryFinder>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <exception>

namespace orlune::rlm {

struct ChatViewModel::RunOutcome {
    std::optional<HelperResult> result;
    std::string error; // the failure's description when there is no result
};

ChatViewModel::ChatViewModel(const QString& shadowDBPath,
                             std::shared_ptr<SessionStore> sessionStore, QObject* parent)
    : ChatViewModel(shadowDBPath, std::move(sessionStore), Seams{}, parent) {}

ChatViewModel::ChatViewModel(const QString& shadowDBPath,
                             std::shared_ptr<SessionStore> sessionStore, Seams seams,
                             QObject* parent)
    : QObject(parent), sessionTitle_(QString::fromLatin1(kNewConversationTitle)),
      shadowDBPath_(shadowDBPath), sessionStore_(std::move(sessionStore)),
      logger_(std::move(seams.logger)), currentSessionID_(ChatSession::newID()),
      currentSessionCreatedAt_(ChatDate::now()) {
    const AppConfig config =
        seams.loadConfiguration ? seams.loadConfiguration() : ConfigManager::shared().load();
    const RLMHelperRunner::EnvironmentMap environment =
        seams.environment ? seams.environment() : RLMHelperRunner::processEnvironment();
    try {
        helperRunner_.emplace(config, environment, std::move(seams.runner));
    } catch (...) {
        lastError_ = QString::fromStdString(describeCurrentException());
    }
    loadSessions();
}

ChatViewModel::~ChatViewModel() = default;

void ChatViewModel::setInputText(const QString& text) {
    assignIfChanged(inputText_, text, [this] { emit inputTextChanged(); });
}

void ChatViewModel::send() {
    if (isSending_) {
        return;
    }
    const std::string question = trimmedText(inputText_.toStdString());
    if (question.empty()) {
        return;
    }
    if (!helperRunner_) {
        setLastError(QString::fromUtf8(RLMHelperError::missingHelperCommand().what()));
        return;
    }
    setLastError({});
    setInputText({});
    appendMessage(ChatMessage::make(ChatRole::user, question));
    persistCurrentSession();
    setIsSending(true);
    logger_.info("chat_send_started", {{"message_count", std::to_string(messages_.size())},
                                       {"session_id", currentSessionID_}});

    // The task works on copies only; the watcher, a child of this model,
    // brings the outcome back to the GUI thread (and is gone with the model).
    auto* watcher = new QFutureWatcher<RunOutcome>(this);
    connect(watcher, &QFutureWatcher<RunOutcome>::finished, this, [this, watcher] {
        const RunOutcome outcome = watcher->result();
        watcher->deleteLater();
        handleOutcome(outcome);
    });
    watcher->setFuture(
        QtConcurrent::run([runner = *helperRunner_, question, dbPath = shadowDBPath_.toStdString(),
                           turns = contextMessages(question), summary = sessionSummary_] {
            RunOutcome outcome;
            try {
                outcome.result = runner.run(question, dbPath, turns, summary);
            } catch (...) {
                outcome.error = describeCurrentException();
            }
            return outcome;
        }));
}

void ChatViewModel::handleOutcome(const RunOutcome& outcome) {
    if (!outcome.result) {
        // The question stays in the conversation and in the store.
        setLastError(QString::fromStdString(outcome.error));
        setIsSending(false);
        return;
    }
    appendMessage(ChatMessage::make(ChatRole::assistant, outcome.result->answer));
    const std::optional<std::string>& summary = outcome.result->conversationSummary;
    if (summary && !trimmedText(*summary).empty()) {
        if (sessionSummary_ != summary) {
            logger_.info("session_summary_updated",
                         {{"session_id", currentSessionID_},
                          {"chars", std::to_string(graphemeCount(*summary))}});
        }
        sessionSummary_ = summary;
    }
    persistCurrentSession();
    setIsSending(false);
}

std::vector<HostConversationMessage>
ChatViewModel::contextMessages(const std::string& question) const {
    std::vector<ChatMessage> earlier = messages_;
    if (!earlier.empty() && earlier.back().role == ChatRole::user &&
        earlier.back().text == question) {
        earlier.pop_back();
    }
    std::vector<HostConversationMessage> turns;
    turns.reserve(earlier.size());
    for (const ChatMessage& message : earlier) {
        turns.push_back({toRawValue(message.role), message.text});
    }
    return turns;
}

void ChatViewModel::persistCurrentSession() {
    const auto firstQuestion =
        std::find_if(messages_.begin(), messages_.end(),
                     [](const ChatMessage& message) { return message.role == ChatRole::user; });
    const std::string title = firstQuestion != messages_.end()
                                  ? truncatedToGraphemes(firstQuestion->text, kTitleLength)
                                  : std::string(kNewConversationTitle);

    ChatSession session;
    session.id = currentSessionID_;
    session.createdAt = currentSessionCreatedAt_;
    session.lastMessageAt = messages_.empty() ? ChatDate::now() : messages_.back().timestamp;
    session.title = title;
    session.messageCount = static_cast<std::int64_t>(messages_.size());
    session.messages = messages_;
    session.summary = sessionSummary_;

    const auto existing =
        std::find_if(sessions_.begin(), sessions_.end(),
                     [this](const ChatSession& stored) { return stored.id == currentSessionID_; });
    if (existing != sessions_.end()) {
        sessions_.erase(existing);
    }
    sessions_.insert(sessions_.begin(), std::move(session));
    setSessionTitle(QString::fromStdString(title));

    try {
        sessionStore_->save(sessions_);
        logger_.info("session_saved", {{"session_id", currentSessionID_},
                                       {"message_count", std::to_string(messages_.size())}});
    } catch (...) {
        logger_.warning("session_save_failed",
                        {{"session_id", currentSessionID_}, {"error", describeCurrentException()}});
    }
}

void ChatViewModel::startNewSession(bool persistExisting) {
    if (persistExisting) {
        persistCurrentSession();
    }
    currentSessionID_ = ChatSession::newID();
    currentSessionCreatedAt_ = ChatDate::now();
    sessionSummary_.reset();
    setMessages({});
    setSessionTitle(QString::fromLatin1(kNewConversationTitle));
    persistCurrentSession();
    logger_.info("session_new_started", {{"session_id", currentSessionID_}});
}

void ChatViewModel::loadSessions() {
    std::vector<ChatSession> loaded;
    try {
        loaded = sessionStore_->load();
    } catch (const UnreadableSessionsError& error) {
        logger_.warning("session_load_failed", {{"error", error.what()}});
        if (!error.movedTo().empty()) {
            logger_.warning("session_file_moved_aside",
                            {{"path", error.path()}, {"moved_to", error.movedTo()}});
        }
        startNewSession(false);
        return;
    } catch (...) {
        logger_.warning("session_load_failed", {{"error", describeCurrentException()}});
        startNewSession(false);
        return;
    }
    sessions_ = std::move(loaded);
    if (sessions_.empty()) {
        startNewSession(false);
        return;
    }
    // The latest lastMessageAt; among equal dates the one earlier in the store.
    const ChatSession* latest = &sessions_.front();
    for (const ChatSession& session : sessions_) {
        if (session.lastMessageAt > latest->lastMessageAt) {
            latest = &session;
        }
    }
    const ChatSession chosen = *latest;
    applySession(chosen);
    logger_.info("session_loaded", {{"session_id", chosen.id},
                                    {"message_count", std::to_string(chosen.messageCount)}});
}

void ChatViewModel::applySession(const ChatSession& session) {
    currentSessionID_ = session.id;
    currentSessionCreatedAt_ = session.createdAt;
    sessionSummary_ = session.summary;
    setMessages(session.messages);
    setSessionTitle(QString::fromStdString(session.title));
}

std::string ChatViewModel::truncatedToGraphemes(const std::string& text, int length) {
    const QString whole = QString::fromStdString(text);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, whole);
    int counted = 0;
    qsizetype position = 0;
    while (counted < length) {
        position = finder.toNextBoundary();
        if (position < 0) {
            return text; // shorter than `length`: unchanged
        }
        ++counted;
    }
    if (position >= whole.size()) {
        return text;
    }
    return whole.left(position).toStdString();
}

qsizetype ChatViewModel::graphemeCount(const std::string& text) {
    const QString whole = QString::fromStdString(text);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, whole);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0) {
        ++count;
    }
    return count;
}

void ChatViewModel::setMessages(std::vector<ChatMessage> messages) {
    assignIfChanged(messages_, std::move(messages), [this] { emit messagesChanged(); });
}

void ChatViewModel::appendMessage(ChatMessage message) {
    messages_.push_back(std::move(message));
    emit messagesChanged();
}

void ChatViewModel::setIsSending(bool value) {
    assignIfChanged(isSending_, value, [this] { emit isSendingChanged(); });
}

void ChatViewModel::setLastError(const QString& value) {
    assignIfChanged(lastError_, value, [this] { emit lastErrorChanged(); });
}

void ChatViewModel::setSessionTitle(const QString& value) {
    assignIfChanged(sessionTitle_, value, [this] { emit sessionTitleChanged(); });
}

} // namespace orlune::rlm

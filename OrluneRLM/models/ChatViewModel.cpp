#include "models/ChatViewModel.hpp"

#include "services/ConfigManager.hpp"
#include "services/CurrentException.hpp"
#include "models/PropertyChange.hpp"
#include "services/RLMHelperError.hpp"
#include "services/TextTrimming.hpp"
#include "services/UnreadableSessionsError.hpp"

#include <QFutureWatcher>
#include <QTextBoundaryFinder>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <exception>

namespace orlune::rlm {

struct ChatViewModel::RunOutcome {
    std::optional<HelperResult> result;
    std::string error;          // the failure's description when there is no result
    std::exception_ptr failure; // the failure itself
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
      currentSessionCreatedAt_(ChatDate::now()),
      loadConfiguration_(std::move(seams.loadConfiguration)),
      environment_(std::move(seams.environment)), runnerSeams_(std::move(seams.runner)) {
    buildRunner();
    loadSessions();
}

void ChatViewModel::buildRunner() {
    const AppConfig config =
        loadConfiguration_ ? loadConfiguration_() : ConfigManager::shared().load();
    const RLMHelperRunner::EnvironmentMap environment =
        environment_ ? environment_() : RLMHelperRunner::processEnvironment();
    helperRunner_.reset();
    try {
        helperRunner_.emplace(config, environment, runnerSeams_);
    } catch (...) {
        logger_.warning("helper_unavailable", {{"error", describeCurrentException()}});
        lastError_ = personText(std::current_exception());
    }
}

void ChatViewModel::reloadConfiguration() {
    const QString before = lastError_;
    lastError_.clear();
    buildRunner();
    if (lastError_ != before) {
        emit lastErrorChanged();
    }
}

void ChatViewModel::cancel() {
    if (!isSending_ || isCancelling_ || !stop_) {
        return;
    }
    stop_->request();
    isCancelling_ = true;
    logger_.info("chat_send_cancelled", {{"session_id", currentSessionID_}});
    emit isSendingChanged();
}

QString ChatViewModel::personText(const std::exception_ptr& failure) {
    try {
        if (failure) {
            std::rethrow_exception(failure);
        }
    } catch (const RLMHelperError& error) {
        switch (error.kind()) {
        case RLMHelperError::Kind::cancelled:
            return QStringLiteral("Cancelled.");
        case RLMHelperError::Kind::timedOut:
            return QStringLiteral("No answer came in time, so the question was stopped. Try a "
                                  "narrower question.");
        case RLMHelperError::Kind::shadowDBMissing:
            return QStringLiteral("Nothing is indexed yet: wait for the first sync to finish.");
        case RLMHelperError::Kind::missingHelperCommand:
        case RLMHelperError::Kind::missingBundledHelper:
            return QStringLiteral("The answering program is missing from this installation.");
        case RLMHelperError::Kind::outputTooLarge:
            return QStringLiteral("The answer was too large and was stopped.");
        case RLMHelperError::Kind::emptyOutput:
            return QStringLiteral("No answer came back. Try again.");
        case RLMHelperError::Kind::decodeFailure:
            return QStringLiteral("The answer could not be read: ") +
                   QString::fromStdString(error.detail());
        case RLMHelperError::Kind::processFailure:
            if (!error.detail().empty()) {
                return QStringLiteral("The answer could not be made: ") +
                       QString::fromStdString(error.detail());
            }
            return QStringLiteral("The answer could not be made (exit code %1).").arg(error.code());
        }
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
    }
    return QStringLiteral("The answer could not be made.");
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
        setLastError(personText(std::make_exception_ptr(RLMHelperError::missingHelperCommand())));
        return;
    }
    setLastError({});
    setInputText({});
    appendMessage(ChatMessage::make(ChatRole::user, question));
    persistCurrentSession();
    stop_ = std::make_shared<ProcessStop>();
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
    watcher->setFuture(QtConcurrent::run(
        [runner = *helperRunner_, question, dbPath = shadowDBPath_.toStdString(),
         turns = contextMessages(question), summary = sessionSummary_, stop = stop_] {
            RunOutcome outcome;
            try {
                outcome.result = runner.run(question, dbPath, turns, summary, stop);
            } catch (...) {
                outcome.error = describeCurrentException();
                outcome.failure = std::current_exception();
            }
            return outcome;
        }));
}

void ChatViewModel::handleOutcome(const RunOutcome& outcome) {
    stop_.reset();
    isCancelling_ = false;
    if (!outcome.result) {
        // The question stays in the conversation and in the store.
        logger_.warning("chat_send_failed",
                        {{"session_id", currentSessionID_}, {"error", outcome.error}});
        setLastError(personText(outcome.failure));
        setIsSending(false);
        return;
    }
    ChatMessage answer = ChatMessage::make(ChatRole::assistant, outcome.result->answer);
    answer.citations = outcome.result->messages;
    answer.source = outcome.result->source;
    answer.model = outcome.result->model;
    appendMessage(std::move(answer));
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
    saveSessions();
}

void ChatViewModel::saveSessions() {
    // Another copy of the application (or an older run) may have written
    // the file since it was read: its conversations are kept (after this
    // one's), and for one held by both the copy with the later message wins,
    // this one's current conversation always from here.
    try {
        const std::vector<ChatSession> stored = sessionStore_->load();
        for (const ChatSession& other : stored) {
            if (deletedSessionIDs_.contains(other.id)) {
                continue;
            }
            const auto mine = std::find_if(
                sessions_.begin(), sessions_.end(),
                [&other](const ChatSession& session) { return session.id == other.id; });
            if (mine == sessions_.end()) {
                sessions_.push_back(other);
            } else if (other.id != currentSessionID_ && other.lastMessageAt > mine->lastMessageAt) {
                *mine = other;
            }
        }
    } catch (...) {
        // Nothing readable to merge with: this copy's sessions are saved.
    }
    try {
        sessionStore_->save(sessions_);
        logger_.info("session_saved", {{"session_id", currentSessionID_},
                                       {"message_count", std::to_string(messages_.size())}});
    } catch (...) {
        logger_.warning("session_save_failed",
                        {{"session_id", currentSessionID_}, {"error", describeCurrentException()}});
    }
    emit sessionsChanged();
}

void ChatViewModel::openSession(const std::string& id) {
    if (isSending_ || id == currentSessionID_) {
        return;
    }
    const auto found = std::find_if(sessions_.begin(), sessions_.end(),
                                    [&id](const ChatSession& session) { return session.id == id; });
    if (found == sessions_.end()) {
        return;
    }
    const ChatSession chosen = *found;
    // An empty conversation left behind is not worth keeping in the list.
    if (!messages_.empty()) {
        persistCurrentSession();
    } else {
        std::erase_if(sessions_, [this](const ChatSession& session) {
            return session.id == currentSessionID_;
        });
    }
    applySession(chosen);
    setLastError({});
    logger_.info("session_opened", {{"session_id", chosen.id}});
    emit sessionsChanged();
}

void ChatViewModel::deleteSession(const std::string& id) {
    if (isSending_ && id == currentSessionID_) {
        return;
    }
    deletedSessionIDs_.insert(id);
    std::erase_if(sessions_, [&id](const ChatSession& session) { return session.id == id; });
    logger_.info("session_deleted", {{"session_id", id}});
    if (id == currentSessionID_) {
        startNewSession(false);
    } else {
        saveSessions();
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

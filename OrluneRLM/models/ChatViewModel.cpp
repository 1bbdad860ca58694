#include "models/ChatViewModel.hpp"

#include "answer/QuestionLength.hpp"
#include "base/Environment.hpp"
#include "models/PropertyChange.hpp"
#include "services/ConfigManager.hpp"
#include "services/CurrentException.hpp"
#include "services/RLMHelperError.hpp"
#include "services/TextTrimming.hpp"
#include "services/UnreadableSessionsError.hpp"
#include "sql/StoreConnection.hpp"

#include <QFutureWatcher>
#include <QTextBoundaryFinder>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <exception>
#include <nlohmann/json.hpp>

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
      loadConfiguration_(std::move(seams.loadConfiguration)),
      environment_(std::move(seams.environment)), runnerSeams_(std::move(seams.runner)),
      shadowDBPath_(shadowDBPath), sessionStore_(std::move(sessionStore)),
      logger_(std::move(seams.logger)), currentSessionID_(ChatSession::newID()),
      currentSessionCreatedAt_(ChatDate::now()) {
    firstAnswerDelay_ = seams.firstAnswerDelay;
    firstAnswerTimer_ = new QTimer(this);
    firstAnswerTimer_->setSingleShot(true);
    connect(firstAnswerTimer_, &QTimer::timeout, this, &ChatViewModel::startFirstAnswerRun);
    buildRunner();
    loadSessions();
    shadowWatcher_ = new StoreWatcher(shadowDBPath_, StoreWatcher::kDefaultDebounce,
                                      StoreWatcher::kDefaultPollInterval, this);
    connect(shadowWatcher_, &StoreWatcher::changed, this, &ChatViewModel::forgetRemovedMessages);
    forgetRemovedMessages();
}

namespace {

// Which of `guids` the shadow database at `path` no longer holds; absent
// when it cannot be read (missing, not synced yet, locked, damaged).
std::optional<std::set<std::string>> goneFromIndex(const std::string& path,
                                                   const std::set<std::string>& guids) {
    if (core::pathIsMissing(path)) {
        return std::nullopt;
    }
    std::string failure;
    core::sqlite::Connection db = core::openStoreReadOnly(path, failure);
    if (!db) {
        return std::nullopt;
    }
    try {
        core::sqlite::Statement statement =
            db.prepare("SELECT j.value FROM json_each(?1) AS j WHERE NOT EXISTS "
                       "(SELECT 1 FROM messages AS m WHERE m.guid = j.value)");
        statement.bindText(1, nlohmann::json(guids).dump(-1, ' ', false,
                                                         nlohmann::json::error_handler_t::replace));
        std::set<std::string> gone;
        while (statement.step()) {
            gone.insert(statement.columnText(0));
        }
        return gone;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Removes from `messages` the citations of `gone`; true when any was there.
bool dropCitations(std::vector<ChatMessage>& messages, const std::set<std::string>& gone) {
    bool dropped = false;
    for (ChatMessage& message : messages) {
        dropped = std::erase_if(
                      message.citations,
                      [&](const CitedMessage& cited) { return gone.contains(cited.guid); }) > 0 ||
                  dropped;
    }
    return dropped;
}

} // namespace

void ChatViewModel::forgetRemovedMessages() {
    std::set<std::string> cited;
    auto collect = [&cited](const std::vector<ChatMessage>& messages) {
        for (const ChatMessage& message : messages) {
            for (const CitedMessage& citation : message.citations) {
                cited.insert(citation.guid);
            }
        }
    };
    collect(messages_);
    for (const ChatSession& session : sessions_) {
        collect(session.messages);
    }
    if (cited.empty()) {
        return;
    }
    const auto gone = goneFromIndex(shadowDBPath_.toStdString(), cited);
    if (!gone || gone->empty()) {
        return;
    }
    for (ChatSession& session : sessions_) {
        dropCitations(session.messages, *gone);
    }
    std::vector<ChatMessage> current = messages_;
    if (dropCitations(current, *gone)) {
        setMessages(std::move(current));
    }
    logger_.info("session_citations_forgotten", {{"count", std::to_string(gone->size())}});
    saveSessions();
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
    if (isWaitingForIndex_) {
        isWaitingForIndex_ = false;
        stop_.reset();
        logger_.info("chat_send_cancelled", {{"session_id", currentSessionID_}});
        setLastError(personText(std::make_exception_ptr(RLMHelperError::cancelled())));
        setIsSending(false);
        return;
    }
    if (!isSending_ || isCancelling_ || !stop_) {
        return;
    }
    stop_->request();
    firstAnswerTimer_->stop();
    if (firstAnswerStop_) {
        firstAnswerStop_->request();
    }
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
    // Too long: said at once, and the text stays in the input to be cut.
    if (auto problem = core::questionLengthProblem(question)) {
        setLastError(QString::fromStdString(*problem));
        return;
    }
    if (!helperRunner_) {
        setLastError(personText(std::make_exception_ptr(RLMHelperError::missingHelperCommand())));
        return;
    }
    setLastError({});
    setInputText({});
    lastDeleted_.reset();
    appendMessage(ChatMessage::make(ChatRole::user, question));
    persistCurrentSession();
    stop_ = std::make_shared<ProcessStop>();
    setIsSending(true);
    logger_.info("chat_send_started", {{"message_count", std::to_string(messages_.size())},
                                       {"session_id", currentSessionID_}});
    if (!indexReady_) {
        // Sent by setIndexReady(true), once the first messages are indexed.
        isWaitingForIndex_ = true;
        logger_.info("chat_send_waiting_for_index", {{"session_id", currentSessionID_}});
        emit isSendingChanged();
        return;
    }
    startRun(question);
}

void ChatViewModel::setIndexReady(bool ready) {
    indexReady_ = ready;
    if (ready && isWaitingForIndex_) {
        isWaitingForIndex_ = false;
        emit isSendingChanged();
        startRun(messages_.back().text);
    }
}

void ChatViewModel::startRun(const std::string& question) {
    ++runNumber_;
    if (firstAnswerDelay_ && helperRunner_->asksAModel()) {
        firstAnswerTimer_->start(*firstAnswerDelay_);
    }
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

void ChatViewModel::startFirstAnswerRun() {
    if (!isSending_ || isWaitingForIndex_ || isCancelling_ || firstAnswerStop_ ||
        messages_.empty() || !helperRunner_) {
        return;
    }
    firstAnswerStop_ = std::make_shared<ProcessStop>();
    logger_.info("chat_first_answer_asked", {{"session_id", currentSessionID_}});
    auto* watcher = new QFutureWatcher<RunOutcome>(this);
    connect(watcher, &QFutureWatcher<RunOutcome>::finished, this,
            [this, watcher, run = runNumber_] {
                const RunOutcome outcome = watcher->result();
                watcher->deleteLater();
                handleFirstAnswer(outcome, run);
            });
    watcher->setFuture(
        QtConcurrent::run([runner = *helperRunner_, question = messages_.back().text,
                           dbPath = shadowDBPath_.toStdString(), stop = firstAnswerStop_] {
            RunOutcome outcome;
            try {
                outcome.result = runner.answerFromIndex(question, dbPath, stop);
            } catch (...) {
                outcome.error = describeCurrentException();
                outcome.failure = std::current_exception();
            }
            return outcome;
        }));
}

void ChatViewModel::handleFirstAnswer(const RunOutcome& outcome, quint64 run) {
    if (run != runNumber_ || !isSending_ || isCancelling_) {
        return; // the model answered (or the question ended) first
    }
    firstAnswerStop_.reset();
    if (!outcome.result) {
        // The model's answer is still to come; nothing to show meanwhile.
        logger_.warning("chat_first_answer_failed",
                        {{"session_id", currentSessionID_}, {"error", outcome.error}});
        return;
    }
    ChatMessage answer = ChatMessage::make(ChatRole::assistant, outcome.result->answer);
    answer.citations = outcome.result->messages;
    answer.source = outcome.result->source;
    appendMessage(std::move(answer));
    firstAnswerAt_ = messages_.size() - 1;
    logger_.info("chat_first_answer_shown", {{"session_id", currentSessionID_}});
    persistCurrentSession();
    emit isSendingChanged();
    emit answerAdded();
}

void ChatViewModel::endFirstAnswer() {
    firstAnswerTimer_->stop();
    if (firstAnswerStop_) {
        firstAnswerStop_->request();
        firstAnswerStop_.reset();
    }
    firstAnswerAt_.reset();
}

void ChatViewModel::handleOutcome(const RunOutcome& outcome) {
    stop_.reset();
    isCancelling_ = false;
    const std::optional<size_t> firstAnswerAt = firstAnswerAt_;
    endFirstAnswer();
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
    if (firstAnswerAt && answer.isIndexAnswer() && *firstAnswerAt < messages_.size()) {
        // The model failed and the helper answered from the index again,
        // now saying why: that answer replaces the first one.
        std::vector<ChatMessage> messages = messages_;
        messages[*firstAnswerAt] = std::move(answer);
        setMessages(std::move(messages));
    } else {
        appendMessage(std::move(answer));
    }
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
    emit answerAdded();
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
    // A conversation without messages is kept only while it is the current
    // one: "New" pressed and left leaves nothing behind.
    std::erase_if(sessions_, [this](const ChatSession& session) {
        return session.messages.empty() && session.id != currentSessionID_;
    });
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
    if (!lastDeleted_ || lastDeleted_->id != id) {
        lastDeleted_.reset();
    }
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
    const auto found = std::find_if(sessions_.begin(), sessions_.end(),
                                    [&id](const ChatSession& session) { return session.id == id; });
    if (found != sessions_.end() && !found->messages.empty()) {
        lastDeleted_ = *found;
    } else {
        lastDeleted_.reset();
    }
    std::erase_if(sessions_, [&id](const ChatSession& session) { return session.id == id; });
    logger_.info("session_deleted", {{"session_id", id}});
    if (id == currentSessionID_) {
        startNewSession(false);
    } else {
        saveSessions();
    }
}

QString ChatViewModel::deletedTitle() const {
    return lastDeleted_ ? QString::fromStdString(lastDeleted_->title) : QString();
}

void ChatViewModel::undoDelete() {
    if (!lastDeleted_) {
        return;
    }
    const ChatSession restored = *lastDeleted_;
    lastDeleted_.reset();
    deletedSessionIDs_.erase(restored.id);
    sessions_.push_back(restored);
    logger_.info("session_restored", {{"session_id", restored.id}});
    if (messages_.empty() && !isSending_) {
        openSession(restored.id);
    }
    saveSessions();
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

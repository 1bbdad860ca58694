#pragma once
// What the helper may do with the shadow database: read-only SQL, ranked
// full-text search, and the table list and column descriptions that tell the
// model what is there. Implementations never change the database.
//
// A refused or failed operation throws the shadow database's own error,
// core::ShadowDBError; its what() (the kind's prefix and SQLite's or the
// guard's message) is what the agent hands back to the model as the tool's
// result.

#include "answer/MessageSearch.hpp"
#include "answer/QuestionReading.hpp"
#include "sql/ShadowDBError.hpp"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::helper {

struct QueryTable {
    std::vector<std::string> columns;
    // One entry per row, one JSON value per column: number, string, null, or
    // for a blob a short "<blob of N bytes>" text.
    std::vector<std::vector<nlohmann::json>> rows;
    // What the size bounds of the query left out, as a sentence; empty when
    // nothing was cut.
    std::string cut;
};

struct TableColumn {
    std::string name;
    std::string type;
    bool notNull = false;
};

struct MessageHit {
    std::string guid;
    std::string chatId;
    std::optional<std::string> chatName;
    std::string sender;
    std::string text;
    int64_t timestamp = 0;
    bool isFromMe = false;
    // Known to be a chat with one other person (false when not known).
    bool oneToOne = false;
    double rank = 0; // bm25: lower is better; 0 when listed newest first
    // The sender's name from the person's contacts; absent for your own
    // messages and unknown handles.
    std::optional<std::string> senderName;
    // What the person calls the chat; empty when not known.
    std::string chatTitle;
    // The reactions standing on the message: kind ("love", "like", ...) and
    // the custom emoji for kind "emoji".
    struct Reaction {
        std::string kind;
        std::optional<std::string> emoji;
    };
    std::vector<Reaction> reactions;
    // The kinds of its attachments shown to the person ("photo", "pdf", ...).
    std::vector<std::string> attachmentKinds;
    // Their file names as sent, in the same order ("" when not known).
    std::vector<std::string> attachmentNames;
    // How many other messages with the same text an answer folded into this
    // one (core::fuseRankings).
    size_t sameText = 0;
};

// The messages that answer a question (core::AnswerFinder), best first.
struct AnswerHits {
    // What was understood, in a person's words ("messages from Mom
    // yesterday about grandma").
    std::string understood;
    std::vector<MessageHit> hits;
    // Nothing matched within what the question named; the hits come from a
    // wider search, of what `widenedTo` says ("messages between you and
    // Omar about rent at any time").
    bool widened = false;
    std::string widenedTo;
    // Where the copied messages start or end when the question's time lies
    // outside them ("Your messages here start in March 2021."); else empty.
    std::string outsideCopied;
    // The question named nothing to look for (no person, chat, time, kind or
    // word).
    bool nothingToLookFor = false;
    // The kind of thing the question asks for, and whether it asks when
    // someone last or first wrote (core::QuestionReading).
    core::AskedFor askedFor = core::AskedFor::anything;
    core::WhenAsked when = core::WhenAsked::no;
};

// One message and its neighbours in its chat, oldest first on each side.
struct MessageContextHits {
    std::optional<MessageHit> message; // absent when no message has the guid
    std::vector<MessageHit> before;
    std::vector<MessageHit> after;
};

// The messages the answer engine reads with a hit (core::AnswerWindows):
// its thread and the messages just after it in its chat.
struct MessageWindowHits {
    // The hit's thread without it: the thread's first message and the
    // replies to it, oldest first (at most core::kThreadMessages).
    std::vector<MessageHit> thread;
    // The messages just after it in its chat that lie in its window
    // (core::windowLength), oldest first, those of its thread left out.
    std::vector<MessageHit> next;
};

class ShadowTools {
public:
    virtual ~ShadowTools() = default;

    // Runs one read-only statement and returns at most `limit` rows (100 when
    // `limit` is 0 or less), within bounds of time and size. Throws
    // core::ShadowDBError when the statement is empty, not read-only, more
    // than one statement, runs out of time, would make too large a value, or
    // fails.
    virtual QueryTable query(const std::string& sql, int limit) = 0;

    // The best `limit` messages for an FTS5 MATCH expression, best first,
    // among those `filters` allow (core::searchMessages: sender, chat and
    // time as a person writes them; an empty expression with filters lists
    // the newest matching messages). An expression FTS5 rejects gives no
    // messages. Throws core::ShadowDBError when the expression is too large,
    // a filter's time cannot be read (queryFailed, saying which), the search
    // runs out of time, or the index cannot be read.
    virtual std::vector<MessageHit> search(const std::string& match, int limit,
                                           const core::SearchFilters& filters) = 0;
    std::vector<MessageHit> search(const std::string& match, int limit) {
        return search(match, limit, core::SearchFilters{});
    }

    // The best `limit` messages for a question as a person asked it: the
    // people, chats and time it names narrow the search (core::AnswerFinder,
    // in the system's time zone). Absent where questions cannot be read
    // (the caller then searches the question's words). Throws
    // core::ShadowDBError.
    virtual std::optional<AnswerHits> findAnswer(std::string_view question, int limit) {
        (void)question;
        (void)limit;
        return std::nullopt;
    }

    // The message with `guid` and up to `before` / `after` messages of its
    // chat around it (none for a message in no chat), within bounds of time
    // and size. Throws core::ShadowDBError.
    virtual MessageContextHits messageContext(const std::string& guid, int before, int after) = 0;

    // The window of the message with `guid` (empty for no such message, and
    // where windows cannot be read), within bounds of time and size. Throws
    // core::ShadowDBError.
    virtual MessageWindowHits conversationWindow(const std::string& guid) {
        (void)guid;
        return {};
    }

    // Tables and views, by name. Throws core::ShadowDBError.
    virtual std::vector<std::string> listTables() = 0;

    // The columns of `table` (empty for no such table). Throws core::ShadowDBError
    // for a name that is not one plain identifier.
    virtual std::vector<TableColumn> describeTable(const std::string& table) = 0;
};

} // namespace orlune::helper

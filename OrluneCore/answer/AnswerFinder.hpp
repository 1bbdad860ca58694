#pragma once
// Finds the messages that answer a question in the shadow database: reads
// the question (QuestionReading) against the database's people and chats,
// runs the planned searches (AnswerSearchPlan) within the scopes they name,
// and fuses their results (AnswerRanking). The answer from the index and the
// model's search tools both use it.

#include "answer/AnswerRanking.hpp"
#include "answer/AnswerSearchPlan.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "sql/QueryBounds.hpp"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orlune::core {

struct FoundAnswer {
    QuestionReading reading;
    // What was understood, in a person's words ("messages from Mom
    // yesterday about grandma").
    std::string understood;
    // Best first, each text once.
    std::vector<RankedMessage> messages;
    // True when nothing was found within what the question named and the
    // messages come from the wider search.
    bool widened = false;
    // Where the wider search found them, in a person's words ("messages
    // between you and Omar about rent at any time"); empty unless widened.
    std::string widenedTo;
    // When the question's time lies wholly outside the copied messages, says
    // where they start or end ("Your messages here start in March 2021.");
    // otherwise empty.
    std::string outsideCopied;
    // A search stopped at its time limit or size bound (the messages are
    // what was found before).
    bool incomplete = false;
};

// Reads the database's chats once; then answers questions, reading for each
// only the people it may mention (ShadowDBReader::peopleMentionable), so
// that a very large address book costs one pass over its rows and bounded
// memory. Not thread-safe; uses `db`, which must outlive it.
class AnswerFinder {
public:
    // Throws ShadowDBError when the chats cannot be read.
    explicit AnswerFinder(ShadowDBReader& db);
    ~AnswerFinder();

    // At most `limit` messages. Throws ShadowDBError for a failed search
    // (a search past its time limit included) or when the people cannot be
    // read, and std::invalid_argument for an unknown zone in `context`.
    FoundAnswer find(std::string_view question, const TimeContext& context, int limit,
                     const QueryBounds& bounds);

private:
    struct Directory;
    // What the fallbacks of widening `step` (PlannedSearch::widening) look
    // for, in a person's words.
    std::string describeWidening(const QuestionReading& reading, int step) const;
    // Adds to `candidates` (best first) the messages in the windows and
    // threads of the best of them that answer instead (pickFromWindow,
    // pickFromThread), each scored against
    // its hit; a message already there keeps the better score.
    void addWindowAnswers(const QuestionReading& reading, std::vector<RankedMessage>& candidates,
                          const QueryBounds& bounds);

    // Whether `message` is from someone in the address book, or yours in a
    // one-to-one chat with someone in it. `knownChats`
    // caches the answer for your messages by chat.
    bool withSomeoneKnown(const SearchResult& message,
                          std::unordered_map<std::string, bool>& knownChats);

    ShadowDBReader& db_;
    std::unique_ptr<Directory> directory_;
};

} // namespace orlune::core

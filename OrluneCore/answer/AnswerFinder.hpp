#pragma once
// Finds the messages that answer a question in the shadow database: reads
// the question (QuestionReading) against the database's people and chats,
// runs the planned searches (AnswerSearchPlan) within the scopes they name,
// and fuses their results (AnswerRanking). The answer from the index and the
// model's search tools both use it.

#include "answer/AnswerRanking.hpp"
#include "answer/AnswerSearchPlan.hpp"
#include "base/EmbeddingGateway.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "sql/QueryBounds.hpp"

#include <chrono>
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
    // Why the search by meaning (useSemanticSearch) was left out of this
    // answer, for a verbose reader; empty when it ran or was not asked for.
    std::string semanticNote;
};

// Reads the database's chats once; then answers questions, reading for each
// only the people it may mention (ShadowDBReader::peopleMentionable), so
// that a very large address book costs one pass over its rows and bounded
// memory. Not thread-safe; uses `db`, which must outlive it.
class SemanticSearch;

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

    // From now on find() also fuses in the messages nearest in meaning to
    // the question (SemanticSearch, fuseVectorHits) when the database holds
    // vectors, asking `gateway` for the question's; nullptr (the default)
    // leaves the words alone. `gateway` must outlive this finder; the
    // question's vector may take `timeout` before the words answer alone.
    void useSemanticSearch(EmbeddingGateway* gateway,
                           std::chrono::milliseconds timeout = std::chrono::seconds(4));

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
    std::unique_ptr<SemanticSearch> semantic_;
};

} // namespace orlune::core

#pragma once
// The filtered message search that the command line (`orlune search --from
// --chat --since --until`) and the helper's search tool share: what a person
// typed to name a sender, a chat and a time, resolved against the shadow
// database's people and chats, then one search within that scope.
//
// - from: a person's name, nickname or any part of their name, or a handle
//   (the same number however written, an e-mail address in any case, or
//   text inside a handle), blind to case and accents (findNamed, read
//   within bounds by ShadowDBReader::handlesNamed: a name shared by more
//   people than that searches the first of them, with a note); "me", "you"
//   or "myself" for your own messages.
// - chat: a chat's own name, the person of a one-to-one chat (as `from`), a
//   chat's whole title ("Alex, Jess and 2 others"), or text inside its id.
// - since / until: any time expression TimeExpressionParser reads; since
//   from the start of its range, until to the end of it ("--until
//   yesterday" includes yesterday), in local time.
// - An empty query with any filter lists the newest matching messages first;
//   an empty query without filters finds nothing.

#include "records/MessageScope.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "sql/QueryBounds.hpp"
#include "time/LocalTime.hpp"

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace orlune::core {

// What a person typed; an empty field does not restrict.
struct SearchFilters {
    std::string from;
    std::string chat;
    std::string since;
    std::string until;

    bool empty() const { return from.empty() && chat.empty() && since.empty() && until.empty(); }
};

// A filter that cannot be read: a time expression that is not one. what()
// says which and gives examples.
class SearchFilterError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

struct ResolvedScope {
    MessageScope scope;
    // For the person reading: a name that matched no one, a chat that
    // matched none ("No person or handle matches \"Bob\"").
    std::vector<std::string> notes;
};

// Resolves `filters` on `db` (its people, chats and handles) in `context`'s
// time zone. `phoneRegion` reads a typed number without a country code.
// Throws SearchFilterError, and ShadowDBError for a failed read.
ResolvedScope resolveFilters(ShadowDBReader& db, const SearchFilters& filters,
                             const TimeContext& context, const std::string& phoneRegion);

struct FilteredSearch {
    ShadowDBReader::SearchOutcome outcome;
    std::vector<std::string> notes;
};

// The end of one search call's time limit (bounds.timeLimit from when it is
// made), for the work around the search itself. Copies `bounds`' limit.
class SearchDeadline {
public:
    explicit SearchDeadline(const QueryBounds& bounds);
    // What is left of the limit (0 once it has passed).
    std::chrono::milliseconds left() const;
    // Throws ShadowDBError queryFailed ("The search took longer than 5 s and
    // was stopped") once the limit has passed.
    void check() const;

private:
    QueryBounds bounds_;
    std::chrono::steady_clock::time_point end_;
};

// resolveFilters, then ShadowDBReader::search within the scope, both within
// bounds.timeLimit in all. Throws as both; past the limit, queryFailed as
// SearchDeadline::check.
FilteredSearch searchMessages(ShadowDBReader& db, const std::string& query,
                              const SearchFilters& filters, int limit, const QueryBounds& bounds,
                              const TimeContext& context, const std::string& phoneRegion);

} // namespace orlune::core

#pragma once
// The shadow database's full-text search: the word index (messages_fts), the
// attachment-name index (attachment_names_fts) and the emoji each message
// holds (message_emoji), searched together.

#include "records/MessageScope.hpp"
#include "records/SearchResult.hpp"
#include "shadow/ShadowConnection.hpp"
#include "sql/QueryBounds.hpp"

#include <optional>
#include <string>
#include <vector>

namespace orlune::core {

// The search over a shared connection (ShadowConnection). Every failure is
// thrown as ShadowDBError.
class ShadowSearchIndex {
public:
    explicit ShadowSearchIndex(ShadowConnection& connection) : connection_(connection) {}

    // What a bounded search found, and what its size bounds left out.
    struct Outcome {
        std::vector<SearchResult> results;
        // Texts (message texts, senders, chat names) cut to
        // bounds.maxCellBytes.
        size_t cutTexts = 0;
        // True when the results reached bounds.maxResultBytes and no further
        // row was read.
        bool stoppedAtSizeLimit = false;
        // FTS5 could not read the expression (a syntax error, an unknown
        // column): its reason ("fts5: syntax error near \"?\""); there are
        // no results then.
        std::optional<std::string> rejection;
        // A search found the index damaged and the sync has not rebuilt it
        // yet (SearchIndexRepair): hits may be missing or wrong.
        bool indexUnderRepair = false;
    };
    // At most `limit` messages in `scope` matching the FTS5 expression
    // `query` (handed to FTS5 up to its first NUL, with file names quoted),
    // best bm25 rank first; a negative limit means no limit. An expression
    // FTS5 rejects as malformed gives no results and its `rejection`. The query's emoji are
    // looked up in message_emoji and joined to its words by AND (OR, NOT,
    // NEAR or a group around one is refused with queryFailed). An empty
    // `query` with a restricted scope lists the scope's newest messages
    // first (rank 0); with an unrestricted scope it finds nothing.
    //
    // Within `bounds`: an expression longer than maxMatchBytes, or with more
    // terms or prefix terms than allowed, is refused with queryFailed before
    // anything runs; a search still running after timeLimit is stopped with
    // queryFailed (timeLimitMessage); texts are cut to maxCellBytes, and
    // reading stops once the results hold maxResultBytes. Throws
    // prepareFailed when the statement cannot be prepared (no schema, closed
    // database) and queryFailed for any other failure while reading; a
    // damaged file also asks the next sync to repair the index
    // (SearchIndexRepair::request).
    Outcome search(const std::string& query, const MessageScope& scope, int limit,
                   const QueryBounds& bounds);

    // The text of the queryFailed thrown when a search runs out of time.
    static std::string timeLimitMessage(const QueryBounds& bounds);

    // Merges each full-text index into one segment, so that deleted rows'
    // entries are rewritten away (with secure_delete, the freed pages are
    // zeroed). Throws queryFailed.
    void mergeSegments();

private:
    ShadowConnection& connection_;
};

} // namespace orlune::core

// The full-text search: one ranked FTS5 query joined back to the messages,
// and the merge that leaves deleted words nowhere in the index.

#include "shadow/ShadowSearchIndex.hpp"

#include "base/EmojiText.hpp"
#include "records/SearchResult.hpp"
#include "shadow/MatchExpression.hpp"
#include "shadow/SearchIndexRepair.hpp"
#include "shadow/ShadowPeopleTables.hpp"
#include "sql/ResultBudget.hpp"
#include "sql/StatementLimits.hpp"
#include "time/StoreTime.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <variant>

namespace orlune::core {

using Error = ShadowDBError;

namespace {

constexpr std::string_view kOptimizeIndex =
    "INSERT INTO messages_fts(messages_fts) VALUES ('optimize')";
constexpr std::string_view kOptimizeNamesIndex =
    "INSERT INTO attachment_names_fts(attachment_names_fts) VALUES ('optimize')";
constexpr std::string_view kOptimizeSpacedIndex =
    "INSERT INTO spaced_fts(spaced_fts) VALUES ('optimize')";

} // namespace

void ShadowSearchIndex::mergeSegments() {
    connection_.guarded([&] {
        sqlite::exec(connection_.handle(), kOptimizeIndex);
        if (connection_.hasTable("attachment_names_fts")) {
            sqlite::exec(connection_.handle(), kOptimizeNamesIndex);
        }
        if (connection_.hasTable("spaced_fts")) {
            sqlite::exec(connection_.handle(), kOptimizeSpacedIndex);
        }
    });
}

std::string ShadowSearchIndex::timeLimitMessage(const QueryBounds& bounds) {
    return "The search took longer than " + bounds.timeLimitText() + " and was stopped";
}

namespace {

// The columns of a search, in SearchResult's order, from messages `m` and,
// where the database keeps them, the people and chats tables.
constexpr std::string_view kColumns =
    "SELECT m.guid, m.chat_id, m.chat_name, m.sender, m.text, m.timestamp, m.is_from_me, "
    "m.is_group, ";
constexpr std::string_view kNamedColumns =
    "CASE WHEN m.is_from_me THEN NULL ELSE p.display_name END, "
    "COALESCE(c.title, NULLIF(m.chat_name, ''), m.chat_id)\n";
constexpr std::string_view kUnnamedColumns = "NULL, COALESCE(NULLIF(m.chat_name, ''), m.chat_id)\n";
constexpr std::string_view kUnranked = "0.0, ";
constexpr std::string_view kFromIndex =
    "FROM messages_fts JOIN messages m ON messages_fts.rowid = m.rowid\n";
constexpr std::string_view kFromMessages = "FROM messages m\n";
// Where attachment names are indexed, a message is found by its words or by
// one of its attachments' names, at the better of the two ranks. Each branch
// applies the scope's conditions itself, so bm25 is computed only for the
// messages in scope: ranking every match of a frequent word first made a
// scoped search on a large database several times slower. The full-text
// table drives each branch (CROSS JOIN): probing it once per message in
// scope re-reads the whole doclist of a prefix term every time. Only the
// best `limit` hits are joined to their names.
constexpr std::string_view kRankedHits = "hits.rank, ";
constexpr std::string_view kHitsOpen = "FROM (SELECT rowid, MIN(rank) AS rank FROM (\n";
constexpr std::string_view kNameHits =
    "    SELECT m.rowid, bm25(attachment_names_fts) FROM attachment_names_fts\n"
    "    CROSS JOIN attachments a ON a.rowid = attachment_names_fts.rowid\n"
    "    CROSS JOIN messages m ON m.guid = a.message_guid\n"
    "    WHERE attachment_names_fts MATCH ?";
// The branch of the messages in scripts written without spaces, found by
// their parts in their spaced text (rowid = messages.rowid).
constexpr std::string_view kSpacedHits =
    "    SELECT spaced_fts.rowid, bm25(spaced_fts) FROM spaced_fts\n"
    "    WHERE spaced_fts MATCH ?";
constexpr std::string_view kScopedSpacedHits =
    "    SELECT m.rowid, bm25(spaced_fts) FROM spaced_fts\n"
    "    CROSS JOIN messages m ON m.rowid = spaced_fts.rowid\n"
    "    WHERE spaced_fts MATCH ?";
// messages_fts holds a run of such letters as one word, so a NOT there
// would keep a message whose run holds the word taken out: the messages
// with spaced text are judged by their spaced text alone.
constexpr std::string_view kNotSpaced =
    " AND messages_fts.rowid NOT IN (SELECT id FROM spaced_texts)";
constexpr std::string_view kHitsClose = ")\n  GROUP BY rowid ORDER BY rank LIMIT ?) hits\n"
                                        "JOIN messages m ON m.rowid = hits.rowid\n";
constexpr std::string_view kByHitRank = "ORDER BY hits.rank";
constexpr std::string_view kHasEmoji =
    "m.guid IN (SELECT message_guid FROM message_emoji WHERE emoji = ?)";
constexpr std::string_view kNameJoins = "LEFT JOIN person_handles ph ON ph.handle = m.sender\n"
                                        "LEFT JOIN people p ON p.person_id = ph.person_id\n"
                                        "LEFT JOIN chats c ON c.chat_id = m.chat_id\n";
constexpr std::string_view kMatch = "messages_fts MATCH ?";
constexpr std::string_view kWithinSpan = " AND messages_fts.rowid BETWEEN ? AND ?";
// The hits stored with one of the chats; the "+" keeps SQLite from handing
// the list to the full-text index one rowid at a time.
constexpr std::string_view kStoredInChats =
    " AND +messages_fts.rowid IN (SELECT rowid FROM messages WHERE chat_id IN (";
// How a message's words rank: bm25 over its text, chat name and sender.
constexpr std::string_view kWordRank = "bm25(messages_fts)";
// The same with the sender column weighing nothing, for a search narrowed
// by the sender column (below), whose own phrase must not count.
constexpr std::string_view kWordRankNotBySender = "bm25(messages_fts, 1.0, 1.0, 0.0)";
constexpr std::string_view kNewestFirst = "ORDER BY m.timestamp DESC, m.rowid DESC\nLIMIT ?";
constexpr std::string_view kOldestFirst = "ORDER BY m.timestamp, m.rowid\nLIMIT ?";

// "?, ?, ?" for `count` values.
std::string placeholders(size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += i == 0 ? "?" : ", ?";
    }
    return text;
}

// Lists longer than this are bound as one JSON array.
constexpr size_t kMostPlaceholdersInAList = 100;

// What goes inside "IN (...)" for `values`, which are appended to `bound` in
// order: a placeholder for each value of a short list; for a long one, a
// single JSON array read by json_each, since a statement may hold at most
// 32,766 placeholders however many handles a name stands for.
template <typename Bound>
std::string valueList(const std::vector<std::string>& values, Bound& bound) {
    if (values.size() <= kMostPlaceholdersInAList) {
        bound.insert(bound.end(), values.begin(), values.end());
        return placeholders(values.size());
    }
    bound.push_back(
        nlohmann::json(values).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    return "SELECT value FROM json_each(?)";
}

using Parameter = std::variant<std::string, int64_t>;

// Rowids from `first` to `last`, both included.
struct RowidSpan {
    int64_t first = 0;
    int64_t last = 0;
};

// The MATCH expressions of one search and how its words rank.
struct Matches {
    std::string words;  // for messages_fts
    std::string names;  // for attachment_names_fts, when indexed
    std::string spaced; // for spaced_fts, when indexed
    std::string_view wordRank = kWordRank;
    // Conditions on the word hits' rowids alone, each starting " AND ",
    // checked before a hit's message is read, and their values.
    std::string wordsNarrowed;
    std::vector<Parameter> wordsNarrowedValues;
};

// A time window holding more messages than this is not spanned: reading its
// rowids would cost more than the span saves.
constexpr int64_t kMostMessagesSpanned = 100'000;

// The span of the rowids of the messages in `time`, read from the time
// index. Messages are stored about in the order they were sent, so the span
// of a day or a month is short, and the full-text index, told it, skips its
// matches outside it instead of reading each one's message to compare its
// time: several times faster for a word used all over a large database.
// Absent when the window holds more than kMostMessagesSpanned messages; an
// empty window gives an empty span.
std::optional<RowidSpan> rowidSpanOf(const sqlite::Connection& db, const TimeRange& time) {
    const StoreDateFilter filter = storeDateFilter("timestamp", time);
    sqlite::Statement statement = db.prepare(
        "SELECT COUNT(*), MIN(rowid), MAX(rowid) FROM (SELECT rowid FROM messages WHERE " +
        filter.sql + " LIMIT ?)");
    int index = 1;
    for (int64_t value : filter.parameters) {
        statement.bindInt64(index++, value);
    }
    statement.bindInt64(index, kMostMessagesSpanned + 1);
    if (!statement.step() || statement.columnInt64(0) > kMostMessagesSpanned) {
        return std::nullopt;
    }
    if (statement.columnInt64(0) == 0) {
        return RowidSpan{1, 0};
    }
    return RowidSpan{statement.columnInt64(1), statement.columnInt64(2)};
}

// Whether a message stored with another chat is also in one of `chatIds`
// (message_chats lists every chat of every message, its stored one too: a
// chat with more rows there than stored messages holds such a message).
// Usually none is, and a search can then keep to the messages stored with
// the chats, read from their index, instead of reading each hit's message.
bool chatsHoldMessagesStoredElsewhere(const sqlite::Connection& db,
                                      const std::vector<std::string>& chatIds) {
    std::vector<std::string> values;
    const std::string joined = valueList(chatIds, values);
    const std::string stored = valueList(chatIds, values);
    sqlite::Statement statement =
        db.prepare("SELECT (SELECT COUNT(*) FROM message_chats WHERE chat_id IN (" + joined +
                   ")) > (SELECT COUNT(*) FROM messages WHERE chat_id IN (" + stored + "))");
    int index = 1;
    for (const std::string& value : values) {
        statement.bindText(index++, value);
    }
    return statement.step() && statement.columnInt64(0) != 0;
}

// Within a scope of other people's handles, the full-text index's own
// sender column narrows the matches before any message row is read:
// `expression` AND the sender column holding one of the handles. About ten
// times faster for one person's messages on a large database; the scope's
// exact condition still decides. Absent when the scope names no handle or
// also takes your own messages (about half of all: bm25 counts every row
// holding each phrase of the expression, which then costs more than the
// narrowing saves), when a handle has no letter or digit to match, or when
// the expression leaves a quote or parenthesis open (put inside another, it
// could become a different valid one), or when it names too many handles
// for one expression.
std::optional<std::string> narrowedBySender(const std::string& expression,
                                            const MessageScope& scope) {
    if (expression.empty() || !scope.senders || scope.senders->empty() || scope.fromMe ||
        scope.senders->size() > kMostPlaceholdersInAList ||
        !MatchExpression::closesEveryGroup(expression)) {
        return std::nullopt;
    }
    std::string any;
    for (const std::string& sender : *scope.senders) {
        if (std::none_of(sender.begin(), sender.end(),
                         [](unsigned char c) { return std::isalnum(c) != 0; })) {
            return std::nullopt;
        }
        any += (any.empty() ? "" : " OR ") + MatchExpression::quoted(sender);
    }
    return "(" + expression + ") AND sender : (" + any + ")";
}

// The statement of one search and the values of its placeholders before
// the limit, in order (the limit is the last placeholder).
struct ScopedSql {
    std::string sql;
    std::vector<Parameter> parameters;
};

// The condition on a message's attachments, its kinds appended to `texts`.
std::string attachmentCondition(const std::vector<std::string>& kinds, bool attachmentsKept,
                                std::vector<std::string>& texts) {
    if (!attachmentsKept || kinds.empty()) {
        return "0";
    }
    std::string condition = "EXISTS (SELECT 1 FROM attachments a WHERE a.message_guid = m.guid "
                            "AND a.hidden = 0";
    if (std::find(kinds.begin(), kinds.end(), "file") == kinds.end()) {
        condition += " AND a.kind IN (" + placeholders(kinds.size()) + ")";
        texts.insert(texts.end(), kinds.begin(), kinds.end());
    }
    return condition + ")";
}

// The condition on the reactions standing on a message, its kinds and
// reacting senders appended to `texts`.
std::string reactionCondition(const MessageScope::Reactions& reactions, bool reactionsKept,
                              std::vector<std::string>& texts) {
    if (!reactionsKept || (reactions.by && reactions.by->empty())) {
        return "0";
    }
    std::string condition = "EXISTS (SELECT 1 FROM reactions r WHERE r.target_guid = m.guid";
    if (!reactions.kinds.empty()) {
        condition += " AND r.kind IN (" + placeholders(reactions.kinds.size()) + ")";
        texts.insert(texts.end(), reactions.kinds.begin(), reactions.kinds.end());
    }
    if (reactions.by) {
        condition += " AND r.sender IN (" + valueList(*reactions.by, texts) + ")";
    }
    return condition + ")";
}

// The scope's conditions on messages `m`, joined by AND ("" for none), with
// their values in order.
struct ScopeConditions {
    std::string sql;
    std::vector<Parameter> values;
    bool oldestFirst = false; // MessageScope::oldestFirst
};

ScopeConditions scopeConditions(bool attachmentsKept, bool chatsKept, bool reactionsKept,
                                const std::vector<std::string>& emoji, const MessageScope& scope) {
    std::vector<std::string> conditions;
    std::vector<std::string> texts;
    if (scope.senders) {
        std::vector<std::string> either;
        if (!scope.senders->empty()) {
            either.push_back("(m.is_from_me = 0 AND m.sender IN (" +
                             valueList(*scope.senders, texts) + "))");
        }
        if (scope.fromMe) {
            either.push_back("m.is_from_me = 1");
        }
        conditions.push_back(either.empty()       ? std::string("0")
                             : either.size() == 1 ? either[0]
                                                  : "(" + either[0] + " OR " + either[1] + ")");
    }
    if (scope.chatIds) {
        if (scope.chatIds->empty()) {
            conditions.emplace_back("0");
        } else if (!chatsKept) {
            conditions.push_back("m.chat_id IN (" + valueList(*scope.chatIds, texts) + ")");
        } else {
            // A message is in a chat when it is stored with it or joined to it.
            const std::string stored = valueList(*scope.chatIds, texts);
            const std::string joined = valueList(*scope.chatIds, texts);
            conditions.push_back("(m.chat_id IN (" + stored +
                                 ") OR m.guid IN (SELECT message_guid FROM message_chats "
                                 "WHERE chat_id IN (" +
                                 joined + ")))");
        }
    }
    // Every emoji of the query must be among the message's.
    for (const std::string& one : emoji) {
        conditions.emplace_back(kHasEmoji);
        texts.push_back(one);
    }
    if (scope.attachmentKinds) {
        conditions.push_back(attachmentCondition(*scope.attachmentKinds, attachmentsKept, texts));
    }
    if (scope.reactions) {
        conditions.push_back(reactionCondition(*scope.reactions, reactionsKept, texts));
    }
    ScopeConditions out;
    out.oldestFirst = scope.oldestFirst;
    out.values.assign(texts.begin(), texts.end());
    // The time's integers are bound after every text: it comes last.
    if (scope.time.start || scope.time.end) {
        StoreDateFilter filter = storeDateFilter("m.timestamp", scope.time);
        conditions.push_back("(" + filter.sql + ")");
        out.values.insert(out.values.end(), filter.parameters.begin(), filter.parameters.end());
    }
    for (size_t i = 0; i < conditions.size(); ++i) {
        out.sql += (i == 0 ? "" : " AND ") + conditions[i];
    }
    return out;
}

// The branch of the hits found by their words.
std::string wordHits(const Matches& matches, bool scoped) {
    std::string sql = scoped ? "    SELECT m.rowid, " : "    SELECT messages_fts.rowid, ";
    sql += matches.wordRank;
    sql += " AS rank FROM messages_fts\n";
    if (scoped) {
        sql += "    CROSS JOIN messages m ON m.rowid = messages_fts.rowid\n";
    }
    return sql + "    WHERE messages_fts MATCH ?" + matches.wordsNarrowed;
}

// The values of the word hits' own conditions, in order.
void addWordValues(const Matches& matches, std::vector<Parameter>& parameters) {
    parameters.emplace_back(matches.words);
    parameters.insert(parameters.end(), matches.wordsNarrowedValues.begin(),
                      matches.wordsNarrowedValues.end());
}

// `matches` is absent for a search without words (newest first).
ScopedSql scopedSql(const std::optional<Matches>& matches, bool named,
                    const ScopeConditions& scope) {
    ScopedSql out;
    const bool ranked = matches.has_value();
    const bool byHits = ranked && (!matches->names.empty() || !matches->spaced.empty());
    out.sql = std::string(kColumns);
    out.sql += byHits   ? std::string(kRankedHits)
               : ranked ? std::string(matches->wordRank) + ", "
                        : std::string(kUnranked);
    out.sql += named ? kNamedColumns : kUnnamedColumns;
    if (byHits) {
        // Each branch: its MATCH expression, then the scope.
        const std::string inScope = scope.sql.empty() ? "" : " AND " + scope.sql;
        out.sql += kHitsOpen;
        out.sql += wordHits(*matches, !scope.sql.empty()) + inScope;
        addWordValues(*matches, out.parameters);
        out.parameters.insert(out.parameters.end(), scope.values.begin(), scope.values.end());
        if (!matches->names.empty()) {
            out.sql += "\n    UNION ALL\n";
            out.sql += std::string(kNameHits) + inScope;
            out.parameters.emplace_back(matches->names);
            out.parameters.insert(out.parameters.end(), scope.values.begin(), scope.values.end());
        }
        if (!matches->spaced.empty()) {
            out.sql += "\n    UNION ALL\n";
            out.sql += std::string(scope.sql.empty() ? kSpacedHits : kScopedSpacedHits) + inScope;
            out.parameters.emplace_back(matches->spaced);
            out.parameters.insert(out.parameters.end(), scope.values.begin(), scope.values.end());
        }
        out.sql += kHitsClose;
    } else {
        out.sql += ranked ? kFromIndex : kFromMessages;
        std::string where;
        if (ranked) {
            where = std::string(kMatch) + matches->wordsNarrowed;
            addWordValues(*matches, out.parameters);
        }
        if (!scope.sql.empty()) {
            where += (where.empty() ? "" : " AND ") + scope.sql;
            out.parameters.insert(out.parameters.end(), scope.values.begin(), scope.values.end());
        }
        if (named) {
            out.sql += kNameJoins;
        }
        if (!where.empty()) {
            out.sql += "WHERE " + where + "\n";
        }
        out.sql += ranked              ? "ORDER BY " + std::string(matches->wordRank) + "\nLIMIT ?"
                   : scope.oldestFirst ? std::string(kOldestFirst)
                                       : std::string(kNewestFirst);
        return out;
    }
    if (named) {
        out.sql += kNameJoins;
    }
    out.sql += kByHitRank;
    return out;
}

} // namespace

ShadowSearchIndex::Outcome ShadowSearchIndex::search(const std::string& query,
                                                     const MessageScope& scope, int limit,
                                                     const QueryBounds& bounds) {
    const std::string typed(query.c_str(), std::strlen(query.c_str()));
    // The query's emoji are looked up in message_emoji (the full-text index
    // has none) and its words in the full-text index; a query of emoji alone
    // lists the messages holding them all, newest first.
    const std::vector<std::string> emoji = connection_.hasTable("message_emoji")
                                               ? EmojiText::emojiIn(typed)
                                               : std::vector<std::string>{};
    if (!emoji.empty() && !MatchExpression::joinsOnlyByAnd(typed)) {
        throw Error(Error::Kind::queryFailed,
                    "Emoji can be searched for only together with words, as in \"tickets "
                    "\U0001F355\": OR, NOT, NEAR and parentheses cannot take an emoji");
    }
    std::string expression = MatchExpression::withFileNamesQuoted(
        emoji.empty() ? typed
                      : MatchExpression::withoutAndOperators(EmojiText::withoutEmoji(typed)));
    if (!emoji.empty() && MatchExpression::measure(expression).terms == 0) {
        expression.clear();
    }
    const bool ranked = !expression.empty() || (emoji.empty() && scope.unrestricted());
    if (ranked) {
        if (auto refusal = MatchExpression::refusal(typed, bounds)) {
            throw Error(Error::Kind::queryFailed, *refusal);
        }
    }
    const bool named = ShadowPeopleTables(connection_).present();
    const bool attachmentsKept = scope.attachmentKinds && connection_.hasTable("attachments");
    const bool reactionsKept = scope.reactions && connection_.hasTable("reactions");
    // Messages joined to a chat besides the one they are stored with are
    // looked for only where some are.
    const bool chatsKept =
        scope.chatIds && !scope.chatIds->empty() && connection_.hasTable("message_chats") &&
        connection_.guarded(
            [&] { return chatsHoldMessagesStoredElsewhere(connection_.db(), *scope.chatIds); });
    std::optional<Matches> matches;
    if (ranked) {
        matches = Matches{};
        matches->words = expression;
        if (connection_.hasTable("attachment_names_fts")) {
            matches->names = expression;
        }
        if (connection_.hasTable("spaced_fts")) {
            matches->spaced = MatchExpression::forSpacedIndex(expression);
            if (MatchExpression::usesNot(expression)) {
                matches->wordsNarrowed += kNotSpaced;
            }
        }
        if (auto narrowed = narrowedBySender(expression, scope)) {
            matches->words = std::move(*narrowed);
            matches->wordRank = kWordRankNotBySender;
        }
        if (scope.time.start || scope.time.end) {
            if (auto span = connection_.guarded(
                    [&] { return rowidSpanOf(connection_.db(), scope.time); })) {
                matches->wordsNarrowed += kWithinSpan;
                matches->wordsNarrowedValues.emplace_back(span->first);
                matches->wordsNarrowedValues.emplace_back(span->last);
            }
        }
        if (scope.chatIds && !scope.chatIds->empty() && !chatsKept) {
            matches->wordsNarrowed += std::string(kStoredInChats) +
                                      valueList(*scope.chatIds, matches->wordsNarrowedValues) +
                                      "))";
        }
    }
    const ScopedSql built = scopedSql(
        matches, named, scopeConditions(attachmentsKept, chatsKept, reactionsKept, emoji, scope));
    sqlite::Statement statement =
        connection_.guarded([&] { return connection_.db().prepare(built.sql); });
    StatementLimits limits(connection_.handle(), bounds.timeLimit, bounds.maxValueBytes);
    int index = 1;
    for (const Parameter& parameter : built.parameters) {
        if (const auto* text = std::get_if<std::string>(&parameter)) {
            statement.bindText(index++, *text);
        } else {
            statement.bindInt64(index++, std::get<int64_t>(parameter));
        }
    }
    statement.bindInt(index, limit);

    Outcome outcome;
    ResultBudget budget(bounds.maxCellBytes, bounds.maxResultBytes);
    try {
        while (statement.step()) {
            if (statement.isNull(0) || statement.isNull(1) || statement.isNull(3) ||
                statement.isNull(4)) {
                continue;
            }
            SearchResult hit{
                budget.readText(statement.get(), 0),
                budget.readText(statement.get(), 1),
                statement.isNull(2)
                    ? std::nullopt
                    : std::optional<std::string>(budget.readText(statement.get(), 2)),
                budget.readText(statement.get(), 3),
                budget.readText(statement.get(), 4),
                statement.columnInt64(5),
                statement.columnInt64(6) != 0,
                statement.columnInt64(7) != 0,
                statement.columnDouble(8),
                statement.isNull(9)
                    ? std::nullopt
                    : std::optional<std::string>(budget.readText(statement.get(), 9)),
                budget.readText(statement.get(), 10),
            };
            if (budget.cutShort()) {
                // The results ran out inside this hit: they end before it.
                outcome.stoppedAtSizeLimit = true;
                break;
            }
            outcome.results.push_back(std::move(hit));
            if (limits.expired()) {
                break;
            }
            if (budget.exhausted()) {
                outcome.stoppedAtSizeLimit = true;
                break;
            }
        }
    } catch (const sqlite::Error& error) {
        // Running out of time is reported as such. The MATCH expression is a
        // bound value, so FTS5 judges its syntax at the first step, with
        // SQLITE_ERROR: a malformed expression matches nothing. Any other
        // failure (a damaged file, an I/O error) is an error, never a short
        // list.
        if (limits.timedOut()) {
            throw Error(Error::Kind::queryFailed, timeLimitMessage(bounds));
        }
        if (error.primaryCode() == SQLITE_ERROR) {
            Outcome rejected;
            rejected.rejection = error.what();
            return rejected;
        }
        if (error.isDamage() && SearchIndexRepair(connection_).onlyIndexesDamaged()) {
            SearchIndexRepair::request(connection_.path());
            throw Error(Error::Kind::queryFailed,
                        std::string(error.what()) + " (" +
                            SearchIndexRepair::damageMessage(connection_.path()) + ")");
        }
        throw Error::fromSQLite(error, connection_.path());
    }
    if (limits.timedOut()) {
        throw Error(Error::Kind::queryFailed, timeLimitMessage(bounds));
    }
    outcome.cutTexts = budget.cutCells();
    outcome.indexUnderRepair = SearchIndexRepair::pending(connection_.path());
    return outcome;
}

} // namespace orlune::core

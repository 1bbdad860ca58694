// ShadowDBReader::search: one ranked FTS5 query joined back to the messages.

#include "OrluneCore/EmojiText.hpp"
#include "OrluneCore/MatchExpression.hpp"
#include "OrluneCore/ResultBudget.hpp"
#include "OrluneCore/SearchResult.hpp"
#include "OrluneCore/ShadowDBReader.hpp"
#include "OrluneCore/StatementLimits.hpp"
#include "OrluneCore/StoreTime.hpp"

#include <algorithm>
#include <cstring>

namespace orlune::core {

std::vector<SearchResult> ShadowDBReader::search(const std::string& query, int limit) {
    return search(query, limit, QueryBounds{}).results;
}

std::string ShadowDBReader::searchTimeLimitMessage(const QueryBounds& bounds) {
    return "The search took longer than " + bounds.timeLimitText() + " and was stopped";
}

ShadowDBReader::SearchOutcome ShadowDBReader::search(const std::string& query, int limit,
                                                     const QueryBounds& bounds) {
    return search(query, MessageScope{}, limit, bounds);
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
constexpr std::string_view kRanked = "bm25(messages_fts), ";
constexpr std::string_view kUnranked = "0.0, ";
constexpr std::string_view kFromIndex =
    "FROM messages_fts JOIN messages m ON messages_fts.rowid = m.rowid\n";
constexpr std::string_view kFromMessages = "FROM messages m\n";
// Where attachment names are indexed, a message is found by its words or by
// one of its attachments' names, at the better of the two ranks. The MATCH
// expression is bound twice.
constexpr std::string_view kRankedHits = "hits.rank, ";
constexpr std::string_view kFromHits =
    "FROM (SELECT rowid, MIN(rank) AS rank FROM (\n"
    "    SELECT rowid, bm25(messages_fts) AS rank FROM messages_fts\n"
    "    WHERE messages_fts MATCH ?\n"
    "    UNION ALL\n"
    "    SELECT hm.rowid, bm25(attachment_names_fts) FROM attachment_names_fts\n"
    "    JOIN attachments a ON a.rowid = attachment_names_fts.rowid\n"
    "    JOIN messages hm ON hm.guid = a.message_guid\n"
    "    WHERE attachment_names_fts MATCH ?)\n"
    "  GROUP BY rowid) hits\n"
    "JOIN messages m ON m.rowid = hits.rowid\n";
constexpr std::string_view kByHitRank = "ORDER BY hits.rank\nLIMIT ?";
constexpr std::string_view kHasEmoji =
    "m.guid IN (SELECT message_guid FROM message_emoji WHERE emoji = ?)";
constexpr std::string_view kNameJoins = "LEFT JOIN person_handles ph ON ph.handle = m.sender\n"
                                        "LEFT JOIN people p ON p.person_id = ph.person_id\n"
                                        "LEFT JOIN chats c ON c.chat_id = m.chat_id\n";
constexpr std::string_view kMatch = "messages_fts MATCH ?";
constexpr std::string_view kByRank = "ORDER BY bm25(messages_fts)\nLIMIT ?";
constexpr std::string_view kNewestFirst = "ORDER BY m.timestamp DESC, m.rowid DESC\nLIMIT ?";

// "?, ?, ?" for `count` values.
std::string placeholders(size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += i == 0 ? "?" : ", ?";
    }
    return text;
}

// The statement of one search and its parameters after the MATCH expression
// (texts, then integers, in the order of their placeholders).
struct ScopedSql {
    std::string sql;
    std::vector<std::string> texts;
    std::vector<int64_t> integers;
    // How many times the MATCH expression is bound, first.
    int matches = 0;
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
        condition += " AND r.sender IN (" + placeholders(reactions.by->size()) + ")";
        texts.insert(texts.end(), reactions.by->begin(), reactions.by->end());
    }
    return condition + ")";
}

ScopedSql scopedSql(bool ranked, bool named, bool attachmentsKept, bool chatsKept,
                    bool namesIndexed, bool reactionsKept, const std::vector<std::string>& emoji,
                    const MessageScope& scope) {
    ScopedSql out;
    std::vector<std::string> conditions;
    const bool byHits = ranked && namesIndexed;
    if (byHits) {
        out.matches = 2;
    } else if (ranked) {
        conditions.emplace_back(kMatch);
        out.matches = 1;
    }
    if (scope.senders) {
        std::vector<std::string> either;
        if (!scope.senders->empty()) {
            either.push_back("(m.is_from_me = 0 AND m.sender IN (" +
                             placeholders(scope.senders->size()) + "))");
            out.texts.insert(out.texts.end(), scope.senders->begin(), scope.senders->end());
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
            conditions.push_back("m.chat_id IN (" + placeholders(scope.chatIds->size()) + ")");
            out.texts.insert(out.texts.end(), scope.chatIds->begin(), scope.chatIds->end());
        } else {
            // A message is in a chat when it is stored with it or joined to it.
            const std::string list = placeholders(scope.chatIds->size());
            conditions.push_back("(m.chat_id IN (" + list +
                                 ") OR m.guid IN (SELECT message_guid FROM message_chats "
                                 "WHERE chat_id IN (" +
                                 list + ")))");
            out.texts.insert(out.texts.end(), scope.chatIds->begin(), scope.chatIds->end());
            out.texts.insert(out.texts.end(), scope.chatIds->begin(), scope.chatIds->end());
        }
    }
    // Every emoji of the query must be among the message's.
    for (const std::string& one : emoji) {
        conditions.emplace_back(kHasEmoji);
        out.texts.push_back(one);
    }
    if (scope.attachmentKinds) {
        conditions.push_back(
            attachmentCondition(*scope.attachmentKinds, attachmentsKept, out.texts));
    }
    if (scope.reactions) {
        conditions.push_back(reactionCondition(*scope.reactions, reactionsKept, out.texts));
    }
    // The time's integers are bound after every text: it comes last.
    if (scope.time.start || scope.time.end) {
        StoreDateFilter filter = storeDateFilter("m.timestamp", scope.time);
        conditions.push_back("(" + filter.sql + ")");
        out.integers = std::move(filter.parameters);
    }
    out.sql = std::string(kColumns);
    out.sql += byHits ? kRankedHits : ranked ? kRanked : kUnranked;
    out.sql += named ? kNamedColumns : kUnnamedColumns;
    out.sql += byHits ? kFromHits : ranked ? kFromIndex : kFromMessages;
    if (named) {
        out.sql += kNameJoins;
    }
    for (size_t i = 0; i < conditions.size(); ++i) {
        out.sql += (i == 0 ? "WHERE " : " AND ") + conditions[i];
    }
    out.sql += "\n";
    out.sql += byHits ? kByHitRank : ranked ? kByRank : kNewestFirst;
    return out;
}

} // namespace

ShadowDBReader::SearchOutcome ShadowDBReader::search(const std::string& query,
                                                     const MessageScope& scope, int limit,
                                                     const QueryBounds& bounds) {
    const std::string typed(query.c_str(), std::strlen(query.c_str()));
    // The query's emoji are looked up in message_emoji (the full-text index
    // has none) and its words in the full-text index; a query of emoji alone
    // lists the messages holding them all, newest first.
    const std::vector<std::string> emoji =
        hasTable("message_emoji") ? EmojiText::emojiIn(typed) : std::vector<std::string>{};
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
    const bool named = hasPeopleTables();
    const bool attachmentsKept = scope.attachmentKinds && hasTable("attachments");
    const bool reactionsKept = scope.reactions && hasTable("reactions");
    const bool chatsKept = scope.chatIds && hasTable("message_chats");
    const bool namesIndexed = ranked && hasTable("attachment_names_fts");
    const ScopedSql built = scopedSql(ranked, named, attachmentsKept, chatsKept, namesIndexed,
                                      reactionsKept, emoji, scope);
    sqlite::Statement statement = guarded([&] { return db_.prepare(built.sql); });
    StatementLimits limits(handle(), bounds.timeLimit, bounds.maxValueBytes);
    int index = 1;
    for (int i = 0; i < built.matches; ++i) {
        statement.bindText(index++, expression);
    }
    for (const std::string& text : built.texts) {
        statement.bindText(index++, text);
    }
    for (int64_t value : built.integers) {
        statement.bindInt64(index++, value);
    }
    statement.bindInt(index, limit);

    SearchOutcome outcome;
    ResultBudget budget(bounds.maxCellBytes, bounds.maxResultBytes);
    try {
        while (statement.step()) {
            if (statement.isNull(0) || statement.isNull(1) || statement.isNull(3) ||
                statement.isNull(4)) {
                continue;
            }
            outcome.results.push_back(SearchResult{
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
            });
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
            throw Error(Error::Kind::queryFailed, searchTimeLimitMessage(bounds));
        }
        if (error.primaryCode() == SQLITE_ERROR) {
            return {};
        }
        throw Error::fromSQLite(error, path_);
    }
    if (limits.timedOut()) {
        throw Error(Error::Kind::queryFailed, searchTimeLimitMessage(bounds));
    }
    outcome.cutTexts = budget.cutCells();
    return outcome;
}

} // namespace orlune::core

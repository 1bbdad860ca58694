#include "answer/MessageSearch.hpp"

#include "base/TextFold.hpp"
#include "contacts/PersonNames.hpp"
#include "shadow/MatchExpression.hpp"
#include "time/TimeExpressionParser.hpp"

#include <algorithm>

namespace orlune::core {

namespace {

bool meansMe(const std::string& typed) {
    const std::string folded = text::foldCase(typed);
    return folded == "me" || folded == "you" || folded == "myself";
}

const TimeExpressionParser& parser() {
    static const TimeExpressionParser instance;
    return instance;
}

// Why `typed`, which the parser could not read, is not a time a message can
// be from: it is in the future, further back than any message, or not a time.
std::string unreadableTime(const std::string& typed) {
    std::string words;
    size_t longestNumber = 0;
    size_t number = 0;
    for (const text::Token& token : text::tokenize(typed)) {
        words += " " + token.folded;
        number = token.kind == text::TokenKind::number ? number + token.folded.size() : 0;
        longestNumber = std::max(longestNumber, number);
    }
    words += " ";
    for (const char* future : {" tomorrow ", " next ", " in a ", " from now ", " later "}) {
        if (words.find(future) != std::string::npos) {
            return "is in the future, and messages are all in the past (try \"today\" or "
                   "\"this week\")";
        }
    }
    if (longestNumber > 4) {
        return "is further back than any message (try a year such as \"in 2015\")";
    }
    return "is not a time Orlune can read (try \"yesterday\", \"last week\", \"in March\", "
           "\"3 days ago\" or \"2025-03-14\")";
}

TimeRange readTime(const char* option, const std::string& typed, const TimeContext& context) {
    std::optional<TimeRange> range = parser().parse(typed, context);
    if (!range) {
        throw SearchFilterError(std::string(option) + ": \"" + typed + "\" " +
                                unreadableTime(typed));
    }
    return *range;
}

bool containsFolded(const std::string& text, const std::string& foldedTyped) {
    return !foldedTyped.empty() && text::foldCase(text).find(foldedTyped) != std::string::npos;
}

void addOnce(std::vector<std::string>& list, const std::string& value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) {
        list.push_back(value);
    }
}

constexpr const char* kHowToQuote =
    "Put words with punctuation in double quotes to search them as written, as in "
    "'\"what's up\"' or '\"check-in\"'.";

// `query`'s words for FTS5: each run of characters between spaces as one
// quoted string (FTS5 reads it as the phrase of its words: "check-in" finds
// check-in, "dinner?" finds dinner), all of them required. "" when it has
// no words.
std::string plainWords(const std::string& query) {
    std::string words;
    size_t at = 0;
    while (at < query.size()) {
        const size_t begin = query.find_first_not_of(" \t\r\n", at);
        if (begin == std::string::npos) {
            break;
        }
        const size_t end = std::min(query.find_first_of(" \t\r\n", begin), query.size());
        const std::string_view chunk = std::string_view(query).substr(begin, end - begin);
        if (MatchExpression::measure(MatchExpression::quoted(chunk)).terms > 0) {
            words += (words.empty() ? "" : " ") + MatchExpression::quoted(chunk);
        }
        at = end;
    }
    return words;
}

} // namespace

ResolvedScope resolveFilters(ShadowDBReader& db, const SearchFilters& filters,
                             const TimeContext& context, const std::string& phoneRegion) {
    ResolvedScope resolved;
    MessageScope& scope = resolved.scope;

    // Whom a typed name means, read within bounds however large the
    // address book; what the bounds left out is said.
    auto named = [&](const std::string& typed) {
        ShadowPeopleTables::NamedHandles found = db.handlesNamed(typed, phoneRegion);
        if (found.peopleLeftOut > 0 || found.handlesLeftOut > 0) {
            resolved.notes.push_back(
                "\"" + typed + "\" names more people than one search can cover: only " +
                std::to_string(found.people) + " people" +
                (found.peopleLeftOut > 0
                     ? " (" + std::to_string(found.peopleLeftOut) + " others left out)"
                     : std::string()) +
                " and " + std::to_string(found.handleIds.size()) + " handles" +
                (found.handlesLeftOut > 0
                     ? " (" + std::to_string(found.handlesLeftOut) + " others left out)"
                     : std::string()) +
                " are searched. Give more of the name to narrow it.");
        }
        return std::move(found.handleIds);
    };

    if (!filters.from.empty()) {
        scope.senders.emplace();
        if (meansMe(filters.from)) {
            scope.fromMe = true;
        } else {
            *scope.senders = named(filters.from);
            if (scope.senders->empty()) {
                resolved.notes.push_back("No person or handle matches \"" + filters.from + "\".");
            }
        }
    }

    if (!filters.chat.empty()) {
        scope.chatIds.emplace();
        const NameQuery query(filters.chat);
        const std::string foldedTyped = text::foldCase(filters.chat);
        const std::vector<std::string> personHandles = named(filters.chat);
        for (const ChatTitleRow& chat : db.chats()) {
            bool match = (chat.displayName && query.fit(*chat.displayName) != NameFit::none) ||
                         query.fit(chat.title) == NameFit::whole ||
                         containsFolded(chat.chatId, foldedTyped);
            if (!match && !chat.isGroup && !personHandles.empty()) {
                for (const ChatParticipant& member : db.fetchChatParticipants(chat.chatId)) {
                    if (std::find(personHandles.begin(), personHandles.end(), member.handle) !=
                        personHandles.end()) {
                        match = true;
                        break;
                    }
                }
            }
            if (match) {
                addOnce(*scope.chatIds, chat.chatId);
            }
        }
        if (scope.chatIds->empty()) {
            resolved.notes.push_back("No chat matches \"" + filters.chat + "\".");
        }
    }

    if (!filters.since.empty()) {
        scope.time.start = readTime("since", filters.since, context).start;
    }
    if (!filters.until.empty()) {
        scope.time.end = readTime("until", filters.until, context).end;
    }
    if (scope.time.start && scope.time.end && *scope.time.end <= *scope.time.start) {
        throw SearchFilterError("since \"" + filters.since + "\" begins after until \"" +
                                filters.until +
                                "\" ends, so no message can be in between: swap them");
    }
    return resolved;
}

FilteredSearch searchMessages(ShadowDBReader& db, const std::string& query,
                              const SearchFilters& filters, int limit, const QueryBounds& bounds,
                              const TimeContext& context, const std::string& phoneRegion) {
    // The time limit covers the whole call: naming the people and chats
    // (a large address book takes its time), then the search in what is left.
    const SearchDeadline deadline(bounds);
    ResolvedScope resolved = resolveFilters(db, filters, context, phoneRegion);
    deadline.check();
    QueryBounds rest = bounds;
    rest.timeLimit = deadline.left();
    FilteredSearch result;
    result.notes = std::move(resolved.notes);
    try {
        result.outcome = db.search(query, resolved.scope, limit, rest);
        const bool blank = query.find_first_not_of(" \t\r\n") == std::string::npos;
        if (result.outcome.rejection && blank) {
            result.outcome.rejection.reset(); // nothing asked, nothing found
        } else if (result.outcome.rejection) {
            // Everyday text ("dinner?", "check-in", "what's up") is not an
            // FTS5 expression: its words are searched instead, and the
            // person told so; with no words, it is an error.
            const std::string words = plainWords(query);
            const std::string why = *result.outcome.rejection;
            rest.timeLimit = deadline.left();
            if (!words.empty()) {
                result.outcome = db.search(words, resolved.scope, limit, rest);
            }
            if (words.empty() || result.outcome.rejection) {
                throw ShadowDBError(ShadowDBError::Kind::queryFailed,
                                    "The search \"" + query + "\" could not be read (" + why +
                                        "). " + kHowToQuote);
            }
            result.notes.push_back("The search \"" + query + "\" could not be read as written (" +
                                   why + "), so its words were searched: " + words + ". " +
                                   kHowToQuote);
        }
    } catch (const ShadowDBError&) {
        deadline.check(); // out of time: said with the whole limit
        throw;
    }
    return result;
}

SearchDeadline::SearchDeadline(const QueryBounds& bounds)
    : bounds_(bounds), end_(std::chrono::steady_clock::now() + bounds.timeLimit) {}

std::chrono::milliseconds SearchDeadline::left() const {
    const auto now = std::chrono::steady_clock::now();
    return now >= end_ ? std::chrono::milliseconds(0)
                       : std::chrono::ceil<std::chrono::milliseconds>(end_ - now);
}

void SearchDeadline::check() const {
    if (std::chrono::steady_clock::now() >= end_) {
        throw ShadowDBError(ShadowDBError::Kind::queryFailed,
                            ShadowDBReader::searchTimeLimitMessage(bounds_));
    }
}

} // namespace orlune::core

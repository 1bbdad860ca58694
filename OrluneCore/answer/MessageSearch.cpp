#include "answer/MessageSearch.hpp"

#include "contacts/PersonNames.hpp"
#include "base/TextFold.hpp"
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

TimeRange readTime(const char* option, const std::string& typed, const TimeContext& context) {
    std::optional<TimeRange> range = parser().parse(typed, context);
    if (!range) {
        throw SearchFilterError(std::string(option) + ": \"" + typed +
                                "\" is not a time Orlune can read (try \"yesterday\", \"last "
                                "week\", \"in March\", \"3 days ago\" or \"2025-03-14\")");
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

} // namespace

ResolvedScope resolveFilters(ShadowDBReader& db, const SearchFilters& filters,
                             const TimeContext& context, const std::string& phoneRegion) {
    ResolvedScope resolved;
    MessageScope& scope = resolved.scope;

    std::optional<People> people;
    std::optional<std::vector<std::string>> handles;
    auto named = [&](const std::string& typed) {
        if (!people) {
            people = db.people();
            handles = db.knownHandles();
        }
        return findNamed(typed, *people, *handles, phoneRegion);
    };

    if (!filters.from.empty()) {
        scope.senders.emplace();
        if (meansMe(filters.from)) {
            scope.fromMe = true;
        } else {
            *scope.senders = named(filters.from).handleIds;
            if (scope.senders->empty()) {
                resolved.notes.push_back("No person or handle matches \"" + filters.from + "\".");
            }
        }
    }

    if (!filters.chat.empty()) {
        scope.chatIds.emplace();
        const NameQuery query(filters.chat);
        const std::string foldedTyped = text::foldCase(filters.chat);
        const std::vector<std::string> personHandles = named(filters.chat).handleIds;
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
    return resolved;
}

FilteredSearch searchMessages(ShadowDBReader& db, const std::string& query,
                              const SearchFilters& filters, int limit, const QueryBounds& bounds,
                              const TimeContext& context, const std::string& phoneRegion) {
    ResolvedScope resolved = resolveFilters(db, filters, context, phoneRegion);
    FilteredSearch result;
    result.outcome = db.search(query, resolved.scope, limit, bounds);
    result.notes = std::move(resolved.notes);
    return result;
}

} // namespace orlune::core

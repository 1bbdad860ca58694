#include "answer/AnswerSearchPlan.hpp"

#include "base/TextFold.hpp"
#include "shadow/MatchExpression.hpp"
#include "time/TimeWords.hpp"

#include <algorithm>

namespace orlune::core {

std::string prefixMatch(const std::vector<std::string>& words, std::string_view joiner) {
    std::string match;
    for (const std::string& word : words) {
        if (!match.empty()) {
            match += joiner;
        }
        match += MatchExpression::quoted(wordStem(word)) + "*";
    }
    return match;
}

std::vector<PlannedSearch> planSearches(const QuestionReading& reading) {
    const bool people = !reading.people.empty();
    const bool chats = !reading.chats.empty();
    const bool time = reading.time.has_value();
    const bool scoped = people || chats || time || reading.byMe ||
                        !reading.attachmentKinds.empty() || reading.aboutReactions;
    std::vector<PlannedSearch> plans;

    // The same words within each way of reading the people named: what they
    // sent weighs most (or what you sent them, for a question about what you
    // wrote), what was said in chats with them next.
    auto withinScope = [&](const std::string& match, double weight, WordsJoined joined) {
        if (reading.aboutReactions) {
            // Your reactions on what they sent, or theirs on anything.
            const PeopleScope senders =
                reading.byMe && people ? PeopleScope::fromThem : PeopleScope::any;
            const ReactedBy by = reading.byMe ? ReactedBy::me
                                 : people     ? ReactedBy::them
                                              : ReactedBy::anyone;
            plans.push_back({match, senders, chats, time, weight, false, by, joined});
            return;
        }
        PeopleScope first = people ? PeopleScope::fromThem : PeopleScope::any;
        if (reading.byMe) {
            first = people ? PeopleScope::fromMeToThem : PeopleScope::fromMe;
        } else if (reading.bothSides && people) {
            first = PeopleScope::chatsWithThem;
        }
        const bool fillsOnly = joined == WordsJoined::any;
        plans.push_back(
            {match, first, chats, time, weight, false, ReactedBy::none, joined, fillsOnly});
        if (people && first != PeopleScope::chatsWithThem) {
            plans.push_back({match, PeopleScope::chatsWithThem, chats, time, weight * 0.6, false,
                             ReactedBy::none, joined, joined != WordsJoined::each});
        }
    };

    if (reading.words.empty()) {
        if (scoped) {
            withinScope("", 1.0, WordsJoined::all);
        }
        return plans;
    }
    withinScope(prefixMatch(reading.words, " AND "), 1.0, WordsJoined::all);
    if (reading.words.size() > 1) {
        // Ranked together, one frequent word's short messages can fill the
        // whole list ("mom" for "mom ... grandma"); when no message has all
        // the words, a few words are searched one by one instead.
        const bool searchedApart = reading.words.size() <= kMaxWordsSearchedApart;
        withinScope(prefixMatch(reading.words, " OR "), 0.5, WordsJoined::any);
        for (size_t i = 0; searchedApart && i < reading.words.size(); ++i) {
            withinScope(prefixMatch({reading.words[i]}, ""), 0.5, WordsJoined::each);
        }
    }
    if (scoped) {
        // A misremembered name or day should not hide the answer: the words
        // without the time, chats and attachments named, in your
        // conversations with the people named, then in what they wrote
        // anywhere, then everywhere; each step the words together, then any
        // of them or of the months and days the time names ("hiking
        // Saturday" for "the hike on Saturday"; "last week" adds nothing:
        // messages do not say it of the day they were sent, and such common
        // words would make the search slow).
        std::vector<std::string> wider = reading.words;
        for (const text::Token& token : text::tokenize(reading.timeWords)) {
            if (token.kind == text::TokenKind::word &&
                TimeWords::english().namesMonthOrWeekday(token.folded) &&
                std::find(wider.begin(), wider.end(), token.folded) == wider.end()) {
                wider.push_back(token.folded);
            }
        }
        auto widen = [&](PeopleScope scope, int step) {
            plans.push_back({prefixMatch(reading.words, " AND "), scope, false, false, 0.5, true,
                             ReactedBy::none, WordsJoined::all, false, step});
            if (wider.size() > 1 && wider.size() <= kMaxQuestionWords) {
                plans.push_back({prefixMatch(wider, " OR "), scope, false, false, 0.25, true,
                                 ReactedBy::none, WordsJoined::all, false, step});
            }
        };
        const bool narrowed = time || chats || reading.byMe || !reading.attachmentKinds.empty() ||
                              reading.aboutReactions;
        if (people && narrowed) {
            widen(PeopleScope::chatsWithThem, 1);
            widen(PeopleScope::fromThem, 2);
        }
        widen(PeopleScope::any, 3);
    }
    return plans;
}

} // namespace orlune::core

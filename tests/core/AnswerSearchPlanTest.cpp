// Planning the searches for a question from what was read in it.

#include "answer/AnswerSearchPlan.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

TEST(AnswerSearchPlan, WordsBecomeQuotedPrefixesOfTheirStems) {
    EXPECT_EQ(prefixMatch({"bringing", "wine"}, " AND "), "\"bring\"* AND \"wine\"*");
    EXPECT_EQ(prefixMatch({"4471"}, " OR "), "\"4471\"*");
    // A quote inside a word cannot end the string.
    EXPECT_EQ(prefixMatch({"a\"b"}, " OR "), "\"a\"\"b\"*");
    EXPECT_EQ(prefixMatch({}, " OR "), "");
}

// One plan as text: match|people|chats|time|weight|fallback, then what
// else it says (reactions, how words are joined, whether it only fills).
std::string describe(const PlannedSearch& plan) {
    const char* people = "";
    switch (plan.people) {
    case PeopleScope::any:
        people = "any";
        break;
    case PeopleScope::fromThem:
        people = "from";
        break;
    case PeopleScope::chatsWithThem:
        people = "with";
        break;
    case PeopleScope::fromMe:
        people = "me";
        break;
    case PeopleScope::fromMeToThem:
        people = "me-to";
        break;
    }
    const char* reacted = "";
    switch (plan.reactedBy) {
    case ReactedBy::none:
        break;
    case ReactedBy::anyone:
        reacted = "|reacted:anyone";
        break;
    case ReactedBy::me:
        reacted = "|reacted:me";
        break;
    case ReactedBy::them:
        reacted = "|reacted:them";
        break;
    }
    const char* joined = plan.joined == WordsJoined::any    ? "|words:any"
                         : plan.joined == WordsJoined::each ? "|words:each"
                                                            : "";
    return plan.match + "|" + people + "|" + (plan.withinChats ? "chats" : "") + "|" +
           (plan.withinTime ? "time" : "") + "|" + std::to_string(plan.weight).substr(0, 3) +
           (plan.fallback ? "|fallback" + std::to_string(plan.widening) : "") + reacted + joined +
           (plan.fillsOnly ? "|fills" : "");
}

TEST(AnswerSearchPlan, SearchesWithinWhatWasNamedAndWiderOnlyAsAFallback) {
    struct Case {
        const char* name;
        QuestionReading reading;
        std::vector<std::string> plans;
    };
    QuestionReading momYesterday;
    momYesterday.people = {1};
    momYesterday.time = TimeRange{};
    momYesterday.timeWords = "last Saturday";
    momYesterday.words = {"grandma"};
    QuestionReading twoWords;
    twoWords.words = {"wifi", "password"};
    QuestionReading pizzaLastWeek;
    pizzaLastWeek.time = TimeRange{};
    pizzaLastWeek.timeWords = "last week";
    pizzaLastWeek.words = {"pizza"};
    QuestionReading manyWords;
    manyWords.words = {"a", "b", "c", "d", "e"};
    QuestionReading photoFromAlex;
    photoFromAlex.people = {2};
    photoFromAlex.attachmentKinds = {AttachmentKind::Photo};
    QuestionReading chatOnly;
    chatOnly.chats = {0};
    QuestionReading toldJess;
    toldJess.byMe = true;
    toldJess.people = {0};
    toldJess.words = {"tickets"};
    QuestionReading mine;
    mine.byMe = true;
    mine.words = {"cabin"};
    QuestionReading iLovedFromJess = toldJess;
    iLovedFromJess.aboutReactions = true;
    iLovedFromJess.reactionKinds = {"love"};
    QuestionReading jessLiked;
    jessLiked.people = {0};
    jessLiked.aboutReactions = true;
    QuestionReading anyReaction;
    anyReaction.aboutReactions = true;
    const Case cases[] = {
        {"person, time and a word",
         momYesterday,
         {"\"grandma\"*|from||time|1.0", "\"grandma\"*|with||time|0.6|fills",
          // Wider step by step: the conversations with them, what they
          // wrote anywhere, then everyone's messages.
          "\"grandma\"*|with|||0.5|fallback1", "\"grandma\"* OR \"saturday\"*|with|||0.2|fallback1",
          "\"grandma\"*|from|||0.5|fallback2", "\"grandma\"* OR \"saturday\"*|from|||0.2|fallback2",
          "\"grandma\"*|any|||0.5|fallback3", "\"grandma\"* OR \"saturday\"*|any|||0.2|fallback3"}},
        // Relative time words are no day a message names.
        {"a word and a relative time",
         pizzaLastWeek,
         {"\"pizza\"*|any||time|1.0", "\"pizza\"*|any|||0.5|fallback3"}},
        {"words alone: together, then apart: ranked together, or one by one",
         twoWords,
         {"\"wifi\"* AND \"password\"*|any|||1.0",
          "\"wifi\"* OR \"password\"*|any|||0.5|words:any|fills", "\"wifi\"*|any|||0.5|words:each",
          "\"password\"*|any|||0.5|words:each"}},
        {"many words: apart only ranked together",
         manyWords,
         {"\"a\"* AND \"b\"* AND \"c\"* AND \"d\"* AND \"e\"*|any|||1.0",
          "\"a\"* OR \"b\"* OR \"c\"* OR \"d\"* OR \"e\"*|any|||0.5|words:any|fills"}},
        {"no words: the newest of the scope", photoFromAlex, {"|from|||1.0", "|with|||0.6|fills"}},
        {"a chat alone", chatOnly, {"|any|chats||1.0"}},
        {"what you told someone",
         toldJess,
         {"\"ticket\"*|me-to|||1.0", "\"ticket\"*|with|||0.6|fills",
          "\"ticket\"*|with|||0.5|fallback1", "\"ticket\"*|from|||0.5|fallback2",
          "\"ticket\"*|any|||0.5|fallback3"}},
        {"what you wrote", mine, {"\"cabin\"*|me|||1.0", "\"cabin\"*|any|||0.5|fallback3"}},
        // Reactions: yours on what they sent, or theirs on anything; the
        // fallback needs none.
        {"what you reacted to from someone",
         iLovedFromJess,
         {"\"ticket\"*|from|||1.0|reacted:me", "\"ticket\"*|with|||0.5|fallback1",
          "\"ticket\"*|from|||0.5|fallback2", "\"ticket\"*|any|||0.5|fallback3"}},
        {"what someone reacted to", jessLiked, {"|any|||1.0|reacted:them"}},
        {"any reaction", anyReaction, {"|any|||1.0|reacted:anyone"}},
        {"nothing named", QuestionReading{}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> plans;
        for (const PlannedSearch& plan : planSearches(c.reading)) {
            plans.push_back(describe(plan));
        }
        EXPECT_EQ(plans, c.plans);
    }
}

} // namespace
} // namespace orlune::core

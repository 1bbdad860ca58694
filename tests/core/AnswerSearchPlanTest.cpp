// Planning the searches for a question from what was read in it.

#include "answer/AnswerSearchPlan.hpp"

#include "shadow/MatchExpression.hpp"
#include "sql/QueryBounds.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

TEST(AnswerSearchPlan, WordsBecomeQuotedPrefixesOfTheirStems) {
    struct Case {
        const char* word;
        const char* term;
    };
    const Case cases[] = {
        // The word itself, so that it ranks above its other forms, and its
        // stem as a prefix.
        {"bringing", "(\"bringing\" OR \"bring\"*)"},
        {"wine", "(\"wine\" OR \"wine\"*)"},
        // A stem need not begin the word: "happy" is found as itself.
        {"happy", "(\"happy\" OR \"happi\"*)"},
        // "cat"* would find "catch" and "category": a short stem is taken
        // whole.
        {"cats", "(\"cats\" OR \"cats\"* OR \"cat\")"},
        {"dying", "(\"dying\" OR \"dying\"* OR \"die\")"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wordTerm(c.word), c.term) << c.word;
    }
    EXPECT_EQ(prefixMatch({"bringing", "wine"}, " AND "),
              "(\"bringing\" OR \"bring\"*) AND (\"wine\" OR \"wine\"*)");
    EXPECT_EQ(prefixMatch({"4471"}, " OR "), "(\"4471\" OR \"4471\"*)");
    // A quote inside a word cannot end the string.
    EXPECT_EQ(prefixMatch({"a\"b"}, " OR "), "(\"a\"\"b\" OR \"a\"\"b\"*)");
    EXPECT_EQ(prefixMatch({}, " OR "), "");
}

// What a search's term for a word finds, read in a message's text: the
// answer leaves out the messages holding an excluded word by it.
TEST(AnswerSearchPlan, AWordsFormsAreFoundInATextAsItsSearchFindsThem) {
    struct Case {
        const char* text;
        const char* word;
        bool holds;
    };
    const Case cases[] = {
        {"Boiler engineer coming Thursday", "engineer", true},
        {"two ENGINEERS came", "engineer", true},
        {"I'll bring it round", "bringing", true},
        {"the cat sat", "cats", true},
        {"catsup", "cats", true},
        // A short stem is no prefix: "cat" finds no "category".
        {"in that category", "cats", false},
        {"the engines", "boiler", false},
        {"", "engineer", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(holdsFormOf(c.text, c.word), c.holds) << c.text << " / " << c.word;
    }
}

TEST(AnswerSearchPlan, RelatedWordsStandBesideTheWordsWithinThePrefixBudget) {
    struct Case {
        const char* name;
        std::vector<std::string> words;
        std::vector<std::vector<std::string>> related;
        std::string match;
    };
    const std::string movie = wordTerm("movie");
    const std::string night = wordTerm("night");
    const std::vector<std::string> sixteen = {"a", "b", "c", "d", "e", "f", "g", "h",
                                              "i", "j", "k", "l", "m", "n", "o", "p"};
    const Case cases[] = {
        {"related words of each",
         {"movie", "night"},
         {{"film", "flick"}, {"evening"}},
         "(" + movie + " OR " + wordTerm("film") + " OR " + wordTerm("flick") + ") AND (" + night +
             " OR " + wordTerm("evening") + ")"},
        {"fewer lists than words",
         {"movie", "night"},
         {{"film"}},
         "(" + movie + " OR " + wordTerm("film") + ") AND " + night},
        {"none at all", {"movie"}, {}, movie},
        // Sixteen words leave no prefix term for related words.
        {"no room left", sixteen, {{"x"}}, prefixMatch(sixteen, " AND ")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(relatedMatch(c.words, c.related, " AND "), c.match) << c.name;
    }
    // Fourteen words leave two prefix terms: the first related words get them.
    const std::vector<std::string> fourteen(sixteen.begin(), sixteen.begin() + 14);
    const std::string match = relatedMatch(fourteen, {{"x", "y", "z"}}, " OR ");
    EXPECT_EQ(MatchExpression::measure(match).prefixTerms, QueryBounds::kDefaultMaxPrefixTerms);
    const std::string first =
        "(" + wordTerm("a") + " OR " + wordTerm("x") + " OR " + wordTerm("y") + ") OR ";
    EXPECT_EQ(match.substr(0, first.size()), first);
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
    QuestionReading otherWords;
    otherWords.words = {"movie"};
    otherWords.relatedWords = {{"film"}};
    QuestionReading twoOtherWords;
    twoOtherWords.words = {"movie", "night"};
    twoOtherWords.relatedWords = {{"film"}, {}};
    const std::string movie = wordTerm("movie");
    const std::string night = wordTerm("night");
    const std::string film = wordTerm("film");
    QuestionReading kidsHalloween;
    kidsHalloween.words = {"children", "dressing", "halloween"};
    kidsHalloween.relatedWords = {{"kid"}, {}, {}};
    const std::string kids = wordTerm("children");
    const std::string kid = wordTerm("kid");
    const std::string dressing = wordTerm("dressing");
    const std::string halloween = wordTerm("halloween");
    QuestionReading doctorDad;
    doctorDad.people = {3};
    doctorDad.personWords = {"dad"};
    doctorDad.words = {"doctor"};
    doctorDad.relatedWords = {{"gp"}};
    const std::string doctor = wordTerm("doctor");
    const std::string gp = wordTerm("gp");
    const std::string dad = wordTerm("dad");
    QuestionReading onADate;
    onADate.time = TimeRange{};
    onADate.timeWords = "8 June";
    QuestionReading partyOnADate;
    partyOnADate.people = {1};
    partyOnADate.time = TimeRange{};
    partyOnADate.timeWords = "on the 2nd of April";
    partyOnADate.words = {"party"};
    QuestionReading boilerNotEngineer;
    boilerNotEngineer.words = {"boiler"};
    boilerNotEngineer.excludedWords = {"engineer"};
    QuestionReading engineerTuesday;
    engineerTuesday.time = TimeRange{};
    engineerTuesday.timeWords = "Tuesday";
    engineerTuesday.words = {"engineer"};
    QuestionReading fridayMorning;
    fridayMorning.time = TimeRange{};
    fridayMorning.timeWords = "on Friday morning";
    const std::string boiler = wordTerm("boiler");
    const std::string engineer = wordTerm("engineer");
    const std::string party = wordTerm("party");
    const std::string april = wordTerm("april");
    const Case cases[] = {
        {"person, time and a word",
         momYesterday,
         {"(\"grandma\" OR \"grandma\"*)|from||time|1.0",
          "(\"grandma\" OR \"grandma\"*)|with||time|0.6|fills",
          // The day as a word, at any time: a message may speak of it ahead.
          "(\"grandma\" OR \"grandma\"*) AND \"saturday\"|with|||0.5",
          // Wider step by step: the conversations with them, what they
          // wrote anywhere, then everyone's messages.
          "(\"grandma\" OR \"grandma\"*)|with|||0.5|fallback1",
          "(\"grandma\" OR \"grandma\"*) OR (\"saturday\" OR \"saturday\"*)|with|||0.2|fallback1",
          "(\"grandma\" OR \"grandma\"*)|from|||0.5|fallback2",
          "(\"grandma\" OR \"grandma\"*) OR (\"saturday\" OR \"saturday\"*)|from|||0.2|fallback2",
          "(\"grandma\" OR \"grandma\"*)|any|||0.5|fallback3",
          "(\"grandma\" OR \"grandma\"*) OR (\"saturday\" OR \"saturday\"*)|any|||0.2|fallback3"}},
        // Relative time words are no day a message names.
        {"a word and a relative time",
         pizzaLastWeek,
         {"(\"pizza\" OR \"pizza\"*)|any||time|1.0",
          "(\"pizza\" OR \"pizza\"*)|any|||0.5|fallback3"}},
        {"words alone: together, then apart: ranked together, or one by one",
         twoWords,
         {"(\"wifi\" OR \"wifi\"*) AND (\"password\" OR \"password\"*)|any|||1.0",
          "(\"wifi\" OR \"wifi\"*) OR (\"password\" OR \"password\"*)|any|||0.5|words:any|fills",
          "(\"wifi\" OR \"wifi\"*)|any|||0.5|words:each",
          "(\"password\" OR \"password\"*)|any|||0.5|words:each"}},
        {"many words: apart only ranked together",
         manyWords,
         {"(\"a\" OR \"a\"*) AND (\"b\" OR \"b\"*) AND (\"c\" OR \"c\"*) AND (\"d\" OR \"d\"*) AND "
          "(\"e\" OR \"e\"*)|any|||1.0",
          "(\"a\" OR \"a\"*) OR (\"b\" OR \"b\"*) OR (\"c\" OR \"c\"*) OR (\"d\" OR \"d\"*) OR "
          "(\"e\" OR \"e\"*)|any|||0.5|words:any|fills"}},
        {"no words: the newest of the scope", photoFromAlex, {"|from|||1.0", "|with|||0.6|fills"}},
        {"a chat alone", chatOnly, {"|any|chats||1.0"}},
        {"what you told someone",
         toldJess,
         {"(\"tickets\" OR \"ticket\"*)|me-to|||1.0",
          "(\"tickets\" OR \"ticket\"*)|with|||0.6|fills",
          "(\"tickets\" OR \"ticket\"*)|with|||0.5|fallback1",
          "(\"tickets\" OR \"ticket\"*)|from|||0.5|fallback2",
          "(\"tickets\" OR \"ticket\"*)|any|||0.5|fallback3"}},
        {"what you wrote",
         mine,
         {"(\"cabin\" OR \"cabin\"*)|me|||1.0", "(\"cabin\" OR \"cabin\"*)|any|||0.5|fallback3"}},
        // Reactions: yours on what they sent, or theirs on anything; the
        // fallback needs none.
        {"what you reacted to from someone",
         iLovedFromJess,
         {"(\"tickets\" OR \"ticket\"*)|from|||1.0|reacted:me",
          "(\"tickets\" OR \"ticket\"*)|with|||0.5|fallback1",
          "(\"tickets\" OR \"ticket\"*)|from|||0.5|fallback2",
          "(\"tickets\" OR \"ticket\"*)|any|||0.5|fallback3"}},
        {"what someone reacted to", jessLiked, {"|any|||1.0|reacted:them"}},
        {"any reaction", anyReaction, {"|any|||1.0|reacted:anyone"}},
        // The same scopes with the related words, after the words alone.
        {"words said other ways",
         otherWords,
         {movie + "|any|||1.0", "(" + movie + " OR " + film + ")|any|||0.5"}},
        // Apart too, as the words are, when they are few.
        {"two words, one said other ways",
         twoOtherWords,
         {movie + " AND " + night + "|any|||1.0",
          movie + " OR " + night + "|any|||0.5|words:any|fills", movie + "|any|||0.5|words:each",
          night + "|any|||0.5|words:each",
          "(" + movie + " OR " + film + ") AND " + night + "|any|||0.5",
          film + "|any|||0.2|words:each"}},
        // Three words or more: any two of them, each with its related words,
        // when no message holds them all.
        {"two of three words, said other ways",
         kidsHalloween,
         {kids + " AND " + dressing + " AND " + halloween + "|any|||1.0",
          kids + " OR " + dressing + " OR " + halloween + "|any|||0.5|words:any|fills",
          kids + "|any|||0.5|words:each", dressing + "|any|||0.5|words:each",
          halloween + "|any|||0.5|words:each",
          "(" + kids + " OR " + kid + ") AND " + dressing + " AND " + halloween + "|any|||0.5",
          "((" + kids + " OR " + kid + ") AND " + dressing + ") OR ((" + kids + " OR " + kid +
              ") AND " + halloween + ") OR (" + dressing + " AND " + halloween +
              ")|any|||0.5|words:each",
          kid + "|any|||0.2|words:each"}},
        // Widened to everyone: first the messages that name the person as
        // the question did; the related words join the wider searches.
        {"a person's words and related words, widened",
         doctorDad,
         {doctor + "|from|||1.0", doctor + "|with|||0.6|fills",
          "(" + doctor + " OR " + gp + ")|from|||0.5",
          "(" + doctor + " OR " + gp + ")|with|||0.3|fills",
          "((" + doctor + " OR " + gp + ")) AND (" + dad + ")|any|||1.0|fallback3",
          doctor + "|any|||0.5|fallback3", "(" + doctor + " OR " + gp + ")|any|||0.2|fallback3",
          doctor + " OR " + dad + " OR " + gp + "|any|||0.2|fallback3"}},
        // A date named with its month is also looked for as messages write
        // it, at any time: a message may tell of the day before it comes.
        {"a date alone", onADate, {"|any||time|1.0", "\"8\"* AND \"june\"|any|||1.0"}},
        {"a person, a word and a date",
         partyOnADate,
         {party + "|from||time|1.0", party + "|with||time|0.6|fills",
          party + " AND \"2\"* AND \"april\"|with|||1.0", party + "|with|||0.5|fallback1",
          party + " OR " + april + "|with|||0.2|fallback1", party + "|from|||0.5|fallback2",
          party + " OR " + april + "|from|||0.2|fallback2", party + "|any|||0.5|fallback3",
          party + " OR " + april + "|any|||0.2|fallback3"}},
        // Every search leaves out the messages with an excluded word.
        {"an excluded word",
         boilerNotEngineer,
         {"(" + boiler + ") NOT (" + engineer + ")|any|||1.0"}},
        // A weekday beside the question's words may be the day a message
        // spoke of: looked for as a word too, below the search within it.
        {"a word and a weekday",
         engineerTuesday,
         {engineer + "|any||time|1.0", engineer + " AND \"tuesday\"|any|||0.5",
          engineer + "|any|||0.5|fallback3",
          engineer + " OR " + wordTerm("tuesday") + "|any|||0.2|fallback3"}},
        // Two words of time are looked for alone, as a date is.
        {"two words of time alone",
         fridayMorning,
         {"|any||time|1.0", "\"friday\" AND \"morning\"|any|||1.0"}},
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

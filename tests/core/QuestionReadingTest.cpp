// Reading a question before searching: people, chats, time, attachment
// kinds and the words left to search for.

#include "answer/QuestionReading.hpp"

#include "answer/QuestionLength.hpp"
#include "tests/support/InstantText.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using ::testing::ElementsAreArray;
using testing::instantAt;

Person person(std::string first, std::string last, std::vector<std::string> nicknames = {}) {
    Person p;
    p.firstName = std::move(first);
    p.lastName = std::move(last);
    p.nicknames = std::move(nicknames);
    p.displayName = p.firstName + (p.lastName.empty() ? "" : " " + p.lastName);
    return p;
}

// 0 Jess Day, 1 Carol Day (Mom), 2 Alex Kim, 3 Will Smith.
People everyone() {
    People people;
    people.people = {person("Jess", "Day"), person("Carol", "Day", {"Mom"}), person("Alex", "Kim"),
                     person("Will", "Smith")};
    return people;
}

const std::vector<std::string> kChatTitles = {"Book Club", "Ski Trip 2024", "Book Club Extra"};

// Thursday 11 December 2025, 15:00 in London.
const TimeContext kNow{instantAt("2025-12-11T15:00+00:00"), "Europe/London", "en_GB"};

TEST(QuestionReading, ReadsPeopleChatsTimesAttachmentsAndWords) {
    struct Case {
        const char* question;
        std::vector<size_t> people;
        std::vector<size_t> chats;
        const char* timeWords; // "" for no time
        std::vector<AttachmentKind> kinds;
        std::vector<std::string> words;
        const char* described;
    };
    const Case cases[] = {
        {"What did Mom say about Grandma yesterday?",
         {1},
         {},
         "yesterday",
         {},
         {"grandma"},
         R"(messages from Carol Day yesterday about "grandma")"},
        {"when did alex send me a photo?",
         {2},
         {},
         "",
         {AttachmentKind::Photo},
         {},
         "messages from Alex Kim with a photo"},
        {"What's Jess's flight number?",
         {0},
         {},
         "",
         {},
         // "number" says what is asked for, not what the message says.
         {"flight"},
         R"(messages from Jess Day about "flight")"},
        // The longest title wins; "chat" is not a word to search for.
        {"who is bringing wine in the Book Club Extra chat last week?",
         {},
         {2},
         "last week",
         {},
         {"bringing", "wine"},
         R"(messages in Book Club Extra last week about "bringing" and "wine")"},
        {"cabin wifi password",
         {},
         {},
         "",
         {},
         {"cabin", "wifi", "password"},
         R"(messages about "cabin", "wifi" and "password")"},
        {"Did Jess send a voice message or a PDF since March?",
         {0},
         {},
         "since March",
         {AttachmentKind::VoiceMessage, AttachmentKind::Pdf},
         {},
         "messages from Jess Day with a voice message or a pdf since March"},
        // A sentence without spaces is cut into its words; particles of one
        // character and question words are left out.
        {"火锅是什么时候吃的？", {}, {}, "", {}, {"火锅"}, R"(messages about "火锅")"},
        {"東京の天気は？", {}, {}, "", {}, {"東京", "天気"}, R"(messages about "東京" and "天気")"},
        {"雨", {}, {}, "", {}, {"雨"}, R"(messages about "雨")"},
        // Accents and case are folded; numbers are words; repeats count once.
        {"CAFÉ café 4471 gate code",
         {},
         {},
         "",
         {},
         {"cafe", "4471", "gate", "code"},
         R"(messages about "cafe", "4471", "gate" and "code")"},
        // An everyday word that is also a name is not a person.
        {"will it rain on the ski trip 2024?",
         {},
         {1},
         "",
         {},
         {"rain"},
         R"(messages in Ski Trip 2024 about "rain")"},
        {"what did they say?", {}, {}, "", {}, {}, "messages"},
        // A bare day takes the word that joins it to "messages".
        {"who booked the van Saturday?",
         {},
         {},
         "Saturday",
         {},
         {"booked", "van"},
         R"(messages on Saturday about "booked" and "van")"},
        // A run that closes up once the one inside it is read is read too.
        {"voice voice message message about rent",
         {},
         {},
         "",
         {AttachmentKind::VoiceMessage},
         {"rent"},
         R"(messages with a voice message about "rent")"},
        {"what did I tell Jess about the tickets?",
         {0},
         {},
         "",
         {},
         {"tickets"},
         R"(your messages to Jess Day about "tickets")"},
    };
    const People people = everyone();
    const TimeExpressionParser parser;
    const QuestionReader reader(people, kChatTitles, parser);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question);
        const QuestionReading reading = reader.read(c.question, kNow);
        EXPECT_THAT(reading.people, ElementsAreArray(c.people));
        EXPECT_THAT(reading.chats, ElementsAreArray(c.chats));
        EXPECT_EQ(reading.timeWords, c.timeWords);
        EXPECT_EQ(reading.time.has_value(), *c.timeWords != '\0');
        EXPECT_THAT(reading.attachmentKinds, ElementsAreArray(c.kinds));
        EXPECT_THAT(reading.words, ElementsAreArray(c.words));
        EXPECT_EQ(describeReading(reading, people, kChatTitles), c.described);
    }
}

// Questions about reactions: who reacted is the person named, or you with
// "I" (the person named then sent the message).
TEST(QuestionReading, ReadsReactionsAndWhoLeftThem) {
    struct Case {
        const char* question;
        bool aboutReactions;
        std::vector<std::string> kinds;
        std::vector<size_t> people;
        std::vector<std::string> words;
        const char* described;
    };
    const Case cases[] = {
        {"which of Mom's messages did I love?",
         true,
         {"love"},
         {1},
         {},
         "messages from Carol Day that you reacted to (love)"},
        {"what did Jess like?",
         true,
         {"like"},
         {0},
         {},
         "messages that Jess Day reacted to (like)"},
        {"messages Alex loved or laughed at about tickets",
         true,
         {"love", "laugh"},
         {2},
         {"tickets"},
         R"(messages that Alex Kim reacted to (love or laugh) about "tickets")"},
        {"what did someone react to?", true, {}, {}, {}, "messages that someone reacted to"},
        // The plain verb counts only after "did".
        {"Jess would like the wifi password", false, {}, {0}, {}, ""},
    };
    const People people = everyone();
    const TimeExpressionParser parser;
    const QuestionReader reader(people, kChatTitles, parser);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question);
        const QuestionReading reading = reader.read(c.question, kNow);
        EXPECT_EQ(reading.aboutReactions, c.aboutReactions);
        EXPECT_THAT(reading.reactionKinds, ElementsAreArray(c.kinds));
        EXPECT_THAT(reading.people, ElementsAreArray(c.people));
        if (c.aboutReactions) {
            EXPECT_THAT(reading.words, ElementsAreArray(c.words));
            EXPECT_EQ(describeReading(reading, people, kChatTitles), c.described);
        }
    }
}

TEST(QuestionReading, TheTimeIsTheRangeItNames) {
    const People people = everyone();
    const TimeExpressionParser parser;
    const QuestionReader reader(people, {}, parser);
    const QuestionReading reading = reader.read("what did Mom say yesterday", kNow);
    ASSERT_TRUE(reading.time);
    EXPECT_EQ(reading.time->start, instantAt("2025-12-10T00:00+00:00"));
    EXPECT_EQ(reading.time->end, instantAt("2025-12-11T00:00+00:00"));
}

TEST(QuestionReading, KeepsAtMostSixteenWordsOfSixtyFourBytesOrFewer) {
    std::string question = std::string(65, 'x') + " ";
    for (int i = 0; i < 20; ++i) {
        question += std::string("word") + static_cast<char>('a' + i) + " ";
    }
    const People people;
    const TimeExpressionParser parser;
    const QuestionReading reading = QuestionReader(people, {}, parser).read(question, kNow);
    ASSERT_EQ(reading.words.size(), kMaxQuestionWords);
    EXPECT_EQ(reading.words.front(), "worda");
    EXPECT_EQ(reading.words.back(), "wordp");
}

// The hand-kept everyday words stand first among a word's related words,
// by the word's stem, with or without WordNet.
TEST(QuestionReading, EverydayWordsAreRelatedWithoutWordNet) {
    struct Case {
        const char* word;
        std::vector<std::string> related;
    };
    const Case cases[] = {
        {"mechanic", {"garage"}},
        {"mechanics", {"garage"}},
        // An irregular form no stemmer reaches; a short word the table holds.
        {"running", {"ran"}},
        {"mouse", {"mice"}},
        {"doctor", {"gp"}},
        {"dentist", {"teeth", "dental"}},
        {"movie", {}},
        {"", {}},
    };
    const WordNet none{std::filesystem::path()};
    for (const Case& c : cases) {
        EXPECT_EQ(relatedWords(c.word, none), c.related) << c.word;
    }
    const People people = everyone();
    const TimeExpressionParser parser;
    const QuestionReader reader(people, kChatTitles, parser);
    const QuestionReading reading = reader.read("what did the mechanic tell Mom?", kNow);
    EXPECT_THAT(reading.words, ElementsAreArray({"mechanic"}));
    ASSERT_EQ(reading.relatedWords.size(), 1u);
    EXPECT_THAT(reading.relatedWords[0], ElementsAreArray({"garage"}));
    EXPECT_THAT(reading.personWords, ElementsAreArray({"mom"}));
}

TEST(QuestionReading, StemsFindTheOtherFormsOfAWord) {
    struct Case {
        const char* word;
        const char* stem;
    };
    const Case cases[] = {
        {"bringing", "bring"},
        {"running", "run"},
        {"planned", "plan"},
        {"tickets", "ticket"},
        {"boxes", "box"},
        {"parties", "parti"},
        {"party", "parti"},
        {"glass", "glass"},
        {"bus", "bus"},
        {"wine", "wine"},
        {"bed", "bed"},
        {"calling", "call"},
        {"address", "address"},
        {"sing", "sing"},
        {"red", "red"},
        {"things", "thing"},
        {"happily", "happili"},
        {"dying", "die"},
        {"cats", "cat"},
        {"4471", "4471"},
        // Words of other scripts, and words too long for a word, stay whole.
        {"東京", "東京"},
        {"supercalifragilisticexpialidocioussupercalifragilisticexpialidociouss",
         "supercalifragilisticexpialidocioussupercalifragilisticexpialidociouss"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wordStem(c.word), c.stem) << c.word;
    }
}

// A long question (the cap's length, made of the words that used to make
// reading it slow) reads as the short one does.
TEST(QuestionReading, ALongQuestionOfRepeatedWordsReadsAsItsShortForm) {
    std::string question;
    while (question.size() + 40 < kMaxQuestionCharacters) {
        question += "the photo pdf yesterday Book Club voice ";
    }
    question += "message about rent";
    const People people = everyone();
    const TimeExpressionParser parser;
    const QuestionReader reader(people, kChatTitles, parser);
    const QuestionReading reading = reader.read(question, kNow);
    EXPECT_THAT(reading.chats, ElementsAreArray({size_t{0}}));
    EXPECT_THAT(reading.attachmentKinds,
                ElementsAreArray(
                    {AttachmentKind::VoiceMessage, AttachmentKind::Photo, AttachmentKind::Pdf}));
    EXPECT_EQ(reading.timeWords, "yesterday");
    // The first "Book Club" names the chat; the later ones are words.
    EXPECT_THAT(reading.words, ElementsAreArray({"voice", "book", "club", "rent"}));
}

TEST(QuestionLength, QuestionsOverTheCapAreRefusedByTheirCharacters) {
    struct Case {
        std::string question;
        std::optional<std::string> problem;
    };
    std::string accented;
    for (size_t i = 0; i < kMaxQuestionCharacters; ++i) {
        accented += "\xC3\xA9"; // é: two bytes, one character
    }
    const Case cases[] = {
        {"", std::nullopt},
        {std::string(kMaxQuestionCharacters, 'q'), std::nullopt},
        {accented, std::nullopt},
        {std::string(kMaxQuestionCharacters + 1, 'q'),
         "This question is 4,001 characters long; ask it in at most 4,000 characters."},
        {accented + "!", "This question is 4,001 characters long; ask it in at most 4,000 "
                         "characters."},
        {std::string(1234567, 'q'),
         "This question is 1,234,567 characters long; ask it in at most 4,000 characters."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(questionLengthProblem(c.question), c.problem) << c.question.size();
    }
}

} // namespace
} // namespace orlune::core

namespace orlune::core {
namespace {

// How a question is put: whose messages it asks about ("I" only with a verb
// of telling or sending), whether it asks when rather than what, the kind of
// thing it asks for, and when an attachment word is a filter.
// Words the messages must not hold: after a search's "NOT" or '-', or a
// phrase that leaves something out; a "not" that negates a verb leaves
// nothing out.
TEST(QuestionReading, ReadsTheWordsTheMessagesMustNotHold) {
    struct Case {
        const char* question;
        std::vector<std::string> words;
        std::vector<std::string> excluded;
    };
    const Case cases[] = {
        {"boiler NOT engineer", {"boiler"}, {"engineer"}},
        {"boiler NOT the engineer NOT plumber", {"boiler"}, {"engineer", "plumber"}},
        {"boiler -engineer", {"boiler"}, {"engineer"}},
        {"what did Jess say about dinner but not the birthday?", {"dinner"}, {"birthday"}},
        {"dinner, not birthday", {"dinner"}, {"birthday"}},
        {"trips except Lisbon", {"trips"}, {"lisbon"}},
        {"cake without chocolate", {"cake"}, {"chocolate"}},
        // An act not done is what a message tells of.
        {"what did Jess fix without charging me", {"fix", "charging"}, {}},
        {"parking other than the car park", {"parking", "park"}, {"car"}},
        {"flights apart from the wedding", {"flights"}, {"wedding"}},
        // An excluded word is not searched for, wherever else it stands.
        {"engineer boiler NOT engineer", {"boiler"}, {"engineer"}},
        // "not" negating a verb; a '-' inside a word.
        {"why is the boiler not working", {"boiler", "working"}, {}},
        {"lowercase not is no operator: boiler not engineer",
         {"lowercase", "operator", "boiler", "engineer"},
         {}},
        {"e-mail from the landlord", {"mail", "landlord"}, {}},
        {"NOT", {}, {}},
    };
    const People people = everyone();
    const TimeExpressionParser parser;
    const QuestionReader reader(people, kChatTitles, parser);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question);
        const QuestionReading reading = reader.read(c.question, kNow);
        EXPECT_THAT(reading.words, ElementsAreArray(c.words));
        EXPECT_THAT(reading.excludedWords, ElementsAreArray(c.excluded));
    }
    const QuestionReading reading = reader.read("what did Jess say about cake NOT chocolate", kNow);
    EXPECT_EQ(describeReading(reading, people, kChatTitles),
              R"(messages from Jess Day about "cake" without "chocolate")");
}

TEST(QuestionReading, ReadsHowTheQuestionIsPut) {
    struct Case {
        const char* question;
        bool byMe;
        bool bothSides;
        WhenAsked when;
        AskedFor askedFor;
        std::vector<AttachmentKind> kinds;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"what did I tell Jess about the tickets?",
         true,
         false,
         WhenAsked::no,
         AskedFor::anything,
         {},
         {"tickets"}},
        {"did I ever send Alex the recipe",
         true,
         false,
         WhenAsked::no,
         AskedFor::anything,
         {},
         {"recipe"}},
        // "I" in a clause: the question is about what Jess said.
        {"what did Jess say when I asked if she could feed the cat?",
         false,
         false,
         WhenAsked::no,
         AskedFor::anything,
         {},
         {"feed", "cat"}},
        // (Thursday is read as a time; the wider searches look for the word.)
        {"what did she answer when I suggested Thursday",
         false,
         false,
         WhenAsked::no,
         AskedFor::anything,
         {},
         {}},
        // "I" without a verb of telling: the person's messages.
        {"how much do I owe Jess for the tickets?",
         false,
         false,
         WhenAsked::no,
         AskedFor::amount,
         {},
         {"owe", "tickets"}},
        {"when did I last talk to Alex?",
         false,
         true,
         WhenAsked::latest,
         AskedFor::anything,
         {},
         {}},
        {"when did Jess first message me",
         false,
         false,
         WhenAsked::first,
         AskedFor::anything,
         {},
         {}},
        {"the last time Alex posted in the Book Club",
         false,
         false,
         WhenAsked::latest,
         AskedFor::anything,
         {},
         {}},
        {"how often did Jess mention the gym?",
         false,
         false,
         WhenAsked::howOften,
         AskedFor::anything,
         {},
         {"gym"}},
        {"how many times did Alex cancel",
         false,
         false,
         WhenAsked::howOften,
         AskedFor::anything,
         {},
         {"cancel"}},
        {"what's Jess's train number?",
         false,
         false,
         WhenAsked::no,
         AskedFor::numberOrCode,
         {},
         {"train"}},
        {"what's the gate code",
         false,
         false,
         WhenAsked::no,
         AskedFor::numberOrCode,
         {},
         {"gate", "code"}},
        {"what time is the recital",
         false,
         false,
         WhenAsked::no,
         AskedFor::timeOrDate,
         {},
         {"recital"}},
        {"when is the recital?",
         false,
         false,
         WhenAsked::no,
         AskedFor::timeOrDate,
         {},
         {"recital"}},
        {"where are we meeting Alex",
         false,
         false,
         WhenAsked::no,
         AskedFor::place,
         {},
         {"meeting"}},
        {"what's the address of the venue",
         false,
         false,
         WhenAsked::no,
         AskedFor::place,
         {},
         {"venue"}},
        {"what was the link Jess shared for the festival?",
         false,
         false,
         WhenAsked::no,
         AskedFor::link,
         {},
         {"festival"}},
        // An attachment word is a filter with a verb of sending, or in a
        // question without a verb of saying; otherwise it is a topic.
        {"what did Jess ask about the wedding photos?",
         false,
         false,
         WhenAsked::no,
         AskedFor::anything,
         {},
         {"wedding", "photos"}},
        {"which photos did Jess send of the wedding",
         false,
         false,
         WhenAsked::no,
         AskedFor::anything,
         {AttachmentKind::Photo},
         {"wedding"}},
        {"photos in the Book Club",
         false,
         false,
         WhenAsked::no,
         AskedFor::anything,
         {AttachmentKind::Photo},
         {}},
    };
    const People people = everyone();
    const TimeExpressionParser parser;
    const QuestionReader reader(people, kChatTitles, parser);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question);
        const QuestionReading reading = reader.read(c.question, kNow);
        EXPECT_EQ(reading.byMe, c.byMe);
        EXPECT_EQ(reading.bothSides, c.bothSides);
        EXPECT_EQ(reading.when, c.when);
        EXPECT_EQ(reading.askedFor, c.askedFor);
        EXPECT_THAT(reading.attachmentKinds, ElementsAreArray(c.kinds));
        EXPECT_THAT(reading.words, ElementsAreArray(c.words));
    }
}

// A clause on what someone asked ("... Jess was asking about") makes your
// reply the answer, one on what I asked ("... when I asked about") theirs;
// "show" asks only at the head of a question.
TEST(QuestionReading, ReadsWhoseReplyAnswersAndWhenShowIsATopic) {
    struct Case {
        const char* question;
        bool repliedToThem;
        bool afterMine;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"where are the old photos Jess was asking about", true, false, {"old", "photos"}},
        {"the link for the insurance Jess asked about", true, false, {"insurance"}},
        {"the recipe Alex asked for", true, false, {"recipe"}},
        {"what did Jess say when I asked about the deposit", false, true, {"deposit"}},
        {"what did Alex reply after I told him about the move", false, true, {"move"}},
        // Their question itself, or mine.
        {"did Jess ask about the photos", false, false, {"photos"}},
        {"what did I ask Jess about", false, false, {}},
        // No one named: nobody's reply to look for.
        {"what did they say when I asked about the deposit", false, false, {"deposit"}},
        {"photos Jess sent of the end of year show", false, false, {"end", "year", "show"}},
        {"show me messages about the rent", false, false, {"rent"}},
    };
    const People people = everyone();
    const TimeExpressionParser parser;
    const QuestionReader reader(people, kChatTitles, parser);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question);
        const QuestionReading reading = reader.read(c.question, kNow);
        EXPECT_EQ(reading.repliedToThem, c.repliedToThem);
        EXPECT_EQ(reading.afterMine, c.afterMine);
        EXPECT_THAT(reading.words, ElementsAreArray(c.words));
    }
}

} // namespace
} // namespace orlune::core

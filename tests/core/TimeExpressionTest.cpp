// Time expressions as people write them, resolved against a fixed now, zone
// and locale. Expected bounds carry the UTC offset in force at that local
// time, so a daylight-saving change shows as a change of offset.

#include "tests/support/InstantText.hpp"
#include "time/TimeExpressionParser.hpp"

#include <gtest/gtest.h>

namespace orlune::core {
namespace {

using testing::instantAt;
using testing::utcText;

// Open bound.
constexpr const char* kOpen = "";

// A Wednesday afternoon in London, in summer time.
constexpr const char* kJune = "2024-06-12T15:30+01:00";

// One expression and the range it should give; kOpen for an open side.
struct Row {
    const char* text;
    const char* start;
    const char* end;
};

// Rows read against one now, zone and locale.
struct Scenario {
    const char* now;
    const char* zone;
    const char* locale;
    std::vector<Row> rows;
};

std::optional<Instant> bound(const char* text) {
    return *text == '\0' ? std::nullopt : std::optional(instantAt(text));
}

TimeContext contextOf(const char* now, const char* zone, const char* locale) {
    return TimeContext{instantAt(now), zone, locale};
}

void expectRange(const std::optional<TimeRange>& got, const Row& row, const std::string& label) {
    ASSERT_TRUE(got.has_value()) << label;
    EXPECT_EQ(utcText(got->start), utcText(bound(row.start))) << label << " (start)";
    EXPECT_EQ(utcText(got->end), utcText(bound(row.end))) << label << " (end)";
}

void expectScenarios(const TimeExpressionParser& parser, const std::vector<Scenario>& scenarios) {
    for (const Scenario& scenario : scenarios) {
        const TimeContext context = contextOf(scenario.now, scenario.zone, scenario.locale);
        for (const Row& row : scenario.rows) {
            const std::string label =
                std::string(row.text) + " at " + scenario.now + " in " + scenario.zone;
            expectRange(parser.parse(row.text, context), row, label);
        }
    }
}

// clang-format off
TEST(TimeExpressionParse, ExpressionsResolveToLocalRanges) {
    const std::vector<Scenario> scenarios = {
        {kJune, "Europe/London", "en_GB", {
            // Days.
            {"today", "2024-06-12T00:00+01:00", "2024-06-13T00:00+01:00"},
            {"Yesterday?", "2024-06-11T00:00+01:00", "2024-06-12T00:00+01:00"},
            {"the day before yesterday", "2024-06-10T00:00+01:00", "2024-06-11T00:00+01:00"},
            // Dates, written every way, before the clocks went forward.
            {"2024-03-14", "2024-03-14T00:00Z", "2024-03-15T00:00Z"},
            {"March 14", "2024-03-14T00:00Z", "2024-03-15T00:00Z"},
            {"14 March 2024", "2024-03-14T00:00Z", "2024-03-15T00:00Z"},
            {"the 14th of March", "2024-03-14T00:00Z", "2024-03-15T00:00Z"},
            {"Thursday, March 14", "2024-03-14T00:00Z", "2024-03-15T00:00Z"},
            {"3/14", "2024-03-14T00:00Z", "2024-03-15T00:00Z"},
            {"14/3", "2024-03-14T00:00Z", "2024-03-15T00:00Z"},
            {"3/4/2024", "2024-03-04T00:00Z", "2024-03-05T00:00Z"},
            {"Mar 14th, 2023", "2023-03-14T00:00Z", "2023-03-15T00:00Z"},
            {"3/14/23", "2023-03-14T00:00Z", "2023-03-15T00:00Z"},
            // A date without a year is never in the future.
            {"June 20", "2023-06-20T00:00+01:00", "2023-06-21T00:00+01:00"},
            // Weekdays: the latest before today, or this week's.
            {"Friday", "2024-06-07T00:00+01:00", "2024-06-08T00:00+01:00"},
            {"on Friday", "2024-06-07T00:00+01:00", "2024-06-08T00:00+01:00"},
            {"last Friday", "2024-06-07T00:00+01:00", "2024-06-08T00:00+01:00"},
            {"this Friday", "2024-06-14T00:00+01:00", "2024-06-15T00:00+01:00"},
            {"Wednesday", "2024-06-05T00:00+01:00", "2024-06-06T00:00+01:00"},
            // Parts of a day.
            {"Friday night", "2024-06-07T18:00+01:00", "2024-06-08T06:00+01:00"},
            {"yesterday evening", "2024-06-11T17:00+01:00", "2024-06-11T22:00+01:00"},
            {"last night", "2024-06-11T18:00+01:00", "2024-06-12T06:00+01:00"},
            // Calendar weeks (from Monday here), months and years.
            {"this week", "2024-06-10T00:00+01:00", "2024-06-17T00:00+01:00"},
            {"last week", "2024-06-03T00:00+01:00", "2024-06-10T00:00+01:00"},
            {"this month", "2024-06-01T00:00+01:00", "2024-07-01T00:00+01:00"},
            {"last month", "2024-05-01T00:00+01:00", "2024-06-01T00:00+01:00"},
            {"in March", "2024-03-01T00:00Z", "2024-04-01T00:00+01:00"},
            {"in September", "2023-09-01T00:00+01:00", "2023-10-01T00:00+01:00"},
            {"last June", "2023-06-01T00:00+01:00", "2023-07-01T00:00+01:00"},
            {"June 2022", "2022-06-01T00:00+01:00", "2022-07-01T00:00+01:00"},
            {"in 2023", "2023-01-01T00:00Z", "2024-01-01T00:00Z"},
            // Counted back.
            {"3 days ago", "2024-06-09T00:00+01:00", "2024-06-10T00:00+01:00"},
            {"a week ago", "2024-06-03T00:00+01:00", "2024-06-10T00:00+01:00"},
            {"two months ago", "2024-04-01T00:00+01:00", "2024-05-01T00:00+01:00"},
            {"a year ago", "2023-01-01T00:00Z", "2024-01-01T00:00Z"},
            {"last 3 days", "2024-06-09T00:00+01:00", "2024-06-13T00:00+01:00"},
            {"past week", "2024-06-05T00:00+01:00", "2024-06-13T00:00+01:00"},
            // Open and closed ranges.
            {"since March", "2024-03-01T00:00Z", kOpen},
            {"since yesterday", "2024-06-11T00:00+01:00", kOpen},
            {"before Friday", kOpen, "2024-06-07T00:00+01:00"},
            {"after Friday", "2024-06-08T00:00+01:00", kOpen},
            {"until yesterday", kOpen, "2024-06-12T00:00+01:00"},
            {"between March 1 and March 5", "2024-03-01T00:00Z", "2024-03-06T00:00Z"},
            {"between March 5 and March 1", "2024-03-01T00:00Z", "2024-03-06T00:00Z"},
            {"from 2024-01-02 to 2024-01-03", "2024-01-02T00:00Z", "2024-01-04T00:00Z"},
        }},
        // Weeks start on Sunday in the United States; dates are read in its
        // own zone.
        {"2024-06-12T10:30-04:00", "America/New_York", "en_US", {
            {"this week", "2024-06-09T00:00-04:00", "2024-06-16T00:00-04:00"},
            {"3/4", "2024-03-04T00:00-05:00", "2024-03-05T00:00-05:00"},
        }},
        // Daylight-saving changes: a 23-hour day, a 25-hour day, and a day
        // whose midnight does not exist (it starts at 01:00).
        {"2024-04-01T10:00+01:00", "Europe/London", "en_GB", {
            {"yesterday", "2024-03-31T00:00Z", "2024-04-01T00:00+01:00"},
            {"2 days ago", "2024-03-30T00:00Z", "2024-03-31T00:00Z"},
            {"last night", "2024-03-31T18:00+01:00", "2024-04-01T06:00+01:00"},
        }},
        {"2024-10-28T09:00Z", "Europe/London", "en_GB", {
            {"yesterday", "2024-10-27T00:00+01:00", "2024-10-28T00:00Z"},
            {"last week", "2024-10-21T00:00+01:00", "2024-10-28T00:00Z"},
        }},
        {"2024-03-11T12:00-04:00", "America/New_York", "en_US", {
            {"yesterday", "2024-03-10T00:00-05:00", "2024-03-11T00:00-04:00"},
        }},
        {"2024-09-10T12:00-03:00", "America/Santiago", "es_CL", {
            {"2024-09-08", "2024-09-08T01:00-03:00", "2024-09-09T00:00-03:00"},
        }},
        // The start of a year: what lies just before is in the last one.
        {"2025-01-01T09:00Z", "Europe/London", "en_GB", {
            {"yesterday", "2024-12-31T00:00Z", "2025-01-01T00:00Z"},
            {"last month", "2024-12-01T00:00Z", "2025-01-01T00:00Z"},
            {"last week", "2024-12-23T00:00Z", "2024-12-30T00:00Z"},
            {"this week", "2024-12-30T00:00Z", "2025-01-06T00:00Z"},
            {"in December", "2024-12-01T00:00Z", "2025-01-01T00:00Z"},
            {"March 14", "2024-03-14T00:00Z", "2024-03-15T00:00Z"},
            {"last year", "2024-01-01T00:00Z", "2025-01-01T00:00Z"},
            {"this year", "2025-01-01T00:00Z", "2026-01-01T00:00Z"},
            {"Friday", "2024-12-27T00:00Z", "2024-12-28T00:00Z"},
            {"12/31", "2024-12-31T00:00Z", "2025-01-01T00:00Z"},
            {"January", "2025-01-01T00:00Z", "2025-02-01T00:00Z"},
            {"last January", "2024-01-01T00:00Z", "2024-02-01T00:00Z"},
            {"a month ago", "2024-12-01T00:00Z", "2025-01-01T00:00Z"},
            {"last 3 days", "2024-12-29T00:00Z", "2025-01-02T00:00Z"},
        }},
        // Leap days and short months.
        {"2025-03-01T12:00Z", "Europe/London", "en_GB", {
            {"Feb 29", "2024-02-29T00:00Z", "2024-03-01T00:00Z"},
        }},
        {"2024-03-31T12:00+01:00", "Europe/London", "en_GB", {
            {"past month", "2024-02-29T00:00Z", "2024-04-01T00:00+01:00"},
        }},
    };
    expectScenarios(TimeExpressionParser(), scenarios);
}
// clang-format on

// Weekends, seasons, holidays and parts of periods as people say them, on a
// Wednesday in June (weeks start on Monday).
TEST(TimeExpressionParse, SpokenPeriodsResolveToLocalRanges) {
    const std::vector<Scenario> scenarios = {
        {kJune,
         "Europe/London",
         "en_GB",
         {
             // The weekend: the latest begun; "last", the latest ended;
             // "this", the one of this week.
             {"the weekend", "2024-06-08T00:00+01:00", "2024-06-10T00:00+01:00"},
             {"over the weekend", "2024-06-08T00:00+01:00", "2024-06-10T00:00+01:00"},
             {"last weekend", "2024-06-08T00:00+01:00", "2024-06-10T00:00+01:00"},
             {"this weekend", "2024-06-15T00:00+01:00", "2024-06-17T00:00+01:00"},
             {"on Monday", "2024-06-10T00:00+01:00", "2024-06-11T00:00+01:00"},
             {"Monday morning", "2024-06-10T05:00+01:00", "2024-06-10T12:00+01:00"},
             {"this morning", "2024-06-12T05:00+01:00", "2024-06-12T12:00+01:00"},
             // Seasons, northern: summer has begun, so last summer is 2023's.
             {"this summer", "2024-06-01T00:00+01:00", "2024-09-01T00:00+01:00"},
             {"last summer", "2023-06-01T00:00+01:00", "2023-09-01T00:00+01:00"},
             {"in the spring", "2024-03-01T00:00+00:00", "2024-06-01T00:00+01:00"},
             {"last winter", "2023-12-01T00:00+00:00", "2024-03-01T00:00+00:00"},
             {"the summer of 2022", "2022-06-01T00:00+01:00", "2022-09-01T00:00+01:00"},
             // Parts of periods.
             {"the week before last", "2024-05-27T00:00+01:00", "2024-06-03T00:00+01:00"},
             {"earlier this month", "2024-06-01T00:00+01:00", "2024-06-13T00:00+01:00"},
             {"earlier this year", "2024-01-01T00:00+00:00", "2024-06-13T00:00+01:00"},
             {"the end of last year", "2023-11-01T00:00+00:00", "2024-01-01T00:00+00:00"},
             {"end of last month", "2024-05-22T00:00+01:00", "2024-06-01T00:00+01:00"},
             {"the start of this month", "2024-06-01T00:00+01:00", "2024-06-11T00:00+01:00"},
             // Holidays: the latest begun; Easter from Good Friday to Easter
             // Monday; Thanksgiving the fourth Thursday of November.
             {"at Christmas", "2023-12-24T00:00+00:00", "2023-12-27T00:00+00:00"},
             {"on New Year's Eve", "2023-12-31T00:00+00:00", "2024-01-01T00:00+00:00"},
             {"Valentine's Day", "2024-02-14T00:00+00:00", "2024-02-15T00:00+00:00"},
             {"over Easter", "2024-03-29T00:00+00:00", "2024-04-02T00:00+01:00"},
             {"last Thanksgiving", "2023-11-23T00:00+00:00", "2023-11-24T00:00+00:00"},
             {"at Halloween", "2023-10-31T00:00+00:00", "2023-11-01T00:00+00:00"},
         }},
        // On a Sunday, "the weekend" is this one and "last weekend" the one
        // before; on Christmas Day, Christmas is this year's.
        {"2024-12-29T12:00+00:00",
         "Europe/London",
         "en_GB",
         {
             {"the weekend", "2024-12-28T00:00+00:00", "2024-12-30T00:00+00:00"},
             {"last weekend", "2024-12-21T00:00+00:00", "2024-12-23T00:00+00:00"},
             {"at Christmas", "2024-12-24T00:00+00:00", "2024-12-27T00:00+00:00"},
             {"this winter", "2024-12-01T00:00+00:00", "2025-03-01T00:00+00:00"},
         }},
    };
    expectScenarios(TimeExpressionParser{}, scenarios);
}

// Holidays are those of the country the person lives in: the zone's, else
// the locale's for a zone of no country; a holiday of another country is
// read on its own day, and one kept differently in different countries on
// the day of most of them.
TEST(TimeExpressionParse, HolidaysAreThoseOfTheZonesCountry) {
    constexpr const char* kDecember = "2025-12-11T12:00+00:00";
    const std::vector<Scenario> scenarios = {
        {kDecember,
         "America/New_York",
         "en_US",
         {
             {"at Thanksgiving", "2025-11-27T00:00-05:00", "2025-11-28T00:00-05:00"},
             {"on the Fourth of July", "2025-07-04T00:00-04:00", "2025-07-05T00:00-04:00"},
             {"Independence Day", "2025-07-04T00:00-04:00", "2025-07-05T00:00-04:00"},
             // The last Monday of May; the first of September.
             {"Memorial Day", "2025-05-26T00:00-04:00", "2025-05-27T00:00-04:00"},
             {"Labor Day", "2025-09-01T00:00-04:00", "2025-09-02T00:00-04:00"},
             {"on Mother's Day", "2025-05-11T00:00-04:00", "2025-05-12T00:00-04:00"},
         }},
        // Canada's Thanksgiving is the second Monday of October.
        {kDecember,
         "America/Toronto",
         "en_CA",
         {{"at Thanksgiving", "2025-10-13T00:00-04:00", "2025-10-14T00:00-04:00"}}},
        {kDecember,
         "Europe/London",
         "en_GB",
         {
             // Mothering Sunday: three weeks before Easter (20 April 2025).
             {"on Mother's Day", "2025-03-30T00:00+00:00", "2025-03-31T00:00+01:00"},
             {"Boxing Day", "2024-12-26T00:00+00:00", "2024-12-27T00:00+00:00"},
             {"Easter Monday", "2025-04-21T00:00+01:00", "2025-04-22T00:00+01:00"},
             {"Whit Monday", "2025-06-09T00:00+01:00", "2025-06-10T00:00+01:00"},
             {"at Pentecost", "2025-06-08T00:00+01:00", "2025-06-09T00:00+01:00"},
             {"the summer bank holiday", "2025-08-25T00:00+01:00", "2025-08-26T00:00+01:00"},
             {"the August bank holiday", "2025-08-25T00:00+01:00", "2025-08-26T00:00+01:00"},
             // Another country's holiday on its own day.
             {"last Thanksgiving", "2025-11-27T00:00+00:00", "2025-11-28T00:00+00:00"},
         }},
        // Ireland's August bank holiday is the first Monday.
        {kDecember,
         "Europe/Dublin",
         "en_IE",
         {{"the August bank holiday", "2025-08-04T00:00+01:00", "2025-08-05T00:00+01:00"}}},
        // Elsewhere, Mother's Day is the second Sunday of May.
        {kDecember,
         "Europe/Berlin",
         "en_US",
         {{"on Mother's Day", "2025-05-11T00:00+02:00", "2025-05-12T00:00+02:00"}}},
        // A zone of no country: the locale's.
        {kDecember,
         "UTC",
         "en_CA",
         {{"at Thanksgiving", "2025-10-13T00:00+00:00", "2025-10-14T00:00+00:00"}}},
    };
    expectScenarios(TimeExpressionParser{}, scenarios);
}

// Season, holiday and weekend words are times inside a question only with a
// word that makes them one; alone they are what the question is about.
TEST(TimeExpressionFind, SeasonsHolidaysAndWeekendsNeedAWordThatMakesThemTimes) {
    const TimeExpressionParser parser;
    const TimeContext context = contextOf(kJune, "Europe/London", "en_GB");
    const std::pair<const char*, const char*> cases[] = {
        {"what are we doing for christmas", ""},
        {"what did Mom say at Christmas?", "at Christmas"},
        {"summer holiday plans", ""},
        {"where did we go last summer", "last summer"},
        {"anything about the weekend", ""},
        {"what did Sam do over the weekend", "over the weekend"},
        {"what did Jess say earlier this month", "earlier this month"},
    };
    for (const auto& [text, found] : cases) {
        const std::vector<TimeMatch> matches = parser.find(text, context);
        const std::string_view whole(text);
        EXPECT_EQ(matches.empty() ? std::string()
                                  : std::string(whole.substr(matches[0].begin,
                                                             matches[0].end - matches[0].begin)),
                  found)
            << text;
    }
}

TEST(TimeExpressionParse, TextThatIsNotWhollyATimeGivesNothing) {
    const TimeExpressionParser parser;
    const TimeContext context = contextOf(kJune, "Europe/London", "en_GB");
    for (const char* text : {"", "  ", "soon", "yesterday and", "last", "since", "2024-02-30",
                             "32 March", "13/13", "Feb 30", "Friday 13:00", "march forward"}) {
        EXPECT_FALSE(parser.parse(text, context).has_value()) << text;
    }
}

TEST(TimeExpressionParse, AnUnknownZoneIsRefused) {
    const TimeExpressionParser parser;
    EXPECT_THROW(parser.parse("today", contextOf(kJune, "Mars/Olympus_Mons", "en_GB")),
                 std::invalid_argument);
}

TEST(TimeExpressionFind, TimesInsideQuestionsAreFoundWithTheTextTheyTakeUp) {
    struct FindCase {
        const char* text;
        std::vector<Row> found; // each Row's text is the span taken up
    };
    const FindCase cases[] = {
        {"what did Mom say about Grandma yesterday?",
         {{"yesterday", "2024-06-11T00:00+01:00", "2024-06-12T00:00+01:00"}}},
        {"what's Jess's flight number", {}},
        // "march" the word and "may" the verb are no months; with a
        // preposition or a day they are.
        {"did Alex mention the march on Friday",
         {{"on Friday", "2024-06-07T00:00+01:00", "2024-06-08T00:00+01:00"}}},
        {"what may she have said in May",
         {{"in May", "2024-05-01T00:00+01:00", "2024-06-01T00:00+01:00"}}},
        {"I sat with Sam on Sat", {{"on Sat", "2024-06-08T00:00+01:00", "2024-06-09T00:00+01:00"}}},
        {"dinner plans from last week's chat",
         {{"last week's", "2024-06-03T00:00+01:00", "2024-06-10T00:00+01:00"}}},
        {"messages since last Tuesday about rent",
         {{"since last Tuesday", "2024-06-11T00:00+01:00", kOpen}}},
        // Numbers that only look like dates or years stay.
        {"open 24/7 since 2023", {{"since 2023", "2023-01-01T00:00Z", kOpen}}},
        {"room 2023 on floor 3/4", {}},
        {"photos from 2 weeks ago and 3 days ago",
         {{"2 weeks ago", "2024-05-27T00:00+01:00", "2024-06-03T00:00+01:00"},
          {"3 days ago", "2024-06-09T00:00+01:00", "2024-06-10T00:00+01:00"}}},
        {"what did she say on 3/14", {{"on 3/14", "2024-03-14T00:00Z", "2024-03-15T00:00Z"}}},
        {"the 14th floor", {}},
        {"what happened on the 14th",
         {{"on the 14th", "2024-05-14T00:00+01:00", "2024-05-15T00:00+01:00"}}},
        {"between March 1 and March 5 who called",
         {{"between March 1 and March 5", "2024-03-01T00:00Z", "2024-03-06T00:00Z"}}},
        {"Will you send the 2024-03-14 notes",
         {{"2024-03-14", "2024-03-14T00:00Z", "2024-03-15T00:00Z"}}},
        // Offsets count bytes, whatever comes before.
        {"où était Zoë yesterday ?",
         {{"yesterday", "2024-06-11T00:00+01:00", "2024-06-12T00:00+01:00"}}},
    };
    const TimeExpressionParser parser;
    const TimeContext context = contextOf(kJune, "Europe/London", "en_GB");
    for (const FindCase& c : cases) {
        const std::string text = c.text;
        const auto matches = parser.find(text, context);
        ASSERT_EQ(matches.size(), c.found.size()) << text;
        for (size_t i = 0; i < matches.size(); ++i) {
            const TimeMatch& match = matches[i];
            EXPECT_EQ(text.substr(match.begin, match.end - match.begin), c.found[i].text) << text;
            EXPECT_EQ(utcText(match.range.start), utcText(bound(c.found[i].start))) << text;
            EXPECT_EQ(utcText(match.range.end), utcText(bound(c.found[i].end))) << text;
        }
    }
}

// A second language is a second word table: words, a prefix "ago" and
// day-first numeric dates, with the same grammar.
TEST(TimeExpressionLanguages, AnotherWordTableReadsAnotherLanguage) {
    TimeWords spanish;
    spanish.language = "es";
    spanish.months = {{"marzo", 3}};
    spanish.weekdays = {{"viernes", 5}};
    spanish.relativeDays = {{"hoy", 0}, {"ayer", -1}};
    spanish.numbers = {{"dos", 2}};
    spanish.units = {{"día", TimeUnit::day}, {"días", TimeUnit::day}};
    spanish.agoBefore = {"hace"};
    spanish.pointPrefixes = {"el", "en"};
    spanish.sinceWords = {"desde"};
    spanish.ofWords = {"de"};
    spanish.numericDateOrder = NumericDateOrder::dayFirst;
    const TimeExpressionParser parser(spanish);

    // clang-format off
    expectScenarios(parser, {{kJune, "Europe/Madrid", "es_ES", {
        {"ayer", "2024-06-11T00:00+02:00", "2024-06-12T00:00+02:00"},
        {"hace dos días", "2024-06-10T00:00+02:00", "2024-06-11T00:00+02:00"},
        {"hace 2 dias", "2024-06-10T00:00+02:00", "2024-06-11T00:00+02:00"},
        {"desde el viernes", "2024-06-07T00:00+02:00", kOpen},
        {"14 de marzo", "2024-03-14T00:00+01:00", "2024-03-15T00:00+01:00"},
        {"3/4", "2024-04-03T00:00+02:00", "2024-04-04T00:00+02:00"},
    }}});
    // clang-format on
    const TimeContext context = contextOf(kJune, "Europe/Madrid", "es_ES");
    EXPECT_FALSE(parser.parse("yesterday", context).has_value());

    const std::string question = "¿qué dijo mamá ayer?";
    const auto matches = parser.find(question, context);
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(question.substr(matches[0].begin, matches[0].end - matches[0].begin), "ayer");
}

// Only names of months and days stand for a day on their own; short forms
// that are everyday words and relative words do not.
TEST(TimeWordsNames, MonthsAndWeekdaysNameADayRelativeWordsDoNot) {
    const TimeWords& words = TimeWords::english();
    for (const char* name : {"march", "january", "saturday", "sunday"}) {
        EXPECT_TRUE(words.namesMonthOrWeekday(name)) << name;
    }
    for (const char* word : {"may", "sat", "sun", "last", "week", "yesterday", "weekend", ""}) {
        EXPECT_FALSE(words.namesMonthOrWeekday(word)) << word;
    }
}

// The words of time a message may write ahead of the time it speaks of
// ("engineer coming Tuesday morning"); not those that look back, units,
// numbers or the words that join.
TEST(TimeWordsNames, WordsSaidAheadOfATimeAreItsNamesNotItsJoins) {
    const TimeWords& words = TimeWords::english();
    for (const char* word : {"march", "tuesday", "morning", "tonight", "today", "weekend", "summer",
                             "easter", "christmas", "next", "end"}) {
        EXPECT_TRUE(words.saidAhead(word)) << word;
    }
    for (const char* word : {"may", "sat", "last", "past", "ago", "yesterday", "before", "week",
                             "days", "two", "since", "of", "on", "the", "th", ""}) {
        EXPECT_FALSE(words.saidAhead(word)) << word;
    }
}

} // namespace
} // namespace orlune::core

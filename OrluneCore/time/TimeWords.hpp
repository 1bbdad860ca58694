#pragma once
// The words of one language that time expressions are made of. The parser
// (TimeExpressionParser) holds the grammar; a language is only this table, so
// another language is another table. Every entry is a phrase of one or more
// words separated by single spaces, compared case- and accent-blind.

#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

enum class TimeUnit { day, week, month, year };

// How a date written with numbers only ("3/4") is read.
enum class NumericDateOrder {
    monthFirst, // 3/4 is 4 March
    dayFirst,   // 3/4 is 3 April
};

struct TimeWords {
    struct Named {
        std::string phrase;
        int value = 0;
        // A short form that is also an everyday word ("sat", "sun", "mar",
        // "may"): inside a sentence it counts only next to a word that makes
        // it a time ("on Sat", "Sat 9 Dec", "since May").
        bool ambiguous = false;
    };
    struct Unit {
        std::string phrase;
        TimeUnit unit = TimeUnit::day;
    };
    // A part of a day, [fromHour, toHour) where toHour may pass 24 (the night
    // runs into the next morning).
    struct DayPart {
        std::string phrase;
        int fromHour = 0;
        int toHour = 24;
    };
    // A phrase that names a part of a day relative to today ("last night",
    // "this morning"): `dayOffset` days from today, part `part` of dayParts.
    struct RelativeDayPart {
        std::string phrase;
        int dayOffset = 0;
        std::string part;
    };

    // A season: `months` months from `firstMonth` (a winter runs into the
    // next year).
    struct Season {
        std::string phrase;
        int firstMonth = 1;
        int months = 3;
    };
    // A holiday: `days` days from its first day, which is `month`/`day` each
    // year, `day` days after Easter Sunday (Western reckoning) when
    // `afterEaster`, or the `nth` `weekday` (1 Monday to 7 Sunday) of
    // `month` when `nth` is not 0 (-1: the last). Phrases are written
    // without possessives ("new year eve" is also "New Year's Eve").
    // `regions`: the countries (ISO 3166: "US", "GB") that keep it on that
    // day; none for everywhere. A phrase kept on different days in
    // different countries has one entry for each, and one without regions
    // for everyone else.
    struct Holiday {
        std::string phrase;
        int month = 1;
        int day = 1;
        int days = 1;
        bool afterEaster = false;
        int nth = 0;
        int weekday = 0;
        std::vector<std::string> regions = {};
    };

    std::string language; // BCP 47 ("en")

    std::vector<Named> months;       // value 1 (January) to 12
    std::vector<Named> weekdays;     // value 1 (Monday) to 7 (Sunday)
    std::vector<Named> relativeDays; // value: days from today ("yesterday": -1)
    std::vector<Named> numbers;      // "a", "two", ... with their value
    std::vector<Unit> units;         // every form: "day", "days", ...
    std::vector<DayPart> dayParts;
    std::vector<RelativeDayPart> relativeDayParts;

    std::vector<std::string> weekendWords; // "the weekend"
    std::vector<Season> seasons;           // northern hemisphere
    std::vector<Holiday> holidays;
    std::vector<std::string> weekBeforeLastWords; // "the week before last"
    std::vector<std::string> earlierWords;        // "earlier this month": its start up to today
    std::vector<std::string> endOfWords;          // "end of last year": its last part
    std::vector<std::string> startOfWords;        // "start of this month": its first part

    std::vector<std::string> thisWords; // "this week", "this Friday"
    std::vector<std::string> lastWords; // the previous calendar week/month/year; "last Friday"
    std::vector<std::string> pastWords; // a rolling stretch up to today: "past week", "last 3 days"
    std::vector<std::string> agoAfter;  // "3 days ago"
    std::vector<std::string> agoBefore; // a language that puts it first ("hace 3 días")
    std::vector<std::string> pointPrefixes; // "on Friday", "in March": part of the expression
    std::vector<std::string> sinceWords;    // from the start of what follows
    std::vector<std::string> afterWords;    // from the end of what follows
    std::vector<std::string> beforeWords;   // up to the start of what follows
    std::vector<std::string> untilWords;    // up to the end of what follows
    std::vector<std::string> betweenWords;  // "between A and B"
    std::vector<std::string> andWords;
    std::vector<std::string> fromWords; // "from A to B" ("from" alone is no time)
    std::vector<std::string> toWords;
    std::vector<std::string> ordinalSuffixes; // "14th"
    std::vector<std::string> ofWords;         // "14th of March"
    std::vector<std::string> theWords;        // "on the 14th"
    // Characters that separate the numbers of a numeric date ("3/14").
    std::string numericDateSeparators = "/";
    NumericDateOrder numericDateOrder = NumericDateOrder::monthFirst;

    // English. Numeric dates are read month first ("3/4" is 4 March), as in
    // the United States; a first number above 12 is read as the day
    // ("14/3"). Lives for the whole program.
    static const TimeWords& english();

    // Whether `folded` (one word, folded) names a month or a day of the week
    // on its own: "march", "saturday"; not an ambiguous short form ("may",
    // "sat"), nor relative words ("last", "week", "yesterday"), which name
    // no day a message would mention.
    bool namesMonthOrWeekday(std::string_view folded) const;

    // Whether `folded` (one word, folded) is a word of time that a message
    // may write of a time after it was sent, so that a message about that
    // time may hold it: names of months and weekdays, parts of the day,
    // seasons, holidays, "weekend", "today", "tonight", "next", "end". Not a
    // word that looks back ("last", "past", "ago", "yesterday"), a unit
    // ("week"), a number word, a word that joins ("since", "of", "on") or an
    // ambiguous short form ("may", "sat").
    bool saidAhead(std::string_view folded) const;
};

} // namespace orlune::core

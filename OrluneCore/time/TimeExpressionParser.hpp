#pragma once
// Turns the time expressions people write into ranges of local time.
//
// What is understood (English words shown; the words come from a TimeWords
// table, one per language):
//   dates          "2024-03-14", "14 March 2024", "March 14th, 2024",
//                  "14th of March", "Tue 9 Dec", "3/14", "3/14/2024"
//   days           "today", "yesterday", "the day before yesterday",
//                  "Friday", "on Friday", "last Friday", "this Friday",
//                  "yesterday morning", "Friday night", "last night", "tonight"
//   periods        "this/last week", "this/last month", "this/last year",
//                  "in March", "March 2024", "last March", "in 2023"
//   relative       "3 days ago", "a week ago", "two months ago",
//                  "last 3 days", "past week"
//   open ranges    "since ...", "after ...", "before ...", "until ..."
//   closed ranges  "between ... and ...", "from ... to ..."
//
// How they resolve, against the context's now, zone and locale:
// - A date without a year is the latest such date on or before today; a
//   month without a year the latest that has begun ("in March" in February
//   is last year's); "last March" the latest before this month.
// - A weekday alone, or after "last", is the latest such day before today (on
//   a Friday, "Friday" is a week ago); "this Friday" is the one in this week.
// - Weeks start on the locale's first day of the week. "N weeks/months/years
//   ago" is the whole calendar week/month/year that many back; "N days ago"
//   that one day. "last N days/weeks/..." and "past week" run from that far
//   before today up to the end of today.
// - A day is its local midnight to the next one (23 or 25 hours across a
//   daylight-saving change). Parts of a day: morning 5-12, afternoon 12-17,
//   evening 17-22, night 18 to 6 the next morning.
// - "since X": from the start of X on; "after X": from its end; "before X":
//   up to its start; "until X": up to its end (X included); "between X and
//   Y": from the start of the earlier to the end of the later.
// - Numeric dates follow the table's order (English: month first, "3/4" is
//   4 March); when the first number cannot be a month, it is the day
//   ("14/3"). Two-digit years are this century unless that is more than a
//   year ahead.

#include "time/LocalTime.hpp"
#include "time/TimeWords.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace orlune::core {

// A time expression found in a text: its range, and where it is, as byte
// offsets [begin, end) of the UTF-8 text (a preposition that belongs to it,
// as in "on Friday", is inside).
struct TimeMatch {
    TimeRange range;
    size_t begin = 0;
    size_t end = 0;
};

// Immutable once made; any thread. Making one prepares the word table; make
// it once and keep it.
class TimeExpressionParser {
public:
    explicit TimeExpressionParser(const TimeWords& words = TimeWords::english());
    ~TimeExpressionParser();
    TimeExpressionParser(const TimeExpressionParser&) = delete;
    TimeExpressionParser& operator=(const TimeExpressionParser&) = delete;

    // The range of `expression` when all of it is one time expression (white
    // space and a final "." or "?" aside), e.g. the argument of `--since`;
    // absent otherwise. Throws std::invalid_argument for an unknown zone in
    // `context`.
    std::optional<TimeRange> parse(std::string_view expression, const TimeContext& context) const;

    // The time expressions inside a free text ("what did Mom say about
    // Grandma yesterday?"), left to right, not overlapping, each the longest
    // at its place. Words that are times only in some sentences need a
    // word that makes them one: a month ("in May", "May 3", "since May"), a
    // year ("in 2023"), an ambiguous short form ("on Sat"), a number-only
    // date without a year ("on 3/14"), a lone day of the month ("on the
    // 14th"). Throws std::invalid_argument for an unknown zone in `context`.
    std::vector<TimeMatch> find(std::string_view text, const TimeContext& context) const;

    // The prepared word table; defined where the grammar is.
    struct Table;

private:
    std::unique_ptr<const Table> table_;
};

} // namespace orlune::core

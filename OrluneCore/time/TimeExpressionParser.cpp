#include "time/TimeExpressionParser.hpp"

#include "base/TextFold.hpp"

#include <algorithm>

namespace orlune::core {

namespace {

using namespace std::chrono;
using text::Token;
using text::TokenKind;

struct Phrase {
    std::vector<std::string> words; // folded
    int value = 0;
    bool ambiguous = false;
};
using PhraseList = std::vector<Phrase>;

std::vector<std::string> phraseWords(const std::string& phrase) {
    std::vector<std::string> words;
    for (const Token& token : text::tokenize(phrase)) {
        words.push_back(token.folded);
    }
    return words;
}

PhraseList prepare(const std::vector<TimeWords::Named>& named) {
    PhraseList list;
    for (const auto& entry : named) {
        list.push_back({phraseWords(entry.phrase), entry.value, entry.ambiguous});
    }
    return list;
}

PhraseList prepare(const std::vector<std::string>& phrases) {
    PhraseList list;
    for (const auto& phrase : phrases) {
        list.push_back({phraseWords(phrase), 0, false});
    }
    return list;
}

// What one rule matched: the range, the token after the match, whether the
// match is a time in any sentence, and the day when it is exactly one day
// (a part of the day may follow).
struct Found {
    TimeRange range;
    size_t next = 0;
    bool anchored = false;
    std::optional<year_month_day> day;
};

struct Hit {
    const Phrase* phrase = nullptr;
    size_t next = 0;
};

struct Number {
    int value = 0;
    size_t next = 0;
};

weekday fromTableWeekday(int value) {
    return weekday{static_cast<unsigned>(value % 7)};
}

year_month_day firstOf(year_month ym) {
    return ym / day{1};
}

} // namespace

struct TimeExpressionParser::Table {
    PhraseList months, weekdays, relativeDays, numbers, units, dayParts, relativeDayParts;
    PhraseList thisWords, lastWords, pastWords, agoAfter, agoBefore, prefixes;
    PhraseList since, after, before, until, between, andWords, from, to;
    PhraseList ordinals, ofWords, theWords;
    PhraseList weekend, seasons, holidays, weekBeforeLast, earlier, endOf, startOf;
    std::vector<TimeWords::Season> seasonInfo;
    std::vector<TimeWords::Holiday> holidayInfo;
    std::vector<TimeWords::DayPart> dayPartHours;
    std::vector<TimeWords::RelativeDayPart> relativeDayPartInfo;
    std::string separators;
    NumericDateOrder order = NumericDateOrder::monthFirst;

    explicit Table(const TimeWords& w)
        : months(prepare(w.months)), weekdays(prepare(w.weekdays)),
          relativeDays(prepare(w.relativeDays)), numbers(prepare(w.numbers)),
          thisWords(prepare(w.thisWords)), lastWords(prepare(w.lastWords)),
          pastWords(prepare(w.pastWords)), agoAfter(prepare(w.agoAfter)),
          agoBefore(prepare(w.agoBefore)), prefixes(prepare(w.pointPrefixes)),
          since(prepare(w.sinceWords)), after(prepare(w.afterWords)),
          before(prepare(w.beforeWords)), until(prepare(w.untilWords)),
          between(prepare(w.betweenWords)), andWords(prepare(w.andWords)),
          from(prepare(w.fromWords)), to(prepare(w.toWords)), ordinals(prepare(w.ordinalSuffixes)),
          ofWords(prepare(w.ofWords)), theWords(prepare(w.theWords)), dayPartHours(w.dayParts),
          relativeDayPartInfo(w.relativeDayParts), separators(w.numericDateSeparators),
          order(w.numericDateOrder) {
        weekend = prepare(w.weekendWords);
        weekBeforeLast = prepare(w.weekBeforeLastWords);
        earlier = prepare(w.earlierWords);
        endOf = prepare(w.endOfWords);
        startOf = prepare(w.startOfWords);
        seasonInfo = w.seasons;
        holidayInfo = w.holidays;
        for (size_t i = 0; i < w.seasons.size(); ++i) {
            seasons.push_back({phraseWords(w.seasons[i].phrase), static_cast<int>(i), false});
        }
        for (size_t i = 0; i < w.holidays.size(); ++i) {
            holidays.push_back({phraseWords(w.holidays[i].phrase), static_cast<int>(i), false});
        }
        for (const auto& unit : w.units) {
            units.push_back({phraseWords(unit.phrase), static_cast<int>(unit.unit), false});
        }
        for (size_t i = 0; i < w.dayParts.size(); ++i) {
            dayParts.push_back({phraseWords(w.dayParts[i].phrase), static_cast<int>(i), false});
        }
        for (size_t i = 0; i < w.relativeDayParts.size(); ++i) {
            relativeDayParts.push_back(
                {phraseWords(w.relativeDayParts[i].phrase), static_cast<int>(i), false});
        }
    }

    int dayPartIndex(const std::string& name) const {
        for (size_t i = 0; i < dayPartHours.size(); ++i) {
            if (dayPartHours[i].phrase == name) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
};

namespace {

// The grammar over one text's tokens. Each rule tries to match at a token
// and returns what it found; the caller keeps the longest.
class Matcher {
public:
    using Table = TimeExpressionParser::Table;

    Matcher(const Table& table, const std::vector<Token>& tokens, const LocalCalendar& calendar)
        : t_(table), tokens_(tokens), calendar_(calendar), today_(calendar.today()) {}

    // The longest expression starting at token `i`; with `requireAnchor`,
    // only one that is a time in any sentence.
    std::optional<Found> expression(size_t i, bool requireAnchor) {
        start_ = i;
        std::vector<Found> candidates;
        collectRanges(i, candidates);
        collectPrefixedPoints(i, candidates);
        return longest(candidates, requireAnchor);
    }

private:
    const Table& t_;
    const std::vector<Token>& tokens_;
    const LocalCalendar& calendar_;
    const year_month_day today_;
    size_t start_ = 0;

    static std::optional<Found> longest(const std::vector<Found>& candidates, bool requireAnchor) {
        std::optional<Found> best;
        for (const Found& found : candidates) {
            if (requireAnchor && !found.anchored) {
                continue;
            }
            if (!best || found.next > best->next) {
                best = found;
            }
        }
        return best;
    }

    // Token `i` when an expression that started at start_ may go on to it: a
    // possessive ("yesterday's") ends an expression.
    const Token* at(size_t i) const {
        if (i >= tokens_.size()) {
            return nullptr;
        }
        if (i > start_ && tokens_[i - 1].possessive) {
            return nullptr;
        }
        return &tokens_[i];
    }

    // Token `i` when it follows the one before with nothing in between.
    const Token* adjacent(size_t i) const {
        const Token* token = at(i);
        return token != nullptr && !token->spaceBefore ? token : nullptr;
    }

    // The longest phrase of `list` at token `i`: consecutive words separated
    // by white space only.
    std::optional<Hit> phrase(const PhraseList& list, size_t i) const {
        std::optional<Hit> best;
        for (const Phrase& candidate : list) {
            size_t k = 0;
            for (; k < candidate.words.size(); ++k) {
                const Token* token = at(i + k);
                if (token == nullptr || token->kind != TokenKind::word ||
                    token->folded != candidate.words[k] || (k > 0 && !token->spaceBefore)) {
                    break;
                }
            }
            if (k == candidate.words.size() && k > 0 && (!best || i + k > best->next)) {
                best = Hit{&candidate, i + k};
            }
        }
        return best;
    }

    bool symbolAt(size_t i, std::string_view symbols, bool mustBeAdjacent) const {
        const Token* token = mustBeAdjacent ? adjacent(i) : at(i);
        return token != nullptr && token->kind == TokenKind::symbol &&
               symbols.find(token->folded) != std::string_view::npos && token->folded.size() == 1;
    }

    // A count: "3", "a", "two".
    std::optional<Number> count(size_t i) const {
        if (const Token* token = at(i); token != nullptr && token->kind == TokenKind::number) {
            if (token->digits <= 3 && token->value >= 1) {
                return Number{static_cast<int>(token->value), i + 1};
            }
            return std::nullopt;
        }
        if (auto hit = phrase(t_.numbers, i)) {
            return Number{hit->phrase->value, hit->next};
        }
        return std::nullopt;
    }

    // A day of the month, with an ordinal suffix written onto it ("14th").
    std::optional<Number> dayNumber(size_t i, bool& hadOrdinal) const {
        const Token* token = at(i);
        if (token == nullptr || token->kind != TokenKind::number || token->digits > 2 ||
            token->value < 1 || token->value > 31) {
            return std::nullopt;
        }
        hadOrdinal = false;
        size_t next = i + 1;
        if (const Token* suffix = adjacent(next); suffix != nullptr) {
            if (auto hit = phrase(t_.ordinals, next); hit && !suffix->spaceBefore) {
                hadOrdinal = true;
                next = hit->next;
            }
        }
        return Number{static_cast<int>(token->value), next};
    }

    // A four-digit year.
    std::optional<Number> yearNumber(size_t i) const {
        const Token* token = at(i);
        if (token == nullptr || token->kind != TokenKind::number || token->digits != 4 ||
            token->value < 1900 || token->value > 2199) {
            return std::nullopt;
        }
        return Number{static_cast<int>(token->value), i + 1};
    }

    // --- Calendar arithmetic -------------------------------------------------

    year_month_day weekStart(year_month_day date) const {
        const weekday wd{sys_days{date}};
        return addDays(date, -static_cast<int>((wd - calendar_.firstDayOfWeek()).count()));
    }

    Found oneDay(year_month_day date, size_t next, bool anchored) const {
        return Found{calendar_.days(date, addDays(date, 1)), next, anchored, date};
    }

    Found daysFound(year_month_day first, year_month_day end, size_t next, bool anchored) const {
        return Found{calendar_.days(first, end), next, anchored, std::nullopt};
    }

    Found monthFound(year_month ym, size_t next, bool anchored) const {
        return daysFound(firstOf(ym), firstOf(ym + months{1}), next, anchored);
    }

    Found yearFound(int y, size_t next, bool anchored) const {
        return daysFound(year{y} / January / 1, year{y + 1} / January / 1, next, anchored);
    }

    // The latest valid date with this month and day on or before today.
    std::optional<year_month_day> latestDate(unsigned m, unsigned d) const {
        for (int back = 0; back <= 8; ++back) {
            const year_month_day date = (today_.year() - years{back}) / month{m} / day{d};
            if (date.ok() && sys_days{date} <= sys_days{today_}) {
                return date;
            }
        }
        return std::nullopt;
    }

    // The latest valid date with this day of the month on or before today.
    std::optional<year_month_day> latestDayOfMonth(unsigned d) const {
        const year_month current{today_.year(), today_.month()};
        for (int back = 0; back <= 12; ++back) {
            const year_month_day date = (current - months{back}) / day{d};
            if (date.ok() && sys_days{date} <= sys_days{today_}) {
                return date;
            }
        }
        return std::nullopt;
    }

    std::optional<year_month_day> dateOrLatest(std::optional<int> y, int m, int d) const {
        if (m < 1 || m > 12 || d < 1 || d > 31) {
            return std::nullopt;
        }
        if (y) {
            const year_month_day date =
                year{*y} / month{static_cast<unsigned>(m)} / day{static_cast<unsigned>(d)};
            return date.ok() ? std::optional(date) : std::nullopt;
        }
        return latestDate(static_cast<unsigned>(m), static_cast<unsigned>(d));
    }

    // --- Rules ---------------------------------------------------------------

    // "since X", "before X", "between X and Y", "from X to Y".
    void collectRanges(size_t i, std::vector<Found>& out) {
        auto open = [&](const PhraseList& words, bool fromStart, bool isStart) {
            auto hit = phrase(words, i);
            if (!hit) {
                return;
            }
            auto point = prefixedPoint(hit->next);
            if (!point) {
                return;
            }
            const std::optional<Instant> bound = fromStart ? point->range.start : point->range.end;
            TimeRange range;
            (isStart ? range.start : range.end) = bound;
            out.push_back(Found{range, point->next, true, std::nullopt});
        };
        open(t_.since, true, true);
        open(t_.after, false, true);
        open(t_.before, true, false);
        open(t_.until, false, false);

        auto closed = [&](const PhraseList& opening, const PhraseList& joining) {
            auto hit = phrase(opening, i);
            if (!hit) {
                return;
            }
            auto first = prefixedPoint(hit->next);
            if (!first) {
                return;
            }
            auto join = phrase(joining, first->next);
            if (!join) {
                return;
            }
            auto second = prefixedPoint(join->next);
            if (!second) {
                return;
            }
            TimeRange range{std::min(*first->range.start, *second->range.start),
                            std::max(*first->range.end, *second->range.end)};
            out.push_back(Found{range, second->next, true, std::nullopt});
        };
        closed(t_.between, t_.andWords);
        closed(t_.from, t_.to);
    }

    void collectPrefixedPoints(size_t i, std::vector<Found>& out) {
        collectPoints(i, out);
        if (auto prefix = phrase(t_.prefixes, i)) {
            std::vector<Found> inner;
            collectPoints(prefix->next, inner);
            for (Found found : inner) {
                found.anchored = true;
                out.push_back(found);
            }
        }
    }

    // The longest point at `i`, with or without a preposition, anchored or not.
    std::optional<Found> prefixedPoint(size_t i) {
        std::vector<Found> candidates;
        collectPrefixedPoints(i, candidates);
        return longest(candidates, false);
    }

    // Every point at `i`, each also with a part of the day after it when it
    // is one day.
    void collectPoints(size_t i, std::vector<Found>& out) {
        std::vector<Found> points;
        relativeDay(i, points);
        weekdayPoint(i, points);
        calendarPeriod(i, points);
        rolling(i, points);
        ago(i, points);
        dates(i, points, true);
        monthPoint(i, points);
        yearPoint(i, points);
        weekendPoint(i, points);
        seasonPoint(i, points);
        holidayPoint(i, points);
        weekBeforeLastPoint(i, points);
        earlierPeriod(i, points);
        partOfPeriod(i, points);
        for (const Found& found : points) {
            out.push_back(found);
            if (found.day) {
                if (auto part = phrase(t_.dayParts, found.next)) {
                    out.push_back(Found{partOfDay(*found.day, part->phrase->value), part->next,
                                        found.anchored, std::nullopt});
                }
            }
        }
    }

    TimeRange partOfDay(year_month_day date, int partIndex) const {
        const auto& part = t_.dayPartHours[static_cast<size_t>(partIndex)];
        return TimeRange{calendar_.at(addDays(date, part.fromHour / 24), part.fromHour % 24),
                         calendar_.at(addDays(date, part.toHour / 24), part.toHour % 24)};
    }

    // "today", "yesterday", "last night".
    void relativeDay(size_t i, std::vector<Found>& out) const {
        if (auto hit = phrase(t_.relativeDays, i)) {
            out.push_back(oneDay(addDays(today_, hit->phrase->value), hit->next, true));
        }
        if (auto hit = phrase(t_.relativeDayParts, i)) {
            const auto& info = t_.relativeDayPartInfo[static_cast<size_t>(hit->phrase->value)];
            const int part = t_.dayPartIndex(info.part);
            if (part >= 0) {
                out.push_back(Found{partOfDay(addDays(today_, info.dayOffset), part), hit->next,
                                    true, std::nullopt});
            }
        }
    }

    // "Friday", "last Friday", "this Friday".
    void weekdayPoint(size_t i, std::vector<Found>& out) const {
        bool thisWeek = false;
        bool qualified = false;
        size_t j = i;
        if (auto hit = phrase(t_.thisWords, i)) {
            thisWeek = qualified = true;
            j = hit->next;
        } else if (auto last = phrase(t_.lastWords, i)) {
            qualified = true;
            j = last->next;
        }
        auto hit = phrase(t_.weekdays, j);
        if (!hit) {
            return;
        }
        const weekday wanted = fromTableWeekday(hit->phrase->value);
        year_month_day date;
        if (thisWeek) {
            const year_month_day start = weekStart(today_);
            date = addDays(start, static_cast<int>((wanted - calendar_.firstDayOfWeek()).count()));
        } else {
            int back = static_cast<int>((weekday{sys_days{today_}} - wanted).count());
            date = addDays(today_, -(back == 0 ? 7 : back));
        }
        out.push_back(oneDay(date, hit->next, qualified || !hit->phrase->ambiguous));
    }

    // "this week", "last month", "past year".
    void calendarPeriod(size_t i, std::vector<Found>& out) const {
        enum class Which { current, previous, rollingOne };
        auto with = [&](const PhraseList& words, Which which) {
            auto hit = phrase(words, i);
            if (!hit) {
                return;
            }
            auto unit = phrase(t_.units, hit->next);
            if (!unit) {
                return;
            }
            const auto u = static_cast<TimeUnit>(unit->phrase->value);
            if (which == Which::rollingOne) {
                out.push_back(rollingFound(1, u, unit->next));
                return;
            }
            const int back = which == Which::previous ? 1 : 0;
            switch (u) {
            case TimeUnit::day:
                if (which == Which::current) {
                    out.push_back(oneDay(today_, unit->next, true));
                }
                break;
            case TimeUnit::week: {
                const year_month_day start = addDays(weekStart(today_), -7 * back);
                out.push_back(daysFound(start, addDays(start, 7), unit->next, true));
                break;
            }
            case TimeUnit::month:
                out.push_back(monthFound(year_month{today_.year(), today_.month()} - months{back},
                                         unit->next, true));
                break;
            case TimeUnit::year:
                out.push_back(yearFound(static_cast<int>(today_.year()) - back, unit->next, true));
                break;
            }
        };
        with(t_.thisWords, Which::current);
        with(t_.lastWords, Which::previous);
        with(t_.pastWords, Which::rollingOne);
    }

    // From `n` units before today to the end of today.
    Found rollingFound(int n, TimeUnit unit, size_t next) const {
        year_month_day first = today_;
        switch (unit) {
        case TimeUnit::day:
            first = addDays(today_, -n);
            break;
        case TimeUnit::week:
            first = addDays(today_, -7 * n);
            break;
        case TimeUnit::month:
        case TimeUnit::year: {
            const year_month back = year_month{today_.year(), today_.month()} -
                                    months{unit == TimeUnit::month ? n : 12 * n};
            const day lastDay = (back / std::chrono::last).day();
            first = back / std::min(today_.day(), lastDay);
            break;
        }
        }
        return daysFound(first, addDays(today_, 1), next, true);
    }

    // "last 3 days", "past two weeks".
    void rolling(size_t i, std::vector<Found>& out) const {
        for (const PhraseList* words : {&t_.lastWords, &t_.pastWords}) {
            auto hit = phrase(*words, i);
            if (!hit) {
                continue;
            }
            auto n = count(hit->next);
            if (!n) {
                continue;
            }
            if (auto unit = phrase(t_.units, n->next)) {
                out.push_back(
                    rollingFound(n->value, static_cast<TimeUnit>(unit->phrase->value), unit->next));
            }
        }
    }

    // "3 days ago": that day, or the whole calendar week, month or year that
    // many back.
    void ago(size_t i, std::vector<Found>& out) const {
        auto resolve = [&](int n, TimeUnit unit, size_t next) {
            switch (unit) {
            case TimeUnit::day:
                return oneDay(addDays(today_, -n), next, true);
            case TimeUnit::week: {
                const year_month_day start = addDays(weekStart(today_), -7 * n);
                return daysFound(start, addDays(start, 7), next, true);
            }
            case TimeUnit::month:
                return monthFound(year_month{today_.year(), today_.month()} - months{n}, next,
                                  true);
            case TimeUnit::year:
                break;
            }
            return yearFound(static_cast<int>(today_.year()) - n, next, true);
        };
        if (auto n = count(i)) {
            if (auto unit = phrase(t_.units, n->next)) {
                if (auto word = phrase(t_.agoAfter, unit->next)) {
                    out.push_back(
                        resolve(n->value, static_cast<TimeUnit>(unit->phrase->value), word->next));
                }
            }
        }
        if (auto word = phrase(t_.agoBefore, i)) {
            if (auto n = count(word->next)) {
                if (auto unit = phrase(t_.units, n->next)) {
                    out.push_back(
                        resolve(n->value, static_cast<TimeUnit>(unit->phrase->value), unit->next));
                }
            }
        }
    }

    // Dates, optionally after a weekday ("Tue 9 Dec", "Tuesday, March 14").
    void dates(size_t i, std::vector<Found>& out, bool allowWeekday) const {
        isoDate(i, out);
        numericDate(i, out);
        monthDayDate(i, out);
        dayMonthDate(i, out);
        theDayOfMonth(i, out);
        if (!allowWeekday) {
            return;
        }
        if (auto hit = phrase(t_.weekdays, i)) {
            size_t j = hit->next;
            if (symbolAt(j, ",", true)) {
                ++j;
            }
            std::vector<Found> inner;
            dates(j, inner, false);
            for (Found found : inner) {
                found.anchored = true;
                out.push_back(found);
            }
        }
    }

    // "2024-03-14", "2024/03/14".
    void isoDate(size_t i, std::vector<Found>& out) const {
        auto y = yearNumber(i);
        if (!y) {
            return;
        }
        for (const char* separator : {"-", "/", "."}) {
            const Token* m = adjacent(i + 2);
            const Token* d = adjacent(i + 4);
            if (!symbolAt(i + 1, separator, true) || !symbolAt(i + 3, separator, true) ||
                m == nullptr || d == nullptr || m->kind != TokenKind::number ||
                d->kind != TokenKind::number || m->digits > 2 || d->digits > 2) {
                continue;
            }
            if (auto date = dateOrLatest(y->value, static_cast<int>(m->value),
                                         static_cast<int>(d->value))) {
                out.push_back(oneDay(*date, i + 5, true));
            }
        }
    }

    // "3/14", "3/14/2024", "14/3/24".
    void numericDate(size_t i, std::vector<Found>& out) const {
        const Token* a = at(i);
        if (a == nullptr || a->kind != TokenKind::number || a->digits > 2 ||
            t_.separators.empty()) {
            return;
        }
        const Token* separator = adjacent(i + 1);
        const Token* b = adjacent(i + 2);
        if (separator == nullptr || separator->kind != TokenKind::symbol ||
            separator->folded.size() != 1 ||
            t_.separators.find(separator->folded) == std::string::npos || b == nullptr ||
            b->kind != TokenKind::number || b->digits > 2) {
            return;
        }
        std::optional<int> y;
        size_t next = i + 3;
        if (symbolAt(i + 3, separator->folded, true)) {
            const Token* c = adjacent(i + 4);
            if (c != nullptr && c->kind == TokenKind::number &&
                (c->digits == 2 || c->digits == 4)) {
                int value = static_cast<int>(c->value);
                if (c->digits == 2) {
                    value += 2000;
                    if (value > static_cast<int>(today_.year()) + 1) {
                        value -= 100;
                    }
                }
                y = value;
                next = i + 5;
            }
        }
        int m = static_cast<int>(a->value);
        int d = static_cast<int>(b->value);
        if (t_.order == NumericDateOrder::dayFirst) {
            std::swap(m, d);
        }
        if (m > 12 && d <= 12) {
            std::swap(m, d);
        }
        if (auto date = dateOrLatest(y, m, d)) {
            out.push_back(oneDay(*date, next, y.has_value()));
        }
    }

    // An optional ", 2024" or " 2024" after a month and day.
    std::optional<Number> trailingYear(size_t j) const {
        size_t k = j;
        if (symbolAt(k, ",", true)) {
            ++k;
        }
        return yearNumber(k);
    }

    void pushDate(std::optional<int> y, int m, int d, size_t next, bool anchored,
                  std::vector<Found>& out) const {
        if (auto date = dateOrLatest(y, m, d)) {
            out.push_back(oneDay(*date, next, anchored));
        }
    }

    // A day of a month ending at `next`: read without a year (the latest such
    // day) and, when a year follows, also with it.
    void pushDateAndYearReading(int month, int day, size_t next, std::vector<Found>& out) const {
        pushDate(std::nullopt, month, day, next, true, out);
        if (auto y = trailingYear(next)) {
            pushDate(y->value, month, day, y->next, true, out);
        }
    }

    // "March 14", "Mar 14th, 2024".
    void monthDayDate(size_t i, std::vector<Found>& out) const {
        auto m = phrase(t_.months, i);
        if (!m) {
            return;
        }
        bool ordinal = false;
        auto d = dayNumber(m->next, ordinal);
        if (!d) {
            return;
        }
        pushDateAndYearReading(m->phrase->value, d->value, d->next, out);
    }

    // "14 March", "14th of March 2024", "the 14th of March".
    void dayMonthDate(size_t i, std::vector<Found>& out) const {
        size_t j = i;
        if (auto the = phrase(t_.theWords, j)) {
            j = the->next;
        }
        bool ordinal = false;
        auto d = dayNumber(j, ordinal);
        if (!d) {
            return;
        }
        size_t k = d->next;
        if (auto of = phrase(t_.ofWords, k)) {
            k = of->next;
        }
        auto m = phrase(t_.months, k);
        if (!m) {
            return;
        }
        pushDateAndYearReading(m->phrase->value, d->value, m->next, out);
    }

    // "the 14th": the latest 14th of a month on or before today.
    void theDayOfMonth(size_t i, std::vector<Found>& out) const {
        auto the = phrase(t_.theWords, i);
        if (!the) {
            return;
        }
        bool ordinal = false;
        auto d = dayNumber(the->next, ordinal);
        if (!d || !ordinal) {
            return;
        }
        if (auto date = latestDayOfMonth(static_cast<unsigned>(d->value))) {
            out.push_back(oneDay(*date, d->next, false));
        }
    }

    // "March", "March 2024", "last March", "this March".
    void monthPoint(size_t i, std::vector<Found>& out) const {
        enum class Which { latestBegun, thisYear, beforeThisMonth };
        Which which = Which::latestBegun;
        size_t j = i;
        if (auto hit = phrase(t_.thisWords, i)) {
            which = Which::thisYear;
            j = hit->next;
        } else if (auto last = phrase(t_.lastWords, i)) {
            which = Which::beforeThisMonth;
            j = last->next;
        }
        auto m = phrase(t_.months, j);
        if (!m) {
            return;
        }
        const month wanted{static_cast<unsigned>(m->phrase->value)};
        if (which == Which::latestBegun) {
            if (auto y = trailingYear(m->next)) {
                out.push_back(monthFound(year{y->value} / wanted, y->next, true));
            }
        }
        year y = today_.year();
        if ((which == Which::latestBegun && wanted > today_.month()) ||
            (which == Which::beforeThisMonth && wanted >= today_.month())) {
            y -= years{1};
        }
        out.push_back(monthFound(y / wanted, m->next, which != Which::latestBegun));
    }

    // "the weekend", "last weekend", "this weekend": Saturday to Monday
    // morning's start. Alone, the latest that has begun; "last", the latest
    // that has ended; "this", the one of this week. A time only after
    // "this", "last" or a preposition ("over the weekend").
    void weekendPoint(size_t i, std::vector<Found>& out) const {
        int which = 0; // 0 latest begun, 1 this, -1 last
        size_t j = i;
        if (auto hit = phrase(t_.thisWords, i)) {
            which = 1;
            j = hit->next;
        } else if (auto last = phrase(t_.lastWords, i)) {
            which = -1;
            j = last->next;
        }
        auto hit = phrase(t_.weekend, j);
        if (!hit) {
            return;
        }
        const int sinceSaturday = static_cast<int>((weekday{sys_days{today_}} - Saturday).count());
        year_month_day saturday = addDays(today_, -sinceSaturday);
        if (which == 1) {
            saturday = addDays(weekStart(today_),
                               static_cast<int>((Saturday - calendar_.firstDayOfWeek()).count()));
        } else if (which == -1 && sinceSaturday < 2) {
            saturday = addDays(saturday, -7);
        }
        out.push_back(daysFound(saturday, addDays(saturday, 2), hit->next, which != 0));
    }

    // "summer", "last winter", "the summer of 2024": the latest such season
    // that has begun; "last", the latest that has ended; "this", the one
    // begun this year (or this winter). A time only with one of those words,
    // a year or a preposition.
    void seasonPoint(size_t i, std::vector<Found>& out) const {
        int which = 0;
        size_t j = i;
        if (auto hit = phrase(t_.thisWords, i)) {
            which = 1;
            j = hit->next;
        } else if (auto last = phrase(t_.lastWords, i)) {
            which = -1;
            j = last->next;
        }
        auto hit = phrase(t_.seasons, j);
        if (!hit) {
            return;
        }
        const auto& season = t_.seasonInfo[static_cast<size_t>(hit->phrase->value)];
        auto range = [&](int y) {
            const year_month first = year{y} / month{static_cast<unsigned>(season.firstMonth)};
            return std::pair{firstOf(first), firstOf(first + months{season.months})};
        };
        size_t next = hit->next;
        if (which == 0) {
            size_t k = next;
            if (auto of = phrase(t_.ofWords, k)) {
                k = of->next;
            }
            if (auto y = yearNumber(k)) {
                const auto [first, end] = range(y->value);
                out.push_back(daysFound(first, end, y->next, true));
            }
        }
        int y = static_cast<int>(today_.year());
        for (int back = 0; back <= 2; ++back, --y) {
            const auto [first, end] = range(y);
            const bool begun = sys_days{first} <= sys_days{today_};
            const bool ended = sys_days{end} <= sys_days{today_};
            if ((which == -1 && ended) || (which != -1 && begun)) {
                out.push_back(daysFound(first, end, next, which != 0));
                return;
            }
        }
    }

    // Western Easter Sunday of `y` (the anonymous Gregorian computus).
    static year_month_day easterSunday(int y) {
        const int a = y % 19, b = y / 100, c = y % 100, d = b / 4, e = b % 4;
        const int f = (b + 8) / 25, g = (b - f + 1) / 3, h = (19 * a + b - d - g + 15) % 30;
        const int i = c / 4, k = c % 4, l = (32 + 2 * e + 2 * i - h - k) % 7;
        const int m = (a + 11 * h + 22 * l) / 451;
        const int mon = (h + l - 7 * m + 114) / 31, dd = (h + l - 7 * m + 114) % 31 + 1;
        return year{y} / month{static_cast<unsigned>(mon)} / day{static_cast<unsigned>(dd)};
    }

    year_month_day holidayStart(const TimeWords::Holiday& holiday, int y) const {
        if (holiday.afterEaster) {
            return addDays(easterSunday(y), holiday.day);
        }
        const year_month ym = year{y} / month{static_cast<unsigned>(holiday.month)};
        if (holiday.nth < 0) {
            const year_month_day last = ym / std::chrono::last;
            const weekday wanted = fromTableWeekday(holiday.weekday);
            return addDays(last, -static_cast<int>((weekday{sys_days{last}} - wanted).count()));
        }
        if (holiday.nth != 0) {
            const weekday wanted = fromTableWeekday(holiday.weekday);
            const int toFirst = static_cast<int>((wanted - weekday{sys_days{firstOf(ym)}}).count());
            return addDays(firstOf(ym), toFirst + 7 * (holiday.nth - 1));
        }
        return ym / day{static_cast<unsigned>(holiday.day)};
    }

    // The phrase of `list` at token `i` whose words may carry a possessive
    // ("New Year's Eve", "Valentine's Day").
    std::optional<Hit> phraseWithPossessives(const PhraseList& list, size_t i) const {
        std::optional<Hit> best;
        for (const Phrase& candidate : list) {
            size_t k = 0;
            for (; k < candidate.words.size() && i + k < tokens_.size(); ++k) {
                const Token& token = tokens_[i + k];
                if (token.kind != TokenKind::word || token.folded != candidate.words[k] ||
                    (k > 0 && !token.spaceBefore)) {
                    break;
                }
            }
            if (k == candidate.words.size() && k > 0 && (!best || i + k > best->next)) {
                best = Hit{&candidate, i + k};
            }
        }
        return best;
    }

    // The holiday `phrase` names where the person lives (LocalCalendar::
    // region): the entry of its words kept in that country, else the one
    // kept everywhere, else the first.
    const TimeWords::Holiday& keptHoliday(const Phrase& phrase) const {
        const std::string region = calendar_.region();
        const TimeWords::Holiday* everywhere = nullptr;
        const TimeWords::Holiday* first = nullptr;
        for (const Phrase& candidate : t_.holidays) {
            if (candidate.words != phrase.words) {
                continue;
            }
            const TimeWords::Holiday& holiday =
                t_.holidayInfo[static_cast<size_t>(candidate.value)];
            const auto& regions = holiday.regions;
            if (std::find(regions.begin(), regions.end(), region) != regions.end()) {
                return holiday;
            }
            if (regions.empty() && everywhere == nullptr) {
                everywhere = &holiday;
            }
            if (first == nullptr) {
                first = &holiday;
            }
        }
        // `phrase` is among them: `first` is set.
        return everywhere != nullptr ? *everywhere : *first;
    }

    // "Christmas", "last Easter", "New Year's Eve": the latest that has
    // begun; "last", the latest that has ended; "this", this year's. A time
    // only with one of those words or a preposition ("at Christmas").
    void holidayPoint(size_t i, std::vector<Found>& out) const {
        int which = 0;
        size_t j = i;
        if (auto hit = phrase(t_.thisWords, i)) {
            which = 1;
            j = hit->next;
        } else if (auto last = phrase(t_.lastWords, i)) {
            which = -1;
            j = last->next;
        }
        if (j > i && j < tokens_.size() && tokens_[j - 1].possessive) {
            return;
        }
        auto hit = phraseWithPossessives(t_.holidays, j);
        if (!hit) {
            // "the Fourth of July", "the August bank holiday".
            if (auto the = phrase(t_.theWords, j)) {
                hit = phraseWithPossessives(t_.holidays, the->next);
            }
        }
        if (!hit) {
            return;
        }
        const TimeWords::Holiday& holiday = keptHoliday(*hit->phrase);
        int y = static_cast<int>(today_.year());
        for (int back = 0; back <= 2; ++back, --y) {
            const year_month_day first = holidayStart(holiday, y);
            const year_month_day end = addDays(first, holiday.days);
            const bool begun = sys_days{first} <= sys_days{today_};
            const bool ended = sys_days{end} <= sys_days{today_};
            if (which == 1 || (which == -1 && ended) || (which == 0 && begun)) {
                out.push_back(daysFound(first, end, hit->next, which != 0));
                return;
            }
        }
    }

    // "the week before last": the calendar week two weeks back.
    void weekBeforeLastPoint(size_t i, std::vector<Found>& out) const {
        if (auto hit = phrase(t_.weekBeforeLast, i)) {
            const year_month_day start = addDays(weekStart(today_), -14);
            out.push_back(daysFound(start, addDays(start, 7), hit->next, true));
        }
    }

    // "earlier this week/month/year": from its start up to the end of today.
    void earlierPeriod(size_t i, std::vector<Found>& out) const {
        auto hit = phrase(t_.earlier, i);
        if (!hit) {
            return;
        }
        auto current = phrase(t_.thisWords, hit->next);
        if (!current) {
            return;
        }
        auto unit = phrase(t_.units, current->next);
        if (!unit) {
            return;
        }
        year_month_day first = today_;
        switch (static_cast<TimeUnit>(unit->phrase->value)) {
        case TimeUnit::day:
            first = today_;
            break;
        case TimeUnit::week:
            first = weekStart(today_);
            break;
        case TimeUnit::month:
            first = firstOf(year_month{today_.year(), today_.month()});
            break;
        case TimeUnit::year:
            first = today_.year() / January / 1;
            break;
        }
        out.push_back(daysFound(first, addDays(today_, 1), unit->next, true));
    }

    // "the end of last year", "the start of this month", "end of March": the
    // last or first part of the period: two months of a year, ten days of a
    // month, three days of a week.
    void partOfPeriod(size_t i, std::vector<Found>& out) {
        for (const bool atEnd : {true, false}) {
            auto hit = phrase(atEnd ? t_.endOf : t_.startOf, i);
            if (!hit) {
                continue;
            }
            std::vector<Found> periods;
            calendarPeriod(hit->next, periods);
            monthPoint(hit->next, periods);
            yearPoint(hit->next, periods);
            auto period = longest(periods, false);
            if (!period || !period->range.start || !period->range.end) {
                continue;
            }
            const year_month_day first = calendar_.dateOf(*period->range.start);
            const year_month_day end = calendar_.dateOf(*period->range.end);
            const auto days = (sys_days{end} - sys_days{first}).count();
            year_month_day from = first;
            year_month_day to = end;
            if (days > 200) {
                const year_month ym{atEnd ? end.year() : first.year(),
                                    atEnd ? end.month() : first.month()};
                (atEnd ? from : to) = firstOf(atEnd ? ym - months{2} : ym + months{2});
            } else {
                const int part = days > 20 ? 10 : 3;
                (atEnd ? from : to) = atEnd ? addDays(end, -part) : addDays(first, part);
            }
            out.push_back(daysFound(from, to, period->next, true));
        }
    }

    // "2023".
    void yearPoint(size_t i, std::vector<Found>& out) const {
        if (auto y = yearNumber(i)) {
            out.push_back(yearFound(y->value, y->next, false));
        }
    }
};

// Tokens that may end a whole expression without being part of it.
bool isClosingPunctuation(const Token& token) {
    return token.kind == TokenKind::symbol &&
           (token.folded == "." || token.folded == "?" || token.folded == "!");
}

} // namespace

TimeExpressionParser::TimeExpressionParser(const TimeWords& words)
    : table_(std::make_unique<Table>(words)) {}

TimeExpressionParser::~TimeExpressionParser() = default;

std::optional<TimeRange> TimeExpressionParser::parse(std::string_view expression,
                                                     const TimeContext& context) const {
    const LocalCalendar calendar(context);
    const std::vector<Token> tokens = text::tokenize(expression);
    size_t end = tokens.size();
    while (end > 0 && isClosingPunctuation(tokens[end - 1])) {
        --end;
    }
    if (end == 0) {
        return std::nullopt;
    }
    Matcher matcher(*table_, tokens, calendar);
    auto found = matcher.expression(0, false);
    if (!found || found->next != end) {
        return std::nullopt;
    }
    return found->range;
}

std::vector<TimeMatch> TimeExpressionParser::find(std::string_view text,
                                                  const TimeContext& context) const {
    const LocalCalendar calendar(context);
    const std::vector<Token> tokens = text::tokenize(text);
    Matcher matcher(*table_, tokens, calendar);
    std::vector<TimeMatch> matches;
    for (size_t i = 0; i < tokens.size();) {
        auto found = matcher.expression(i, true);
        if (!found) {
            ++i;
            continue;
        }
        matches.push_back(TimeMatch{found->range, tokens[i].begin, tokens[found->next - 1].end});
        i = found->next;
    }
    return matches;
}

} // namespace orlune::core

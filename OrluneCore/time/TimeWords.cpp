#include "time/TimeWords.hpp"

#include <algorithm>

namespace orlune::core {

namespace {

TimeWords makeEnglish() {
    TimeWords w;
    w.language = "en";
    w.months = {
        {"january", 1},   {"jan", 1},   {"february", 2},  {"feb", 2},       {"march", 3},
        {"mar", 3, true}, {"april", 4}, {"apr", 4},       {"may", 5, true}, {"june", 6},
        {"jun", 6},       {"july", 7},  {"jul", 7},       {"august", 8},    {"aug", 8},
        {"september", 9}, {"sept", 9},  {"sep", 9},       {"october", 10},  {"oct", 10},
        {"november", 11}, {"nov", 11},  {"december", 12}, {"dec", 12},
    };
    w.weekdays = {
        {"monday", 1},    {"mon", 1},       {"tuesday", 2},  {"tues", 2},     {"tue", 2},
        {"wednesday", 3}, {"wed", 3, true}, {"thursday", 4}, {"thurs", 4},    {"thur", 4},
        {"thu", 4},       {"friday", 5},    {"fri", 5},      {"saturday", 6}, {"sat", 6, true},
        {"sunday", 7},    {"sun", 7, true},
    };
    w.relativeDays = {{"today", 0}, {"yesterday", -1}, {"the day before yesterday", -2}};
    w.numbers = {
        {"a", 1},    {"an", 1},   {"one", 1},     {"two", 2},     {"three", 3},
        {"four", 4}, {"five", 5}, {"six", 6},     {"seven", 7},   {"eight", 8},
        {"nine", 9}, {"ten", 10}, {"eleven", 11}, {"twelve", 12}, {"a couple of", 2},
    };
    w.units = {
        {"day", TimeUnit::day},    {"days", TimeUnit::day},    {"week", TimeUnit::week},
        {"weeks", TimeUnit::week}, {"month", TimeUnit::month}, {"months", TimeUnit::month},
        {"year", TimeUnit::year},  {"years", TimeUnit::year},
    };
    w.dayParts = {
        {"morning", 5, 12}, {"afternoon", 12, 17}, {"evening", 17, 22}, {"night", 18, 30}};
    w.relativeDayParts = {
        {"last night", -1, "night"},    {"tonight", 0, "night"},
        {"this morning", 0, "morning"}, {"this afternoon", 0, "afternoon"},
        {"this evening", 0, "evening"},
    };
    w.weekendWords = {"weekend", "the weekend"};
    w.seasons = {{"spring", 3},  {"the spring", 3}, {"summer", 6}, {"the summer", 6},
                 {"autumn", 9},  {"the autumn", 9}, {"fall", 9},   {"the fall", 9},
                 {"winter", 12}, {"the winter", 12}};
    w.holidays = {
        {"christmas", 12, 24, 3},
        {"xmas", 12, 24, 3},
        {"christmas eve", 12, 24},
        {"christmas day", 12, 25},
        {"boxing day", 12, 26},
        {"new year eve", 12, 31},
        {"new years eve", 12, 31},
        {"nye", 12, 31},
        {"new year", 12, 31, 2},
        {"new years", 12, 31, 2},
        {"new year day", 1, 1},
        {"new years day", 1, 1},
        {"halloween", 10, 31},
        {"valentine day", 2, 14},
        {"valentines day", 2, 14},
        {"valentines", 2, 14},
        {"bonfire night", 11, 5},
        {"st patrick day", 3, 17},
        {"st patricks day", 3, 17},
        {"easter", 0, -2, 4, true},
        {"easter weekend", 0, -2, 4, true},
        {"easter sunday", 0, 0, 1, true},
        {"good friday", 0, -2, 1, true},
        {"easter monday", 0, 1, 1, true},
        {"thanksgiving", 11, 0, 1, false, 4, 4},
        {"thanksgiving", 10, 0, 1, false, 2, 1, {"CA"}},
        {"thanksgiving day", 11, 0, 1, false, 4, 4},
        {"thanksgiving day", 10, 0, 1, false, 2, 1, {"CA"}},
        {"fourth of july", 7, 4},
        {"independence day", 7, 4, 1, false, 0, 0, {"US"}},
        {"memorial day", 5, 0, 1, false, -1, 1, {"US"}},
        {"labor day", 9, 0, 1, false, 1, 1, {"US", "CA"}},
        {"labour day", 9, 0, 1, false, 1, 1, {"CA"}},
        {"presidents day", 2, 0, 1, false, 3, 1, {"US"}},
        {"president day", 2, 0, 1, false, 3, 1, {"US"}},
        {"martin luther king day", 1, 0, 1, false, 3, 1, {"US"}},
        {"mlk day", 1, 0, 1, false, 3, 1, {"US"}},
        {"juneteenth", 6, 19},
        {"veterans day", 11, 11},
        {"veteran day", 11, 11},
        {"remembrance day", 11, 11},
        {"remembrance sunday", 11, 0, 1, false, 2, 7},
        {"canada day", 7, 1},
        {"australia day", 1, 26},
        {"anzac day", 4, 25},
        {"burns night", 1, 25},
        {"guy fawkes night", 11, 5},
        {"st andrew day", 11, 30},
        {"st andrews day", 11, 30},
        {"st stephen day", 12, 26},
        {"st stephens day", 12, 26},
        // Mothering Sunday in Britain and Ireland, the second Sunday of May
        // in most other places.
        {"mother day", 0, -21, 1, true, 0, 0, {"GB", "IE"}},
        {"mothers day", 0, -21, 1, true, 0, 0, {"GB", "IE"}},
        {"mother day", 5, 0, 1, false, 2, 7},
        {"mothers day", 5, 0, 1, false, 2, 7},
        {"mothering sunday", 0, -21, 1, true},
        {"father day", 6, 0, 1, false, 3, 7},
        {"fathers day", 6, 0, 1, false, 3, 7},
        // Britain's bank holidays; Ireland's August one is its first Monday.
        {"early may bank holiday", 5, 0, 1, false, 1, 1},
        {"may bank holiday", 5, 0, 1, false, 1, 1},
        {"spring bank holiday", 5, 0, 1, false, -1, 1},
        {"summer bank holiday", 8, 0, 1, false, -1, 1},
        {"august bank holiday", 8, 0, 1, false, 1, 1, {"IE"}},
        {"august bank holiday", 8, 0, 1, false, -1, 1},
        {"shrove tuesday", 0, -47, 1, true},
        {"pancake day", 0, -47, 1, true},
        {"ash wednesday", 0, -46, 1, true},
        {"palm sunday", 0, -7, 1, true},
        {"maundy thursday", 0, -3, 1, true},
        {"ascension day", 0, 39, 1, true},
        {"pentecost", 0, 49, 1, true},
        {"whitsun", 0, 49, 1, true},
        {"whit sunday", 0, 49, 1, true},
        {"whit monday", 0, 50, 1, true},
        {"pentecost monday", 0, 50, 1, true},
    };
    w.weekBeforeLastWords = {"the week before last", "week before last"};
    w.earlierWords = {"earlier"};
    w.endOfWords = {"end of", "the end of"};
    w.startOfWords = {"start of", "the start of", "beginning of", "the beginning of"};
    w.thisWords = {"this"};
    w.lastWords = {"last", "previous"};
    w.pastWords = {"past"};
    w.agoAfter = {"ago"};
    w.pointPrefixes = {"on", "in", "during", "over", "at"};
    w.sinceWords = {"since"};
    w.afterWords = {"after"};
    w.beforeWords = {"before"};
    w.untilWords = {"until", "till", "up to"};
    w.betweenWords = {"between"};
    w.andWords = {"and"};
    w.fromWords = {"from"};
    w.toWords = {"to", "until", "till", "through"};
    w.ordinalSuffixes = {"st", "nd", "rd", "th"};
    w.ofWords = {"of"};
    w.theWords = {"the"};
    w.numericDateOrder = NumericDateOrder::monthFirst;
    return w;
}

} // namespace

const TimeWords& TimeWords::english() {
    static const TimeWords words = makeEnglish();
    return words;
}

bool TimeWords::namesMonthOrWeekday(std::string_view folded) const {
    for (const std::vector<Named>* names : {&months, &weekdays}) {
        for (const Named& name : *names) {
            if (!name.ambiguous && name.phrase == folded) {
                return true;
            }
        }
    }
    return false;
}

bool TimeWords::saidAhead(std::string_view folded) const {
    if (folded.empty()) {
        return false;
    }
    for (const std::vector<Named>* names : {&months, &weekdays, &relativeDays, &numbers}) {
        for (const Named& name : *names) {
            if (name.phrase == folded) {
                return !name.ambiguous && name.value >= 0 && names != &numbers;
            }
        }
    }
    for (const Unit& entry : units) {
        if (entry.phrase == folded) {
            return false;
        }
    }
    for (const std::vector<std::string>* joining :
         {&thisWords, &lastWords, &pastWords, &agoAfter, &agoBefore, &earlierWords, &pointPrefixes,
          &sinceWords, &afterWords, &beforeWords, &untilWords, &betweenWords, &andWords, &fromWords,
          &toWords, &ofWords, &theWords, &ordinalSuffixes}) {
        for (const std::string& word : *joining) {
            if (word == folded) {
                return false;
            }
        }
    }
    // Every word of the relative days looking back ("the day before
    // yesterday").
    for (const Named& name : relativeDays) {
        if (name.value >= 0) {
            continue;
        }
        std::string_view rest = name.phrase;
        while (!rest.empty()) {
            const size_t space = std::min(rest.find(' '), rest.size());
            if (rest.substr(0, space) == folded) {
                return false;
            }
            rest.remove_prefix(std::min(space + 1, rest.size()));
        }
    }
    return true;
}

} // namespace orlune::core

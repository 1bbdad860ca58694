#include "tests/support/InstantText.hpp"

#include <cstdio>
#include <stdexcept>

namespace orlune::testing {

using namespace std::chrono;

core::Instant instantAt(std::string_view text) {
    const std::string copy(text);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, consumed = 0;
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d%n", &y, &mo, &d, &h, &mi, &consumed) != 5) {
        throw std::invalid_argument("not a time: " + copy);
    }
    std::string_view rest = text.substr(static_cast<size_t>(consumed));
    if (rest.size() >= 3 && rest[0] == ':') {
        s = (rest[1] - '0') * 10 + (rest[2] - '0');
        rest.remove_prefix(3);
    }
    minutes offset{0};
    if (rest == "Z") {
        offset = minutes{0};
    } else if (rest.size() == 6 && (rest[0] == '+' || rest[0] == '-') && rest[3] == ':') {
        const int oh = (rest[1] - '0') * 10 + (rest[2] - '0');
        const int om = (rest[4] - '0') * 10 + (rest[5] - '0');
        offset = minutes{(rest[0] == '-' ? -1 : 1) * (oh * 60 + om)};
    } else {
        throw std::invalid_argument("no offset in: " + copy);
    }
    const sys_days day =
        year{y} / month{static_cast<unsigned>(mo)} / std::chrono::day{static_cast<unsigned>(d)};
    return core::Instant(day + hours{h} + minutes{mi} + seconds{s} - offset);
}

std::string utcText(core::Instant instant) {
    const sys_days day = floor<days>(instant);
    const year_month_day date{day};
    const auto time = instant - day;
    const auto h = duration_cast<hours>(time);
    const auto m = duration_cast<minutes>(time - h);
    const auto s = duration_cast<seconds>(time - h - m);
    const auto us = duration_cast<microseconds>(time - h - m - s);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%06lldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(h.count()),
                  static_cast<int>(m.count()), static_cast<int>(s.count()),
                  static_cast<long long>(us.count()));
    return text;
}

std::string utcText(const std::optional<core::Instant>& instant) {
    return instant ? utcText(*instant) : std::string("(open)");
}

} // namespace orlune::testing

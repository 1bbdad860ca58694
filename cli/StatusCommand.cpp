// `orlune status`: what the shadow database covers of the messaging store.

#include "Command.hpp"
#include "OptionParser.hpp"
#include "ShadowAccess.hpp"
#include "SqlOutput.hpp"
#include "answer/CoverageText.hpp"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <utility>

namespace orlune::cli {

namespace {

const std::string kHelp =
    std::string("Usage: orlune status [--shadow-db PATH] [--json]\n"
                "\n"
                "Says what the shadow database covers of your messages, so that \"not in\n"
                "my messages\" can be told from \"not copied\": how many messages are\n"
                "indexed, the dates of the first and last (local time), in how many chats,\n"
                "how many chats you excluded, the store's rows the sync left out by why\n"
                "(reactions, group events, junk, unsent messages, messages in Recently\n"
                "Deleted) and how many attachments are not downloaded to this computer\n"
                "(only in the cloud).\n"
                "\n"
                "Options:\n") +
    kShadowDBOptionHelp +
    std::string("  --json            one JSON object with the keys messages, first_message,\n"
                "                    last_message (local time, ISO 8601 with the offset;\n"
                "                    null when no message is copied), chats, chats_excluded,\n"
                "                    left_out (reactions, events, junk, unsent, deleted) and\n"
                "                    attachments_not_downloaded\n"
                "  -h, --help        show this help\n");

// `t` in the calendar's zone as "2021-03-02T09:14:05+01:00".
std::string isoLocalTime(core::Instant t, const core::LocalCalendar& calendar) {
    using namespace std::chrono;
    const minutes offset = calendar.utcOffset(t);
    const auto local = floor<seconds>(t) + offset;
    const auto day = floor<days>(local);
    const year_month_day date(day);
    const hh_mm_ss<seconds> time(local - day);
    const long offsetMinutes = offset.count() < 0 ? -offset.count() : offset.count();
    char text[160];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ld%c%02ld:%02ld",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long>(time.hours().count()),
                  static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()), offset.count() < 0 ? '-' : '+',
                  offsetMinutes / 60, offsetMinutes % 60);
    return text;
}

nlohmann::ordered_json coverageJson(const core::Coverage& coverage,
                                    const core::LocalCalendar& calendar) {
    nlohmann::ordered_json json;
    json["messages"] = coverage.messages;
    json["first_message"] =
        coverage.span ? nlohmann::ordered_json(isoLocalTime(coverage.span->first, calendar))
                      : nullptr;
    json["last_message"] = coverage.span
                               ? nlohmann::ordered_json(isoLocalTime(coverage.span->last, calendar))
                               : nullptr;
    json["chats"] = coverage.chats;
    json["chats_excluded"] = coverage.chatsExcluded;
    json["left_out"] = {{"reactions", coverage.leftOut.reactions},
                        {"events", coverage.leftOut.events},
                        {"junk", coverage.leftOut.junk},
                        {"unsent", coverage.leftOut.unsent},
                        {"deleted", coverage.recentlyDeleted}};
    json["attachments_not_downloaded"] = coverage.attachmentsNotDownloaded;
    return json;
}

void printCoverage(const core::Coverage& coverage, const core::LocalCalendar& calendar) {
    using core::groupedCount;
    const std::string none = "none copied yet";
    const std::pair<const char*, std::string> lines[] = {
        {"Messages indexed", groupedCount(coverage.messages)},
        {"First message", coverage.span ? calendar.formatForPerson(coverage.span->first) : none},
        {"Last message", coverage.span ? calendar.formatForPerson(coverage.span->last) : none},
        {"Chats", groupedCount(coverage.chats)},
        {"Chats excluded", groupedCount(coverage.chatsExcluded)},
        {"Left out: reactions", groupedCount(coverage.leftOut.reactions)},
        {"Left out: group events", groupedCount(coverage.leftOut.events)},
        {"Left out: junk", groupedCount(coverage.leftOut.junk)},
        {"Left out: unsent", groupedCount(coverage.leftOut.unsent)},
        {"Left out: recently deleted", groupedCount(coverage.recentlyDeleted)},
        {"Attachments not downloaded", groupedCount(coverage.attachmentsNotDownloaded)},
    };
    for (const auto& [label, value] : lines) {
        std::string padded = label;
        padded.resize(28, ' ');
        std::cout << padded << value << "\n";
    }
}

int runStatus(const std::vector<std::string>& args) {
    OptionParser options("status", {"--shadow-db"}, {"--json"});
    if (!options.parse(args)) {
        return 2;
    }
    if (!options.noPositional()) {
        return 2;
    }
    return withShadowForReading(options.value("--shadow-db"), [&](core::ShadowDBReader& db) {
        const core::Coverage coverage = db.coverage();
        const core::LocalCalendar calendar(core::TimeContext::system());
        if (options.flag("--json")) {
            printJsonLine(coverageJson(coverage, calendar), std::cout);
        } else {
            printCoverage(coverage, calendar);
        }
        return 0;
    });
}

const CommandRegistration registration(Command{
    "status",
    "say what the shadow database covers and what the sync left out",
    kHelp,
    runStatus,
});

} // namespace

} // namespace orlune::cli

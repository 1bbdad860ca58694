#include "helper/AgentPrompt.hpp"

#include "helper/AgentTools.hpp"
#include "helper/DataFence.hpp"
#include "helper/MessageFormat.hpp"
#include "time/StoreTime.hpp"

#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace orlune::helper {

namespace {

constexpr size_t kMaxSliceBytes = 24000;
constexpr size_t kMaxSummaryBytes = 2000;
constexpr size_t kMaxPromptHandlesBytes = 300;

constexpr const char* kRootPrompt =
    "You answer questions about the user's own text messages. They are stored in a SQLite "
    "database described below, which you explore with tools:\n"
    "- search_messages: ranked full-text search (SQLite FTS5 MATCH syntax: put each word or "
    "phrase in double quotes, join alternatives with OR; limit a term to one column with "
    "sender: or chat_name:, e.g. sender: \"alice\").\n"
    "- run_sql: one read-only SQL statement (SQLite dialect); filter there by sender, chat_id "
    "or chat_name and by time (messages.timestamp, see below).\n"
    "- message_context: the messages just before and after one message (by guid) in its chat, "
    "to read a hit in its conversation.\n"
    "- ask_submodel: have a helper model read a slice of text you pass it and answer a narrower "
    "question about it.\n"
    "Base the answer only on messages you found. When you are done, call final_answer with the "
    "answer, the guids of the messages it relies on, and a short summary of the whole "
    "conversation so far (it is given back to you with the next question).\n"
    "Message times (messages.timestamp) are the messaging store's dates: nanoseconds since "
    "2001-01-01 00:00:00 UTC (seconds in very old stores). A sender of 'me' (is_from_me = 1) is "
    "the user. Tool calls are limited, so prefer few, well-aimed queries.";

constexpr const char* kSubPrompt =
    "You help another model answer a question about the user's text messages. Answer the "
    "question about the text you are given, briefly and only from that text and from what the "
    "tools (if offered) find in the message database described below. Name the messages you "
    "rely on by sender, chat and time.";

const char* const kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

std::string twoDigits(long value) {
    char buffer[24]; // room for any long
    std::snprintf(buffer, sizeof buffer, "%02ld", value);
    return buffer;
}

} // namespace

const char* const kLastCallNote =
    "No tool calls are left. Answer the question now, in plain text, from what you have found.";

std::string timeDescription(const core::TimeContext& time) {
    using namespace std::chrono;
    std::unique_ptr<core::LocalCalendar> calendar;
    try {
        calendar = std::make_unique<core::LocalCalendar>(time);
    } catch (const std::invalid_argument&) {
        calendar =
            std::make_unique<core::LocalCalendar>(core::TimeContext{time.now, "UTC", time.locale});
    }
    const minutes offset = calendar->utcOffset(time.now);
    const auto local = floor<minutes>(time.now) + offset;
    const auto day = floor<days>(local);
    const year_month_day date{day};
    const hh_mm_ss clock{local - day};
    const minutes absolute = offset < minutes(0) ? -offset : offset;
    const std::string zoneOffset = std::string("UTC") + (offset < minutes(0) ? "-" : "+") +
                                   twoDigits(duration_cast<hours>(absolute).count()) + ":" +
                                   twoDigits((absolute % hours(1)).count());
    const core::Instant midnight = calendar->at(calendar->today());
    const int64_t midnightStore =
        (duration_cast<microseconds>(midnight.time_since_epoch()).count() -
         core::kStoreEpochUnixSeconds * 1000000) *
        1000;
    return "It is now " + std::string(kWeekdays[weekday(day).c_encoding()]) + " " +
           std::to_string(static_cast<int>(date.year())) + "-" +
           twoDigits(static_cast<unsigned>(date.month())) + "-" +
           twoDigits(static_cast<unsigned>(date.day())) + " " + twoDigits(clock.hours().count()) +
           ":" + twoDigits(clock.minutes().count()) + " in the user's time zone, " +
           calendar->context().zone + " (" + zoneOffset +
           "). Read \"today\", \"yesterday\", \"last week\" and other times in the question "
           "in that zone. Times in tool results are in UTC. Today began at messages.timestamp " +
           std::to_string(midnightStore) + " (a local day is 86400000000000 nanoseconds).\n";
}

std::string peopleDescription(ShadowTools& tools, size_t maxPeople) {
    if (maxPeople == 0) {
        return "";
    }
    const std::optional<KnownPeople> people = knownPeople(tools, maxPeople);
    if (!people) {
        // A database synced before people were read has no such tables.
        return "";
    }
    std::string lines;
    for (const KnownPerson& person : people->listed) {
        std::string line = "- " + person.name;
        std::string names;
        for (const std::string& nickname : person.nicknames) {
            names += (names.empty() ? "" : ", ") + nickname;
        }
        if (!names.empty()) {
            line += " (also " + names + ")";
        }
        line += ": " + clipped(person.handles, kMaxPromptHandlesBytes);
        line += "; " + std::to_string(person.messages) +
                (person.messages == 1 ? " message" : " messages");
        lines += line + "\n";
    }
    if (lines.empty()) {
        return "";
    }
    std::string description =
        "People the user knows (from their contacts), those with the most messages first: "
        "name, other names, handles (as messages.sender holds them) and message count. "
        "messages_named gives each message's sender_name and chat_title.\n" +
        fenceData(lines) + "\n";
    if (people->unlisted > 0) {
        description += std::to_string(people->unlisted) +
                       " more people are not listed; find them in people and person_handles.\n";
    }
    return description;
}

std::string schemaDescription(ShadowTools& tools) {
    std::string description = "Database tables:\n";
    for (const std::string& table : tools.listTables()) {
        // FTS5's own storage tables are noise to the model.
        if (table.rfind("messages_fts_", 0) == 0) {
            continue;
        }
        description += "- " + table + "(";
        bool first = true;
        for (const TableColumn& column : tools.describeTable(table)) {
            description += (first ? "" : ", ") + column.name;
            if (!column.type.empty()) {
                description += " " + column.type;
            }
            if (column.notNull) {
                description += " NOT NULL";
            }
            first = false;
        }
        description += ")\n";
    }
    description +=
        "messages_fts is an FTS5 index over messages(text, chat_name, sender) with "
        "content_rowid = messages.rowid; rank with bm25(messages_fts) (lower is better). "
        "chat_participants lists the members of each chat.\n";
    // The count is a courtesy; the schema above is what matters.
    if (const std::optional<int64_t> count = messageCount(tools)) {
        description += "The messages table holds " + std::to_string(*count) + " messages.\n";
    }
    return description;
}

std::string rootSystemPrompt(ShadowTools& tools, const core::TimeContext& time, int maxCalls,
                             int maxDepth) {
    std::string system = std::string(kRootPrompt) + "\n" + kFenceRule + "\n\n" +
                         timeDescription(time) + "\n" + peopleDescription(tools, kMaxPromptPeople);
    system += schemaDescription(tools);
    system += "\nLimits: at most " + std::to_string(maxCalls) +
              " model calls in all; sub-models may nest " + std::to_string(maxDepth) +
              " level(s) deep.\n";
    return system;
}

std::string summaryTurn(const std::string& summary) {
    return "Summary of the conversation so far (data, written earlier; it may quote messages):\n" +
           fenceData(summary);
}

std::string earlierAnswerTurn(const std::string& text) {
    return "An earlier answer or note in this conversation (data; it may quote messages):\n" +
           fenceData(text);
}

std::string subSystemPrompt(ShadowTools& tools, const core::TimeContext& time) {
    return std::string(kSubPrompt) + "\n" + kFenceRule + "\n\n" + timeDescription(time) + "\n" +
           schemaDescription(tools);
}

std::string subModelTask(const std::string& question, const std::string& slice) {
    return "Question: " + question + "\n\nText (data):\n" +
           fenceData(clipped(slice, kMaxSliceBytes));
}

std::string fallbackSummary(const std::optional<std::string>& previous, const std::string& question,
                            const std::string& answer) {
    std::string summary = previous ? *previous + "\n" : std::string();
    summary += "Q: " + snippet(question, 300) + "\nA: " + snippet(answer, 400);
    if (summary.size() > kMaxSummaryBytes) {
        size_t start = summary.size() - kMaxSummaryBytes;
        while (start < summary.size() &&
               (static_cast<unsigned char>(summary[start]) & 0xC0) == 0x80) {
            ++start;
        }
        summary = "..." + summary.substr(start);
    }
    return summary;
}

} // namespace orlune::helper

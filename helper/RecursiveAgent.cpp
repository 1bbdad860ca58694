#include "helper/RecursiveAgent.hpp"

#include "answer/CitedMessagesHeading.hpp"
#include "time/StoreTime.hpp"
#include "helper/DataFence.hpp"
#include "helper/HelperError.hpp"
#include "helper/MessageFormat.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace orlune::helper {

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr size_t kMaxToolResultBytes = 16000;
constexpr size_t kMaxCellBytes = 1000;
constexpr size_t kMaxSliceBytes = 24000;
constexpr size_t kMaxSummaryBytes = 2000;
constexpr int kDefaultSqlRows = 50;
constexpr int kMaxSqlRows = 200;
constexpr int kDefaultSearchHits = 20;
constexpr int kMaxSearchHits = 50;
constexpr size_t kMaxSources = 20;
constexpr int kDefaultContextMessages = 3;
constexpr int kMaxContextMessages = 10;

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

// The cited messages with their senders' names and chats' titles; the plain
// table where the database has no messages_named.
constexpr const char* kCitedNamedSelect =
    "SELECT guid, chat_id, chat_name, sender, text, timestamp, is_from_me, sender_name, "
    "chat_title FROM messages_named WHERE guid IN (";
constexpr const char* kCitedPlainSelect =
    "SELECT guid, chat_id, chat_name, sender, text, timestamp, is_from_me FROM messages "
    "WHERE guid IN (";

// The people with the most messages, for the system prompt (a LIMIT is
// appended), and how many people have a handle at all.
constexpr const char* kPromptPeopleSelect =
    "SELECT p.display_name, p.nicknames, group_concat(ph.handle, ', ') AS handles, "
    "SUM((SELECT COUNT(*) FROM messages m WHERE m.sender = ph.handle)) AS message_count "
    "FROM people p JOIN person_handles ph ON ph.person_id = p.person_id "
    "GROUP BY p.person_id ORDER BY message_count DESC, p.display_name, p.person_id LIMIT ";
constexpr const char* kPromptPeopleCount = "SELECT COUNT(DISTINCT p.person_id) FROM people p "
                                           "JOIN person_handles ph ON ph.person_id = p.person_id";
constexpr size_t kMaxPromptHandlesBytes = 300;

constexpr const char* kLastCallNote =
    "No tool calls are left. Answer the question now, in plain text, from what you have found.";

const char* const kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};

std::string twoDigits(long value) {
    char buffer[24]; // room for any long
    std::snprintf(buffer, sizeof buffer, "%02ld", value);
    return buffer;
}

std::string clip(const std::string& text, size_t maxBytes) {
    return text.size() <= maxBytes ? text : snippet(text, maxBytes);
}

std::string dumpJson(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// `result` as JSON text of at most kMaxToolResultBytes where dropping entries
// from the end of its array `listKey` gets it there (an emptied array stops
// the dropping). With `markTruncated`, a result that lost entries says so in
// "truncated": true.
std::string dumpWithinLimit(json& result, const char* listKey, bool markTruncated) {
    std::string text = dumpJson(result);
    while (text.size() > kMaxToolResultBytes && !result[listKey].empty()) {
        result[listKey].erase(result[listKey].size() - 1);
        if (markTruncated) {
            result["truncated"] = true;
        }
        text = dumpJson(result);
    }
    return text;
}

std::string toolError(const std::string& message) {
    return dumpJson(json{{"error", message}});
}

int boundedLimit(const json& arguments, const char* key, int fallback, int ceiling) {
    auto it = arguments.find(key);
    if (it == arguments.end() || !it->is_number_integer()) {
        return fallback;
    }
    return static_cast<int>(std::clamp<int64_t>(it->get<int64_t>(), 1, ceiling));
}

std::optional<std::string> stringArgument(const json& arguments, const char* key) {
    auto it = arguments.find(key);
    if (it == arguments.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

json functionTool(const char* name, const char* description, json properties,
                  std::vector<std::string> required) {
    return json{
        {"type", "function"},
        {"function",
         {{"name", name},
          {"description", description},
          {"parameters",
           {{"type", "object"}, {"properties", std::move(properties)}, {"required", required}}}}}};
}

// The assistant message as it goes back into the conversation.
json echoAssistant(const json& message) {
    json echo = {{"role", "assistant"}};
    auto content = message.find("content");
    echo["content"] = (content != message.end() && content->is_string()) ? *content : json(nullptr);
    echo["tool_calls"] = message["tool_calls"];
    return echo;
}

// The tool call's arguments: a JSON text (the common form) or an object.
std::optional<json> parseArguments(const json& call) {
    auto function = call.find("function");
    if (function == call.end() || !function->is_object()) {
        return std::nullopt;
    }
    auto arguments = function->find("arguments");
    if (arguments == function->end() || arguments->is_null()) {
        return json::object();
    }
    if (arguments->is_object()) {
        return *arguments;
    }
    if (arguments->is_string()) {
        json parsed = json::parse(arguments->get<std::string>(), nullptr, false);
        if (!parsed.is_discarded() && parsed.is_object()) {
            return parsed;
        }
    }
    return std::nullopt;
}

std::string callName(const json& call) {
    auto function = call.find("function");
    if (function != call.end() && function->is_object()) {
        auto name = function->find("name");
        if (name != function->end() && name->is_string()) {
            return name->get<std::string>();
        }
    }
    return "";
}

std::string sqlQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') {
            quoted += '\'';
        }
    }
    return quoted + "'";
}

const json* toolCallsOf(const json& message) {
    auto calls = message.find("tool_calls");
    if (calls == message.end() || !calls->is_array() || calls->empty()) {
        return nullptr;
    }
    return &*calls;
}

// The message's text: a string, or (as some gateways send it) a list of
// parts whose "text" pieces are joined.
std::string contentOf(const json& message) {
    auto content = message.find("content");
    if (content == message.end()) {
        return "";
    }
    if (content->is_string()) {
        return trimmed(content->get<std::string>());
    }
    std::string text;
    if (content->is_array()) {
        for (const json& part : *content) {
            if (part.is_object() && part.contains("text") && part["text"].is_string()) {
                text += part["text"].get<std::string>();
            }
        }
    }
    return trimmed(text);
}

} // namespace

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

RecursiveAgent::RecursiveAgent(ChatGateway& gateway, ShadowTools& tools, std::string model,
                               AgentLimits limits, std::ostream* diagnostics,
                               core::TimeContext time)
    : gateway_(gateway), tools_(tools), model_(std::move(model)), limits_(limits),
      diagnostics_(diagnostics), time_(std::move(time)) {}

std::string RecursiveAgent::timeDescription(const core::TimeContext& time) {
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

void RecursiveAgent::note(const std::string& line) {
    if (diagnostics_ != nullptr) {
        *diagnostics_ << "orlune-rlm-helper: " << line << "\n";
    }
}

json RecursiveAgent::toolDefinitions(int depth, bool root) const {
    json tools = json::array();
    tools.push_back(functionTool(
        "search_messages",
        "Ranked full-text search over message text, chat names and senders, optionally only "
        "among messages from a person, in a chat or within a time. Returns the best matches "
        "with guid, sender (the person's name, \"You\" for the user), chat, local time and "
        "text. With filters and an empty query, returns the newest matching messages.",
        {{"query",
          {{"type", "string"},
           {"description", "An FTS5 MATCH expression; may be empty "
                           "when a filter is given."}}},
         {"from",
          {{"type", "string"},
           {"description", "Only messages from this person: a name, nickname or part of one, a "
                           "phone number or e-mail address; \"me\" for the user's own."}}},
         {"chat",
          {{"type", "string"},
           {"description", "Only messages in this chat: its name, or the person of a one-to-one "
                           "chat."}}},
         {"since",
          {{"type", "string"},
           {"description", "Only messages from the start of this time on, as a person writes it: "
                           "\"yesterday\", \"last Friday\", \"in March\", \"2025-03-14\"."}}},
         {"until",
          {{"type", "string"},
           {"description", "Only messages up to the end of this time, written as for since."}}},
         {"limit", {{"type", "integer"}, {"description", "Most matches to return (1-50)."}}}},
        {"query"}));
    tools.push_back(functionTool(
        "run_sql", "Runs one read-only SQLite statement on the message database.",
        {{"sql", {{"type", "string"}}},
         {"limit", {{"type", "integer"}, {"description", "Most rows to return (1-200)."}}}},
        {"sql"}));
    tools.push_back(functionTool(
        "message_context",
        "The messages just before and after one message in its chat, oldest first, with guid, "
        "sender, chat, time and text.",
        {{"guid", {{"type", "string"}, {"description", "The message's guid."}}},
         {"before", {{"type", "integer"}, {"description", "Messages before it (0-10)."}}},
         {"after", {{"type", "integer"}, {"description", "Messages after it (0-10)."}}}},
        {"guid"}));
    if (depth < limits_.maxDepth) {
        tools.push_back(functionTool(
            "ask_submodel",
            "Asks a helper model a question about a slice of text (for example messages you "
            "found) and returns its answer.",
            {{"question", {{"type", "string"}}}, {"text", {{"type", "string"}}}},
            {"question", "text"}));
    }
    if (root) {
        tools.push_back(functionTool(
            "final_answer", "Finishes with the answer to the user's question.",
            {{"answer", {{"type", "string"}, {"description", "The answer, for the user."}}},
             {"sources",
              {{"type", "array"},
               {"items", {{"type", "string"}}},
               {"description", "guids of the messages the answer relies on."}}},
             {"summary",
              {{"type", "string"},
               {"description", "A short summary of the whole conversation so far."}}}},
            {"answer"}));
    }
    return tools;
}

json RecursiveAgent::complete(const json& messages, const json& tools, int depth) {
    auto now = Clock::now();
    if (now >= limits_.deadline) {
        throw HelperError(HelperError::Kind::timeout,
                          "The question took too long to answer and was stopped.");
    }
    auto remaining =
        limits_.deadline == Clock::time_point::max()
            ? limits_.callTimeout
            : std::chrono::duration_cast<std::chrono::milliseconds>(limits_.deadline - now);
    // When the deadline is nearer than a call's own limit, a call that times
    // out has run into the deadline, even if the clock reads a hair before it.
    const bool boundByDeadline =
        limits_.deadline != Clock::time_point::max() && remaining <= limits_.callTimeout;
    auto timeout = std::min(limits_.callTimeout, remaining);

    // No sampling options: not every model behind a gateway accepts them.
    json request = {{"model", model_}, {"messages", messages}};
    if (!tools.empty()) {
        request["tools"] = tools;
        request["tool_choice"] = "auto";
    }
    ++calls_;
    note("completion " + std::to_string(calls_) + " of at most " +
         std::to_string(limits_.maxCalls) + " (depth " + std::to_string(depth) + ")");
    try {
        return gateway_.complete(request, timeout);
    } catch (const GatewayError& error) {
        if (error.kind() == GatewayError::Kind::timeout &&
            (boundByDeadline || Clock::now() >= limits_.deadline)) {
            throw HelperError(HelperError::Kind::timeout,
                              "The question took too long to answer and was stopped.");
        }
        throw;
    }
}

std::string RecursiveAgent::schemaDescription() {
    std::string description = "Database tables:\n";
    for (const std::string& table : tools_.listTables()) {
        // FTS5's own storage tables are noise to the model.
        if (table.rfind("messages_fts_", 0) == 0) {
            continue;
        }
        description += "- " + table + "(";
        bool first = true;
        for (const TableColumn& column : tools_.describeTable(table)) {
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
    try {
        QueryTable count = tools_.query("SELECT COUNT(*) FROM messages", 1);
        if (!count.rows.empty() && count.rows[0][0].is_number_integer()) {
            description +=
                "The messages table holds " + dumpJson(count.rows[0][0]) + " messages.\n";
        }
    } catch (const core::ShadowDBError&) {
        // The count is a courtesy; the schema above is what matters.
    }
    return description;
}

std::string RecursiveAgent::runSql(const json& arguments) {
    auto sql = stringArgument(arguments, "sql");
    if (!sql) {
        return toolError("run_sql needs a \"sql\" string.");
    }
    QueryTable table =
        tools_.query(*sql, boundedLimit(arguments, "limit", kDefaultSqlRows, kMaxSqlRows));
    json rows = json::array();
    for (auto& row : table.rows) {
        json cells = json::array();
        for (auto& cell : row) {
            cells.push_back(cell.is_string() ? json(clip(cell.get<std::string>(), kMaxCellBytes))
                                             : cell);
        }
        rows.push_back(std::move(cells));
    }
    json result = {{"columns", table.columns}, {"rows", rows}};
    if (!table.cut.empty()) {
        result["truncated"] = true;
        result["note"] = table.cut;
    }
    return dumpWithinLimit(result, "rows", true);
}

std::string RecursiveAgent::runSearch(const json& arguments) {
    core::SearchFilters filters;
    filters.from = stringArgument(arguments, "from").value_or("");
    filters.chat = stringArgument(arguments, "chat").value_or("");
    filters.since = stringArgument(arguments, "since").value_or("");
    filters.until = stringArgument(arguments, "until").value_or("");
    auto query = stringArgument(arguments, "query");
    if (!query && filters.empty()) {
        return toolError("search_messages needs a \"query\" string.");
    }
    auto hits = tools_.search(query.value_or(""),
                              boundedLimit(arguments, "limit", kDefaultSearchHits, kMaxSearchHits),
                              filters);
    json matches = json::array();
    for (const MessageHit& hit : hits) {
        json match = {{"guid", hit.guid},           {"sender", senderLabel(hit)},
                      {"chat", chatLabel(hit)},     {"when", formatMessageTime(hit.timestamp)},
                      {"timestamp", hit.timestamp}, {"text", clip(hit.text, kMaxCellBytes)}};
        if (hit.senderName && !hit.isFromMe) {
            match["handle"] = hit.sender;
        }
        if (const std::string extras = reactionsAndAttachments(hit); !extras.empty()) {
            match["reactions_and_attachments"] = extras;
        }
        matches.push_back(std::move(match));
    }
    json result = {{"matches", matches}};
    if (matches.empty()) {
        result["note"] = "No matches. An expression FTS5 cannot parse also finds nothing: quote "
                         "words that contain punctuation.";
    }
    return dumpWithinLimit(result, "matches", false);
}

std::string RecursiveAgent::runContext(const json& arguments) {
    auto guid = stringArgument(arguments, "guid");
    if (!guid) {
        return toolError("message_context needs a \"guid\" string.");
    }
    auto count = [&](const char* key) {
        auto it = arguments.find(key);
        if (it == arguments.end() || !it->is_number_integer()) {
            return kDefaultContextMessages;
        }
        return static_cast<int>(std::clamp<int64_t>(it->get<int64_t>(), 0, kMaxContextMessages));
    };
    MessageContextHits context = tools_.messageContext(*guid, count("before"), count("after"));
    if (!context.message) {
        return toolError("No message has the guid \"" + clip(*guid, 200) + "\".");
    }
    auto entry = [](const MessageHit& hit) {
        return json{{"guid", hit.guid},
                    {"sender", senderLabel(hit)},
                    {"chat", chatLabel(hit)},
                    {"when", formatMessageTime(hit.timestamp)},
                    {"text", clip(hit.text, kMaxCellBytes)}};
    };
    json result = {
        {"message", entry(*context.message)}, {"before", json::array()}, {"after", json::array()}};
    for (const MessageHit& hit : context.before) {
        result["before"].push_back(entry(hit));
    }
    for (const MessageHit& hit : context.after) {
        result["after"].push_back(entry(hit));
    }
    return dumpJson(result);
}

std::string RecursiveAgent::askSubmodel(const json& arguments, int depth) {
    auto question = stringArgument(arguments, "question");
    auto slice = stringArgument(arguments, "text");
    if (!question || !slice) {
        return toolError("ask_submodel needs \"question\" and \"text\" strings.");
    }
    const int subDepth = depth + 1;
    json messages = json::array();
    messages.push_back({{"role", "system"},
                        {"content", std::string(kSubPrompt) + "\n" + kFenceRule + "\n\n" +
                                        timeDescription(time_) + "\n" + schemaDescription()}});
    messages.push_back({{"role", "user"},
                        {"content", "Question: " + *question + "\n\nText (data):\n" +
                                        fenceData(clip(*slice, kMaxSliceBytes))}});
    while (true) {
        // The last completion is always kept for the root's answer.
        if (calls_ + 1 >= limits_.maxCalls) {
            return toolError("The sub-model could not answer: no model calls are left.");
        }
        bool withTools = calls_ + 2 < limits_.maxCalls;
        json message = complete(
            messages, withTools ? toolDefinitions(subDepth, false) : json::array(), subDepth);
        const json* calls = toolCallsOf(message);
        if (calls == nullptr) {
            std::string content = contentOf(message);
            return content.empty() ? toolError("The sub-model gave an empty answer.")
                                   : dumpJson(json{{"answer", content}});
        }
        if (!withTools) {
            return toolError("The sub-model did not answer before its calls ran out.");
        }
        message["tool_calls"] = *calls;
        messages.push_back(echoAssistant(message));
        int index = 0;
        for (const json& call : *calls) {
            std::string id = call.contains("id") && call["id"].is_string()
                                 ? call["id"].get<std::string>()
                                 : "call_" + std::to_string(index);
            ++index;
            auto parsedArguments = parseArguments(call);
            std::string name = callName(call);
            std::string result = parsedArguments
                                     ? runTool(name, *parsedArguments, subDepth)
                                     : toolError("The arguments are not a JSON object.");
            messages.push_back({{"role", "tool"}, {"tool_call_id", id}, {"content", result}});
        }
    }
}

std::string RecursiveAgent::runTool(const std::string& name, const json& arguments, int depth) {
    note("tool " + (name.empty() ? std::string("(unnamed)") : name) + " (depth " +
         std::to_string(depth) + ")");
    try {
        // What comes from the database reaches the model fenced as data.
        if (name == "run_sql") {
            return fenceData(runSql(arguments));
        }
        if (name == "search_messages") {
            return fenceData(runSearch(arguments));
        }
        if (name == "message_context") {
            return fenceData(runContext(arguments));
        }
        if (name == "ask_submodel") {
            if (depth >= limits_.maxDepth) {
                return toolError("ask_submodel is not available at this depth.");
            }
            return askSubmodel(arguments, depth);
        }
    } catch (const core::ShadowDBError& error) {
        return toolError(error.what());
    }
    return toolError("Unknown tool \"" + name + "\".");
}

std::vector<MessageHit> RecursiveAgent::citedMessages(const json& sources) {
    if (!sources.is_array()) {
        return {};
    }
    std::vector<std::string> guids;
    for (const json& source : sources) {
        if (source.is_string() && guids.size() < kMaxSources &&
            std::find(guids.begin(), guids.end(), source.get<std::string>()) == guids.end()) {
            guids.push_back(source.get<std::string>());
        }
    }
    if (guids.empty()) {
        return {};
    }
    std::string list;
    for (const std::string& guid : guids) {
        list += (list.empty() ? "" : ", ") + sqlQuote(guid);
    }
    // A guid held twice (a store copied from two devices) still names one
    // message: room for both rows, the first kept.
    const int rowLimit = static_cast<int>(2 * kMaxSources);
    QueryTable table;
    try {
        table = tools_.query(kCitedNamedSelect + list + ")", rowLimit);
    } catch (const core::ShadowDBError&) {
        try {
            table = tools_.query(kCitedPlainSelect + list + ")", rowLimit);
        } catch (const core::ShadowDBError&) {
            note("could not read the cited messages");
            return {};
        }
    }
    std::vector<MessageHit> found;
    for (const auto& row : table.rows) {
        if (row.size() < 7 || !row[0].is_string() || !row[3].is_string() || !row[4].is_string()) {
            continue;
        }
        MessageHit hit;
        hit.guid = row[0].get<std::string>();
        hit.chatId = row[1].is_string() ? row[1].get<std::string>() : "";
        if (row[2].is_string()) {
            hit.chatName = row[2].get<std::string>();
        }
        hit.sender = row[3].get<std::string>();
        hit.text = row[4].get<std::string>();
        hit.timestamp = row[5].is_number_integer() ? row[5].get<int64_t>() : 0;
        hit.isFromMe = row[6].is_number_integer() && row[6].get<int64_t>() != 0;
        if (row.size() >= 9) {
            if (row[7].is_string() && !hit.isFromMe) {
                hit.senderName = row[7].get<std::string>();
            }
            if (row[8].is_string()) {
                hit.chatTitle = row[8].get<std::string>();
            }
        }
        found.push_back(std::move(hit));
    }
    // In the order the model named them.
    std::vector<MessageHit> cited;
    for (const std::string& guid : guids) {
        auto it = std::find_if(found.begin(), found.end(),
                               [&](const MessageHit& hit) { return hit.guid == guid; });
        if (it != found.end()) {
            cited.push_back(*it);
        }
    }
    return cited;
}

std::string RecursiveAgent::peopleDescription(ShadowTools& tools, size_t maxPeople) {
    if (maxPeople == 0) {
        return "";
    }
    QueryTable people;
    int64_t known = 0;
    try {
        people = tools.query(kPromptPeopleSelect + std::to_string(maxPeople),
                             static_cast<int>(maxPeople));
        QueryTable count = tools.query(kPromptPeopleCount, 1);
        if (!count.rows.empty() && count.rows[0][0].is_number_integer()) {
            known = count.rows[0][0].get<int64_t>();
        }
    } catch (const core::ShadowDBError&) {
        // A database synced before people were read has no such tables.
        return "";
    }
    std::string lines;
    for (const auto& row : people.rows) {
        if (row.size() != 4 || !row[0].is_string() || !row[2].is_string()) {
            continue;
        }
        std::string line = "- " + row[0].get<std::string>();
        if (row[1].is_string()) {
            const json nicknames = json::parse(row[1].get<std::string>(), nullptr, false);
            std::string names;
            if (nicknames.is_array()) {
                for (const json& nickname : nicknames) {
                    if (nickname.is_string() && !nickname.get<std::string>().empty()) {
                        names += (names.empty() ? "" : ", ") + nickname.get<std::string>();
                    }
                }
            }
            if (!names.empty()) {
                line += " (also " + names + ")";
            }
        }
        line += ": " + clip(row[2].get<std::string>(), kMaxPromptHandlesBytes);
        const int64_t messages = row[3].is_number_integer() ? row[3].get<int64_t>() : 0;
        line += "; " + std::to_string(messages) + (messages == 1 ? " message" : " messages");
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
    const int64_t listed = static_cast<int64_t>(people.rows.size());
    if (known > listed) {
        description += std::to_string(known - listed) +
                       " more people are not listed; find them in people and person_handles.\n";
    }
    return description;
}

AgentAnswer RecursiveAgent::answer(const HelperRequest& request) {
    std::string system = std::string(kRootPrompt) + "\n" + kFenceRule + "\n\n" +
                         timeDescription(time_) + "\n" +
                         peopleDescription(tools_, kMaxPromptPeople);
    try {
        system += schemaDescription();
    } catch (const core::ShadowDBError& error) {
        throw HelperError(HelperError::Kind::database,
                          std::string("The message database cannot be read: ") + error.what());
    }
    system += "\nLimits: at most " + std::to_string(limits_.maxCalls) +
              " model calls in all; sub-models may nest " + std::to_string(limits_.maxDepth) +
              " level(s) deep.\n";
    if (request.summary) {
        system += "\nSummary of the conversation so far:\n" + *request.summary + "\n";
    }

    json messages = json::array();
    messages.push_back({{"role", "system"}, {"content", system}});
    for (const ConversationTurn& turn : request.conversation) {
        std::string role = (turn.role == "assistant" || turn.role == "system") ? turn.role : "user";
        messages.push_back({{"role", role}, {"content", turn.text}});
    }
    messages.push_back({{"role", "user"}, {"content", request.question}});

    while (true) {
        const bool last = calls_ + 1 >= limits_.maxCalls;
        if (last) {
            messages.push_back({{"role", "system"}, {"content", kLastCallNote}});
        }
        json message = complete(messages, last ? json::array() : toolDefinitions(0, true), 0);
        const json* calls = toolCallsOf(message);
        if (calls == nullptr) {
            std::string content = contentOf(message);
            if (content.empty()) {
                throw GatewayError(GatewayError::Kind::malformed,
                                   "The model gave an empty answer.");
            }
            return {content, fallbackSummary(request.summary, request.question, content), {}};
        }
        if (last) {
            throw HelperError(HelperError::Kind::limit,
                              "The model did not finish its answer within " +
                                  std::to_string(limits_.maxCalls) + " calls.");
        }
        message["tool_calls"] = *calls;
        messages.push_back(echoAssistant(message));
        int index = 0;
        for (const json& call : *calls) {
            std::string id = call.contains("id") && call["id"].is_string()
                                 ? call["id"].get<std::string>()
                                 : "call_" + std::to_string(index);
            ++index;
            std::string name = callName(call);
            auto arguments = parseArguments(call);
            if (!arguments) {
                messages.push_back(
                    {{"role", "tool"},
                     {"tool_call_id", id},
                     {"content", toolError("The arguments are not a JSON object.")}});
                continue;
            }
            if (name == "final_answer") {
                auto text = stringArgument(*arguments, "answer");
                if (text && !trimmed(*text).empty()) {
                    std::string answerText = trimmed(*text);
                    auto summary = stringArgument(*arguments, "summary");
                    std::string newSummary =
                        summary && !trimmed(*summary).empty()
                            ? *summary
                            : fallbackSummary(request.summary, request.question, answerText);
                    std::vector<MessageHit> cited;
                    if (auto sources = arguments->find("sources"); sources != arguments->end()) {
                        cited = citedMessages(*sources);
                    }
                    if (!cited.empty()) {
                        answerText += "\n\n" + std::string(core::kCitedMessagesHeading) + "\n";
                        for (const MessageHit& hit : cited) {
                            answerText += "- " + describeMessage(hit, 160) + "\n";
                        }
                    }
                    return {answerText, newSummary, std::move(cited)};
                }
                messages.push_back(
                    {{"role", "tool"},
                     {"tool_call_id", id},
                     {"content", toolError("final_answer needs a non-empty \"answer\".")}});
                continue;
            }
            messages.push_back({{"role", "tool"},
                                {"tool_call_id", id},
                                {"content", runTool(name, *arguments, 0)}});
        }
    }
}

} // namespace orlune::helper

#include "helper/AgentTools.hpp"

#include "helper/ChatWire.hpp"
#include "helper/DataFence.hpp"
#include "helper/MessageFormat.hpp"

#include <algorithm>

namespace orlune::helper {

namespace {

using nlohmann::json;

constexpr size_t kMaxToolResultBytes = 16000;
constexpr size_t kMaxToolErrorBytes = 1000;
// A person, a chat or a time as search_messages' filters name them.
constexpr size_t kMaxFilterBytes = 500;
constexpr size_t kMaxCellBytes = 1000;
constexpr int kDefaultSqlRows = 50;
constexpr int kMaxSqlRows = 200;
constexpr int kDefaultSearchHits = 20;
constexpr int kMaxSearchHits = 50;
constexpr size_t kMaxSources = 20;
constexpr int kDefaultContextMessages = 3;
constexpr int kMaxContextMessages = 10;
// The first matches of a search carry their conversation windows, each of
// at most so many messages of its thread and of the next messages, with
// shorter texts than the matches' own.
constexpr size_t kMatchesWithWindows = 5;
constexpr size_t kMaxWindowMessages = 4;
constexpr size_t kMaxWindowTextBytes = 300;

// The cited messages with their senders' names and chats' titles; the plain
// table where the database has no messages_named. The quoted guids and ")"
// are appended.
constexpr const char* kCitedNamedSelect =
    "SELECT guid, chat_id, chat_name, sender, text, timestamp, is_from_me, sender_name, "
    "chat_title FROM messages_named WHERE guid IN (";
constexpr const char* kCitedPlainSelect =
    "SELECT guid, chat_id, chat_name, sender, text, timestamp, is_from_me FROM messages "
    "WHERE guid IN (";

// The people with the most messages (a LIMIT is appended), and how many
// people have a handle at all.
constexpr const char* kKnownPeopleSelect =
    "SELECT p.display_name, p.nicknames, group_concat(ph.handle, ', ') AS handles, "
    "SUM((SELECT COUNT(*) FROM messages m WHERE m.sender = ph.handle)) AS message_count "
    "FROM people p JOIN person_handles ph ON ph.person_id = p.person_id "
    "GROUP BY p.person_id ORDER BY message_count DESC, p.display_name, p.person_id LIMIT ";
constexpr const char* kKnownPeopleCount = "SELECT COUNT(DISTINCT p.person_id) FROM people p "
                                          "JOIN person_handles ph ON ph.person_id = p.person_id";

constexpr const char* kMessageCount = "SELECT COUNT(*) FROM messages";

// `result` as JSON text of at most kMaxToolResultBytes where dropping entries
// from the end of its array `listKey` gets it there (an emptied array stops
// the dropping). With `markTruncated`, a result that lost entries says so in
// "truncated": true.
std::string dumpWithinLimit(json& result, const char* listKey, bool markTruncated) {
    std::string text = wire::dump(result);
    while (text.size() > kMaxToolResultBytes && !result[listKey].empty()) {
        result[listKey].erase(result[listKey].size() - 1);
        if (markTruncated) {
            result["truncated"] = true;
        }
        text = wire::dump(result);
    }
    return text;
}

// One message of a window, as the model reads it.
json windowEntry(const MessageHit& hit) {
    return json{{"guid", hit.guid},
                {"sender", senderLabel(hit)},
                {"when", formatMessageTime(hit.timestamp)},
                {"text", shownText(hit, kMaxWindowTextBytes)}};
}

// {"thread": [...], "next": [...]} with the parts that are not empty, at
// most kMaxWindowMessages each; null when both are empty.
json windowOf(const MessageWindowHits& window) {
    json result = json::object();
    auto part = [&](const char* key, const std::vector<MessageHit>& hits) {
        json entries = json::array();
        for (size_t i = 0; i < hits.size() && i < kMaxWindowMessages; ++i) {
            entries.push_back(windowEntry(hits[i]));
        }
        if (!entries.empty()) {
            result[key] = std::move(entries);
        }
    };
    part("thread", window.thread);
    part("next", window.next);
    return result.empty() ? json(nullptr) : result;
}

// The search result as JSON text within kMaxToolResultBytes: the windows
// of the last matches go first, then the last matches themselves.
std::string dumpMatches(json& result) {
    json& matches = result["matches"];
    for (size_t i = matches.size(); i > 0 && wire::dump(result).size() > kMaxToolResultBytes; --i) {
        matches[i - 1].erase("window");
    }
    return dumpWithinLimit(result, "matches", false);
}

int boundedLimit(const json& arguments, const char* key, int fallback, int ceiling) {
    auto it = arguments.find(key);
    if (it == arguments.end() || !it->is_number_integer()) {
        return fallback;
    }
    return static_cast<int>(std::clamp<int64_t>(it->get<int64_t>(), 1, ceiling));
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

// The message of a cited-messages row; absent for a row without guid,
// sender or text.
std::optional<MessageHit> citedHit(const std::vector<json>& row) {
    if (row.size() < 7 || !row[0].is_string() || !row[3].is_string() || !row[4].is_string()) {
        return std::nullopt;
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
    return hit;
}

} // namespace

std::string toolError(const std::string& message) {
    return wire::dump(json{{"error", clipped(message, kMaxToolErrorBytes)}});
}

std::optional<std::string> stringArgument(const json& arguments, const char* key) {
    auto it = arguments.find(key);
    if (it == arguments.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

json AgentTools::definitions(bool subModel, bool finalAnswer) {
    using wire::functionTool;
    json tools = json::array();
    tools.push_back(functionTool(
        kSearchMessagesTool,
        "Ranked full-text search over message text, chat names and senders, optionally only "
        "among messages from a person, in a chat or within a time. Returns the best matches "
        "with guid, sender (the person's name, \"You\" for the user), chat, local time and "
        "text. With filters and an empty query, returns the newest matching messages. The "
        "first matches carry their conversation \"window\": \"thread\" (the message a reply "
        "belongs to and the replies to it) and \"next\" (the messages right after it in its "
        "chat). The answer is often there, in a reply, rather than in the match.",
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
        kRunSqlTool, "Runs one read-only SQLite statement on the message database.",
        {{"sql", {{"type", "string"}}},
         {"limit", {{"type", "integer"}, {"description", "Most rows to return (1-200)."}}}},
        {"sql"}));
    tools.push_back(functionTool(
        kMessageContextTool,
        "The messages just before and after one message in its chat, oldest first, with guid, "
        "sender, chat, time and text.",
        {{"guid", {{"type", "string"}, {"description", "The message's guid."}}},
         {"before", {{"type", "integer"}, {"description", "Messages before it (0-10)."}}},
         {"after", {{"type", "integer"}, {"description", "Messages after it (0-10)."}}}},
        {"guid"}));
    if (subModel) {
        tools.push_back(functionTool(
            kAskSubmodelTool,
            "Asks a helper model a question about a slice of text (for example messages you "
            "found) and returns its answer.",
            {{"question", {{"type", "string"}}}, {"text", {{"type", "string"}}}},
            {"question", "text"}));
    }
    if (finalAnswer) {
        tools.push_back(functionTool(
            kFinalAnswerTool, "Finishes with the answer to the user's question.",
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

std::optional<std::string> AgentTools::run(const std::string& name, const json& arguments) {
    try {
        // What comes from the database reaches the model fenced as data.
        if (name == kRunSqlTool) {
            return fenceData(runSql(arguments));
        }
        if (name == kSearchMessagesTool) {
            return fenceData(runSearch(arguments));
        }
        if (name == kMessageContextTool) {
            return fenceData(runContext(arguments));
        }
    } catch (const core::ShadowDBError& error) {
        return toolError(error.what());
    }
    return std::nullopt;
}

std::string AgentTools::runSql(const json& arguments) {
    auto sql = stringArgument(arguments, "sql");
    if (!sql) {
        return toolError("run_sql needs a \"sql\" string.");
    }
    QueryTable table =
        db_.query(*sql, boundedLimit(arguments, "limit", kDefaultSqlRows, kMaxSqlRows));
    json rows = json::array();
    for (auto& row : table.rows) {
        json cells = json::array();
        for (auto& cell : row) {
            cells.push_back(cell.is_string() ? json(clipped(cell.get<std::string>(), kMaxCellBytes))
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

std::string AgentTools::runSearch(const json& arguments) {
    for (const char* key : {"from", "chat", "since", "until"}) {
        const std::optional<std::string> filter = stringArgument(arguments, key);
        if (filter && filter->size() > kMaxFilterBytes) {
            return toolError("The \"" + std::string(key) + "\" filter is " +
                             std::to_string(filter->size()) + " bytes long; at most " +
                             std::to_string(kMaxFilterBytes) + " bytes are allowed.");
        }
    }
    core::SearchFilters filters;
    filters.from = stringArgument(arguments, "from").value_or("");
    filters.chat = stringArgument(arguments, "chat").value_or("");
    filters.since = stringArgument(arguments, "since").value_or("");
    filters.until = stringArgument(arguments, "until").value_or("");
    auto query = stringArgument(arguments, "query");
    if (!query && filters.empty()) {
        return toolError("search_messages needs a \"query\" string.");
    }
    auto hits =
        db_.search(query.value_or(""),
                   boundedLimit(arguments, "limit", kDefaultSearchHits, kMaxSearchHits), filters);
    json matches = json::array();
    // Windows that cannot be read (the time is up) leave the matches as they
    // are.
    bool windowsReadable = true;
    for (const MessageHit& hit : hits) {
        json match = {{"guid", hit.guid},           {"sender", senderLabel(hit)},
                      {"chat", chatLabel(hit)},     {"when", formatMessageTime(hit.timestamp)},
                      {"timestamp", hit.timestamp}, {"text", clipped(hit.text, kMaxCellBytes)}};
        if (hit.senderName && !hit.isFromMe) {
            match["handle"] = hit.sender;
        }
        if (const std::string extras = reactionsAndAttachments(hit); !extras.empty()) {
            match["reactions_and_attachments"] = extras;
        }
        if (windowsReadable && matches.size() < kMatchesWithWindows) {
            try {
                if (json window = windowOf(db_.conversationWindow(hit.guid)); !window.is_null()) {
                    match["window"] = std::move(window);
                }
            } catch (const core::ShadowDBError&) {
                windowsReadable = false;
            }
        }
        matches.push_back(std::move(match));
    }
    json result = {{"matches", matches}};
    if (matches.empty()) {
        result["note"] = "No matches. An expression FTS5 cannot parse also finds nothing: quote "
                         "words that contain punctuation.";
    }
    return dumpMatches(result);
}

std::string AgentTools::runContext(const json& arguments) {
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
    MessageContextHits context = db_.messageContext(*guid, count("before"), count("after"));
    if (!context.message) {
        return toolError("No message has the guid \"" + clipped(*guid, 200) + "\".");
    }
    auto entry = [](const MessageHit& hit) {
        return json{{"guid", hit.guid},
                    {"sender", senderLabel(hit)},
                    {"chat", chatLabel(hit)},
                    {"when", formatMessageTime(hit.timestamp)},
                    {"text", clipped(hit.text, kMaxCellBytes)}};
    };
    json result = {
        {"message", entry(*context.message)}, {"before", json::array()}, {"after", json::array()}};
    for (const MessageHit& hit : context.before) {
        result["before"].push_back(entry(hit));
    }
    for (const MessageHit& hit : context.after) {
        result["after"].push_back(entry(hit));
    }
    return wire::dump(result);
}

std::optional<std::vector<MessageHit>> AgentTools::citedMessages(const json& sources) {
    if (!sources.is_array()) {
        return std::vector<MessageHit>{};
    }
    std::vector<std::string> guids;
    for (const json& source : sources) {
        if (source.is_string() && guids.size() < kMaxSources &&
            std::find(guids.begin(), guids.end(), source.get<std::string>()) == guids.end()) {
            guids.push_back(source.get<std::string>());
        }
    }
    if (guids.empty()) {
        return std::vector<MessageHit>{};
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
        table = db_.query(kCitedNamedSelect + list + ")", rowLimit);
    } catch (const core::ShadowDBError&) {
        try {
            table = db_.query(kCitedPlainSelect + list + ")", rowLimit);
        } catch (const core::ShadowDBError&) {
            return std::nullopt;
        }
    }
    std::vector<MessageHit> found;
    for (const auto& row : table.rows) {
        if (auto hit = citedHit(row)) {
            found.push_back(std::move(*hit));
        }
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

std::optional<KnownPeople> knownPeople(ShadowTools& db, size_t maxPeople) {
    QueryTable rows;
    int64_t known = 0;
    try {
        rows =
            db.query(kKnownPeopleSelect + std::to_string(maxPeople), static_cast<int>(maxPeople));
        QueryTable count = db.query(kKnownPeopleCount, 1);
        if (!count.rows.empty() && count.rows[0][0].is_number_integer()) {
            known = count.rows[0][0].get<int64_t>();
        }
    } catch (const core::ShadowDBError&) {
        return std::nullopt;
    }
    KnownPeople people;
    for (const auto& row : rows.rows) {
        if (row.size() != 4 || !row[0].is_string() || !row[2].is_string()) {
            continue;
        }
        KnownPerson person;
        person.name = row[0].get<std::string>();
        if (row[1].is_string()) {
            const json nicknames = json::parse(row[1].get<std::string>(), nullptr, false);
            if (nicknames.is_array()) {
                for (const json& nickname : nicknames) {
                    if (nickname.is_string() && !nickname.get<std::string>().empty()) {
                        person.nicknames.push_back(nickname.get<std::string>());
                    }
                }
            }
        }
        person.handles = row[2].get<std::string>();
        person.messages = row[3].is_number_integer() ? row[3].get<int64_t>() : 0;
        people.listed.push_back(std::move(person));
    }
    people.unlisted = std::max<int64_t>(0, known - static_cast<int64_t>(rows.rows.size()));
    return people;
}

std::optional<int64_t> messageCount(ShadowTools& db) {
    try {
        QueryTable count = db.query(kMessageCount, 1);
        if (!count.rows.empty() && count.rows[0][0].is_number_integer()) {
            return count.rows[0][0].get<int64_t>();
        }
    } catch (const core::ShadowDBError&) {
    }
    return std::nullopt;
}

} // namespace orlune::helper

#include "mcp/McpTools.hpp"

#include "answer/AnswerFinder.hpp"
#include "answer/AnswerWindows.hpp"
#include "answer/MessageSearch.hpp"
#include "base/Environment.hpp"
#include "base/SystemLocale.hpp"
#include "base/Utf8.hpp"
#include "mcp/JsonSchema.hpp"
#include "mcp/ReplyItems.hpp"
#include "shadow/MatchExpression.hpp"
#include "time/StoreTime.hpp"

#include <algorithm>
#include <charconv>
#include <map>
#include <sstream>

namespace orlune::mcp {

namespace {

using nlohmann::json;

// A failure of the tool itself, told to the assistant as a result with
// isError true.
class ToolFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most of one text a reply keeps: a sixteenth of the budget, so that a
// message of control characters (six bytes each once escaped, sent twice)
// still fits, and never more than 4 KB.
size_t cellBytesFor(size_t budget) {
    return std::min<size_t>(4096, budget / 16);
}

} // namespace

std::optional<Privacy> privacyNamed(std::string_view name) {
    if (name == "full") {
        return Privacy::fullText;
    }
    if (name == "metadata") {
        return Privacy::metadataOnly;
    }
    return std::nullopt;
}

std::string_view privacyName(Privacy privacy) {
    return privacy == Privacy::fullText ? "full" : "metadata";
}

namespace {

// What one call works with.
struct Context {
    core::ShadowDBReader& db;
    ActivityMemo& memo;
    const McpSettings& settings;
    const json& arguments;
    core::TimeContext time;
    core::LocalCalendar calendar;
    core::QueryBounds bounds;
    std::string phoneRegion;

    Context(core::ShadowDBReader& database, ActivityMemo& counted, const McpSettings& chosen,
            const json& given)
        : db(database), memo(counted), settings(chosen), arguments(given),
          time(core::TimeContext::system()), calendar(time),
          phoneRegion(core::systemPhoneRegion(core::Environment::process())) {
        bounds.maxCellBytes = cellBytesFor(settings.maxReplyBytes);
        bounds.maxResultBytes = 4 * 1024 * 1024;
    }

    std::string text(const char* key) const {
        const auto found = arguments.find(key);
        return found == arguments.end() ? std::string() : found->get<std::string>();
    }
    int number(const char* key, int byDefault) const {
        const auto found = arguments.find(key);
        return found == arguments.end() ? byDefault : static_cast<int>(found->get<double>());
    }
    bool hidden(const std::string& chatId) const {
        return settings.hiddenChatIds.count(chatId) > 0;
    }
    OrderedJson message(const core::SearchResult& result) {
        return messageItem(db, result, calendar, settings.privacy);
    }
    // The filters resolved against the database; a time it cannot read is
    // the tool's failure.
    core::ResolvedScope resolve(const core::SearchFilters& filters) {
        try {
            return core::resolveFilters(db, filters, time, phoneRegion);
        } catch (const core::SearchFilterError& error) {
            throw ToolFailure(error.what());
        }
    }
};

OrderedJson notesOf(const std::vector<std::string>& notes) {
    OrderedJson list = OrderedJson::array();
    for (const std::string& note : notes) {
        list.push_back(note);
    }
    return list;
}

// The offset a cursor of a paged tool names; 0 without one.
size_t offsetCursor(const Context& call) {
    const std::string cursor = call.text("cursor");
    if (cursor.empty()) {
        return 0;
    }
    size_t offset = 0;
    const auto [end, error] = std::from_chars(cursor.data(), cursor.data() + cursor.size(), offset);
    if (error != std::errc() || end != cursor.data() + cursor.size() || offset > 100000) {
        throw InvalidToolCall("\"cursor\" is not one this tool gave; pass the cursor of an "
                              "earlier reply unchanged");
    }
    return offset;
}

// `items` from `offset` on, at most `limit`, with a "more" note that
// continues after what the reply keeps.
ListReply paged(const std::string& tool, const std::string& noun, OrderedJson body,
                const std::string& key, std::vector<OrderedJson> all, size_t offset, size_t limit,
                bool moreBeyond = false) {
    ListReply reply;
    reply.body = std::move(body);
    reply.listKey = key;
    const size_t first = std::min(offset, all.size());
    const size_t last = std::min(all.size(), first + limit);
    reply.items.assign(std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(first)),
                       std::make_move_iterator(all.begin() + static_cast<std::ptrdiff_t>(last)));
    const size_t total = all.size();
    const bool beyond = moreBeyond || last < total;
    reply.more = [=](size_t kept) -> std::optional<OrderedJson> {
        const size_t shownTo = first + kept;
        if (shownTo >= total && !beyond) {
            return std::nullopt;
        }
        if (shownTo >= total && moreBeyond) {
            return continuation(tool, noun, 1, true, std::to_string(shownTo));
        }
        return continuation(tool, noun, total - shownTo, moreBeyond, std::to_string(shownTo));
    };
    return reply;
}

// ---- ask ----

ListReply ask(Context& call) {
    const std::string question = call.text("question");
    const int limit = call.number("limit", 8);
    core::AnswerFinder finder(call.db);
    core::FoundAnswer found = finder.find(question, call.time, limit, call.bounds);
    std::vector<OrderedJson> messages;
    for (const core::RankedMessage& ranked : found.messages) {
        if (call.hidden(ranked.message.chatId)) {
            continue;
        }
        OrderedJson item = call.message(ranked.message);
        item["same_text"] = ranked.sameText;
        messages.push_back(std::move(item));
    }
    OrderedJson body = OrderedJson::object();
    // Why nothing is there for the question's time, before what was found.
    const std::string outside = found.outsideCopied.empty() ? "" : found.outsideCopied + " ";
    if (found.reading.empty()) {
        body["answer"] = "The question names nothing to look for. Name a person, a chat, a "
                         "time, a kind of attachment or a word.";
    } else if (messages.empty()) {
        body["answer"] = outside + "No messages were found. I looked for " + found.understood + ".";
    } else if (found.widened) {
        body["answer"] = outside + "Nothing matched " + found.understood +
                         "; the messages below match its words elsewhere, best first.";
    } else {
        body["answer"] = outside + "I looked for " + found.understood +
                         ". The messages below are the best matches, best first.";
    }
    body["understood"] = found.understood;
    body["widened"] = found.widened;
    body["incomplete"] = found.incomplete;
    ListReply reply;
    reply.body = std::move(body);
    reply.listKey = "messages";
    reply.items = std::move(messages);
    const size_t total = reply.items.size();
    reply.more = [total](size_t kept) -> std::optional<OrderedJson> {
        if (kept >= total) {
            return std::nullopt;
        }
        OrderedJson more = OrderedJson::object();
        more["left_out"] = total - kept;
        more["note"] = std::to_string(total - kept) +
                       " more messages were found but do not fit in this reply. Ask with a "
                       "smaller limit, or use search_messages for the next ones.";
        return more;
    };
    return reply;
}

// ---- search_messages ----

// Each word as a quoted FTS5 string: every one must appear, and no
// punctuation can make an operator.
std::string allWords(const std::string& words) {
    std::istringstream split(words);
    std::string expression;
    std::string word;
    while (split >> word) {
        expression += (expression.empty() ? "" : " ") + core::MatchExpression::quoted(word);
    }
    return expression;
}

ListReply searchMessages(Context& call) {
    core::SearchFilters filters{call.text("from"), call.text("chat"), call.text("since"),
                                call.text("until")};
    const std::string expression = allWords(call.text("words"));
    const bool anyKind = call.arguments.contains("kinds") && !call.arguments["kinds"].empty();
    if (expression.empty() && filters.empty() && !anyKind) {
        throw InvalidToolCall("give \"words\" or at least one of \"from\", \"chat\", \"since\", "
                              "\"until\", \"kinds\"");
    }
    const size_t offset = offsetCursor(call);
    const auto limit = static_cast<size_t>(call.number("limit", 20));
    core::ResolvedScope resolved = call.resolve(filters);
    if (anyKind) {
        resolved.scope.attachmentKinds = call.arguments["kinds"].get<std::vector<std::string>>();
    }
    core::ShadowDBReader::SearchOutcome outcome = call.db.search(
        expression, resolved.scope, static_cast<int>(offset + limit + 1), call.bounds);
    std::vector<OrderedJson> hits;
    for (const core::SearchResult& result : outcome.results) {
        if (!call.hidden(result.chatId)) {
            hits.push_back(hits.size() < offset ? OrderedJson() : call.message(result));
        }
    }
    const bool beyond = hits.size() > offset + limit;
    if (beyond) {
        hits.pop_back();
    }
    OrderedJson body = OrderedJson::object();
    body["notes"] = notesOf(resolved.notes);
    if (outcome.cutTexts > 0) {
        body["texts_cut_to_bytes"] = call.bounds.maxCellBytes;
    }
    return paged("search_messages", "messages", std::move(body), "messages", std::move(hits),
                 offset, limit, beyond);
}

// ---- get_conversation ----

// The thread `anchor` replies in or starts: "originator" (the guid of the
// message that starts it) and "messages", the thread without `anchor`, oldest
// first (at most core::kThreadMessages read), each short (guid, from, time,
// "is_originator", and the text cut shorter than in the window) and as many
// as fit in a sixteenth of the reply's budget, "left_out" counting the others
// read. Null for a message in no thread.
OrderedJson threadOf(Context& call, const core::SearchResult& anchor) {
    std::vector<core::SearchResult> thread =
        call.db.messageThread(anchor.guid, core::kThreadMessages, call.bounds);
    std::erase_if(thread,
                  [&](const core::SearchResult& message) { return call.hidden(message.chatId); });
    if (thread.empty()) {
        return nullptr;
    }
    const std::string originator = call.db.threadOriginatorOf(anchor.guid).value_or(anchor.guid);
    const size_t textBytes = call.bounds.maxCellBytes / 8;
    const size_t mostBytes = call.settings.maxReplyBytes / 16;
    OrderedJson entries = OrderedJson::array();
    size_t shown = 0;
    for (const core::SearchResult& message : thread) {
        OrderedJson entry = OrderedJson::object();
        entry["guid"] = message.guid;
        entry["is_originator"] = message.guid == originator;
        entry["from"] = senderLabel(call.db, message);
        putTime(entry, "time", message.timestamp, call.calendar);
        if (call.settings.privacy == Privacy::fullText) {
            entry["text"] = std::string(core::utf8::prefixWithin(message.text, textBytes));
        }
        entries.push_back(std::move(entry));
        if (entries.dump(-1, ' ', false, json::error_handler_t::replace).size() > mostBytes) {
            entries.erase(entries.size() - 1);
            break;
        }
        ++shown;
    }
    OrderedJson result = OrderedJson::object();
    result["originator"] = originator;
    result["messages"] = std::move(entries);
    if (shown < thread.size()) {
        result["left_out"] = thread.size() - shown;
    }
    return result;
}

ListReply conversation(Context& call) {
    const std::string cursor = call.text("cursor");
    std::string guid = cursor.empty() ? call.text("around_guid") : cursor;
    int before = cursor.empty() ? call.number("before", 10) : 0;
    int after = call.number("after", 10) + (cursor.empty() ? 0 : call.number("before", 10));
    OrderedJson body = OrderedJson::object();
    if (guid.empty()) {
        if (call.text("chat").empty()) {
            throw InvalidToolCall("give \"chat\" or \"around_guid\"");
        }
        core::SearchFilters filters;
        filters.chat = call.text("chat");
        filters.until = call.text("around_time");
        core::ResolvedScope resolved = call.resolve(filters);
        body["notes"] = notesOf(resolved.notes);
        core::MessageScope& scope = resolved.scope;
        if (scope.chatIds) {
            std::erase_if(*scope.chatIds, [&](const std::string& id) { return call.hidden(id); });
        }
        core::ShadowDBReader::SearchOutcome newest = call.db.search("", scope, 1, call.bounds);
        if (newest.results.empty()) {
            throw ToolFailure(scope.chatIds && scope.chatIds->empty()
                                  ? "No chat matches " + json(filters.chat).dump() + "."
                                  : "That chat has no message up to that time.");
        }
        guid = newest.results.front().guid;
    }
    core::ShadowDBReader::MessageContext context =
        call.db.messageContext(guid, before, after, call.bounds);
    if (!context.message || call.hidden(context.message->chatId)) {
        throw ToolFailure("No message has the guid " + json(guid).dump() + ".");
    }
    body["chat"] = context.message->chatTitle;
    body["chat_id"] = context.message->chatId;
    // The thread of the message asked about; a page after the first goes on
    // with the window only.
    OrderedJson thread = cursor.empty() ? threadOf(call, *context.message) : OrderedJson();
    if (!thread.is_null()) {
        body["thread"] = std::move(thread);
    }
    std::vector<std::pair<std::string, OrderedJson>> window;
    for (const core::SearchResult& result : context.before) {
        window.emplace_back(result.guid, call.message(result));
    }
    OrderedJson anchor = call.message(*context.message);
    anchor["anchor"] = true;
    window.emplace_back(context.message->guid, std::move(anchor));
    for (const core::SearchResult& result : context.after) {
        window.emplace_back(result.guid, call.message(result));
    }
    ListReply reply;
    reply.body = std::move(body);
    reply.listKey = "messages";
    std::vector<std::string> guids;
    for (auto& [id, item] : window) {
        guids.push_back(id);
        reply.items.push_back(std::move(item));
    }
    reply.more = [guids](size_t kept) -> std::optional<OrderedJson> {
        if (kept >= guids.size()) {
            return std::nullopt;
        }
        return continuation("get_conversation", "messages of this window", guids.size() - kept,
                            false, guids[kept]);
    };
    return reply;
}

// ---- people, chats and counts ----

// Store dates are seconds before macOS 10.13 and nanoseconds since: both to
// seconds since 1970, then to the local month SQLite reads from the zone of
// the process (TZ), as LocalCalendar does.
constexpr const char* kLocalMonth =
    "strftime('%Y-%m', (CASE WHEN abs(timestamp) >= 10000000000 THEN timestamp / 1000000000 "
    "ELSE timestamp END) + 978307200, 'unixepoch', 'localtime')";

// `filter`'s SQL with its placeholders replaced by its values (whole
// numbers, written by this program).
std::string withValues(const core::StoreDateFilter& filter) {
    std::string sql;
    size_t next = 0;
    for (const char c : filter.sql) {
        if (c == '?' && next < filter.parameters.size()) {
            sql += std::to_string(filter.parameters[next++]);
        } else {
            sql += c;
        }
    }
    return sql;
}

std::vector<ActivityRow> activity(Context& call, const core::TimeRange& time, bool byMonth) {
    const std::string sql =
        std::string("SELECT chat_id, CASE WHEN is_from_me <> 0 THEN '' ELSE sender END AS who, ") +
        (byMonth ? kLocalMonth : "''") +
        " AS month, COUNT(*) AS messages, MAX(timestamp) AS last FROM messages "
        "WHERE deleted_at IS NULL AND (" +
        (time.start || time.end ? withValues(core::storeDateFilter("timestamp", time)) : "1") +
        ") GROUP BY chat_id, who, month";
    const int64_t version =
        call.db.executeReadOnly("PRAGMA data_version", 1).rows.at(0).begin()->second.asInteger();
    if (version != call.memo.dataVersion) {
        call.memo = ActivityMemo{version, {}};
    }
    const auto known = call.memo.byStatement.find(sql);
    if (known != call.memo.byStatement.end()) {
        return known->second;
    }
    core::QueryBounds bounds = call.bounds;
    // Counting a large database whole takes seconds on a busy machine.
    bounds.timeLimit = std::chrono::seconds(60);
    bounds.maxResultBytes = 256 * 1024 * 1024;
    constexpr int kMostGroups = 2'000'000;
    const core::ShadowQueryResult result = call.db.executeReadOnly(sql, kMostGroups, bounds);
    if (result.stoppedAtSizeLimit || result.rows.size() >= static_cast<size_t>(kMostGroups)) {
        throw ToolFailure("There are too many chats and people to count in one reply.");
    }
    std::vector<ActivityRow> rows;
    rows.reserve(result.rows.size());
    for (const auto& row : result.rows) {
        const core::SQLiteValue& month = row.at("month");
        ActivityRow entry{row.at("chat_id").asText(), row.at("who").asText(),
                          month.kind() == core::SQLiteValue::Kind::text ? month.asText() : "",
                          row.at("messages").asInteger(), row.at("last").asInteger()};
        if (!call.hidden(entry.chatId)) {
            rows.push_back(std::move(entry));
        }
    }
    // A few statements at most: the time ranges of stats vary.
    constexpr size_t kMostKept = 16;
    if (call.memo.byStatement.size() >= kMostKept) {
        call.memo.byStatement.clear();
    }
    call.memo.byStatement.emplace(sql, rows);
    return rows;
}

// Who is behind the handles a reply names, read for those handles alone:
// an address book of any size costs one lookup per handle shown.
struct Directory {
    std::map<std::string, core::ShadowPeopleTables::HandleOwner> owners;

    Directory(core::ShadowDBReader& db, const std::vector<std::string>& handles)
        : owners(db.ownersOf(handles)) {}
};

// The senders of `rows`, each once.
std::vector<std::string> sendersOf(const std::vector<ActivityRow>& rows) {
    std::set<std::string> senders;
    for (const ActivityRow& row : rows) {
        if (!row.sender.empty()) {
            senders.insert(row.sender);
        }
    }
    return {senders.begin(), senders.end()};
}

// One person (or one handle of no known person) with their counts.
struct PersonCount {
    std::optional<std::string> name;
    std::vector<std::string> handles;
    int64_t messages = 0;
    int64_t last = 0;
};

std::vector<PersonCount> countByPerson(const std::vector<ActivityRow>& rows,
                                       const Directory& directory, PersonCount& you) {
    std::map<std::string, PersonCount> byKey;
    for (const ActivityRow& row : rows) {
        PersonCount* entry = &you;
        if (!row.sender.empty()) {
            const auto owner = directory.owners.find(row.sender);
            const bool known = owner != directory.owners.end();
            const std::string key = known ? "p:" + owner->second.personId : "h:" + row.sender;
            entry = &byKey[key];
            if (entry->handles.empty() && known) {
                entry->name = owner->second.displayName;
            }
            if (std::find(entry->handles.begin(), entry->handles.end(), row.sender) ==
                entry->handles.end()) {
                entry->handles.push_back(row.sender);
            }
        }
        entry->messages += row.messages;
        entry->last = std::max(entry->last, row.last);
    }
    std::vector<PersonCount> list;
    for (auto& [key, entry] : byKey) {
        std::sort(entry.handles.begin(), entry.handles.end());
        list.push_back(std::move(entry));
    }
    std::stable_sort(list.begin(), list.end(), [](const PersonCount& a, const PersonCount& b) {
        return a.messages != b.messages ? a.messages > b.messages : a.last > b.last;
    });
    return list;
}

OrderedJson handlesJson(const std::vector<std::string>& handles) {
    OrderedJson list = OrderedJson::array();
    for (const std::string& handle : handles) {
        list.push_back(handle);
    }
    return list;
}

ListReply listPeople(Context& call) {
    const size_t offset = offsetCursor(call);
    const std::vector<ActivityRow> rows = activity(call, {}, false);
    const Directory directory(call.db, sendersOf(rows));
    PersonCount you;
    std::vector<PersonCount> people = countByPerson(rows, directory, you);
    OrderedJson body = OrderedJson::object();
    if (!call.text("name").empty()) {
        core::SearchFilters filters;
        filters.from = call.text("name");
        core::ResolvedScope resolved = call.resolve(filters);
        body["notes"] = notesOf(resolved.notes);
        const std::vector<std::string> senders =
            resolved.scope.senders.value_or(std::vector<std::string>{});
        std::erase_if(people, [&](const PersonCount& person) {
            return std::none_of(
                person.handles.begin(), person.handles.end(), [&](const std::string& handle) {
                    return std::find(senders.begin(), senders.end(), handle) != senders.end();
                });
        });
    }
    body["your_messages"] = you.messages;
    std::vector<OrderedJson> items;
    for (const PersonCount& person : people) {
        OrderedJson item = OrderedJson::object();
        item["name"] = person.name ? OrderedJson(*person.name) : OrderedJson(nullptr);
        item["handles"] = handlesJson(person.handles);
        item["messages_from_them"] = person.messages;
        putTime(item, "last_message", person.last, call.calendar);
        items.push_back(std::move(item));
    }
    return paged("list_people", "people", std::move(body), "people", std::move(items), offset,
                 static_cast<size_t>(call.number("limit", 50)));
}

ListReply listChats(Context& call) {
    const size_t offset = offsetCursor(call);
    struct ChatCount {
        std::string title;
        bool isGroup = false;
        int64_t messages = 0;
        int64_t last = 0;
    };
    std::map<std::string, ChatCount> chats;
    for (const core::ChatTitleRow& row : call.db.chats()) {
        if (!call.hidden(row.chatId)) {
            chats[row.chatId] = ChatCount{row.title, row.isGroup, 0, 0};
        }
    }
    for (const ActivityRow& row : activity(call, {}, false)) {
        ChatCount& chat = chats[row.chatId];
        if (chat.title.empty()) {
            chat.title = row.chatId;
        }
        chat.messages += row.messages;
        chat.last = std::max(chat.last, row.last);
    }
    OrderedJson body = OrderedJson::object();
    std::optional<std::vector<std::string>> matching;
    if (!call.text("name").empty()) {
        core::SearchFilters filters;
        filters.chat = call.text("name");
        core::ResolvedScope resolved = call.resolve(filters);
        body["notes"] = notesOf(resolved.notes);
        matching = resolved.scope.chatIds.value_or(std::vector<std::string>{});
    }
    std::vector<std::pair<std::string, ChatCount>> ordered;
    for (auto& [id, chat] : chats) {
        if (!matching || std::find(matching->begin(), matching->end(), id) != matching->end()) {
            ordered.emplace_back(id, chat);
        }
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto& a, const auto& b) { return a.second.last > b.second.last; });
    const auto limit = static_cast<size_t>(call.number("limit", 50));
    std::vector<OrderedJson> items;
    for (size_t i = 0; i < ordered.size(); ++i) {
        const auto& [id, chat] = ordered[i];
        OrderedJson item = OrderedJson::object();
        item["chat_id"] = id;
        item["title"] = chat.title;
        item["is_group"] = chat.isGroup;
        item["messages"] = chat.messages;
        putTime(item, "last_message", chat.last, call.calendar);
        // Members only for the chats this page can show.
        if (i >= offset && i < offset + limit) {
            OrderedJson members = OrderedJson::array();
            for (const core::ChatParticipant& member : call.db.fetchChatParticipants(id)) {
                members.push_back(call.db.nameOfHandle(member.handle).value_or(member.handle));
            }
            item["members"] = std::move(members);
        }
        items.push_back(std::move(item));
    }
    return paged("list_chats", "chats", std::move(body), "chats", std::move(items), offset, limit);
}

ListReply stats(Context& call) {
    const size_t offset = offsetCursor(call);
    const std::string by = call.arguments.value("by", "month");
    core::SearchFilters filters;
    filters.since = call.text("since");
    filters.until = call.text("until");
    const core::TimeRange time = call.resolve(filters).scope.time;
    const std::vector<ActivityRow> rows = activity(call, time, by == "month");
    OrderedJson body = OrderedJson::object();
    int64_t total = 0;
    int64_t mine = 0;
    for (const ActivityRow& row : rows) {
        total += row.messages;
        mine += row.sender.empty() ? row.messages : 0;
    }
    body["by"] = by;
    body["total_messages"] = total;
    body["sent_by_you"] = mine;
    std::vector<OrderedJson> items;
    if (by == "month") {
        std::map<std::string, int64_t> months;
        for (const ActivityRow& row : rows) {
            months[row.month.empty() ? "unknown" : row.month] += row.messages;
        }
        for (const auto& [month, messages] : months) {
            items.push_back(OrderedJson{{"month", month}, {"messages", messages}});
        }
    } else if (by == "person") {
        const Directory directory(call.db, sendersOf(rows));
        PersonCount you;
        for (const PersonCount& person : countByPerson(rows, directory, you)) {
            OrderedJson item = OrderedJson::object();
            item["person"] = person.name ? *person.name : person.handles.front();
            item["handles"] = handlesJson(person.handles);
            item["messages"] = person.messages;
            items.push_back(std::move(item));
        }
        if (you.messages > 0) {
            items.push_back(OrderedJson{
                {"person", "You"}, {"handles", OrderedJson::array()}, {"messages", you.messages}});
            std::stable_sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
                return a["messages"].template get<int64_t>() >
                       b["messages"].template get<int64_t>();
            });
        }
    } else {
        std::map<std::string, std::string> titles;
        for (const core::ChatTitleRow& row : call.db.chats()) {
            titles[row.chatId] = row.title;
        }
        std::map<std::string, int64_t> counts;
        for (const ActivityRow& row : rows) {
            counts[row.chatId] += row.messages;
        }
        std::vector<std::pair<std::string, int64_t>> ordered(counts.begin(), counts.end());
        std::stable_sort(ordered.begin(), ordered.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        for (const auto& [id, messages] : ordered) {
            const auto title = titles.find(id);
            items.push_back(OrderedJson{{"chat", title == titles.end() ? id : title->second},
                                        {"chat_id", id},
                                        {"messages", messages}});
        }
    }
    return paged("stats", "rows", std::move(body), "counts", std::move(items), offset,
                 static_cast<size_t>(call.number("limit", 100)));
}

using Tool = ListReply (*)(Context&);

const std::map<std::string, Tool>& tools() {
    static const std::map<std::string, Tool> byName = {
        {"ask", ask},
        {"search_messages", searchMessages},
        {"get_conversation", conversation},
        {"list_people", listPeople},
        {"list_chats", listChats},
        {"stats", stats},
    };
    return byName;
}

const json& schemaOf(const std::string& name) {
    for (const json& tool : McpTools::definitions()) {
        if (tool["name"] == name) {
            return tool["inputSchema"];
        }
    }
    throw InvalidToolCall("unknown tool");
}

// The result object of a tool: the structured result, and the same as JSON
// text for clients that read only text.
OrderedJson toolResult(const OrderedJson& structured) {
    OrderedJson result = OrderedJson::object();
    result["content"] = OrderedJson::array(
        {OrderedJson{{"type", "text"},
                     {"text", structured.dump(-1, ' ', false, json::error_handler_t::replace)}}});
    result["structuredContent"] = structured;
    result["isError"] = false;
    return result;
}

OrderedJson failureResult(const std::string& message) {
    // Messages name files and what a person typed: a few hundred bytes.
    constexpr size_t kMostMessageBytes = 2000;
    OrderedJson result = OrderedJson::object();
    result["content"] = OrderedJson::array(
        {OrderedJson{{"type", "text"},
                     {"text", std::string(core::utf8::prefixWithin(message, kMostMessageBytes))}}});
    result["isError"] = true;
    return result;
}

} // namespace

McpTools::McpTools(ShadowOpener open, McpSettings settings)
    : open_(std::move(open)), settings_(std::move(settings)) {}

McpTools::~McpTools() = default;

core::ShadowDBReader& McpTools::database() {
    if (!db_) {
        db_ = open_();
    }
    return *db_;
}

std::string McpTools::call(const std::string& name, const json& arguments,
                           const std::function<std::string(const OrderedJson& result)>& encode) {
    const auto tool = tools().find(name);
    if (tool == tools().end()) {
        throw InvalidToolCall("unknown tool " +
                              json(std::string(name.substr(0, 64)))
                                  .dump(-1, ' ', false, json::error_handler_t::replace) +
                              "; the tools are ask, search_messages, get_conversation, "
                              "list_people, list_chats and stats");
    }
    if (auto violation = schemaViolation(schemaOf(name), arguments)) {
        throw InvalidToolCall("invalid arguments for " + name + ": " + *violation);
    }
    try {
        Context context(database(), memo_, settings_, arguments);
        const ListReply reply = tool->second(context);
        return fitReply(reply, settings_.maxReplyBytes, [&](const OrderedJson& structured) {
            return encode(toolResult(structured));
        });
    } catch (const InvalidToolCall&) {
        throw;
    } catch (const core::ShadowDBError& error) {
        // A damaged file, a schema from a newer version, a file replaced
        // meanwhile: the next call opens it afresh.
        db_.reset();
        memo_ = ActivityMemo{};
        return encode(failureResult(error.what()));
    } catch (const std::exception& error) {
        return encode(failureResult(error.what()));
    }
}

} // namespace orlune::mcp

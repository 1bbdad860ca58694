// The tools as tools/list shows them: what each does, in the words an
// assistant reads to choose one, and the schema of its arguments.

#include "mcp/McpTools.hpp"

namespace orlune::mcp {

namespace {

using nlohmann::json;

json text(size_t maxLength, const std::string& description) {
    return {{"type", "string"},
            {"minLength", 1},
            {"maxLength", maxLength},
            {"description", description}};
}

json count(int least, int most, int byDefault, const std::string& description) {
    return {{"type", "integer"},
            {"minimum", least},
            {"maximum", most},
            {"default", byDefault},
            {"description", description}};
}

json cursor() {
    return text(200, "From the \"more\" note of an earlier reply, with the same other "
                     "arguments: continues where that reply stopped.");
}

json objectSchema(json properties, json required = json::array()) {
    json schema = {
        {"type", "object"}, {"properties", std::move(properties)}, {"additionalProperties", false}};
    if (!required.empty()) {
        schema["required"] = std::move(required);
    }
    return schema;
}

json tool(const char* name, const char* title, const std::string& description, json schema) {
    return {{"name", name},
            {"title", title},
            {"description", description},
            {"inputSchema", std::move(schema)},
            {"annotations", {{"readOnlyHint", true}, {"openWorldHint", false}}}};
}

const char* const kTimeWords =
    "a time as a person writes it, in the person's time zone: \"yesterday\", \"last "
    "Friday\", \"in March\", \"3 days ago\", \"2025-03-14\"";

json buildDefinitions() {
    const json person = text(200, "A person: a name, nickname or part of one, a phone number or "
                                  "e-mail address; \"me\" for the person's own messages.");
    const json chat = text(200, "A chat: its name, or the person of a one-to-one chat.");
    json kinds = {{"type", "array"},
                  {"maxItems", 11},
                  {"uniqueItems", true},
                  {"items",
                   {{"type", "string"},
                    {"enum",
                     {"photo", "video", "voice message", "audio", "pdf", "contact card", "location",
                      "calendar event", "document", "sticker", "file"}}}},
                  {"description", "Only messages with an attachment of one of these kinds "
                                  "(\"file\": any attachment)."}};
    json tools = json::array();
    tools.push_back(
        tool("ask", "Ask about the messages",
             "Answers a question about the person's text messages in one call: reads who, which "
             "chat, when and what the question names, and returns what it understood and the "
             "messages that answer it, best first. Start here.",
             objectSchema({{"question", text(1000, "The question as the person would ask it: "
                                                   "\"when is Alex's flight landing?\"")},
                           {"limit", count(1, 50, 8, "The most messages to return.")}},
                          {"question"})));
    tools.push_back(
        tool("search_messages", "Search messages",
             "Finds messages by their words and by who sent them, in which chat, when, and what "
             "they carry; best matches first, or newest first without words.",
             objectSchema({{"words", text(500, "Words that must all appear in the message (or its "
                                               "chat's name, sender or attachment's file name), "
                                               "in any order. Plain words; no operators.")},
                           {"from", person},
                           {"chat", chat},
                           {"since", text(200, std::string("From the start of ") + kTimeWords)},
                           {"until", text(200, std::string("Up to the end of ") + kTimeWords)},
                           {"kinds", kinds},
                           {"limit", count(1, 100, 20, "The most messages to return.")},
                           {"cursor", cursor()}})));
    tools.push_back(tool(
        "get_conversation", "Read a conversation",
        "The messages of one chat around one message (around_guid, from any other tool's "
        "reply) or, given a chat, around a time (the newest message up to its end; the "
        "chat's newest without one), oldest first. When that message replies in a thread "
        "or starts one, \"thread\" gives the thread's originator and its other messages.",
        objectSchema({{"chat", chat},
                      {"around_guid", text(200, "The guid of a message from an earlier reply.")},
                      {"around_time", text(200, std::string("With chat: ") + kTimeWords)},
                      {"before", count(0, 100, 10, "Messages to show before it.")},
                      {"after", count(0, 100, 10, "Messages to show after it.")},
                      {"cursor", cursor()}})));
    tools.push_back(
        tool("list_people", "List people",
             "The people the person exchanges messages with: their names, handles, how many "
             "messages they sent and when they last wrote; most messages first.",
             objectSchema({{"name", text(200, "Only people matching this name, nickname, part of "
                                              "a name, phone number or e-mail address.")},
                           {"limit", count(1, 200, 50, "The most people to return.")},
                           {"cursor", cursor()}})));
    tools.push_back(
        tool("list_chats", "List chats",
             "The chats: their titles, members, how many messages they hold and when the last "
             "was sent; most recent first.",
             objectSchema({{"name", text(200, "Only chats matching this name or the person of a "
                                              "one-to-one chat.")},
                           {"limit", count(1, 200, 50, "The most chats to return.")},
                           {"cursor", cursor()}})));
    tools.push_back(
        tool("stats", "Count messages",
             "How many messages there are, counted by person, by chat or by month, within an "
             "optional time range, with the totals.",
             objectSchema({{"by",
                            {{"type", "string"},
                             {"enum", {"person", "chat", "month"}},
                             {"default", "month"},
                             {"description", "What to count by."}}},
                           {"since", text(200, std::string("From the start of ") + kTimeWords)},
                           {"until", text(200, std::string("Up to the end of ") + kTimeWords)},
                           {"limit", count(1, 500, 100, "The most rows to return.")},
                           {"cursor", cursor()}})));
    return tools;
}

} // namespace

const nlohmann::json& McpTools::definitions() {
    static const json tools = buildDefinitions();
    return tools;
}

} // namespace orlune::mcp

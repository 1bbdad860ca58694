#pragma once
// The tools `orlune mcp` offers an assistant, each answering one intent in
// one call with names and local times: ask, search_messages,
// get_conversation, list_people, list_chats and stats. All of them only read
// the shadow database, through its read-only handle, opened on the first
// call that needs it.
//
// Text from the person's messages and contacts only ever travels as JSON
// string values: a tool's result is one JSON object, sent both as
// structuredContent and, serialized, as its one text content, so nothing a
// message says can pass for a line of the reply's own.

#include "base/EmbeddingGateway.hpp"
#include "mcp/ReplyBudget.hpp"
#include "shadow/ShadowDBReader.hpp"

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::mcp {

// What the server may show of a message.
enum class Privacy {
    // Everything: texts included.
    fullText,
    // Names, chats, times, counts, attachment kinds and reactions; never a
    // message's text.
    metadataOnly,
};

// "full" or "metadata"; absent for anything else.
std::optional<Privacy> privacyNamed(std::string_view name);
std::string_view privacyName(Privacy privacy);

struct McpSettings {
    static constexpr size_t kDefaultMaxReplyBytes = 40 * 1024;
    // The least budget accepted: the list of tools must fit in it.
    static constexpr size_t kLeastMaxReplyBytes = 8 * 1024;

    // Every reply line, newline excluded, holds at most this many bytes.
    size_t maxReplyBytes = kDefaultMaxReplyBytes;
    Privacy privacy = Privacy::fullText;
    // Chats whose messages, names and counts never appear in a reply: the
    // chats the person's settings leave out ("excludedChats"), which a sync
    // also takes out of the database.
    std::set<std::string> hiddenChatIds;
    // The model server that gives a question's vector, for `ask` to also
    // find messages near it in meaning when the database holds vectors
    // (core::AnswerFinder::useSemanticSearch); null: words alone.
    std::shared_ptr<core::EmbeddingGateway> embeddings;
};

// Messages counted by chat, by sender ("" for the person's own) and, when
// asked, by local month ("YYYY-MM"): what list_people, list_chats and stats
// add up.
struct ActivityRow {
    std::string chatId;
    std::string sender;
    std::string month;
    int64_t messages = 0;
    int64_t last = 0; // the newest message's store date
};

// Counts already made, kept while the database stays as it was (SQLite's
// data_version on the reading connection), by the statement that made them.
struct ActivityMemo {
    int64_t dataVersion = -1;
    std::map<std::string, std::vector<ActivityRow>> byStatement;
};

// Opens the shadow database for reading; throws with a message for the
// person (std::exception) when it cannot.
using ShadowOpener = std::function<std::unique_ptr<core::ShadowDBReader>()>;

// Arguments that break a tool's schema, or a tool of no such name: the
// server answers with the JSON-RPC error "Invalid params" (-32602) and this
// text.
class InvalidToolCall : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

class McpTools {
public:
    McpTools(ShadowOpener open, McpSettings settings);
    ~McpTools();
    McpTools(const McpTools&) = delete;
    McpTools& operator=(const McpTools&) = delete;

    // The tools as tools/list lists them: name, title, description and
    // inputSchema each.
    static const nlohmann::json& definitions();

    // Calls tool `name` and returns the reply line `encode` makes of its
    // result object (content, structuredContent, isError), cut to the
    // budget. A failure of the tool itself (no database, a damaged one, a
    // time it cannot read, a search past its time limit) is a result with
    // isError true and a plain message. Throws InvalidToolCall for an
    // unknown tool or arguments its schema refuses.
    std::string call(const std::string& name, const nlohmann::json& arguments,
                     const std::function<std::string(const OrderedJson& result)>& encode);

    const McpSettings& settings() const { return settings_; }

private:
    core::ShadowDBReader& database();

    ShadowOpener open_;
    McpSettings settings_;
    std::unique_ptr<core::ShadowDBReader> db_;
    // Belongs to db_'s connection.
    ActivityMemo memo_;
};

} // namespace orlune::mcp

#pragma once
// The tools the agent offers the model and the database side of them: the
// tool definitions, the database tools (run_sql, search_messages,
// message_context) run over ShadowTools with bounded results, and the
// statements the agent runs itself (the cited messages, and the people and
// message count the system prompt names).
//
// Results are JSON texts. A database tool's result reaches the model fenced
// as data (DataFence.hpp); a tool error is {"error": "..."}.

#include "helper/ShadowTools.hpp"

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace orlune::helper {

inline constexpr const char* kSearchMessagesTool = "search_messages";
inline constexpr const char* kRunSqlTool = "run_sql";
inline constexpr const char* kMessageContextTool = "message_context";
inline constexpr const char* kAskSubmodelTool = "ask_submodel";
inline constexpr const char* kFinalAnswerTool = "final_answer";

class AgentTools {
public:
    // Borrows `db` for its lifetime.
    explicit AgentTools(ShadowTools& db) : db_(db) {}

    // The definitions offered to the model: search_messages, run_sql and
    // message_context, then ask_submodel when `subModel`, then final_answer
    // when `finalAnswer`.
    static nlohmann::json definitions(bool subModel, bool finalAnswer);

    // Runs the database tool `name`: its result fenced as data, or a tool
    // error for arguments it cannot use or an operation the database refused
    // or failed. Absent when `name` is not a database tool.
    std::optional<std::string> run(const std::string& name, const nlohmann::json& arguments);

    // The messages `sources` (final_answer's list of guids) names that the
    // database holds, in the order given, at most 20, each once, with the
    // sender's name and the chat's title where known. Empty when `sources`
    // is not a list; absent when the messages cannot be read.
    std::optional<std::vector<MessageHit>> citedMessages(const nlohmann::json& sources);

private:
    std::string runSql(const nlohmann::json& arguments);
    std::string runSearch(const nlohmann::json& arguments);
    std::string runContext(const nlohmann::json& arguments);

    ShadowTools& db_;
};

// {"error": message} as JSON text.
std::string toolError(const std::string& message);

// The string argument `key`; absent when missing or not a string.
std::optional<std::string> stringArgument(const nlohmann::json& arguments, const char* key);

// A person the system prompt names.
struct KnownPerson {
    std::string name;
    std::vector<std::string> nicknames;
    std::string handles; // as messages.sender holds them, ", "-separated
    int64_t messages = 0;
};

struct KnownPeople {
    std::vector<KnownPerson> listed; // the most messages first
    int64_t unlisted = 0;            // people with a handle left out of `listed`
};

// The `maxPeople` people with a handle who have the most messages, and how
// many more there are. Absent when the database has no people tables (one
// synced before people were read) or they cannot be read.
std::optional<KnownPeople> knownPeople(ShadowTools& db, size_t maxPeople);

// The number of messages; absent when it cannot be read.
std::optional<int64_t> messageCount(ShadowTools& db);

} // namespace orlune::helper

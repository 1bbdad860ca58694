#pragma once
// The chat-completions wire format as the agent writes and reads it: the
// request body, the messages of a conversation, tool definitions, and the
// parts of a reply (its text and its tool calls). Reading is lenient about
// what servers send: a tool call without an id, arguments as a JSON text or
// an object, content as a string or as a list of text parts.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace orlune::helper::wire {

// `value` as compact JSON text; bytes that are not UTF-8 become U+FFFD.
std::string dump(const nlohmann::json& value);

// The body of one completion request: the model and the messages, and
// `tools` with "tool_choice": "auto" unless `tools` is empty. No sampling
// options: not every model behind a gateway accepts them.
nlohmann::json completionRequest(const std::string& model, const nlohmann::json& messages,
                                 const nlohmann::json& tools);

// One message of the conversation with the role and text.
nlohmann::json message(const char* role, std::string text);

// The result of the tool call `callId`.
nlohmann::json toolResult(const std::string& callId, std::string content);

// A function tool: its name, what it does, and its parameters as a JSON
// schema object with `properties` and the `required` ones.
nlohmann::json functionTool(const char* name, const char* description, nlohmann::json properties,
                            const std::vector<std::string>& required);

// One tool call of a reply.
struct ToolCall {
    std::string id;   // as sent, else "call_<position>"
    std::string name; // empty when the call names none
    // The arguments object; absent when they are neither an object nor a
    // JSON text holding one. Missing or null arguments read as {}.
    std::optional<nlohmann::json> arguments;
};

// The tool calls of a reply (the assistant message), in order; empty when
// it calls none.
std::vector<ToolCall> toolCallsOf(const nlohmann::json& reply);

// The reply's text, trimmed: a string, or the "text" pieces of a list of
// parts joined; empty when there is none.
std::string contentOf(const nlohmann::json& reply);

// The assistant message that goes back into the conversation for a reply
// with tool calls: its text (or null) and its tool calls as sent.
nlohmann::json echoAssistant(const nlohmann::json& reply);

} // namespace orlune::helper::wire

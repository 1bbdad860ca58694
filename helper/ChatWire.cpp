#include "helper/ChatWire.hpp"

#include "helper/HelperRequest.hpp"

namespace orlune::helper::wire {

using nlohmann::json;

std::string dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

json completionRequest(const std::string& model, const json& messages, const json& tools) {
    json request = {{"model", model}, {"messages", messages}};
    if (!tools.empty()) {
        request["tools"] = tools;
        request["tool_choice"] = "auto";
    }
    return request;
}

json message(const char* role, std::string text) {
    return json{{"role", role}, {"content", std::move(text)}};
}

json toolResult(const std::string& callId, std::string content) {
    return json{{"role", "tool"}, {"tool_call_id", callId}, {"content", std::move(content)}};
}

json functionTool(const char* name, const char* description, json properties,
                  const std::vector<std::string>& required) {
    return json{
        {"type", "function"},
        {"function",
         {{"name", name},
          {"description", description},
          {"parameters",
           {{"type", "object"}, {"properties", std::move(properties)}, {"required", required}}}}}};
}

namespace {

std::optional<json> argumentsOf(const json& call) {
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

std::string nameOf(const json& call) {
    auto function = call.find("function");
    if (function != call.end() && function->is_object()) {
        auto name = function->find("name");
        if (name != function->end() && name->is_string()) {
            return name->get<std::string>();
        }
    }
    return "";
}

const json* toolCallList(const json& reply) {
    auto calls = reply.find("tool_calls");
    if (calls == reply.end() || !calls->is_array() || calls->empty()) {
        return nullptr;
    }
    return &*calls;
}

} // namespace

std::vector<ToolCall> toolCallsOf(const json& reply) {
    std::vector<ToolCall> calls;
    const json* list = toolCallList(reply);
    if (list == nullptr) {
        return calls;
    }
    int index = 0;
    for (const json& call : *list) {
        ToolCall parsed;
        parsed.id = call.contains("id") && call["id"].is_string() ? call["id"].get<std::string>()
                                                                  : "call_" + std::to_string(index);
        ++index;
        parsed.name = nameOf(call);
        parsed.arguments = argumentsOf(call);
        calls.push_back(std::move(parsed));
    }
    return calls;
}

std::string contentOf(const json& reply) {
    auto content = reply.find("content");
    if (content == reply.end()) {
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

json echoAssistant(const json& reply) {
    json echo = {{"role", "assistant"}};
    auto content = reply.find("content");
    echo["content"] = (content != reply.end() && content->is_string()) ? *content : json(nullptr);
    echo["tool_calls"] = reply.at("tool_calls");
    return echo;
}

} // namespace orlune::helper::wire

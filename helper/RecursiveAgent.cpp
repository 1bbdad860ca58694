#include "helper/RecursiveAgent.hpp"

#include "answer/CitedMessagesHeading.hpp"
#include "helper/AgentPrompt.hpp"
#include "helper/ChatWire.hpp"
#include "helper/DataFence.hpp"
#include "helper/HelperError.hpp"
#include "helper/MessageFormat.hpp"

namespace orlune::helper {

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

} // namespace

RecursiveAgent::RecursiveAgent(ChatGateway& gateway, ShadowTools& tools, std::string model,
                               AgentLimits limits, std::ostream* diagnostics,
                               core::TimeContext time)
    : gateway_(gateway), db_(tools), tools_(tools), model_(std::move(model)), limits_(limits),
      diagnostics_(diagnostics), time_(std::move(time)) {}

AgentAnswer RecursiveAgent::answer(const HelperRequest& request) {
    std::string system;
    try {
        system = rootSystemPrompt(db_, time_, limits_.maxCalls, limits_.maxDepth);
    } catch (const core::ShadowDBError& error) {
        throw HelperError(HelperError::Kind::database,
                          std::string("The message database cannot be read: ") + error.what());
    }
    json messages = json::array();
    messages.push_back(wire::message("system", std::move(system)));
    // Earlier answers and the summary quote messages: they go to the model
    // fenced as data, and only the person's own questions as they are.
    if (request.summary) {
        messages.push_back(wire::message("user", summaryTurn(*request.summary)));
    }
    for (const ConversationTurn& turn : request.conversation) {
        if (turn.role == "assistant" || turn.role == "system") {
            messages.push_back(wire::message(turn.role.c_str(), earlierAnswerTurn(turn.text)));
        } else {
            messages.push_back(wire::message("user", turn.text));
        }
    }
    messages.push_back(wire::message("user", request.question));

    LoopEnd end = converse(messages, 0);
    switch (end.kind) {
    case LoopEnd::Kind::reply:
        if (end.text.empty()) {
            throw GatewayError(GatewayError::Kind::malformed, "The model gave an empty answer.");
        }
        return {end.text, fallbackSummary(request.summary, request.question, end.text), {}};
    case LoopEnd::Kind::finalAnswer:
        return finalAnswer(end.arguments, request);
    case LoopEnd::Kind::noCallsLeft:
    case LoopEnd::Kind::toolsAtLastCall:
        break;
    }
    throw HelperError(HelperError::Kind::limit, "The model did not finish its answer within " +
                                                    std::to_string(limits_.maxCalls) + " calls.");
}

RecursiveAgent::LoopEnd RecursiveAgent::converse(json& messages, int depth) {
    const bool root = depth == 0;
    // A sub-model leaves the last completion for the root's answer.
    const int reserved = root ? 0 : 1;
    while (true) {
        const int left = limits_.maxCalls - calls_ - reserved;
        if (left <= 0) {
            return {LoopEnd::Kind::noCallsLeft, "", nullptr};
        }
        const bool withTools = left > 1;
        if (root && !withTools) {
            messages.push_back(wire::message("system", kLastCallNote));
        }
        const json tools =
            withTools ? AgentTools::definitions(depth < limits_.maxDepth, root) : json::array();
        const json reply = complete(messages, tools, depth);
        const std::vector<wire::ToolCall> calls = wire::toolCallsOf(reply);
        if (calls.empty()) {
            return {LoopEnd::Kind::reply, wire::contentOf(reply), nullptr};
        }
        if (!withTools) {
            return {LoopEnd::Kind::toolsAtLastCall, "", nullptr};
        }
        messages.push_back(wire::echoAssistant(reply));
        for (const wire::ToolCall& call : calls) {
            std::string result;
            if (!call.arguments) {
                result = toolError("The arguments are not a JSON object.");
            } else if (root && call.name == kFinalAnswerTool) {
                const auto text = stringArgument(*call.arguments, "answer");
                if (text && !trimmed(*text).empty()) {
                    return {LoopEnd::Kind::finalAnswer, "", *call.arguments};
                }
                result = toolError("final_answer needs a non-empty \"answer\".");
            } else {
                result = runTool(call.name, *call.arguments, depth);
            }
            messages.push_back(wire::toolResult(call.id, std::move(result)));
        }
    }
}

std::string RecursiveAgent::runTool(const std::string& name, const json& arguments, int depth) {
    note("tool " + (name.empty() ? std::string("(unnamed)") : name) + " (depth " +
         std::to_string(depth) + ")");
    if (std::optional<std::string> result = tools_.run(name, arguments)) {
        return *result;
    }
    if (name == kAskSubmodelTool) {
        if (depth >= limits_.maxDepth) {
            return toolError("ask_submodel is not available at this depth.");
        }
        try {
            return askSubmodel(arguments, depth);
        } catch (const core::ShadowDBError& error) {
            return toolError(error.what());
        }
    }
    return toolError("Unknown tool \"" + name + "\".");
}

std::string RecursiveAgent::askSubmodel(const json& arguments, int depth) {
    auto question = stringArgument(arguments, "question");
    auto slice = stringArgument(arguments, "text");
    if (!question || !slice) {
        return toolError("ask_submodel needs \"question\" and \"text\" strings.");
    }
    json messages = json::array();
    messages.push_back(wire::message("system", subSystemPrompt(db_, time_)));
    messages.push_back(wire::message("user", subModelTask(*question, *slice)));
    const LoopEnd end = converse(messages, depth + 1);
    switch (end.kind) {
    case LoopEnd::Kind::reply:
        // The sub-model's answer quotes the messages it read.
        return end.text.empty() ? toolError("The sub-model gave an empty answer.")
                                : fenceData(wire::dump(json{{"answer", end.text}}));
    case LoopEnd::Kind::noCallsLeft:
        return toolError("The sub-model could not answer: no model calls are left.");
    case LoopEnd::Kind::toolsAtLastCall:
    case LoopEnd::Kind::finalAnswer:
        break;
    }
    return toolError("The sub-model did not answer before its calls ran out.");
}

AgentAnswer RecursiveAgent::finalAnswer(const json& arguments, const HelperRequest& request) {
    std::string answerText = trimmed(stringArgument(arguments, "answer").value_or(""));
    const auto summary = stringArgument(arguments, "summary");
    std::string newSummary = summary && !trimmed(*summary).empty()
                                 ? *summary
                                 : fallbackSummary(request.summary, request.question, answerText);
    std::vector<MessageHit> cited;
    if (auto sources = arguments.find("sources"); sources != arguments.end()) {
        if (auto found = tools_.citedMessages(*sources)) {
            cited = std::move(*found);
        } else {
            note("could not read the cited messages");
        }
    }
    if (!cited.empty()) {
        answerText += "\n\n" + std::string(core::kCitedMessagesHeading) + "\n";
        for (const MessageHit& hit : cited) {
            answerText += "- " + describeMessage(hit, 160) + "\n";
        }
    }
    return {std::move(answerText), std::move(newSummary), std::move(cited)};
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

    const json request = wire::completionRequest(model_, messages, tools);
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

void RecursiveAgent::note(const std::string& line) {
    if (diagnostics_ != nullptr) {
        *diagnostics_ << "orlune-rlm-helper: " << line << "\n";
    }
}

} // namespace orlune::helper

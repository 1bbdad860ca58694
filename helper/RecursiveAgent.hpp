#pragma once
// The recursive language-model loop. The root model gets the question, the
// earlier turns, the running summary, the current local date, time and zone
// and a description of the shadow database's tables (AgentPrompt.hpp), and
// may call tools (AgentTools.hpp): read-only SQL, full-text search, the
// messages around one message, and a sub-model asked about a slice of text
// (which has the same tools and may itself ask a deeper sub-model, down to
// the depth limit). The root finishes with an answer that names the messages
// it relied on and a new summary. Root and sub-models run the same tool-call
// loop.
//
// Limits: at most `maxCalls` completions in all (the last one always left to
// the root, which must then answer without tools), sub-models at most
// `maxDepth` levels below the root, each completion bounded by `callTimeout`
// and everything by `deadline`.
//
// Text read from the database (tool results, the sub-model's slice) reaches
// the model inside data fences (DataFence.hpp), and the system prompt says
// that fenced text is data, never instructions. A reply without tool calls
// is the answer (small local models rarely call final_answer).
//
// The agent borrows the gateway and the tools for its lifetime; one thread.

#include "base/Gateway.hpp"
#include "helper/AgentTools.hpp"
#include "helper/ChatGateway.hpp"
#include "helper/HelperRequest.hpp"
#include "helper/ShadowTools.hpp"
#include "time/LocalTime.hpp"

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace orlune::helper {

struct AgentLimits {
    int maxDepth = HelperRequest::kDefaultMaxDepth;
    int maxCalls = HelperRequest::kDefaultMaxCalls;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    std::chrono::milliseconds callTimeout{60000};
};

struct AgentAnswer {
    std::string answer;  // never empty
    std::string summary; // the new running summary
    // The messages final_answer named as its sources that the database
    // holds, in the order the model gave them, with the sender's name and
    // the chat's title where they are known; empty for a plain-text reply.
    std::vector<MessageHit> cited;
};

class RecursiveAgent {
public:
    static constexpr const char* kDefaultModel = core::gateway::kDefaultModel;

    // `diagnostics` receives one line per completion and tool call (names and
    // counts only, never content or the key); may be null. `time` is the
    // person's clock and zone, told to the model (TimeContext::system() in
    // the helper; fixed in tests).
    RecursiveAgent(ChatGateway& gateway, ShadowTools& tools, std::string model, AgentLimits limits,
                   std::ostream* diagnostics = nullptr,
                   core::TimeContext time = core::TimeContext::system());

    // Answers the request's question. Throws GatewayError when the gateway
    // fails (the caller decides whether an unreachable gateway on the first
    // call means "answer offline"), HelperError (timeout, limit, database).
    AgentAnswer answer(const HelperRequest& request);

    // Completions requested so far (including one that failed).
    int callsMade() const { return calls_; }

private:
    // How one model's tool-call loop ended.
    struct LoopEnd {
        enum class Kind {
            reply,           // a reply without tool calls: `text`
            finalAnswer,     // the root called final_answer with an answer: `arguments`
            noCallsLeft,     // a sub-model had no completion left to make
            toolsAtLastCall, // the reply to the last call (offered no tools) called tools
        };
        Kind kind;
        std::string text;
        nlohmann::json arguments;
    };

    // Runs the model at `depth` on `messages` until it answers: each reply's
    // tool calls are run and their results added, and the model asked again.
    // The root (depth 0) may use every call left and is offered final_answer;
    // a sub-model leaves the last call to the root.
    LoopEnd converse(nlohmann::json& messages, int depth);
    // The result of one tool call other than final_answer.
    std::string runTool(const std::string& name, const nlohmann::json& arguments, int depth);
    std::string askSubmodel(const nlohmann::json& arguments, int depth);
    AgentAnswer finalAnswer(const nlohmann::json& arguments, const HelperRequest& request);
    nlohmann::json complete(const nlohmann::json& messages, const nlohmann::json& tools, int depth);
    void note(const std::string& line);

    ChatGateway& gateway_;
    ShadowTools& db_;
    AgentTools tools_;
    std::string model_;
    AgentLimits limits_;
    std::ostream* diagnostics_;
    core::TimeContext time_;
    int calls_ = 0;
};

} // namespace orlune::helper

#pragma once
// The recursive language-model loop. The root model gets the question, the
// earlier turns, the running summary, the current local date, time and zone
// and a description of the shadow database's tables, and may call tools:
// read-only SQL, full-text search, the messages around one message, and a
// sub-model asked about a slice of text (which has the same tools and may
// itself ask a deeper sub-model, down to the depth limit). The root finishes
// with an answer that names the messages it relied on and a new summary.
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
#include "time/LocalTime.hpp"
#include "helper/ChatGateway.hpp"
#include "helper/HelperRequest.hpp"
#include "helper/ShadowTools.hpp"

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

    // The system prompt's lines on the current local date, time and zone, and
    // the first store date (messages.timestamp) of today, for `time`. A zone
    // ICU does not know is read as UTC.
    static std::string timeDescription(const core::TimeContext& time);

    // The system prompt's table of people: each known person's name,
    // nicknames, handles (as messages.sender holds them) and message count,
    // the `maxPeople` with the most messages first, then how many were left
    // out. Fenced as data (names come from the person's address books).
    // Empty when the database knows no people or the table cannot be read.
    static std::string peopleDescription(ShadowTools& tools, size_t maxPeople);

    // At most this many people are listed in the system prompt.
    static constexpr size_t kMaxPromptPeople = 40;

    // Answers the request's question. Throws GatewayError when the gateway
    // fails (the caller decides whether an unreachable gateway on the first
    // call means "answer offline"), HelperError (timeout, limit, database).
    AgentAnswer answer(const HelperRequest& request);

    // Completions requested so far (including one that failed).
    int callsMade() const { return calls_; }

private:
    nlohmann::json complete(const nlohmann::json& messages, const nlohmann::json& tools, int depth);
    nlohmann::json toolDefinitions(int depth, bool root) const;
    std::string runTool(const std::string& name, const nlohmann::json& arguments, int depth);
    std::string runSql(const nlohmann::json& arguments);
    std::string runSearch(const nlohmann::json& arguments);
    std::string askSubmodel(const nlohmann::json& arguments, int depth);
    std::string runContext(const nlohmann::json& arguments);
    std::string schemaDescription();
    std::vector<MessageHit> citedMessages(const nlohmann::json& sources);
    void note(const std::string& line);

    ChatGateway& gateway_;
    ShadowTools& tools_;
    std::string model_;
    AgentLimits limits_;
    std::ostream* diagnostics_;
    core::TimeContext time_;
    int calls_ = 0;
};

// The running summary kept when the model gives none: the previous summary
// followed by this exchange, cut to a bounded size (the most recent part kept).
std::string fallbackSummary(const std::optional<std::string>& previous, const std::string& question,
                            const std::string& answer);

} // namespace orlune::helper

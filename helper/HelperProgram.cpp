#include "helper/HelperProgram.hpp"

#include "helper/AgentPrompt.hpp"
#include "helper/CurlChatGateway.hpp"
#include "helper/HelperError.hpp"
#include "helper/HelperRequest.hpp"
#include "helper/MessageFormat.hpp"
#include "helper/OfflineAnswer.hpp"
#include "helper/RecursiveAgent.hpp"
#include "helper/ShadowDBTools.hpp"
#include "shadow/ShadowDB.hpp"
#include "sync/CurlEmbeddingGateway.hpp"

#include <chrono>
#include <cmath>
#include <memory>

namespace orlune::helper {

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// A cited message's text is cut to this many bytes; the answer shows it whole.
constexpr size_t kCitedTextBytes = 500;

// A positive number of seconds from the variable, or the fallback.
double secondsFrom(const core::Environment& env, const char* name, double fallback,
                   std::ostream& diagnostics) {
    auto value = env.variable(name);
    if (!value || trimmed(*value).empty()) {
        return fallback;
    }
    try {
        size_t used = 0;
        double seconds = std::stod(*value, &used);
        if (used == value->size() && std::isfinite(seconds) && seconds > 0) {
            return seconds;
        }
    } catch (const std::exception&) {
    }
    diagnostics << "orlune-rlm-helper: ignoring " << name
                << " (not a positive number of seconds)\n";
    return fallback;
}

std::chrono::milliseconds millis(double seconds) {
    return std::chrono::milliseconds(static_cast<int64_t>(std::min(seconds, 86400.0) * 1000));
}

json errorResponse(const std::string& type, const std::string& message) {
    return json{{"error", {{"type", type}, {"message", message}}}};
}

json answerResponse(const std::string& answer, const std::string& summary) {
    return json{{"answer", answer}, {"conversationSummary", summary}};
}

// Why the model's answer could not be used, as the short clause the index
// answer starts with.
std::string reasonFor(const GatewayError& error) {
    switch (error.kind()) {
    case GatewayError::Kind::unreachable:
        return "the model server could not be reached";
    case GatewayError::Kind::timeout:
        return "the model server did not answer in time";
    case GatewayError::Kind::transport:
        return "the connection to the model server failed";
    case GatewayError::Kind::http:
        if (error.httpStatus() == 401 || error.httpStatus() == 403) {
            return "the model server refused the API key (HTTP " +
                   std::to_string(error.httpStatus()) + ")";
        }
        if (error.httpStatus() >= 300) {
            return "the model server answered with an error (HTTP " +
                   std::to_string(error.httpStatus()) + ")";
        }
        return "the model server reported an error";
    case GatewayError::Kind::malformed:
        break;
    }
    return "the model server sent a reply that could not be read";
}

// The messages an answer relies on, in its order, as the application shows
// them under it: "time" is the local time as a person reads it.
json citedMessages(const std::vector<MessageHit>& hits) {
    json messages = json::array();
    for (const MessageHit& hit : hits) {
        messages.push_back({{"guid", hit.guid},
                            {"sender_name", senderLabel(hit)},
                            {"chat_title", chatLabel(hit)},
                            {"time", formatMessageTime(hit.timestamp)},
                            {"text", shownText(hit, kCitedTextBytes)}});
    }
    return messages;
}

json offlineResponse(ShadowTools& tools, const HelperRequest& request, const std::string& reason) {
    std::vector<MessageHit> cited;
    std::string answer = answerFromIndex(tools, request.question, reason, 8, &cited);
    json response = answerResponse(answer, fallbackSummary(request.summary, request.question,
                                                           "(answered from the index alone)"));
    response["model"] = nullptr; // no model answered
    if (!cited.empty()) {
        response["messages"] = citedMessages(cited);
    }
    return response;
}

} // namespace

json HelperProgram::respond(std::string_view requestDocument, const core::Environment& env,
                            std::ostream& diagnostics) {
    const auto started = Clock::now();
    try {
        HelperRequest request = HelperRequest::parse(requestDocument);

        std::unique_ptr<ShadowDBTools> tools;
        try {
            tools = std::make_unique<ShadowDBTools>(
                request.dbPath ? *request.dbPath : core::ShadowDB::shadowDBPath(env));
        } catch (const core::ShadowDBError& error) {
            throw HelperError(HelperError::Kind::database, error.what());
        }

        const double deadlineSeconds =
            secondsFrom(env, "ORLUNE_RLM_DEADLINE_SECONDS", kDefaultDeadlineSeconds, diagnostics);
        const double callSeconds = secondsFrom(env, "ORLUNE_RLM_CALL_TIMEOUT_SECONDS",
                                               kDefaultCallTimeoutSeconds, diagnostics);
        const auto deadline = started + millis(deadlineSeconds);
        tools->setDeadline(deadline);
        // The model must be done this much before the deadline, so that the
        // answer from the index still has time when it is not.
        const auto modelDeadline =
            deadline - millis(std::min(kIndexAnswerReserveSeconds, deadlineSeconds / 5));

        if (request.indexOnly) {
            return offlineResponse(*tools, request, "a first answer while the model works");
        }
        // A model server the person chose also finds messages by meaning
        // when they were embedded (`orlune embed`), for the model's search
        // and the answer from the index after it; the gateway is never asked
        // to, and neither is a server by a run that asks no model.
        const std::string chosenServer =
            request.baseUrl.value_or(trimmed(env.variable("VEYRLINK_BASE_URL").value_or("")));
        if (!chosenServer.empty()) {
            tools->useSemanticSearch(std::make_unique<core::CurlEmbeddingGateway>(
                chosenServer,
                CurlChatGateway::isLoopback(chosenServer) ? "" : request.apiKey.value_or("")));
        }
        try {
            const std::string baseUrl =
                chosenServer.empty() ? std::string(CurlChatGateway::kDefaultBaseUrl) : chosenServer;
            // A model server on this machine is asked without a key.
            if (!request.apiKey && !CurlChatGateway::isLoopback(baseUrl)) {
                diagnostics << "orlune-rlm-helper: no API key; answering from the index\n";
                return offlineResponse(*tools, request, "no API key is configured");
            }
            CurlChatGateway gateway(baseUrl, request.apiKey.value_or(""));
            AgentLimits limits{request.maxDepth, request.maxCalls, modelDeadline,
                               millis(callSeconds)};
            const std::string model = request.model.value_or(RecursiveAgent::kDefaultModel);
            RecursiveAgent agent(gateway, *tools, model, limits,
                                 request.verbose ? &diagnostics : nullptr,
                                 core::TimeContext::system(env));
            std::string reason;
            try {
                AgentAnswer answer = agent.answer(request);
                json response = answerResponse(answer.answer, answer.summary);
                response["model"] = model;
                if (!answer.cited.empty()) {
                    response["messages"] = citedMessages(answer.cited);
                }
                return response;
            } catch (const GatewayError& error) {
                reason = reasonFor(error);
            } catch (const HelperError& error) {
                if (error.kind() == HelperError::Kind::timeout) {
                    reason = "the model did not answer in time";
                } else if (error.kind() == HelperError::Kind::limit) {
                    reason = "the model did not finish within " + std::to_string(request.maxCalls) +
                             " calls";
                } else {
                    throw;
                }
            }
            // Whatever the model server did, the index can still answer.
            diagnostics << "orlune-rlm-helper: model failed after " << agent.callsMade()
                        << " call(s); answering from the index\n";
            return offlineResponse(*tools, request, reason);
        } catch (const core::ShadowDBError& error) {
            throw HelperError(HelperError::Kind::database,
                              std::string("The message database cannot be read: ") + error.what());
        }
    } catch (const HelperError& error) {
        diagnostics << "orlune-rlm-helper: failed (" << error.typeName() << ")\n";
        return errorResponse(error.typeName(), error.what());
    } catch (const std::exception& error) {
        diagnostics << "orlune-rlm-helper: failed (internal_error)\n";
        return errorResponse("internal_error", error.what());
    }
}

} // namespace orlune::helper

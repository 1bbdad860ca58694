#include "helper/HelperProgram.hpp"

#include "OrluneCore/ShadowDB.hpp"
#include "helper/CurlChatGateway.hpp"
#include "helper/HelperError.hpp"
#include "helper/HelperRequest.hpp"
#include "helper/OfflineAnswer.hpp"
#include "helper/RecursiveAgent.hpp"
#include "helper/ShadowDBTools.hpp"

#include <chrono>
#include <cmath>
#include <memory>

namespace orlune::helper {

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

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

json offlineResponse(ShadowTools& tools, const HelperRequest& request, const std::string& reason) {
    std::string answer = answerFromIndex(tools, request.question, reason);
    return answerResponse(answer, fallbackSummary(request.summary, request.question,
                                                  "(answered from the index alone)"));
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
                request.dbPath ? *request.dbPath : core::ShadowDB::defaultShadowDBPath(env));
        } catch (const core::ShadowDBError& error) {
            throw HelperError(HelperError::Kind::database, error.what());
        }

        const double deadlineSeconds =
            secondsFrom(env, "ORLUNE_RLM_DEADLINE_SECONDS", kDefaultDeadlineSeconds, diagnostics);
        const double callSeconds = secondsFrom(env, "ORLUNE_RLM_CALL_TIMEOUT_SECONDS",
                                               kDefaultCallTimeoutSeconds, diagnostics);
        const auto deadline = started + millis(deadlineSeconds);
        tools->setDeadline(deadline);

        try {
            if (!request.apiKey) {
                diagnostics << "orlune-rlm-helper: no API key; answering from the index\n";
                return offlineResponse(*tools, request, "no API key is configured");
            }
            std::string baseUrl = trimmed(env.variable("VEYRLINK_BASE_URL").value_or(""));
            if (baseUrl.empty()) {
                baseUrl = CurlChatGateway::kDefaultBaseUrl;
            }
            CurlChatGateway gateway(baseUrl, *request.apiKey);
            AgentLimits limits{request.maxDepth, request.maxCalls, deadline, millis(callSeconds)};
            RecursiveAgent agent(gateway, *tools,
                                 request.model.value_or(RecursiveAgent::kDefaultModel), limits,
                                 request.verbose ? &diagnostics : nullptr);
            try {
                AgentAnswer answer = agent.answer(request);
                return answerResponse(answer.answer, answer.summary);
            } catch (const GatewayError& error) {
                if (error.kind() == GatewayError::Kind::unreachable && agent.callsMade() <= 1) {
                    diagnostics
                        << "orlune-rlm-helper: gateway unreachable; answering from the index\n";
                    return offlineResponse(*tools, request,
                                           "the model gateway could not be reached");
                }
                throw HelperError(error.kind() == GatewayError::Kind::timeout
                                      ? HelperError::Kind::timeout
                                      : HelperError::Kind::gateway,
                                  error.what());
            }
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

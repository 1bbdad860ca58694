#pragma once
// The whole helper, minus the process plumbing: one request document in, one
// response object out. Chooses between the model loop (with an API key) and
// the index-only answer (without one, or when the gateway cannot be reached),
// and turns every failure into the response's "error" object.
//
// Environment variables read:
//   VEYRLINK_BASE_URL              gateway address (default CurlChatGateway::kDefaultBaseUrl)
//   ORLUNE_RLM_CALL_TIMEOUT_SECONDS  longest wait for one completion (default 60)
//   ORLUNE_RLM_DEADLINE_SECONDS      longest time for the whole question (default 300)

#include "OrluneCore/Environment.hpp"

#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>

namespace orlune::helper {

class HelperProgram {
public:
    static constexpr double kDefaultCallTimeoutSeconds = 60;
    static constexpr double kDefaultDeadlineSeconds = 300;

    // Returns the response object: {"answer", "conversationSummary"} or
    // {"error": {"type", "message"}}. Never throws. Diagnostics go to
    // `diagnostics`: the mode and any failure's type always, each completion
    // and tool call when the request asks for "verbose"; never content or
    // the key.
    static nlohmann::json respond(std::string_view requestDocument, const core::Environment& env,
                                  std::ostream& diagnostics);
};

} // namespace orlune::helper

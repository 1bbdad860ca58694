#pragma once
// The whole helper, minus the process plumbing: one request document in, one
// response object out. Chooses between the model loop and the index-only
// answer, and turns every failure into the response's "error" object.
//
// The model server is the request's "base_url", else VEYRLINK_BASE_URL, else
// CurlChatGateway::kDefaultBaseUrl. It is asked when the request has an API
// key, or without one (and without an Authorization header) when the server
// is on this machine (CurlChatGateway::isLoopback). Otherwise, and whenever
// the model server fails at any call (unreachable, too slow, an HTTP error, a
// reply that cannot be read, no answer within the calls or the deadline), the
// answer comes from the index alone and its first line says why. Only a
// request that cannot be used and a database that cannot be read fail the
// question.
//
// Environment variables read:
//   VEYRLINK_BASE_URL              model server address when the request names none
//   TZ                             the zone of the local time the model is told
//   ORLUNE_RLM_CALL_TIMEOUT_SECONDS  longest wait for one completion (default 60)
//   ORLUNE_RLM_DEADLINE_SECONDS      longest time for the whole question (default 300)

#include "base/Environment.hpp"

#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>

namespace orlune::helper {

class HelperProgram {
public:
    static constexpr double kDefaultCallTimeoutSeconds = 60;
    static constexpr double kDefaultDeadlineSeconds = 300;
    // The time before the deadline kept for the answer from the index (at most
    // a fifth of the deadline).
    static constexpr double kIndexAnswerReserveSeconds = 5;

    // Returns the response object: {"answer", "conversationSummary", "model"},
    // with "messages" (the messages the answer relies on, in its order: guid,
    // sender_name, chat_title, time, text) when it names any; or
    // {"error": {"type", "message"}}. "model" says who answered: the model's
    // name, or null for an answer from the index alone, whose first
    // paragraph says why no model was used (that sentence is for people;
    // readers decide by "model"). Never throws. Diagnostics go to
    // `diagnostics`: the mode and any failure's type always, each completion
    // and tool call when the request asks for "verbose"; never content or
    // the key.
    static nlohmann::json respond(std::string_view requestDocument, const core::Environment& env,
                                  std::ostream& diagnostics);
};

} // namespace orlune::helper

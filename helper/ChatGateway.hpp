#pragma once
// The model gateway as the agent sees it: one chat completion per call, in the
// common chat-completions format (request and response as JSON documents).

#include <chrono>
#include <exception>
#include <nlohmann/json.hpp>
#include <string>

namespace orlune::helper {

class GatewayError : public std::exception {
public:
    enum class Kind {
        unreachable, // no connection could be made (name, refusal, connect time-out)
        timeout,     // connected, but no complete answer within the call's time
        transport,   // the connection broke, or TLS failed
        http,        // an HTTP status other than 2xx
        malformed,   // the body is not a chat completion
    };

    GatewayError(Kind kind, std::string message, int httpStatus = 0)
        : kind_(kind), message_(std::move(message)), httpStatus_(httpStatus) {}
    Kind kind() const { return kind_; }
    // The HTTP status of an http failure (200 for an error body sent with
    // success); 0 otherwise.
    int httpStatus() const { return httpStatus_; }
    // A sentence for the user; never contains the API key.
    const char* what() const noexcept override { return message_.c_str(); }

private:
    Kind kind_;
    std::string message_;
    int httpStatus_ = 0;
};

class ChatGateway {
public:
    virtual ~ChatGateway() = default;

    // Sends one completion request and returns the assistant message of the
    // first choice (an object with "content" and/or "tool_calls"). Waits at
    // most `timeout`. Throws GatewayError.
    virtual nlohmann::json complete(const nlohmann::json& request,
                                    std::chrono::milliseconds timeout) = 0;
};

} // namespace orlune::helper

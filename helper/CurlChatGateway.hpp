#pragma once
// ChatGateway over HTTP with libcurl: POST {baseUrl}/chat/completions with the
// API key as a bearer token, or without an Authorization header when the key
// is empty (a model server on this machine needs none). Redirects are not followed (the key is sent
// to the configured address only) and only http and https are spoken. curl's global initialisation
// is the caller's (main) duty.

#include "base/Gateway.hpp"
#include "helper/ChatGateway.hpp"

#include <string>

namespace orlune::helper {

class CurlChatGateway : public ChatGateway {
public:
    // The address used when VEYRLINK_BASE_URL is not set.
    static constexpr const char* kDefaultBaseUrl = core::gateway::kDefaultAPIBaseURL;

    // `baseUrl` without the trailing "/chat/completions"; trailing slashes are
    // dropped.
    CurlChatGateway(std::string baseUrl, std::string apiKey);

    nlohmann::json complete(const nlohmann::json& request,
                            std::chrono::milliseconds timeout) override;

    // Whether `baseUrl` names this machine: its host is localhost, an address
    // in 127.0.0.0/8 or ::1 (any scheme, port and path).
    static bool isLoopback(const std::string& baseUrl);

    // Largest response body accepted.
    static constexpr size_t kMaxResponseBytes = 8 * 1024 * 1024;

private:
    // `text` with every occurrence of the API key replaced.
    std::string redact(std::string text) const;

    std::string endpoint_;
    std::string apiKey_;
};

} // namespace orlune::helper

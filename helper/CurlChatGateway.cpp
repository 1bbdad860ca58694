#include "helper/CurlChatGateway.hpp"

#include <algorithm>
#include <cctype>
#include <curl/curl.h>
#include <memory>

namespace orlune::helper {

namespace {

using nlohmann::json;

struct Body {
    std::string bytes;
    bool tooLarge = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    auto* body = static_cast<Body*>(target);
    size_t length = size * count;
    if (body->bytes.size() + length > CurlChatGateway::kMaxResponseBytes) {
        body->tooLarge = true;
        return 0; // makes curl stop with a write error
    }
    body->bytes.append(data, length);
    return length;
}

// The gateway's own explanation in an error body, when it gives one.
std::string errorDetail(const std::string& body) {
    json document = json::parse(body, nullptr, false);
    if (!document.is_discarded() && document.is_object()) {
        auto it = document.find("error");
        if (it != document.end()) {
            if (it->is_object() && it->contains("message") && (*it)["message"].is_string()) {
                return (*it)["message"].get<std::string>();
            }
            if (it->is_string()) {
                return it->get<std::string>();
            }
        }
    }
    std::string text = body.substr(0, 200);
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

} // namespace

CurlChatGateway::CurlChatGateway(std::string baseUrl, std::string apiKey)
    : apiKey_(std::move(apiKey)) {
    while (!baseUrl.empty() && baseUrl.back() == '/') {
        baseUrl.pop_back();
    }
    endpoint_ = baseUrl + "/chat/completions";
}

bool CurlChatGateway::isLoopback(const std::string& baseUrl) {
    std::string rest = baseUrl;
    if (const size_t scheme = rest.find("://"); scheme != std::string::npos) {
        rest = rest.substr(scheme + 3);
    }
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const size_t at = rest.rfind('@'); at != std::string::npos) {
        rest = rest.substr(at + 1);
    }
    std::string host;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            return false;
        }
        host = rest.substr(1, close - 1);
    } else {
        host = rest.substr(0, rest.find(':'));
    }
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (host == "localhost" || host == "::1") {
        return true;
    }
    // 127.a.b.c, four decimal parts of at most three digits.
    if (host.rfind("127.", 0) != 0) {
        return false;
    }
    int parts = 1;
    int digits = 0;
    for (char c : host) {
        if (c == '.') {
            if (digits == 0) {
                return false;
            }
            ++parts;
            digits = 0;
        } else if (c >= '0' && c <= '9' && digits < 3) {
            ++digits;
        } else {
            return false;
        }
    }
    return parts == 4 && digits > 0;
}

std::string CurlChatGateway::redact(std::string text) const {
    if (apiKey_.empty()) {
        return text;
    }
    for (size_t at = text.find(apiKey_); at != std::string::npos; at = text.find(apiKey_, at)) {
        text.replace(at, apiKey_.size(), "[redacted]");
    }
    return text;
}

json CurlChatGateway::complete(const json& request, std::chrono::milliseconds timeout) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        throw GatewayError(GatewayError::Kind::transport, "The HTTP client could not start.");
    }
    std::string payload = request.dump(-1, ' ', false, json::error_handler_t::replace);
    std::string authorization = "Authorization: Bearer " + apiKey_;
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Content-Type: application/json");
    headers = curl_slist_append(headers, "Accept: application/json");
    if (!apiKey_.empty()) {
        headers = curl_slist_append(headers, authorization.c_str());
    }
    // No "Expect: 100-continue" round trip before the body.
    headers = curl_slist_append(headers, "Expect:");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers,
                                                                           curl_slist_free_all);
    Body body;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    long timeoutMs = std::max<long>(1, static_cast<long>(timeout.count()));

    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, endpoint_.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS);
#endif
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, payload.c_str());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, std::min<long>(timeoutMs, 15000L));
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "orlune-rlm-helper");

    CURLcode rc = curl_easy_perform(handle);
    if (rc != CURLE_OK) {
        std::string detail = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(rc);
        detail = redact(detail);
        switch (rc) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            throw GatewayError(GatewayError::Kind::unreachable,
                               "The model gateway could not be reached (" + detail + ").");
        case CURLE_OPERATION_TIMEDOUT: {
            curl_off_t connected = 0;
            curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connected);
            if (connected == 0) {
                throw GatewayError(GatewayError::Kind::unreachable,
                                   "The model gateway could not be reached (" + detail + ").");
            }
            throw GatewayError(GatewayError::Kind::timeout,
                               "The model gateway did not answer in time.");
        }
        case CURLE_WRITE_ERROR:
            if (body.tooLarge) {
                throw GatewayError(GatewayError::Kind::malformed,
                                   "The model gateway sent an answer that is too large.");
            }
            [[fallthrough]];
        default:
            throw GatewayError(GatewayError::Kind::transport,
                               "The connection to the model gateway failed (" + detail + ").");
        }
    }

    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        std::string detail = redact(errorDetail(body.bytes));
        throw GatewayError(GatewayError::Kind::http,
                           "The model gateway answered with HTTP status " + std::to_string(status) +
                               (detail.empty() ? std::string(".") : ": " + detail),
                           static_cast<int>(status));
    }

    json document = json::parse(body.bytes, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        throw GatewayError(GatewayError::Kind::malformed,
                           "The model gateway sent a completion that is not valid JSON.");
    }
    auto choices = document.find("choices");
    if (choices == document.end() && document.contains("error")) {
        // Some gateways report failures with status 200 and an error body.
        throw GatewayError(GatewayError::Kind::http,
                           "The model gateway reported an error: " +
                               redact(errorDetail(body.bytes)),
                           static_cast<int>(status));
    }
    if (choices == document.end() || !choices->is_array() || choices->empty() ||
        !(*choices)[0].is_object() || !(*choices)[0].contains("message") ||
        !(*choices)[0]["message"].is_object()) {
        throw GatewayError(GatewayError::Kind::malformed,
                           "The model gateway sent a completion without a message.");
    }
    return (*choices)[0]["message"];
}

} // namespace orlune::helper

#include "sync/CurlEmbeddingGateway.hpp"

#include <algorithm>
#include <curl/curl.h>
#include <memory>
#include <nlohmann/json.hpp>

namespace orlune::core {

namespace {

using nlohmann::json;

struct Body {
    std::string bytes;
    bool tooLarge = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    auto* body = static_cast<Body*>(target);
    const size_t length = size * count;
    if (body->bytes.size() + length > CurlEmbeddingGateway::kMaxResponseBytes) {
        body->tooLarge = true;
        return 0; // makes curl stop with a write error
    }
    body->bytes.append(data, length);
    return length;
}

const EmbeddingError unreadable("The model server sent embeddings that could not be read.");

// The server's own explanation in an error body, one line, when it gives one.
std::string errorDetail(const std::string& body) {
    const json document = json::parse(body, nullptr, false);
    if (document.is_object() && document.contains("error")) {
        const json& error = document["error"];
        if (error.is_object() && error.contains("message") && error["message"].is_string()) {
            return error["message"].get<std::string>();
        }
        if (error.is_string()) {
            return error.get<std::string>();
        }
    }
    std::string text = body.substr(0, 200);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

} // namespace

CurlEmbeddingGateway::CurlEmbeddingGateway(std::string baseUrl, std::string apiKey)
    : apiKey_(std::move(apiKey)) {
    while (!baseUrl.empty() && baseUrl.back() == '/') {
        baseUrl.pop_back();
    }
    endpoint_ = baseUrl + "/embeddings";
}

std::vector<std::vector<float>> CurlEmbeddingGateway::readResponse(const std::string& body,
                                                                   size_t count) {
    const json document = json::parse(body, nullptr, false);
    if (!document.is_object() || !document.contains("data") || !document["data"].is_array()) {
        if (document.is_object() && document.contains("error")) {
            throw EmbeddingError("The model server reported an error: " + errorDetail(body));
        }
        throw unreadable;
    }
    const json& data = document["data"];
    if (data.size() != count) {
        throw EmbeddingError("The model server sent " + std::to_string(data.size()) +
                             " embeddings for " + std::to_string(count) + " texts.");
    }
    std::vector<std::vector<float>> vectors(count);
    for (size_t position = 0; position < count; ++position) {
        const json& item = data[position];
        if (!item.is_object() || !item.contains("embedding") || !item["embedding"].is_array()) {
            throw unreadable;
        }
        // Without "index" the items are in the order of the texts.
        size_t index = position;
        if (item.contains("index")) {
            if (!item["index"].is_number_unsigned() || item["index"].get<size_t>() >= count) {
                throw unreadable;
            }
            index = item["index"].get<size_t>();
        }
        if (!vectors[index].empty()) {
            throw unreadable;
        }
        for (const json& value : item["embedding"]) {
            if (!value.is_number()) {
                throw unreadable;
            }
            vectors[index].push_back(value.get<float>());
        }
        if (vectors[index].empty()) {
            throw unreadable;
        }
    }
    for (const std::vector<float>& vector : vectors) {
        if (vector.size() != vectors[0].size()) {
            throw unreadable;
        }
    }
    return vectors;
}

std::vector<std::vector<float>> CurlEmbeddingGateway::embed(const std::string& model,
                                                            const std::vector<std::string>& texts,
                                                            std::chrono::milliseconds timeout) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) {
        throw EmbeddingError("The HTTP client could not start.");
    }
    const json request = {{"model", model}, {"input", texts}};
    const std::string payload = request.dump(-1, ' ', false, json::error_handler_t::replace);
    const std::string authorization = "Authorization: Bearer " + apiKey_;
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Content-Type: application/json");
    headers = curl_slist_append(headers, "Accept: application/json");
    if (!apiKey_.empty()) {
        headers = curl_slist_append(headers, authorization.c_str());
    }
    headers = curl_slist_append(headers, "Expect:");
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(
        headers, curl_slist_free_all);
    Body body;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    const long timeoutMs = std::max<long>(1, static_cast<long>(timeout.count()));

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
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "orlune");

    const CURLcode rc = curl_easy_perform(handle);
    if (rc != CURLE_OK) {
        if (rc == CURLE_WRITE_ERROR && body.tooLarge) {
            throw EmbeddingError("The model server sent embeddings that are too large.");
        }
        if (rc == CURLE_OPERATION_TIMEDOUT) {
            throw EmbeddingError("The model server did not answer in time.");
        }
        const std::string detail = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(rc);
        throw EmbeddingError("The model server could not be reached at " + endpoint_ + " (" +
                             detail + ").");
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        std::string detail = errorDetail(body.bytes);
        if (!apiKey_.empty()) {
            for (size_t at = detail.find(apiKey_); at != std::string::npos;
                 at = detail.find(apiKey_, at)) {
                detail.replace(at, apiKey_.size(), "[redacted]");
            }
        }
        throw EmbeddingError("The model server answered " + endpoint_ + " with HTTP status " +
                             std::to_string(status) + (detail.empty() ? "." : ": " + detail));
    }
    return readResponse(body.bytes, texts.size());
}

} // namespace orlune::core

#pragma once
// EmbeddingGateway over HTTP with libcurl: the OpenAI-compatible
// POST {baseUrl}/embeddings with {"model": ..., "input": [texts]}, read as
// {"data": [{"embedding": [...], "index": i}, ...]}. The API key goes as a
// bearer token when there is one. Redirects are not followed and only http
// and https are spoken.

#include "base/EmbeddingGateway.hpp"

#include <cstddef>
#include <string>

namespace orlune::core {

class CurlEmbeddingGateway : public EmbeddingGateway {
public:
    // `baseUrl` as the model server setting holds it ("http://127.0.0.1:8080/v1");
    // trailing slashes are dropped.
    CurlEmbeddingGateway(std::string baseUrl, std::string apiKey);

    std::vector<std::vector<float>> embed(const std::string& model,
                                          const std::vector<std::string>& texts,
                                          std::chrono::milliseconds timeout) override;

    // The vectors of a response body for `count` texts, ordered by "index".
    // Throws EmbeddingError when it is not one vector of numbers per text,
    // all of one non-zero length.
    static std::vector<std::vector<float>> readResponse(const std::string& body, size_t count);

    // Largest response body accepted.
    static constexpr size_t kMaxResponseBytes = size_t{64} * 1024 * 1024;

private:
    std::string endpoint_;
    std::string apiKey_;
};

} // namespace orlune::core

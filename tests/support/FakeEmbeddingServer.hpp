#pragma once
// A deterministic stand-in for a model server's embeddings endpoint, on
// 127.0.0.1 at a free port, served by a thread of its own. A text's vector
// counts, on each axis, the words given for that axis that the text holds
// (lower-cased substrings), plus a small constant last component: texts that
// share an axis are near whether or not they share a word.

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orlune::testing {

class FakeEmbeddingServer {
public:
    // `axes`: word -> axis (0 ... dimension - 2).
    FakeEmbeddingServer(std::map<std::string, int> axes, int dimension);
    ~FakeEmbeddingServer();
    FakeEmbeddingServer(const FakeEmbeddingServer&) = delete;
    FakeEmbeddingServer& operator=(const FakeEmbeddingServer&) = delete;

    // What the model server setting would hold: "http://127.0.0.1:<port>/v1".
    std::string baseUrl() const;

    struct Request {
        std::string path;
        std::string model;
        std::vector<std::string> input;
    };
    // Every request so far, in order.
    std::vector<Request> requests() const;

    // Vectors of this length from now on (at least 2).
    void setDimension(int dimension);
    // The next request answers HTTP 500 once.
    void failNextRequest();
    // Every later request waits this long before answering.
    void setDelay(std::chrono::milliseconds delay);

    // The vector the server gives `text`.
    std::vector<float> vectorOf(const std::string& text) const;

private:
    void serve();
    void answer(int client);

    std::map<std::string, int> axes_;
    int listener_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    int dimension_;
    bool failNext_ = false;
    bool stopping_ = false;
    std::chrono::milliseconds delay_{0};
    std::vector<Request> requests_;
    std::thread thread_;
};

} // namespace orlune::testing

#include "tests/support/FakeEmbeddingServer.hpp"

#include <arpa/inet.h>
#include <cctype>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace orlune::testing {

namespace {

std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// A client that went away (a timed-out request) must not end the test with
// SIGPIPE.
#ifdef __linux__
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

void sendAll(int socket, const std::string& bytes) {
#ifdef __APPLE__
    const int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof(on));
#endif
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, kSendFlags);
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

std::string response(int status, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Error") +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

FakeEmbeddingServer::FakeEmbeddingServer(std::map<std::string, int> axes, int dimension)
    : axes_(std::move(axes)), dimension_(dimension) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (listener_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("the fake embedding server could not listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

FakeEmbeddingServer::~FakeEmbeddingServer() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    thread_.join();
    ::close(listener_);
}

std::string FakeEmbeddingServer::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/v1";
}

std::vector<FakeEmbeddingServer::Request> FakeEmbeddingServer::requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

void FakeEmbeddingServer::setDimension(int dimension) {
    const std::lock_guard lock(mutex_);
    dimension_ = dimension;
}

void FakeEmbeddingServer::failNextRequest() {
    const std::lock_guard lock(mutex_);
    failNext_ = true;
}

void FakeEmbeddingServer::setDelay(std::chrono::milliseconds delay) {
    const std::lock_guard lock(mutex_);
    delay_ = delay;
}

std::vector<float> FakeEmbeddingServer::vectorOf(const std::string& text) const {
    const std::lock_guard lock(mutex_);
    std::vector<float> vector(static_cast<size_t>(dimension_), 0.0F);
    const std::string folded = lowered(text);
    for (const auto& [word, axis] : axes_) {
        if (axis < dimension_ - 1 && folded.find(word) != std::string::npos) {
            vector[static_cast<size_t>(axis)] += 1.0F;
        }
    }
    vector.back() = 0.1F;
    return vector;
}

void FakeEmbeddingServer::serve() {
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
        }
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client >= 0) {
            answer(client);
            ::close(client);
        }
    }
}

void FakeEmbeddingServer::answer(int client) {
    std::string bytes;
    size_t headerEnd = std::string::npos;
    size_t contentLength = 0;
    char buffer[65536];
    for (;;) {
        if (headerEnd != std::string::npos && bytes.size() >= headerEnd + 4 + contentLength) {
            break;
        }
        const ssize_t n = ::recv(client, buffer, sizeof(buffer), 0);
        if (n <= 0) {
            return;
        }
        bytes.append(buffer, static_cast<size_t>(n));
        if (headerEnd == std::string::npos &&
            (headerEnd = bytes.find("\r\n\r\n")) != std::string::npos) {
            const std::string headers = lowered(bytes.substr(0, headerEnd));
            const size_t at = headers.find("content-length:");
            if (at != std::string::npos) {
                contentLength = std::stoul(headers.substr(at + 15));
            }
        }
    }
    Request request;
    const size_t pathStart = bytes.find(' ') + 1;
    request.path = bytes.substr(pathStart, bytes.find(' ', pathStart) - pathStart);
    const auto body = nlohmann::json::parse(bytes.substr(headerEnd + 4), nullptr, false);
    if (body.is_object()) {
        request.model = body.value("model", "");
        if (body.contains("input") && body["input"].is_array()) {
            request.input = body["input"].get<std::vector<std::string>>();
        }
    }
    bool fail = false;
    std::chrono::milliseconds delay{0};
    {
        const std::lock_guard lock(mutex_);
        requests_.push_back(request);
        fail = failNext_;
        failNext_ = false;
        delay = delay_;
    }
    std::this_thread::sleep_for(delay);
    if (fail || request.path != "/v1/embeddings") {
        sendAll(client, response(fail ? 500 : 404, R"({"error":{"message":"model not loaded"}})"));
        return;
    }
    nlohmann::json data = nlohmann::json::array();
    for (size_t i = 0; i < request.input.size(); ++i) {
        data.push_back(
            {{"object", "embedding"}, {"index", i}, {"embedding", vectorOf(request.input[i])}});
    }
    sendAll(client, response(200, nlohmann::json{{"data", data}, {"model", request.model}}.dump()));
}

} // namespace orlune::testing

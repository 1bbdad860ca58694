#include "tests/helper/HelperTestSupport.hpp"

#include "shadow/ShadowDB.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace orlune::testing {

namespace {

using nlohmann::json;

std::string reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 401:
        return "Unauthorized";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// A send to a client that has gone fails with EPIPE instead of ending the
// test program with SIGPIPE: a flag of each send on Linux, an option of the
// socket on the Mac.
#ifdef __linux__
constexpr int kNoSigpipe = MSG_NOSIGNAL;
#else
constexpr int kNoSigpipe = 0;
#endif

void sendAll(int socket, const std::string& data) {
#ifdef SO_NOSIGPIPE
    const int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(socket, data.data() + sent, data.size() - sent, kNoSigpipe);
        if (n <= 0) {
            return; // the helper gave up on this call; nothing to do
        }
        sent += static_cast<size_t>(n);
    }
}

std::string headerValue(const std::string& head, const std::string& name) {
    std::string lower = head;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string key = "\r\n" + name + ":";
    size_t at = lower.find(key);
    if (at == std::string::npos) {
        return "";
    }
    size_t begin = at + key.size();
    size_t end = head.find("\r\n", begin);
    std::string value = head.substr(begin, end - begin);
    while (!value.empty() && value.front() == ' ') {
        value.erase(value.begin());
    }
    return value;
}

} // namespace

std::vector<SampleMessage> sampleMessages() {
    // Dates are the store's: nanoseconds since 2001-01-01 UTC.
    return {
        {"g-dinner-1", "chat-family", std::string("Family"), "+15550001",
         "Dinner tomorrow at 7 at Luigi's?", 700000000000000000, false},
        {"g-dinner-2", "chat-family", std::string("Family"), "me", "Yes! I will bring dessert.",
         700000100000000000, true},
        {"g-dentist", "chat-alice", std::nullopt, "alice@example.com",
         "The dentist appointment moved to Friday at 9.", 700000200000000000, false},
        {"g-hike-1", "chat-hikers", std::string("Trail crew"), "+15550002",
         "Hiking Saturday: meet at the trailhead, bring water.", 700000300000000000, false},
        {"g-hike-2", "chat-hikers", std::string("Trail crew"), "me", "Count me in for the hike.",
         700000400000000000, true},
    };
}

void writeShadowDatabase(const std::string& path, const std::vector<SampleMessage>& messages) {
    core::ShadowDB db(path);
    db.createSchemaIfNeeded();
    std::vector<core::ShadowMessage> rows;
    int64_t sourceRowid = 0;
    for (const SampleMessage& m : messages) {
        rows.emplace_back(m.guid, m.chatId, m.chatName, m.sender, m.text, m.timestamp, m.isFromMe,
                          m.chatName.has_value(), false, std::vector<std::string>{}, ++sourceRowid);
    }
    db.insertBatch(rows);
}

int64_t countMessages(const std::string& path) {
    return std::stoll(testing::DatabaseProbe(path).value("SELECT COUNT(*) FROM messages"));
}

ScriptedReply contentReply(const std::string& content) {
    json body = {{"id", "cmpl"},
                 {"object", "chat.completion"},
                 {"choices",
                  {{{"index", 0},
                    {"message", {{"role", "assistant"}, {"content", content}}},
                    {"finish_reason", "stop"}}}}};
    return {200, body.dump(), std::chrono::milliseconds(0)};
}

ScriptedReply toolCallReply(const std::vector<std::pair<std::string, std::string>>& calls) {
    json toolCalls = json::array();
    int index = 0;
    for (const auto& [name, arguments] : calls) {
        toolCalls.push_back({{"id", "call_" + std::to_string(++index)},
                             {"type", "function"},
                             {"function", {{"name", name}, {"arguments", arguments}}}});
    }
    json body = {
        {"choices",
         {{{"index", 0},
           {"message", {{"role", "assistant"}, {"content", nullptr}, {"tool_calls", toolCalls}}},
           {"finish_reason", "tool_calls"}}}}};
    return {200, body.dump(), std::chrono::milliseconds(0)};
}

FakeGateway::FakeGateway(std::vector<ScriptedReply> script) : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener_ < 0) {
        throw std::runtime_error("socket");
    }
    int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0) {
        ::close(listener_);
        throw std::runtime_error("bind/listen");
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

FakeGateway::~FakeGateway() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    stopped_.notify_all();
    thread_.join();
    ::close(listener_);
}

std::string FakeGateway::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/v1";
}

std::vector<FakeGateway::Received> FakeGateway::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void FakeGateway::serve() {
    while (true) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) {
                return;
            }
        }
        pollfd fd{listener_, POLLIN, 0};
        if (::poll(&fd, 1, 50) <= 0) {
            continue;
        }
        int client = ::accept(listener_, nullptr, nullptr);
        if (client >= 0) {
            handle(client);
            ::close(client);
        }
    }
}

void FakeGateway::handle(int client) {
    std::string data;
    char buffer[65536];
    size_t headEnd = std::string::npos;
    size_t contentLength = 0;
    bool continued = false;
    while (true) {
        if (headEnd == std::string::npos) {
            headEnd = data.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                std::string head = data.substr(0, headEnd);
                std::string length = headerValue(head, "content-length");
                contentLength = length.empty() ? 0 : std::stoul(length);
                if (!continued && headerValue(head, "expect") == "100-continue") {
                    sendAll(client, "HTTP/1.1 100 Continue\r\n\r\n");
                    continued = true;
                }
            }
        }
        if (headEnd != std::string::npos && data.size() >= headEnd + 4 + contentLength) {
            break;
        }
        pollfd fd{client, POLLIN, 0};
        if (::poll(&fd, 1, 5000) <= 0) {
            return;
        }
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return;
        }
        data.append(buffer, static_cast<size_t>(n));
    }

    std::string head = data.substr(0, headEnd);
    Received request;
    std::string requestLine = head.substr(0, head.find("\r\n"));
    size_t space = requestLine.find(' ');
    request.method = requestLine.substr(0, space);
    request.path = requestLine.substr(space + 1, requestLine.find(' ', space + 1) - space - 1);
    request.authorization = headerValue(head + "\r\n", "authorization");
    request.body = json::parse(data.substr(headEnd + 4, contentLength), nullptr, false);

    ScriptedReply reply{500, R"({"error":{"message":"script used up"}})",
                        std::chrono::milliseconds(0)};
    {
        std::unique_lock<std::mutex> lock(mutex_);
        received_.push_back(std::move(request));
        if (next_ < script_.size()) {
            reply = script_[next_++];
        }
        if (reply.delay.count() > 0 &&
            stopped_.wait_for(lock, reply.delay, [this] { return stop_; })) {
            return;
        }
    }
    sendAll(client, "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonPhrase(reply.status) +
                        "\r\nContent-Type: application/json\r\nContent-Length: " +
                        std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n" +
                        reply.body);
}

ProcessResult runHelperProcess(const std::string& input, const std::vector<std::string>& env,
                               const std::string& workDir) {
    std::vector<std::string> environment = env;
    bool hasDataFolder = false;
    for (const std::string& entry : env) {
        hasDataFolder = hasDataFolder || entry.rfind("ORLUNE_DATA_DIR=", 0) == 0;
    }
    if (!hasDataFolder) {
        environment.push_back("ORLUNE_DATA_DIR=" + workDir + "/data");
    }
    return runProcess(ORLUNE_RLM_HELPER_PATH, {}, environment, input, workDir);
}

} // namespace orlune::testing

#pragma once
// Test support for the bundled helper: a sample shadow database, a fake model
// gateway on 127.0.0.1 that replays scripted completions, and a runner that
// starts the built helper as a process.

#include "tests/support/ProcessRun.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orlune::testing {

struct SampleMessage {
    std::string guid;
    std::string chatId;
    std::optional<std::string> chatName;
    std::string sender;
    std::string text;
    int64_t timestamp;
    bool isFromMe;
};

// Messages of the sample shadow database: a family chat about a dinner, a
// dentist appointment, a hiking trip.
std::vector<SampleMessage> sampleMessages();

// Writes a shadow database through ShadowDB (schema, WAL, FTS5 index)
// holding `messages`.
void writeShadowDatabase(const std::string& path, const std::vector<SampleMessage>& messages);

// Number of rows in `messages` of the database at `path`.
int64_t countMessages(const std::string& path);

// One scripted answer of the fake gateway.
struct ScriptedReply {
    int status = 200;
    std::string body;
    std::chrono::milliseconds delay{0};
};

// A completion whose message carries `content`.
ScriptedReply contentReply(const std::string& content);
// A completion whose message calls tools: each entry is (name, arguments as
// the JSON text the model wrote).
ScriptedReply toolCallReply(const std::vector<std::pair<std::string, std::string>>& calls);

// An HTTP server on 127.0.0.1 that answers each request with the next
// scripted reply (HTTP 500 once the script is used up) and records what it
// received. One connection at a time, on a thread of its own; stopped (and
// any delayed reply abandoned) on destruction.
class FakeGateway {
public:
    explicit FakeGateway(std::vector<ScriptedReply> script);
    ~FakeGateway();
    FakeGateway(const FakeGateway&) = delete;
    FakeGateway& operator=(const FakeGateway&) = delete;

    // "http://127.0.0.1:PORT/v1"
    std::string baseUrl() const;

    struct Received {
        std::string method;
        std::string path;
        std::string authorization;
        nlohmann::json body; // discarded value when the body is not JSON
    };
    std::vector<Received> received() const;

private:
    void serve();
    void handle(int client);

    int listener_ = -1;
    int port_ = 0;
    std::vector<ScriptedReply> script_;
    size_t next_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stop_ = false;
    std::vector<Received> received_;
    std::thread thread_;
};

// Runs the built helper with `input` on standard input, in `workDir`, with
// exactly the environment `env` ("NAME=value" entries), plus
// ORLUNE_DATA_DIR=<workDir>/data when `env` does not set it, so that the
// helper never sees the person's data folder. Blocks until it exits.
ProcessResult runHelperProcess(const std::string& input, const std::vector<std::string>& env,
                               const std::string& workDir);

} // namespace orlune::testing

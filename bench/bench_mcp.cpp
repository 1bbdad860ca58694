// Tool-call latency and reply sizes of `orlune mcp` on a large shadow
// database, beside the plain ranked search (ShadowDBReader::search) of the
// same words on the same file in the same run.
//
// Usage: bench_mcp [MESSAGES] [ROUNDS] [FOLDER]
//        (default 1000000 messages, 7 rounds, a temporary folder)
//
// Builds a sample messaging store of MESSAGES rows and syncs it (some rows
// yield no message: the count synced is printed). Then times the server's
// answer to initialize on a fresh server (the database is opened on the
// first tool call, not before), and each tool call through
// McpServer::handle: its first call on a fresh server, then ROUNDS more,
// printing p50, p95, the reply's bytes and the ratio of p50 to the
// baseline's. The counts behind list_people, list_chats and stats are kept
// while the database is unchanged, so their first call is the one that
// counts. Given a FOLDER, the store and the shadow database are kept there,
// and a later run with the same FOLDER uses them without building them
// again; a temporary folder is removed at the end.

#include "mcp/McpServer.hpp"
#include "sync/ShadowSync.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(static_cast<double>(values.size() - 1) * p)];
}

struct Timing {
    double first = 0;
    double p50 = 0;
    double p95 = 0;
    size_t bytes = 0;
};

Timing timeRounds(int rounds, const std::function<size_t()>& run) {
    std::vector<double> times;
    auto start = Clock::now();
    size_t bytes = run();
    const double first = millisecondsSince(start);
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        bytes = run();
        times.push_back(millisecondsSince(start));
    }
    return {first, percentile(times, 0.5), percentile(times, 0.95), bytes};
}

std::string request(int id, const std::string& tool, const json& arguments) {
    return json{{"jsonrpc", "2.0"},
                {"id", id},
                {"method", "tools/call"},
                {"params", {{"name", tool}, {"arguments", arguments}}}}
        .dump();
}

} // namespace

int main(int argc, char** argv) {
    const int64_t messageCount = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    if (messageCount < 1 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_mcp [MESSAGES] [ROUNDS]\n");
        return 2;
    }
    const bool kept = argc > 3;
    std::string pattern = (std::filesystem::temp_directory_path() / "bench-mcp-XXXXXX").string();
    if (kept) {
        std::filesystem::create_directories(argv[3]);
    } else if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path folder = kept ? std::string(argv[3]) : pattern;
    const std::string chatPath = (folder / "chat.db").string();
    const std::string shadowPath = (folder / "shadow.db").string();
    int status = 0;
    try {
        auto start = Clock::now();
        if (!std::filesystem::exists(shadowPath)) {
            orlune::samplestore::SampleStoreOptions options;
            options.messageCount = messageCount;
            options.seed = 42;
            orlune::samplestore::buildSampleStore(chatPath, options);
            orlune::core::ShadowSync(chatPath, shadowPath).performSync();
        }
        std::printf("shadow database: %lld messages, ready in %.1f s\n",
                    static_cast<long long>(orlune::core::ShadowDBReader(shadowPath).messageCount()),
                    millisecondsSince(start) / 1000);
        std::fflush(stdout);

        orlune::mcp::McpSettings settings;
        auto opener = [&] { return std::make_unique<orlune::core::ShadowDBReader>(shadowPath); };
        const std::string initialize =
            R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})";
        const Timing init = timeRounds(rounds, [&] {
            orlune::mcp::McpTools tools(opener, settings);
            orlune::mcp::McpServer server(tools, "bench");
            return server.handle(initialize)->size();
        });
        std::printf("%-36s first %8.2f ms  p50 %8.2f ms  p95 %8.2f ms  %6zu bytes\n",
                    "initialize (fresh server)", init.first, init.p50, init.p95, init.bytes);

        orlune::core::ShadowDBReader baselineDb(shadowPath);
        const Timing baseline =
            timeRounds(rounds, [&] { return baselineDb.search("\"ramen\"", 20).size(); });
        std::printf("%-36s first %8.2f ms  p50 %8.2f ms  p95 %8.2f ms  (%zu hits)\n",
                    "baseline: ShadowDBReader::search", baseline.first, baseline.p50, baseline.p95,
                    baseline.bytes);

        orlune::mcp::McpTools tools(opener, settings);
        orlune::mcp::McpServer server(tools, "bench");
        const std::vector<std::pair<std::string, json>> calls = {
            {"search_messages", {{"words", "ramen"}}},
            {"search_messages", {{"words", "ramen"}, {"since", "2020-01-01"}}},
            {"ask", {{"question", "where did we get ramen?"}}},
            {"get_conversation", {{"around_guid", ""}, {"before", 10}, {"after", 10}}},
            {"list_people", json::object()},
            {"list_chats", json::object()},
            {"stats", {{"by", "month"}}},
            {"stats", {{"by", "person"}}},
        };
        // A guid to read a conversation around.
        const std::string guid = baselineDb.search("\"ramen\"", 1).at(0).guid;
        int id = 1;
        for (auto [tool, arguments] : calls) {
            if (arguments.contains("around_guid")) {
                arguments["around_guid"] = guid;
            }
            const std::string line = request(id++, tool, arguments);
            const Timing timing = timeRounds(rounds, [&] {
                const std::string reply = *server.handle(line);
                if (reply.find("\"isError\":true") != std::string::npos) {
                    std::fprintf(stderr, "%s failed: %s\n", tool.c_str(), reply.c_str());
                    std::exit(1);
                }
                return reply.size();
            });
            const std::string label = tool + " " + arguments.dump().substr(0, 26);
            std::printf("%-36s first %8.2f ms  p50 %8.2f ms  p95 %8.2f ms  %6zu bytes  "
                        "x%.1f baseline\n",
                        label.c_str(), timing.first, timing.p50, timing.p95, timing.bytes,
                        timing.p50 / std::max(baseline.p50, 0.001));
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_mcp: %s\n", error.what());
        status = 1;
    }
    if (!kept) {
        std::filesystem::remove_all(folder);
    }
    return status;
}

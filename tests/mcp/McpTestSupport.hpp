#pragma once
// A server over the people fixture (tests/support/PeopleStore), and the
// requests and replies the tests send and read.

#include "mcp/McpServer.hpp"
#include "tests/support/TempDir.hpp"

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace orlune::testing {

using nlohmann::json;

// The text of a message in the Alex chat that tries to pass for the reply's
// own structure: a transcript line, code fences, a data fence's end and
// JSON that closes the message.
extern const char* const kForgingText;

// The people fixture synced into `dir`/shadow.db, plus the message
// "forged" (kForgingText, from Alex, 2025-12-10 08:00 UTC) in the
// one-to-one chat with Alex.
void writeMcpFixture(const TempDir& dir);

// A server on the database at `path`, opened as `orlune mcp` opens it.
struct McpHarness {
    explicit McpHarness(const std::string& path, mcp::McpSettings settings = {});

    // The reply to one line, parsed; null when none came.
    json send(const std::string& line);
    // The reply line to tools/call of `tool` with `arguments`.
    std::string callLine(const std::string& tool, const json& arguments);
    // The same parsed.
    json call(const std::string& tool, const json& arguments);

    std::unique_ptr<mcp::McpTools> tools;
    std::unique_ptr<mcp::McpServer> server;
    int nextId = 1;
};

} // namespace orlune::testing

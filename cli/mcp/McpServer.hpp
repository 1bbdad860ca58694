#pragma once
// The Model Context Protocol server of `orlune mcp`: JSON-RPC 2.0 messages,
// one per line, read from the assistant and answered on one line each.
//
// - initialize: answered with the client's protocol version when this
//   server speaks it, else the newest it speaks; the client then decides.
// - ping, tools/list, tools/call (McpTools).
// - Notifications (no id) and responses are read and never answered.
// - Errors: a line that is not JSON is -32700; a message that is not a
//   request (no method, a bad id, a batch) -32600; an unknown method -32601;
//   params of the wrong shape, an unknown tool or arguments its schema
//   refuses -32602; anything unforeseen -32603. Nothing ends the server but
//   the end of its input.

#include "mcp/McpTools.hpp"

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::mcp {

class McpServer {
public:
    // A request line longer than this is skipped unread, with an error.
    static constexpr size_t kMaxRequestBytes = 1024 * 1024;

    // The protocol versions spoken, newest first.
    static const std::vector<std::string>& protocolVersions();

    // `tools` must outlive the server.
    McpServer(McpTools& tools, std::string version);

    // The reply to one line (without its line break), or absent when none is
    // due (a notification, a response, a blank line).
    std::optional<std::string> handle(std::string_view line);

    // Answers every line of `in` on `out`, one reply a line, flushed at
    // once, until `in` ends or `out` fails.
    void serve(std::istream& in, std::ostream& out);

private:
    std::optional<std::string> handleRequest(std::string_view line);

    McpTools& tools_;
    std::string version_;
};

} // namespace orlune::mcp

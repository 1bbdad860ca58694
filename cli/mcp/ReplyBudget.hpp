#pragma once
// Keeps every reply of the server within a byte budget: a tool's result is
// one list (messages, people, chats, counts) and what surrounds it, and the
// list is cut at whole items until the encoded reply fits, with a note of
// what was left out and how to ask for it.

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orlune::mcp {

using OrderedJson = nlohmann::ordered_json;

// A tool's result before it is fitted.
struct ListReply {
    // An object: everything but the list.
    OrderedJson body = OrderedJson::object();
    // The key the list goes under ("messages", "people", ...).
    std::string listKey;
    std::vector<OrderedJson> items;
    // What goes under "more" when only the first `kept` items are shown
    // (kept may be all of them when more lie beyond); absent when nothing is
    // left to ask for.
    std::function<std::optional<OrderedJson>(size_t kept)> more;
};

// Thrown when the reply cannot fit even with no item at all.
class ReplyTooLarge : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The result with as many of the first items as fit: the largest count whose
// reply, as `encode` writes it (the whole line sent), is at most
// `budgetBytes`. Returns that line. Throws ReplyTooLarge when none fits.
std::string fitReply(const ListReply& reply, size_t budgetBytes,
                     const std::function<std::string(const OrderedJson& result)>& encode);

// The standard "more" note: `leftOut` items (a lower bound when `atLeast`)
// named by `noun` ("messages") were left out, and calling `tool` again with
// the same arguments and "cursor": `cursor` gives them.
OrderedJson continuation(const std::string& tool, const std::string& noun, size_t leftOut,
                         bool atLeast, const std::string& cursor);

} // namespace orlune::mcp

#include "mcp/ReplyBudget.hpp"

namespace orlune::mcp {

namespace {

OrderedJson withFirst(const ListReply& reply, size_t kept) {
    OrderedJson result = reply.body;
    OrderedJson list = OrderedJson::array();
    for (size_t i = 0; i < kept; ++i) {
        list.push_back(reply.items[i]);
    }
    result[reply.listKey] = std::move(list);
    if (reply.more) {
        if (std::optional<OrderedJson> more = reply.more(kept)) {
            result["more"] = std::move(*more);
        }
    }
    return result;
}

} // namespace

std::string fitReply(const ListReply& reply, size_t budgetBytes,
                     const std::function<std::string(const OrderedJson& result)>& encode) {
    std::string line = encode(withFirst(reply, reply.items.size()));
    if (line.size() <= budgetBytes) {
        return line;
    }
    std::string best = encode(withFirst(reply, 0));
    if (best.size() > budgetBytes) {
        throw ReplyTooLarge("The reply does not fit in " + std::to_string(budgetBytes) +
                            " bytes even without any " + reply.listKey +
                            "; raise the reply budget or ask for less.");
    }
    // Fewer items never make a longer reply: the largest count that fits.
    size_t fits = 0;
    size_t tooMany = reply.items.size();
    while (tooMany - fits > 1) {
        const size_t middle = fits + (tooMany - fits) / 2;
        std::string attempt = encode(withFirst(reply, middle));
        if (attempt.size() <= budgetBytes) {
            fits = middle;
            best = std::move(attempt);
        } else {
            tooMany = middle;
        }
    }
    return best;
}

OrderedJson continuation(const std::string& tool, const std::string& noun, size_t leftOut,
                         bool atLeast, const std::string& cursor) {
    OrderedJson more = OrderedJson::object();
    const std::string count = (atLeast ? "at least " : "") + std::to_string(leftOut);
    more["left_out"] = leftOut;
    more["cursor"] = cursor;
    more["note"] = count + " more " + noun + " not shown. Call " + tool +
                   " again with the same arguments and \"cursor\": \"" + cursor +
                   "\" to see the next ones.";
    return more;
}

} // namespace orlune::mcp

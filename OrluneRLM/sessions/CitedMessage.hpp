#pragma once
// A message of the person's history that an answer relies on.

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

namespace orlune::rlm {

// A plain value as the helper reports it: every field is text, possibly
// empty ("time" is a local, readable time such as "Tue 9 Dec, 18:40").
struct CitedMessage {
    std::string guid;
    std::string senderName;
    std::string chatTitle;
    std::string time;
    std::string text;

    bool operator==(const CitedMessage&) const = default;

    // The entries of a "messages" array ({"guid", "sender_name",
    // "chat_title", "time", "text"}), in order. Anything that is not an
    // array yields none; an entry that is not an object, or whose "text" is
    // not a non-empty string, is skipped; another field that is not a
    // string reads as empty. Never throws.
    static std::vector<CitedMessage> listFromJson(const nlohmann::json& value);
    // The array listFromJson() reads.
    static nlohmann::json listToJson(const std::vector<CitedMessage>& messages);
};

} // namespace orlune::rlm

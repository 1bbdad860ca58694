#pragma once
// The chats a person can leave out or take back in: the shadow database's
// chats with their message counts, and the chats the configuration leaves
// out. What `orlune chats` prints and the settings' chat list shows.

#include "services/AppConfig.hpp"
#include "shadow/ShadowDBReader.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orlune::rlm {

struct ListedChat {
    std::string chatId;
    // The copy's title, else the one the configuration kept; absent when
    // neither has one.
    std::optional<std::string> title;
    bool isGroup = false;
    // Messages the copy holds, counted by the chat each was copied with.
    int64_t messages = 0;
    bool excluded = false;
    bool operator==(const ListedChat&) const = default;
};

// The chats of `db`, most messages first (then by title), each marked when
// `config` leaves it out; then the chats `config` leaves out that `db` does
// not hold, in the configuration's order, with their kept titles. A database
// from before chats were kept lists only the latter. Throws
// core::ShadowDBError when the database cannot be read.
std::vector<ListedChat> listChats(core::ShadowDBReader& db, const AppConfig& config);

} // namespace orlune::rlm

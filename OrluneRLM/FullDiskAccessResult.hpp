#pragma once
// The outcome of one test of access to the messaging store.

#include <optional>
#include <string>

namespace orlune::rlm {

struct FullDiskAccessResult {
    // True only when the store exists and could be opened read-only.
    bool hasAccess = false;
    // Absent when hasAccess is true; otherwise the reason: "chat.db not
    // found", or SQLite's fixed description of the open's result code.
    std::optional<std::string> errorMessage;

    bool operator==(const FullDiskAccessResult&) const = default;
};

} // namespace orlune::rlm

#pragma once
// The outcome of one test of access to the messaging store.

#include <optional>
#include <string>

namespace orlune::rlm {

struct FullDiskAccessResult {
    // True only when the store exists and its first page could be read, as
    // the sync reads it.
    bool hasAccess = false;
    // Absent when hasAccess is true; otherwise the reason: "chat.db not
    // found", the system's refusal, or SQLite's description of the failure.
    std::optional<std::string> errorMessage;
    // The system refused this process the store (on macOS: no Full Disk
    // Access), as opposed to a missing or unreadable store.
    bool accessDenied = false;

    bool operator==(const FullDiskAccessResult&) const = default;
};

} // namespace orlune::rlm

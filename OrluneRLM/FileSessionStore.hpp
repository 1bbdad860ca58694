#pragma once
// The sessions file: one JSON array holding every conversation.

#include "OrluneRLM/SessionStore.hpp"

#include <string>

namespace orlune::rlm {

// File format: a compact JSON array of session objects {"id", "createdAt",
// "lastMessageAt", "title", "messageCount", "messages", optional "summary"},
// each message {"id" (upper-case canonical UUID; read in either case),
// "role" ("user", "assistant" or "system"), "text", "timestamp"}; dates are
// JSON numbers of seconds since 2001-01-01 00:00:00 UTC. Reading is strict
// (a missing key, a wrong type, an unknown role or a bad UUID makes the whole
// file unreadable) but ignores extra keys.
//
// Holds nothing in memory: every load reads the file, every save rewrites it
// whole, atomically and owner-only (0600), in a folder created owner-only
// (0700) when missing. Failures are thrown as FileError.
class FileSessionStore final : public SessionStore {
public:
    explicit FileSessionStore(std::string filePath);

    // <data folder>/Orlune/sessions.json. Creates nothing. Throws FileError
    // (noDataFolder).
    static std::string defaultSessionsURL();

    const std::string& filePath() const { return filePath_; }

    std::vector<ChatSession> load() const override;
    void save(const std::vector<ChatSession>& sessions) const override;

    // The file format, exposed for tools and tests. decode throws
    // std::invalid_argument with the reason.
    static std::string encode(const std::vector<ChatSession>& sessions);
    static std::vector<ChatSession> decode(const std::string& text);

private:
    std::string filePath_;
};

} // namespace orlune::rlm

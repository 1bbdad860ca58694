#pragma once
// The sessions file: one JSON array holding every conversation.

#include "services/StructuredLogger.hpp"
#include "sessions/SessionStore.hpp"

#include <chrono>
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
// whole, atomically and owner-only (0600), never through a symbolic link, in
// a folder created owner-only (0700) when missing and tightened or refused
// when others could reach it (PrivateFiles). Failures are thrown as
// FileError; what PrivateFiles repairs is logged through the store's logger.
//
// A file that exists but cannot be read or decoded is never overwritten:
// load() moves it aside beside itself, as
// "<name>.unreadable-<yyyyMMdd'T'HHmmss'Z'>[-N]<.ext>" (UTC), and throws
// UnreadableSessionsError saying where it went. If it cannot be moved, it
// stays in place and every save() of this store throws (after trying to move
// it again) rather than replace it. Used by one thread at a time.
class FileSessionStore final : public SessionStore {
public:
    explicit FileSessionStore(std::string filePath, StructuredLogger logger = StructuredLogger(
                                                        StructuredLogger::kBundleIdentifier,
                                                        StructuredLogger::kChatCategory));

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

    // Where an unreadable `filePath` is moved when set aside at `time`.
    static std::string setAsidePath(const std::string& filePath,
                                    std::chrono::system_clock::time_point time);

private:
    // Moves the file aside; returns its new path, or empty when it could not.
    std::string setAside() const;

    std::string filePath_;
    StructuredLogger logger_;
    // An unreadable file that could not be moved aside is still at filePath_.
    mutable bool unreadableInPlace_ = false;
};

} // namespace orlune::rlm

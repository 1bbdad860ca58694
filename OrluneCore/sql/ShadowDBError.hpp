#pragma once
// The one error type of the shadow database: opening it, its schema, its
// writes, its read-only query surface and its search. ShadowDB::Error,
// ShadowDBReader::Error and ReadOnlyQuery::Error name this type.

#include "sql/SQLite.hpp"

#include <exception>
#include <string>

namespace orlune::core {

class ShadowDBError : public std::exception {
public:
    enum class Kind { failedToOpen, queryFailed, prepareFailed, insertFailed };

    ShadowDBError(Kind kind, std::string message);

    // The error for a failed SQLite call on the shadow database at `path`: a
    // statement that did not prepare is prepareFailed, anything else
    // queryFailed. A damaged file says so, names the file and how to rebuild
    // it; a full disk names the file and what to do.
    static ShadowDBError fromSQLite(const sqlite::Error& error, const std::string& path);

    Kind kind() const { return kind_; }
    // SQLite's message (or the operation's own text) without the prefix.
    const std::string& message() const { return message_; }
    // The user-facing description: a fixed prefix for the kind, then the
    // message.
    const char* what() const noexcept override { return description_.c_str(); }

private:
    Kind kind_;
    std::string message_;
    std::string description_;
};

} // namespace orlune::core

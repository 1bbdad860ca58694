#pragma once
// Read-only connections to SQLite files that belong to other programs: the
// messaging store and the address books. Such a file may be in use by its
// owner while it is read, may be in WAL mode, and may be a copy without its
// -wal and -shm files; nothing beside it may ever be created or changed.

#include "sql/SQLite.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace orlune::core {

// The "file:" URI that names exactly `path`, followed by "?" and `query`
// when `query` is not empty, for sqlite3_open_v2 with SQLITE_OPEN_URI. Every
// byte of the path other than letters, digits, "-._~" and "/" is
// percent-encoded, so that "%", "?", "#", spaces and non-ASCII letters in
// folder names are read literally and a relative path that begins "file:" is
// a file name; repeated leading slashes become one (a "file://" URI would
// name a host).
std::string fileUri(const std::string& path, std::string_view query);

// The "file:" URI that names exactly `path` for sqlite3_open_v2 with
// SQLITE_OPEN_URI (as fileUri), with "mode=ro" and, when `immutable`,
// "immutable=1".
std::string readOnlyFileUri(const std::string& path, bool immutable);

// Why the entry at `path` cannot be read as a database file: a folder, a
// FIFO, socket or device (reading a FIFO would wait for ever), or symbolic
// links that loop. Each text names the path. Absent for a regular file (links
// followed), when nothing is there (pathIsMissing) and when the system
// refuses to examine the path (the open reports that).
std::optional<std::string> fileProblem(const std::string& path);

// Whether a failed open or read was the operating system refusing this
// process the file rather than a fault of the file: SQLite's SQLITE_AUTH
// (what the Mac's privacy protection of ~/Library/Messages gives a program
// without Full Disk Access) or SQLITE_PERM, or any failure whose system error
// (sqlite3_system_errno) is EPERM or EACCES. `code` may be an extended code.
bool isAccessDenial(int code, int systemErrno);

// The failure of openStoreReadOnly, for callers that act on its cause.
struct StoreOpenFailure {
    // As openStoreReadOnly's `failure` text.
    std::string message;
    // SQLite's extended result code and the system error of the first
    // attempt that failed.
    int code = SQLITE_OK;
    int systemErrno = 0;
    // Whether any attempt was refused by the system (isAccessDenial).
    bool accessDenied = false;
};

// Opens the file at `path` read-only and reads its schema, so that a file
// that cannot be read fails here rather than at the first query. The
// connection never writes, never checkpoints on close and reports extended
// result codes.
//
// A file in WAL mode is read with its -wal and -shm files when both are
// present, so rows committed only to the -wal are seen. A copy in WAL mode
// without them (a snapshot) is opened immutable: a plain read-only open would
// create the two files beside it, or fail where the folder is not writable.
// The immutable open is also the fallback when the plain open cannot read the
// file for want of those files or of access to them.
//
// Returns the open connection, or an empty one with `failure` set to the
// fileProblem() of the path (a folder, a FIFO, looping links: SQLite is not
// called), or to SQLite's message followed by what was tried and why ("...
// is not an SQLite database", a truncated file, both opens failing, access
// refused by the system). `path` must exist; the caller checks that first
// (pathIsMissing). Any thread; the connection is the caller's.
sqlite::Connection openStoreReadOnly(const std::string& path, std::string& failure);
// The same, with the failure's codes as well as its text.
sqlite::Connection openStoreReadOnly(const std::string& path, StoreOpenFailure& failure);

} // namespace orlune::core

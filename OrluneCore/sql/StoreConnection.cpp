#include "sql/StoreConnection.hpp"

#include "base/Environment.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace orlune::core {

namespace {

// The first read of a newly opened store: makes SQLite read the file header,
// the schema and (in WAL mode) the -wal and -shm files.
constexpr std::string_view kProbe = "SELECT COUNT(*) FROM sqlite_master";

// What the first 100 bytes of a store file say, read without SQLite so that
// a failed open can be explained.
struct StoreFileFacts {
    bool sqliteHeader = false; // starts with "SQLite format 3\0"
    bool walMode = false;      // read and write versions are 2 (WAL)
    uint64_t size = 0;
    uint64_t announcedSize = 0; // page size x page count from the header, 0 when unknown
};

StoreFileFacts inspectStoreFile(const std::string& path) {
    StoreFileFacts facts;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return facts;
    }
    unsigned char header[100] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    const auto got = static_cast<size_t>(in.gcount());
    in.clear();
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    facts.size = end < 0 ? 0 : static_cast<uint64_t>(end);
    static constexpr char kMagic[] = "SQLite format 3";
    facts.sqliteHeader = got >= 16 && std::equal(kMagic, kMagic + 16, header);
    if (!facts.sqliteHeader || got < 100) {
        if (facts.sqliteHeader) {
            facts.announcedSize = 100; // even the header is cut off
        }
        return facts;
    }
    facts.walMode = header[18] == 2 && header[19] == 2;
    auto be32 = [&](int at) {
        return (uint32_t{header[at]} << 24) | (uint32_t{header[at + 1]} << 16) |
               (uint32_t{header[at + 2]} << 8) | uint32_t{header[at + 3]};
    };
    uint64_t pageSize = (uint64_t{header[16]} << 8) | header[17];
    if (pageSize == 1) {
        pageSize = 65536;
    }
    // The page count in the header is valid only when the change counter
    // matches the version-valid-for number.
    const uint32_t pageCount = be32(28);
    if (pageCount != 0 && be32(24) == be32(92)) {
        facts.announcedSize = pageSize * pageCount;
    }
    return facts;
}

// Failures of a plain read-only open of a WAL store that an immutable open
// avoids: the -wal/-shm files missing and not creatable, or not writable, or
// refused to this process.
bool isWalAccessFailure(int code, int systemErrno) {
    const int primary = code & 0xFF;
    return primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY || primary == SQLITE_IOERR ||
           primary == SQLITE_BUSY || isAccessDenial(code, systemErrno);
}

// Opens `connection` on `uri` and runs the probe read. Returns SQLite's result
// code (SQLITE_OK on success), its message in `message` and the system error
// behind it in `systemErrno`.
int openAndProbe(sqlite::Connection& connection, const std::string& uri, std::string& message,
                 int& systemErrno) {
    int rc = connection.open(uri, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    if (rc != SQLITE_OK) {
        message = connection.errorMessage();
        systemErrno = sqlite3_system_errno(connection.get());
        return rc;
    }
    sqlite3_extended_result_codes(connection.get(), 1);
    // A read-only connection must never checkpoint the owner's WAL, even
    // when it happens to be the last one to close.
    sqlite3_db_config(connection.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    try {
        sqlite::Statement probe = connection.prepare(kProbe);
        if (probe.step()) {
            return SQLITE_OK;
        }
        message = "the schema could not be read";
        return SQLITE_ERROR;
    } catch (const sqlite::Error& error) {
        message = error.what();
        systemErrno = sqlite3_system_errno(connection.get());
        return error.code();
    }
}

bool isUnreservedUriByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

} // namespace

std::string fileUri(const std::string& path, std::string_view query) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    size_t start = 0;
    while (start + 1 < path.size() && path[start] == '/' && path[start + 1] == '/') {
        ++start;
    }
    for (size_t i = start; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (isUnreservedUriByte(c)) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 0x0F];
        }
    }
    if (!query.empty()) {
        uri += '?';
        uri += query;
    }
    return uri;
}

std::string readOnlyFileUri(const std::string& path, bool immutable) {
    return fileUri(path, immutable ? "mode=ro&immutable=1" : "mode=ro");
}

std::optional<std::string> fileProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        // Nothing there, or the system refusing to say: the open that follows
        // reports those with its own words.
        return errno == ELOOP ? std::optional<std::string>(
                                    path + " cannot be reached: its symbolic links form a loop")
                              : std::nullopt;
    }
    if (S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        return path + " is a folder, not a database file";
    }
    const char* kind = S_ISFIFO(info.st_mode)   ? "a FIFO"
                       : S_ISSOCK(info.st_mode) ? "a socket"
                                                : "a device";
    return path + " is " + kind + ", not a regular file; only a database file can be read";
}

bool isAccessDenial(int code, int systemErrno) {
    const int primary = code & 0xFF;
    return primary == SQLITE_AUTH || primary == SQLITE_PERM || systemErrno == EPERM ||
           systemErrno == EACCES;
}

sqlite::Connection openStoreReadOnly(const std::string& path, std::string& failure) {
    StoreOpenFailure details;
    sqlite::Connection connection = openStoreReadOnly(path, details);
    failure = std::move(details.message);
    return connection;
}

sqlite::Connection openStoreReadOnly(const std::string& path, StoreOpenFailure& failure) {
    if (auto problem = fileProblem(path)) {
        failure.message = std::move(*problem);
        failure.code = SQLITE_CANTOPEN;
        return {};
    }
    const StoreFileFacts facts = inspectStoreFile(path);

    // Why a failed open failed, in words, after SQLite's own message.
    auto explain = [&](int code, int systemErrno, const std::string& message) {
        const int primary = code & 0xFF;
        if (isAccessDenial(code, systemErrno)) {
            return message + ": the system refused access to " + path +
                   " (on macOS, the program reading it needs Full Disk Access)";
        }
        if (primary == SQLITE_NOTADB) {
            return message + ": " + path + " is not an SQLite database";
        }
        if (facts.sqliteHeader && facts.announcedSize > facts.size) {
            return message + ": the file is truncated (" + std::to_string(facts.size) +
                   " bytes where its header announces " + std::to_string(facts.announcedSize) + ")";
        }
        return message;
    };
    auto fail = [&](int code, int systemErrno, std::string message) {
        failure.message = std::move(message);
        failure.code = code;
        failure.systemErrno = systemErrno;
        failure.accessDenied = failure.accessDenied || isAccessDenial(code, systemErrno);
        return sqlite::Connection();
    };

    sqlite::Connection connection;
    std::string message;
    int systemErrno = 0;
    const bool snapshot =
        facts.walMode && (!pathExists(path + "-wal") || !pathExists(path + "-shm"));
    if (snapshot) {
        const int code =
            openAndProbe(connection, readOnlyFileUri(path, true), message, systemErrno);
        if (code != SQLITE_OK) {
            return fail(code, systemErrno,
                        explain(code, systemErrno, message) +
                            " (the store is in WAL mode without its -wal and -shm files; "
                            "it was opened as an immutable snapshot)");
        }
        return connection;
    }
    const int code = openAndProbe(connection, readOnlyFileUri(path, false), message, systemErrno);
    if (code == SQLITE_OK) {
        return connection;
    }
    if (!facts.walMode || !isWalAccessFailure(code, systemErrno)) {
        return fail(code, systemErrno, explain(code, systemErrno, message));
    }
    std::string immutableMessage;
    int immutableErrno = 0;
    const int immutableCode =
        openAndProbe(connection, readOnlyFileUri(path, true), immutableMessage, immutableErrno);
    if (immutableCode != SQLITE_OK) {
        failure.accessDenied = isAccessDenial(immutableCode, immutableErrno);
        return fail(code, systemErrno,
                    explain(code, systemErrno, message) +
                        " (the store is in WAL mode and its -wal or -shm file cannot be used; "
                        "opening it as an immutable snapshot failed too: " +
                        explain(immutableCode, immutableErrno, immutableMessage) + ")");
    }
    return connection;
}

} // namespace orlune::core

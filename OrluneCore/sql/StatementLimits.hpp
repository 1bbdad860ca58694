#pragma once
// The time and value-size bounds of QueryBounds applied to one connection
// while a statement runs on it: a progress handler that stops SQLite's work
// past the deadline, and SQLITE_LIMIT_LENGTH lowered so that no string or
// blob larger than the bound is built or read.
//
// While an instance lives it holds the connection's mutex (recursive on a
// connection in serialized mode), so statements of other threads on the same
// connection are neither stopped by this deadline nor held to this length;
// the destructor removes the handler and puts the length limit back.

#include <chrono>
#include <cstdint>
#include <sqlite3.h>

namespace orlune::core {

class StatementLimits {
public:
    using Clock = std::chrono::steady_clock;

    // `db` is not owned and must outlive the instance. The deadline counts
    // from construction. The length limit is only ever lowered, never raised
    // above what the connection already allows.
    StatementLimits(sqlite3* db, std::chrono::milliseconds timeLimit, int64_t maxValueBytes);
    ~StatementLimits();
    StatementLimits(const StatementLimits&) = delete;
    StatementLimits& operator=(const StatementLimits&) = delete;

    // True once the deadline has stopped a statement, or expired() saw it
    // pass.
    bool timedOut() const { return timedOut_; }
    // Whether the deadline has passed; remembered for timedOut(). For the
    // caller's own work between steps, which no progress handler watches.
    bool expired();

    std::chrono::milliseconds timeLimit() const { return timeLimit_; }
    // The length limit in force while the instance lives.
    int64_t maxValueBytes() const { return lengthLimit_; }

private:
    static int progress(void* self);

    sqlite3* db_;
    std::chrono::milliseconds timeLimit_;
    Clock::time_point deadline_;
    int previousLengthLimit_;
    int lengthLimit_;
    bool timedOut_ = false;
};

} // namespace orlune::core

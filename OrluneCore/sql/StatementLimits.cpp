#include "sql/StatementLimits.hpp"

#include <algorithm>
#include <limits>

namespace orlune::core {

namespace {

// Virtual-machine instructions between two looks at the clock: small enough
// to stop a runaway statement promptly, large enough to cost nothing.
constexpr int kProgressInterval = 1000;

} // namespace

StatementLimits::StatementLimits(sqlite3* db, std::chrono::milliseconds timeLimit,
                                 int64_t maxValueBytes)
    : db_(db), timeLimit_(timeLimit), deadline_(Clock::now() + timeLimit) {
    sqlite3_mutex_enter(sqlite3_db_mutex(db_));
    previousLengthLimit_ = sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, -1);
    const int64_t wanted = std::clamp<int64_t>(maxValueBytes, 1, std::numeric_limits<int>::max());
    lengthLimit_ = std::min(previousLengthLimit_, static_cast<int>(wanted));
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, lengthLimit_);
    sqlite3_progress_handler(db_, kProgressInterval, &StatementLimits::progress, this);
}

StatementLimits::~StatementLimits() {
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, previousLengthLimit_);
    sqlite3_mutex_leave(sqlite3_db_mutex(db_));
}

bool StatementLimits::expired() {
    if (Clock::now() >= deadline_) {
        timedOut_ = true;
    }
    return timedOut_;
}

int StatementLimits::progress(void* self) {
    return static_cast<StatementLimits*>(self)->expired() ? 1 : 0;
}

} // namespace orlune::core

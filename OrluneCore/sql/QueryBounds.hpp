#pragma once
// How much time and memory one statement of the read-only query surface, or
// one full-text search, may take. Each bound turns what would be an endless
// wait or a huge allocation into a clear failure or a result that says what
// it left out. A plain value; the defaults suit the command-line tool, and
// the helper passes tighter ones.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orlune::core {

struct QueryBounds {
    static constexpr std::chrono::milliseconds kDefaultTimeLimit{5000};
    static constexpr int64_t kDefaultMaxValueBytes = 16 * 1024 * 1024;
    static constexpr size_t kDefaultMaxCellBytes = 1024 * 1024;
    static constexpr size_t kDefaultMaxResultBytes = 64 * 1024 * 1024;
    static constexpr size_t kDefaultMaxMatchBytes = 4096;
    static constexpr size_t kDefaultMaxMatchTerms = 64;
    static constexpr size_t kDefaultMaxPrefixTerms = 16;

    // What SQLite may hold in all in a process that only reads the shadow
    // database (the command-line tool's read verbs, the helper), set there
    // with sqlite3_hard_heap_limit64: the last bound on a statement that
    // makes many large values at once, each within maxValueBytes. SQLite
    // then fails the statement with "out of memory".
    static constexpr int64_t kReaderHeapLimit = 512LL * 1024 * 1024;

    // The statement is stopped once this has passed since it began: SQLite's
    // own work through a progress handler, and the reading of its rows
    // between steps.
    std::chrono::milliseconds timeLimit = kDefaultTimeLimit;
    // The longest string or blob SQLite may make or read meanwhile
    // (SQLITE_LIMIT_LENGTH): printf, zeroblob, randomblob, replace,
    // group_concat or || asked for a longer one fail at once with "string or
    // blob too big" instead of allocating it. The progress handler does not
    // run while one such value is built, so this is what keeps a single
    // function call short.
    int64_t maxValueBytes = kDefaultMaxValueBytes;
    // At most this many bytes of one text or blob are copied into a result;
    // a longer one is cut (a text at a character boundary).
    size_t maxCellBytes = kDefaultMaxCellBytes;
    // A result holds at most about this many bytes: every cell counts its
    // payload, its column name and a fixed overhead. Cells past the bound are
    // cut and no further row is read.
    size_t maxResultBytes = kDefaultMaxResultBytes;
    // Full-text search: the longest MATCH expression in bytes, the most terms
    // it may name (words and the words of quoted phrases), and the most of
    // those that are prefix terms (word*), which cost the most. FTS5 does the
    // work of one expression in calls the progress handler does not
    // interrupt, so the size of the expression is what bounds it.
    size_t maxMatchBytes = kDefaultMaxMatchBytes;
    size_t maxMatchTerms = kDefaultMaxMatchTerms;
    size_t maxPrefixTerms = kDefaultMaxPrefixTerms;

    // `timeLimit` for people: "5 s", "0.25 s".
    std::string timeLimitText() const;

    // What a result cut by these bounds left out, as a sentence, or "" when
    // nothing was cut: `cutCells` texts or blobs shortened to maxCellBytes,
    // and, when `stoppedAtSize`, that reading stopped after `rows` rows
    // because the result reached maxResultBytes.
    std::string describeCut(size_t cutCells, bool stoppedAtSize, size_t rows) const;
};

} // namespace orlune::core

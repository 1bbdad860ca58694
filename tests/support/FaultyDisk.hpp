#pragma once
// Test support: a disk that fills up on demand. While an instance lives, every
// SQLite connection opened in this process goes through a file layer of its
// own (an SQLite VFS wrapping the default one), whose writes fail with
// SQLITE_FULL once the disk is marked full, as a full disk makes them fail.
// Reads and everything else pass through unchanged.
//
// One instance at a time; close every connection opened through it before it
// is destroyed. full() may be switched from any thread.

#include <atomic>

namespace orlune::testing {

class FaultyDisk {
public:
    FaultyDisk();
    ~FaultyDisk();
    FaultyDisk(const FaultyDisk&) = delete;
    FaultyDisk& operator=(const FaultyDisk&) = delete;

    // From now on, writes fail (true) or succeed again (false).
    void setFull(bool full);
    // Writes refused since the disk was last marked full.
    int refusedWrites() const;
};

} // namespace orlune::testing

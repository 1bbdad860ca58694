#pragma once
// Damage to the shadow database's full-text indexes (messages_fts and the
// indexes beside it), and their repair. SQLite's own integrity_check does
// not look inside an FTS5 index, so a damaged one can give wrong or missing
// hits without any error. The damage is looked for where it is cheap to do
// so: by the sync after a pass that stopped uncleanly, and by a search that
// fails with SQLITE_CORRUPT while the file itself is sound. A search cannot write the database (it
// may run read-only), so it leaves a mark file beside it, "<database>-reindex"; the next sync
// checks every index, rebuilds the damaged ones from the copied messages and removes the mark.
// Until then searches say the index is being repaired.

#include "shadow/ShadowConnection.hpp"

#include <string>
#include <vector>

namespace orlune::core {

class SearchIndexRepair {
public:
    // The mark file of the database at `databasePath`.
    static std::string markPath(const std::string& databasePath);
    // Whether a repair was asked for and no sync has done it yet.
    static bool pending(const std::string& databasePath);
    // Leaves the mark (owner-only). Best effort: a mark that cannot be
    // written (a read-only folder) is not an error, as the search that asks
    // for it reports the damage itself.
    static void request(const std::string& databasePath) noexcept;

    // What a search says while a repair is pending, and what a search that
    // found the damage adds to SQLite's message.
    static std::string pendingMessage(const std::string& databasePath);
    static std::string damageMessage(const std::string& databasePath);

    explicit SearchIndexRepair(ShadowConnection& connection) : connection_(connection) {}

    // The full-text indexes of the database whose FTS5 integrity check
    // finds damage (each index read whole once, with its content: about
    // 0.15 s per 100,000 messages). Throws queryFailed for a failure other
    // than damage.
    std::vector<std::string> damagedIndexes();
    // After a statement failed on damage: true when SQLite finds the file's
    // own structure sound (PRAGMA quick_check; FTS5 keeps its index in
    // blobs SQLite does not look into), so that the damage is in a
    // full-text index; false when the file itself is damaged, or the check
    // cannot run.
    bool onlyIndexesDamaged() noexcept;
    // Rebuilds each of `indexes` from its content, in one transaction, and
    // removes the mark. Throws queryFailed (the file itself is damaged when
    // the content cannot be read).
    void rebuild(const std::vector<std::string>& indexes);
    // Removes the mark.
    void clearMark();

private:
    ShadowConnection& connection_;
};

} // namespace orlune::core

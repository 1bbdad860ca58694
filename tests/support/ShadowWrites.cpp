#include "tests/support/ShadowWrites.hpp"

namespace orlune::testing {

core::ShadowDB::BatchResult insertCountingGrowth(core::ShadowDB& db,
                                                 const std::vector<core::ShadowMessage>& messages) {
    return db.commitSyncPage(messages, db.lastSyncWatermark(), db.messageCount(), db.syncMarks(),
                             db.syncTables().source().value_or(core::ShadowDB::SyncSource{}));
}

} // namespace orlune::testing

#pragma once
// Writes to a shadow database that tests need and the product does not.

#include "shadow/ShadowDB.hpp"

#include <vector>

namespace orlune::testing {

// Writes `messages` as a sync page does (ShadowDB::commitSyncPage, with the
// stored cursor, marks and source kept) and returns what it reports: how
// many were written and how much the live message count grew.
core::ShadowDB::BatchResult insertCountingGrowth(core::ShadowDB& db,
                                                 const std::vector<core::ShadowMessage>& messages);

} // namespace orlune::testing

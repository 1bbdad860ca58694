#pragma once
// Writes what real stores hold besides plain messages into a sample store
// being built: reactions, group events, attachments, edits, unsends,
// deletions, junk, threads and more handles (RealStoreContent). Internal to
// the builder.
//
// Rows that go with a plain message (a reaction to it, its attachment rows)
// follow it; scenes that show one kind each (a reacted message, a renamed
// group, an edited message, ...) are spread over the history. Every change to
// rows already written is collected for the caller to make once the store
// has its triggers. All randomness comes from a generator of its own, so the
// plain messages stay those of the same seed without real content.

#include "tools/samplestore/SampleCast.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <memory>

namespace orlune::samplestore::detail {

class RealContent {
public:
    // Writes through `writer` (one transaction, indexes deferred) into
    // `summary`; both must outlive this object.
    RealContent(ChatStoreWriter& writer, const Cast& cast, const SampleStoreOptions& options,
                SampleStoreSummary& summary);
    ~RealContent();
    RealContent(const RealContent&) = delete;
    RealContent& operator=(const RealContent&) = delete;

    // Extra handles and chats, before any message. `nextHandleRowid` and
    // `nextChatRowid` are the first free ROWIDs.
    void writeCast(int64_t nextHandleRowid, int64_t nextChatRowid);
    // The rows that go with plain message `m`, the `index`-th of
    // `count` (from 0), and the scenes due after it. `rowid` and `dateNs`
    // (the running ROWID and date, in nanoseconds) move on past what it
    // writes.
    void after(const WrittenMessage& m, int64_t index, int64_t count, int64_t& rowid,
               int64_t& dateNs);
    // Scenes not written yet (a store with fewer messages than scenes).
    void finish(int64_t& rowid, int64_t& dateNs);
    // The changes to make once the store has its triggers, in order.
    const std::vector<StoreChange>& changes() const;
    // Writes the files of the attachments on disk under the attachment home
    // (when there is one).
    void writeFiles() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace orlune::samplestore::detail

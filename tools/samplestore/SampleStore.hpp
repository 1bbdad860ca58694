#pragma once
// Builds a messaging store full of plausible conversations, for tests,
// benchmarks and the built-in sample store. The same options and seed always
// give the same store. Message dates are in the store's unit (nanoseconds
// since 2001-01-01), about five minutes apart on average, ending around the
// start of 2024; some messages share the date of the one before.

#include <cstdint>
#include <string>

namespace orlune::samplestore {

struct SampleStoreOptions {
    int64_t messageCount = 2000;
    uint64_t seed = 1;
    // Share of messages whose text is only in the attributedBody archive
    // (text column NULL). The rest: about 4 in 100 have no text anywhere
    // (empty, or an attachment alone), about a third text only in the text
    // column, the others both.
    int archiveOnlyPercent = 40;
    // Writes every message's text into the text column as well (the archives
    // stay as they are), so that the store holds exactly the same messages
    // but needs no decoding. Nothing else changes for the same seed.
    bool textAlwaysInTextColumn = false;
    // ROWID of the first message (appendSampleMessages continues a store
    // after its last one).
    int64_t firstRowid = 1;
};

// What a build wrote.
struct SampleStoreSummary {
    int64_t messages = 0;
    int64_t archiveOnly = 0; // text only in attributedBody
    int64_t textOnly = 0;    // text only in the text column
    int64_t both = 0;        // text in both
    int64_t neither = 0;     // no text anywhere (empty or attachment only)
    int64_t inNoChat = 0;
    int64_t inTwoChats = 0;
    int64_t handles = 0;
    int64_t chats = 0;
    int64_t lastDate = 0;
};

// Writes a new store at `path` (which must not exist) in one transaction.
// Throws ChatStoreError on failure.
SampleStoreSummary buildSampleStore(const std::string& path,
                                    const SampleStoreOptions& options = {});

// Appends `count` messages to a store made by buildSampleStore (same chats and
// handles), after its last ROWID and with dates from its last date on, in one
// transaction: new messages for an incremental pass. Throws ChatStoreError.
SampleStoreSummary appendSampleMessages(const std::string& path, int64_t count, uint64_t seed,
                                        int archiveOnlyPercent = 40);

} // namespace orlune::samplestore

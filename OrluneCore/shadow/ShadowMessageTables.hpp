#pragma once
// The shadow database's messages: the messages table, the chats each message
// is in (message_chats) and the emoji each holds (message_emoji).

#include "records/SearchResult.hpp"
#include "records/ShadowMessage.hpp"
#include "shadow/ShadowConnection.hpp"
#include "sql/QueryBounds.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orlune::core {

// The messages, message_chats and message_emoji tables over a shared
// connection (ShadowConnection). Every failure is thrown as ShadowDBError.
// Writes that span several statements run in the caller's transaction
// unless said otherwise.
class ShadowMessageTables {
public:
    explicit ShadowMessageTables(ShadowConnection& connection) : connection_(connection) {}

    // ---- Reading ----

    // Messages whose deleted_at is NULL. Throws prepareFailed (for instance on
    // a file without the schema) or queryFailed.
    int64_t count();

    // One message and its neighbours in its chat, each a SearchResult with
    // rank 0.
    struct Context {
        // Absent when no message has the guid.
        std::optional<SearchResult> message;
        // Up to `before` messages of the same chat just before it and up to
        // `after` just after it, both oldest first, in the order of time and
        // then of copying (rowid). Both empty for a message in no chat
        // (kNoChatId): those are not one conversation.
        std::vector<SearchResult> before;
        std::vector<SearchResult> after;
        // Texts (message texts, senders, chat names) cut to
        // bounds.maxCellBytes.
        size_t cutTexts = 0;
    };
    // The message with `guid` and its neighbours (negative counts read as
    // 0), within `bounds`: texts cut to maxCellBytes, reading stops once the
    // results hold maxResultBytes (the message first, then the neighbours
    // before it and then those after it, each side nearest first), and a read
    // still running after timeLimit throws queryFailed. Throws prepareFailed
    // (no schema, closed database) or queryFailed.
    Context context(const std::string& guid, int before, int after, const QueryBounds& bounds);

    // The thread of the message with `guid`, without the message itself:
    // the thread's first message and its replies (for a reply, the message
    // it replies to and the other replies to it), at most `limit`, oldest
    // first. Empty for a message in no thread, for an unknown guid and for a
    // database made before threads were kept. Within `bounds` as context().
    // Throws prepareFailed or queryFailed.
    std::vector<SearchResult> thread(const std::string& guid, int limit, const QueryBounds& bounds);
    // The guid of the message that starts the thread the message with `guid`
    // replies in; absent for a message that replies in no thread (one that
    // starts a thread included), an unknown guid and a database made before
    // threads were kept. Throws prepareFailed or queryFailed.
    std::optional<std::string> threadOriginatorOf(const std::string& guid);

    // The newest `limit` stored messages of a chat at or before `timestamp`
    // (guid and text), newest first.
    std::vector<std::pair<std::string, std::string>> recentTexts(const std::string& chatId,
                                                                 int64_t timestamp, int limit);

    // Every stored message guid.
    std::vector<std::string> guids();

    // The stored messages of a chat: those copied with it (messages.chat_id)
    // and those message_chats lists in it (on a database that has it).
    std::vector<std::string> guidsInChat(const std::string& chatId);
    // Whether any stored message has `sender` (a handle) as its sender.
    bool hasMessageFrom(const std::string& sender);

    // A message as stored, in the columns a store row is compared on.
    struct StoredCopy {
        std::string chatId;
        std::optional<std::string> chatName;
        std::string sender;
        std::string text;
        int64_t timestamp = 0;
        bool isFromMe = false;
        bool isGroup = false;
        std::optional<std::string> attachmentTypes; // as stored (renderAttachmentTypes)
        std::optional<int64_t> editedAt;
        std::optional<std::string> threadOriginatorGuid;
    };
    // The stored copy of each guid, in order; absent for a guid not stored.
    std::vector<std::optional<StoredCopy>> storedCopies(const std::vector<std::string>& guids);
    // For each guid, in order, whether a message with it is stored.
    std::vector<bool> stored(const std::vector<std::string>& guids);
    // The chats message_chats lists for each guid, in order, each sorted.
    // Throws prepareFailed on a database without message_chats.
    std::vector<std::vector<std::string>> chatsOf(const std::vector<std::string>& guids);

    // ---- Writing ----

    struct WriteResult {
        int written = 0;         // messages written (new or replacing)
        int64_t countGrowth = 0; // how much count() grew (when asked for)
    };
    // Inserts or replaces (by guid) every message in one transaction of its
    // own, with its chats in message_chats and its emoji in message_emoji.
    // With `countGrowth`, also reports how much count() grew: a message whose
    // guid was not stored (or was stored with deleted_at set) adds one,
    // replacing a live copy adds none. `beforeCommit`, when given, runs
    // inside the transaction after the last message (even for an empty list;
    // without it an empty list touches nothing). All or nothing: on failure
    // the batch is rolled back and prepareFailed or insertFailed ("Failed on
    // guid=<guid>: <SQLite's message>") is thrown, or queryFailed when BEGIN
    // or COMMIT fails.
    WriteResult write(const std::vector<ShadowMessage>& messages, bool countGrowth,
                      const std::function<void(const WriteResult&)>& beforeCommit = {});

    // Replaces the chats listed for each message (guid, chat ids).
    void replaceChats(const std::vector<std::pair<std::string, std::vector<std::string>>>& chats);
    // Deletes the messages with `guids` (their index entries, chats and
    // emoji go with them through the schema's triggers); returns how many
    // rows went. Guids not stored are passed over.
    int64_t remove(const std::vector<std::string>& guids);
    // Deletes every message.
    void clear();

private:
    // After a failed batch: the guid of the first message that cannot be
    // written on its own and SQLite's message for it (empty when none fails).
    std::pair<std::string, std::string>
    diagnoseFailedBatch(const std::vector<ShadowMessage>& messages);
    // Inside a batch's transaction, after its messages: their emoji.
    void writeEmoji(const std::vector<ShadowMessage>& messages);
    // The spaced text of those written in scripts without spaces
    // (spaced_texts), after them in the same transaction.
    void writeSpacedTexts(const std::vector<ShadowMessage>& messages);
    // Sets up the temporary trigger that counts replaced live rows, once per
    // connection. Throws sqlite::Error.
    void prepareReplacedCounter();

    ShadowConnection& connection_;
    // Live rows deleted by REPLACE during the current batch, counted by a
    // temporary trigger of this connection (set up on first use).
    int64_t replacedLiveRows_ = 0;
    bool replacedCounterReady_ = false;
};

} // namespace orlune::core

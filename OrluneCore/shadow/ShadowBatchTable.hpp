#pragma once
// A read-only, eponymous virtual table over a list of messages held by the
// caller, so that a whole batch can be written with one INSERT ... SELECT.
// Internal to ShadowDB.
//
// Used as a table-valued function: `FROM orlune_shadow_batch(?) ORDER BY seq`
// with the list bound through ShadowBatchTable::bind. Columns: guid, chat_id,
// chat_name, sender, text, timestamp, is_from_me, is_group, has_attachments,
// attachment_types, content_hash (each as the messages table stores it) and
// seq (the position in the list). Texts are handed to SQLite without copying,
// so the list must outlive every step of the statement that reads it.

#include "records/ShadowMessage.hpp"
#include "sql/SQLite.hpp"

#include <string>
#include <vector>

namespace orlune::core {

class ShadowBatchTable {
public:
    // Registers the module on `db` (once per connection). Returns SQLite's
    // result code.
    static int registerModule(sqlite3* db);

    // Binds `messages` (not owned) to parameter `index` of `statement`.
    static void bind(sqlite::Statement& statement, int index,
                     const std::vector<ShadowMessage>& messages);

    // The attachment kinds as stored: a JSON-looking array in list order,
    // each kind in double quotes, nothing escaped (the helper reads the text
    // as stored, so it stays exactly this even though a quote in a kind makes
    // it ill-formed JSON).
    static std::string renderAttachmentTypes(const std::vector<std::string>& kinds);
};

} // namespace orlune::core

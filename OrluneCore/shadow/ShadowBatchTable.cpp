#include "shadow/ShadowBatchTable.hpp"

#include <cstring>

namespace orlune::core {

namespace {

constexpr const char* kModuleName = "orlune_shadow_batch";
constexpr const char* kPointerType = "orlune_shadow_batch_rows";

enum Column {
    kGuid,
    kChatId,
    kChatName,
    kSender,
    kText,
    kTimestamp,
    kIsFromMe,
    kIsGroup,
    kHasAttachments,
    kAttachmentTypes,
    kContentHash,
    kEditedAt,
    kThreadOriginatorGuid,
    kSeq,
    kRows, // hidden: the bound list
};

constexpr const char* kDeclaration =
    "CREATE TABLE x(guid, chat_id, chat_name, sender, text, timestamp, is_from_me, is_group, "
    "has_attachments, attachment_types, content_hash, edited_at, thread_originator_guid, seq, "
    "rows HIDDEN)";

struct Cursor {
    sqlite3_vtab_cursor base{};
    const std::vector<ShadowMessage>* rows = nullptr;
    size_t index = 0;
};

int connect(sqlite3* db, void*, int, const char* const*, sqlite3_vtab** table, char**) {
    int rc = sqlite3_declare_vtab(db, kDeclaration);
    if (rc != SQLITE_OK) {
        return rc;
    }
    *table = static_cast<sqlite3_vtab*>(sqlite3_malloc(sizeof(sqlite3_vtab)));
    if (*table == nullptr) {
        return SQLITE_NOMEM;
    }
    std::memset(*table, 0, sizeof(sqlite3_vtab));
    return SQLITE_OK;
}

int disconnect(sqlite3_vtab* table) {
    sqlite3_free(table);
    return SQLITE_OK;
}

int bestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
    bool bound = false;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& constraint = info->aConstraint[i];
        if (constraint.iColumn == kRows) {
            if (!constraint.usable || constraint.op != SQLITE_INDEX_CONSTRAINT_EQ) {
                return SQLITE_CONSTRAINT;
            }
            info->aConstraintUsage[i].argvIndex = 1;
            info->aConstraintUsage[i].omit = 1;
            bound = true;
        }
    }
    if (!bound) {
        return SQLITE_CONSTRAINT; // only usable with its list
    }
    info->estimatedCost = 1;
    // Rows come out in list order.
    if (info->nOrderBy == 1 && !info->aOrderBy[0].desc &&
        (info->aOrderBy[0].iColumn == kSeq || info->aOrderBy[0].iColumn == -1)) {
        info->orderByConsumed = 1;
    }
    return SQLITE_OK;
}

int open(sqlite3_vtab*, sqlite3_vtab_cursor** cursor) {
    auto* created = new (std::nothrow) Cursor();
    if (created == nullptr) {
        return SQLITE_NOMEM;
    }
    *cursor = &created->base;
    return SQLITE_OK;
}

int close(sqlite3_vtab_cursor* cursor) {
    delete reinterpret_cast<Cursor*>(cursor);
    return SQLITE_OK;
}

int filter(sqlite3_vtab_cursor* base, int, const char*, int argc, sqlite3_value** argv) {
    auto* cursor = reinterpret_cast<Cursor*>(base);
    cursor->rows = argc > 0 ? static_cast<const std::vector<ShadowMessage>*>(
                                  sqlite3_value_pointer(argv[0], kPointerType))
                            : nullptr;
    cursor->index = 0;
    return SQLITE_OK;
}

int next(sqlite3_vtab_cursor* base) {
    ++reinterpret_cast<Cursor*>(base)->index;
    return SQLITE_OK;
}

int eof(sqlite3_vtab_cursor* base) {
    auto* cursor = reinterpret_cast<Cursor*>(base);
    return cursor->rows == nullptr || cursor->index >= cursor->rows->size();
}

void resultStatic(sqlite3_context* context, const std::string& text) {
    sqlite3_result_text64(context, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
}

void resultCopy(sqlite3_context* context, const std::string& text) {
    sqlite3_result_text64(context, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

int column(sqlite3_vtab_cursor* base, sqlite3_context* context, int column) {
    auto* cursor = reinterpret_cast<Cursor*>(base);
    const ShadowMessage& message = (*cursor->rows)[cursor->index];
    switch (column) {
    case kGuid:
        resultStatic(context, message.guid());
        break;
    case kChatId:
        resultStatic(context, message.chatId());
        break;
    case kChatName:
        if (message.chatName()) {
            resultStatic(context, *message.chatName());
        } else {
            sqlite3_result_null(context);
        }
        break;
    case kSender:
        resultStatic(context, message.sender());
        break;
    case kText:
        resultStatic(context, message.text());
        break;
    case kTimestamp:
        sqlite3_result_int64(context, message.timestamp());
        break;
    case kIsFromMe:
        sqlite3_result_int(context, message.isFromMe() ? 1 : 0);
        break;
    case kIsGroup:
        sqlite3_result_int(context, message.isGroup() ? 1 : 0);
        break;
    case kHasAttachments:
        sqlite3_result_int(context, message.hasAttachments() ? 1 : 0);
        break;
    case kAttachmentTypes:
        if (message.attachmentTypes().empty()) {
            sqlite3_result_null(context);
        } else {
            resultCopy(context, ShadowBatchTable::renderAttachmentTypes(message.attachmentTypes()));
        }
        break;
    case kContentHash:
        resultCopy(context, message.contentHash());
        break;
    case kEditedAt:
        if (message.editedAt()) {
            sqlite3_result_int64(context, *message.editedAt());
        } else {
            sqlite3_result_null(context);
        }
        break;
    case kThreadOriginatorGuid:
        if (message.threadOriginatorGuid()) {
            resultStatic(context, *message.threadOriginatorGuid());
        } else {
            sqlite3_result_null(context);
        }
        break;
    case kSeq:
        sqlite3_result_int64(context, static_cast<sqlite3_int64>(cursor->index));
        break;
    default:
        sqlite3_result_null(context);
        break;
    }
    return SQLITE_OK;
}

int rowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
    *rowid = static_cast<sqlite3_int64>(reinterpret_cast<Cursor*>(base)->index);
    return SQLITE_OK;
}

sqlite3_module makeModule() {
    sqlite3_module module{};
    module.iVersion = 0;
    module.xCreate = nullptr; // eponymous only: no CREATE VIRTUAL TABLE
    module.xConnect = connect;
    module.xBestIndex = bestIndex;
    module.xDisconnect = disconnect;
    module.xDestroy = disconnect;
    module.xOpen = open;
    module.xClose = close;
    module.xFilter = filter;
    module.xNext = next;
    module.xEof = eof;
    module.xColumn = column;
    module.xRowid = rowid;
    return module;
}

const sqlite3_module kModule = makeModule();

} // namespace

int ShadowBatchTable::registerModule(sqlite3* db) {
    return sqlite3_create_module_v2(db, kModuleName, &kModule, nullptr, nullptr);
}

void ShadowBatchTable::bind(sqlite::Statement& statement, int index,
                            const std::vector<ShadowMessage>& messages) {
    sqlite3_bind_pointer(statement.get(), index, const_cast<std::vector<ShadowMessage>*>(&messages),
                         kPointerType, nullptr);
}

std::string ShadowBatchTable::renderAttachmentTypes(const std::vector<std::string>& kinds) {
    std::string text = "[";
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (i > 0) {
            text += ',';
        }
        text += '"';
        text += kinds[i];
        text += '"';
    }
    text += ']';
    return text;
}

} // namespace orlune::core

// `orlune search`: ranked full-text search over the shadow database.

#include "Command.hpp"
#include "OptionParser.hpp"
#include "ShadowAccess.hpp"
#include "SqlOutput.hpp"
#include "TextTable.hpp"
#include "answer/MessageSearch.hpp"
#include "base/SystemLocale.hpp"
#include "records/AttachmentKind.hpp"
#include "shadow/SearchIndexRepair.hpp"
#include "time/StoreTime.hpp"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

namespace orlune::cli {

namespace {

constexpr int kDefaultLimit = 10;

const std::string kHelp =
    std::string("Usage: orlune search [--shadow-db PATH] [--limit N] [--json]\n"
                "                     [--from NAME] [--chat NAME] [--since WHEN] [--until WHEN]\n"
                "                     [QUERY]\n"
                "\n"
                "Searches the shadow database's full-text index and lists the best matches,\n"
                "best first, with who sent each (the name from your contacts), the chat\n"
                "and the time in your time zone. QUERY is an FTS5 expression, used as written: "
                "words must all\n"
                "appear (in the text, the chat's name or the sender, or all in the file name\n"
                "of one of the message's attachments), \"quoted words\" form a\n"
                "phrase, and OR, NOT, parentheses, prefix* and column filters such as\n"
                "sender:alice work. A file name such as lease.pdf needs no quotes. Quote\n"
                "other punctuation (\"what's up\", \"PLAT-2291\"): FTS5\n"
                "rejects it outside quotes, and a rejected query is searched as its\n"
                "words, with a note saying so (one without words is an error). A query\n"
                "longer than 4096 bytes, or with more than 64 words or 16 prefix* words,\n"
                "is refused, and a search running longer than 5 seconds is stopped.\n"
                "\n"
                "With --from, --chat, --since or --until only matching messages are\n"
                "searched; without a QUERY they list the newest matching messages first.\n"
                "\n"
                "Options:\n"
                "  --from NAME       messages from this person: a name, nickname or part of\n"
                "                    one, or a phone number or e-mail address (case and\n"
                "                    accents do not matter); \"me\" for your own messages\n"
                "  --chat NAME       messages in this chat: its name, or the person of a\n"
                "                    one-to-one chat\n"
                "  --since WHEN      messages from the start of WHEN on, and\n"
                "  --until WHEN      up to its end, in your time zone: \"yesterday\",\n"
                "                    \"last Friday\", \"in March\", \"3 days ago\",\n"
                "                    \"2025-03-14\", ...\n") +
    kShadowDBOptionHelp +
    std::string("  --limit N         at most N hits (default 10)\n"
                "  --json            one JSON object per hit, with the keys guid, chat_id,\n"
                "                    chat_name, sender, text, timestamp, is_from_me,\n"
                "                    is_group, rank (lower rank is better; 0 without a\n"
                "                    QUERY), sender_name (the sender's name, null for your\n"
                "                    own messages and unknown senders), chat_title (what\n"
                "                    you call the chat), reactions (sender, sender_name,\n"
                "                    kind, emoji, timestamp) and attachments (name, kind,\n"
                "                    mime_type, uti, bytes)\n"
                "  -h, --help        show this help\n"
                "\n"
                "Errors are described on standard error, with exit status 1 (2 for wrong\n"
                "arguments).\n");

// The kinds of the attachments shown with a hit.
std::vector<std::string> visibleKinds(const std::vector<core::ShadowAttachment>& attachments) {
    std::vector<std::string> kinds;
    for (const auto& attachment : attachments) {
        if (!attachment.hidden) {
            kinds.push_back(attachment.kind);
        }
    }
    return kinds;
}

std::string formatRank(double rank) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", rank);
    return text;
}

// The reactions on a hit; sender_name is null for your own and for handles
// of no known person.
nlohmann::ordered_json reactionsJson(const std::vector<core::StoredReaction>& reactions) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& reaction : reactions) {
        nlohmann::ordered_json item;
        item["sender"] = reaction.sender;
        item["sender_name"] =
            reaction.senderName ? nlohmann::ordered_json(*reaction.senderName) : nullptr;
        item["kind"] = reaction.kind;
        item["emoji"] = reaction.emoji ? nlohmann::ordered_json(*reaction.emoji) : nullptr;
        item["timestamp"] = reaction.timestamp;
        list.push_back(std::move(item));
    }
    return list;
}

// The attachments shown with a hit (hidden ones, such as a link preview's
// image, left out).
nlohmann::ordered_json attachmentsJson(const std::vector<core::ShadowAttachment>& attachments) {
    auto optional = [](const std::optional<std::string>& value) {
        return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
    };
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& attachment : attachments) {
        if (attachment.hidden) {
            continue;
        }
        nlohmann::ordered_json item;
        item["name"] = optional(attachment.name);
        item["kind"] = attachment.kind;
        item["mime_type"] = optional(attachment.mimeType);
        item["uti"] = optional(attachment.uti);
        item["bytes"] = attachment.bytes;
        list.push_back(std::move(item));
    }
    return list;
}

int runSearch(const std::vector<std::string>& args) {
    OptionParser options(
        "search", {"--shadow-db", "--limit", "--from", "--chat", "--since", "--until"}, {"--json"});
    if (!options.parse(args)) {
        return 2;
    }
    std::optional<int> limit;
    if (!options.positiveInteger("--limit", limit)) {
        return 2;
    }
    core::SearchFilters filters;
    filters.from = options.value("--from").value_or("");
    filters.chat = options.value("--chat").value_or("");
    filters.since = options.value("--since").value_or("");
    filters.until = options.value("--until").value_or("");
    if (filters.empty() || !options.positional().empty()) {
        if (!options.onePositional("a QUERY is needed (or --from, --chat, --since, --until)",
                                   "give the QUERY as one argument (quote it)")) {
            return 2;
        }
    }
    const std::string query = options.positional().empty() ? "" : options.positional()[0];
    const core::TimeContext time = core::TimeContext::system();
    return withShadowForReading(options.value("--shadow-db"), [&](core::ShadowDBReader& db) {
        const core::QueryBounds bounds;
        // One limit for the whole verb: the search and each hit's reactions
        // and attachments.
        const core::SearchDeadline deadline(bounds);
        core::FilteredSearch found;
        try {
            found =
                core::searchMessages(db, query, filters, limit.value_or(kDefaultLimit), bounds,
                                     time, core::systemPhoneRegion(core::Environment::process()));
        } catch (const core::SearchFilterError& error) {
            options.complain(std::string("--") + error.what());
            return 2;
        }
        for (const std::string& note : found.notes) {
            std::cerr << note << "\n";
        }
        const auto& outcome = found.outcome;
        const auto& results = outcome.results;
        printCutNote(
            bounds.describeCut(outcome.cutTexts, outcome.stoppedAtSizeLimit, results.size()));
        // While the index waits for its rebuild, finding nothing proves
        // nothing: that is said (status 1) instead of "No messages match.".
        if (outcome.indexUnderRepair) {
            std::cerr << core::SearchIndexRepair::pendingMessage(db.databasePath()) << "\n";
            if (results.empty()) {
                return 1;
            }
        }
        if (options.flag("--json")) {
            std::vector<nlohmann::ordered_json> lines;
            lines.reserve(results.size());
            for (const auto& hit : results) {
                deadline.check();
                nlohmann::ordered_json line;
                line["guid"] = hit.guid;
                line["chat_id"] = hit.chatId;
                line["chat_name"] = hit.chatName ? nlohmann::ordered_json(*hit.chatName) : nullptr;
                line["sender"] = hit.sender;
                line["text"] = hit.text;
                line["timestamp"] = hit.timestamp;
                line["is_from_me"] = hit.isFromMe;
                line["is_group"] = hit.isGroup;
                line["rank"] = hit.rank;
                line["sender_name"] =
                    hit.senderName ? nlohmann::ordered_json(*hit.senderName) : nullptr;
                line["chat_title"] = hit.chatTitle;
                line["reactions"] = reactionsJson(db.reactionsOn(hit.guid));
                const auto attachments = db.attachmentsOf(hit.guid);
                line["attachments"] = attachmentsJson(attachments);
                line["transcript"] = core::isVoiceTranscript(hit.text, visibleKinds(attachments));
                lines.push_back(std::move(line));
            }
            for (const auto& line : lines) {
                printJsonLine(line, std::cout);
            }
            return 0;
        }
        if (results.empty()) {
            std::cout << "No messages match.\n";
            return 0;
        }
        const core::LocalCalendar calendar(time);
        const bool ranked = !query.empty();
        TextTable table(ranked ? std::vector<std::string>{"sender", "chat", "when", "text", "rank"}
                               : std::vector<std::string>{"sender", "chat", "when", "text"});
        for (const auto& hit : results) {
            const auto instant = core::instantFromStoreDate(hit.timestamp);
            std::vector<std::string> row = {
                hit.isFromMe ? "You" : hit.senderName.value_or(hit.sender), hit.chatTitle,
                instant ? calendar.formatForPerson(*instant) : "", hit.text};
            if (ranked) {
                row.push_back(formatRank(hit.rank));
            }
            table.addRow(row);
        }
        table.print(std::cout);
        return 0;
    });
}

const CommandRegistration registration(Command{
    "search",
    "full-text search of the shadow database",
    kHelp,
    runSearch,
});

} // namespace

} // namespace orlune::cli

#include "mcp/ReplyItems.hpp"

#include "time/StoreTime.hpp"

#include <cstdio>
#include <cstdlib>

namespace orlune::mcp {

namespace {

std::string isoLocalTime(core::Instant instant, const core::LocalCalendar& calendar) {
    using namespace std::chrono;
    const minutes offset = calendar.utcOffset(instant);
    const auto local = floor<seconds>(instant) + offset;
    const auto day = floor<days>(local);
    const year_month_day date{day};
    const hh_mm_ss clock{local - day};
    const long offsetMinutes = static_cast<long>(offset.count());
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ld%c%02ld:%02ld",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long>(clock.hours().count()),
                  static_cast<long>(clock.minutes().count()),
                  static_cast<long>(clock.seconds().count()), offsetMinutes < 0 ? '-' : '+',
                  std::labs(offsetMinutes) / 60, std::labs(offsetMinutes) % 60);
    return text;
}

OrderedJson optionalText(const std::optional<std::string>& text) {
    return text ? OrderedJson(*text) : OrderedJson(nullptr);
}

} // namespace

void putTime(OrderedJson& item, const std::string& key, int64_t storeDate,
             const core::LocalCalendar& calendar) {
    const std::optional<core::Instant> instant = core::instantFromStoreDate(storeDate);
    item[key] = instant ? OrderedJson(calendar.formatForPerson(*instant)) : OrderedJson(nullptr);
    item[key + "_iso"] =
        instant ? OrderedJson(isoLocalTime(*instant, calendar)) : OrderedJson(nullptr);
}

std::string senderLabel(core::ShadowDBReader& db, const core::SearchResult& message) {
    if (message.isFromMe) {
        return "You";
    }
    if (message.senderName) {
        return *message.senderName;
    }
    return db.nameOfHandle(message.sender).value_or(message.sender);
}

OrderedJson messageItem(core::ShadowDBReader& db, const core::SearchResult& message,
                        const core::LocalCalendar& calendar, Privacy privacy) {
    OrderedJson item = OrderedJson::object();
    item["guid"] = message.guid;
    item["chat_id"] = message.chatId;
    item["chat"] = message.chatTitle;
    item["from"] = senderLabel(db, message);
    item["from_handle"] = message.isFromMe ? OrderedJson(nullptr) : OrderedJson(message.sender);
    item["is_from_me"] = message.isFromMe;
    putTime(item, "time", message.timestamp, calendar);
    if (privacy == Privacy::fullText) {
        item["text"] = message.text;
    }
    OrderedJson attachments = OrderedJson::array();
    for (const core::ShadowAttachment& attachment : db.attachmentsOf(message.guid)) {
        if (!attachment.hidden) {
            attachments.push_back(attachment.kind);
        }
    }
    item["attachments"] = std::move(attachments);
    OrderedJson reactions = OrderedJson::array();
    for (const core::StoredReaction& reaction : db.reactionsOn(message.guid)) {
        OrderedJson entry = OrderedJson::object();
        entry["kind"] = reaction.kind;
        entry["emoji"] = optionalText(reaction.emoji);
        entry["by"] = reaction.sender == "me" ? std::string("You")
                                              : reaction.senderName.value_or(reaction.sender);
        reactions.push_back(std::move(entry));
    }
    item["reactions"] = std::move(reactions);
    return item;
}

} // namespace orlune::mcp

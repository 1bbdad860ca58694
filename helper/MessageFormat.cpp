#include "helper/MessageFormat.hpp"

#include "time/LocalTime.hpp"
#include "time/StoreTime.hpp"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <utility>
#include <vector>

namespace orlune::helper {

std::string formatMessageTime(int64_t storeDate) {
    const std::optional<core::Instant> instant = core::instantFromStoreDate(storeDate);
    if (!instant) {
        return "an unknown time";
    }
    return core::LocalCalendar(core::TimeContext::system()).formatForPerson(*instant);
}

std::string messageTimeInSentence(int64_t storeDate) {
    if (!core::instantFromStoreDate(storeDate)) {
        return "at an unknown time";
    }
    std::string shown = formatMessageTime(storeDate);
    const size_t comma = shown.rfind(", ");
    if (comma != std::string::npos) {
        shown.replace(comma, 2, " at ");
    }
    return "on " + shown;
}

std::string senderLabel(const MessageHit& message) {
    if (message.isFromMe || message.sender == "me") {
        return "You";
    }
    if (message.senderName && !message.senderName->empty()) {
        return *message.senderName;
    }
    return message.sender.empty() ? "unknown" : message.sender;
}

std::string chatLabel(const MessageHit& message) {
    if (!message.chatTitle.empty()) {
        return message.chatTitle;
    }
    if (message.chatName && !message.chatName->empty()) {
        return *message.chatName;
    }
    return message.chatId;
}

std::string clipped(std::string_view text, size_t maxBytes) {
    return text.size() <= maxBytes ? std::string(text) : snippet(text, maxBytes);
}

namespace {

// `text` without attachment placeholders (U+FFFC) and the white space
// around it.
std::string wordsOf(std::string_view text) {
    std::string out;
    constexpr std::string_view kPlaceholder = "\xEF\xBF\xBC";
    for (size_t at = 0; at < text.size();) {
        if (text.substr(at, kPlaceholder.size()) == kPlaceholder) {
            at += kPlaceholder.size();
            continue;
        }
        out += text[at++];
    }
    const size_t first = out.find_first_not_of(" \t\n\r");
    if (first == std::string::npos) {
        return "";
    }
    return out.substr(first, out.find_last_not_of(" \t\n\r") - first + 1);
}

// A message of attachments alone: no words besides their placeholders.
bool isAttachmentsOnly(const MessageHit& message) {
    return wordsOf(message.text).empty() && !message.attachmentKinds.empty();
}

} // namespace

std::string snippet(std::string_view text, size_t maxBytes) {
    std::string out;
    size_t end = text.size();
    bool cut = false;
    if (end > maxBytes) {
        end = maxBytes;
        // Step back to the start of a UTF-8 character.
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            --end;
        }
        cut = true;
    }
    out.reserve(end + 3);
    for (size_t i = 0; i < end; ++i) {
        char c = text[i];
        out.push_back(c == '\n' || c == '\r' ? ' ' : c);
    }
    if (cut) {
        out += "...";
    }
    return out;
}

namespace {

// A reaction's sign: a symbol, or a word for the kinds that have none.
struct ReactionSign {
    std::string text;
    bool isWord = false;
};

ReactionSign reactionSign(const MessageHit::Reaction& reaction) {
    static const std::map<std::string, std::string> symbols = {
        {"love", "\u2665"},      {"like", "\U0001F44D"},  {"dislike", "\U0001F44E"},
        {"laugh", "\U0001F602"}, {"emphasize", "\u203C"}, {"question", "?"},
    };
    static const std::map<std::string, std::string> words = {
        {"sticker", "sticker"},
        {"poll_vote", "vote"},
    };
    if (reaction.emoji && !reaction.emoji->empty()) {
        return {*reaction.emoji, false};
    }
    if (const auto symbol = symbols.find(reaction.kind); symbol != symbols.end()) {
        return {symbol->second, false};
    }
    const auto word = words.find(reaction.kind);
    return {word != words.end() ? word->second : reaction.kind, true};
}

// "♥ 2" for a symbol; "1 sticker", "2 stickers" for a word.
std::string countedSign(const ReactionSign& sign, int count) {
    if (!sign.isWord) {
        return sign.text + " " + std::to_string(count);
    }
    return std::to_string(count) + " " + sign.text + (count == 1 ? "" : "s");
}

} // namespace

std::string reactionsAndAttachments(const MessageHit& message) {
    // Signs in order of first appearance, each with its count.
    std::vector<std::pair<ReactionSign, int>> counts;
    for (const MessageHit::Reaction& reaction : message.reactions) {
        const ReactionSign sign = reactionSign(reaction);
        auto found = std::find_if(counts.begin(), counts.end(),
                                  [&](const auto& entry) { return entry.first.text == sign.text; });
        if (found == counts.end()) {
            counts.emplace_back(sign, 1);
        } else {
            ++found->second;
        }
    }
    std::string out;
    for (const auto& [sign, count] : counts) {
        out += (out.empty() ? "" : ", ") + countedSign(sign, count);
    }
    std::string kinds;
    for (const std::string& kind : message.attachmentKinds) {
        kinds += (kinds.empty() ? "" : ", ") + kind;
    }
    if (!kinds.empty()) {
        out += (out.empty() ? "" : "; ") + kinds;
    }
    return out;
}

std::string quotedText(const MessageHit& message, size_t maxTextBytes) {
    return isAttachmentsOnly(message) ? shownText(message, maxTextBytes)
                                      : "\"" + snippet(wordsOf(message.text), maxTextBytes) + "\"";
}

std::string describeMessage(const MessageHit& message, size_t maxTextBytes) {
    // A message in the sender's own chat with the person is named once:
    // "Alex, ..." rather than "Alex in Alex, ...", and yours there went to
    // them: "You to Alex".
    const std::string sender = senderLabel(message);
    const std::string chat = chatLabel(message);
    std::string who = sender + " in " + chat;
    if (chat == sender) {
        who = sender;
    } else if (message.oneToOne) {
        who = message.isFromMe || message.sender == "me" ? sender + " to " + chat : sender;
    }
    std::string line = who + ", " + formatMessageTime(message.timestamp) + ": ";
    line += quotedText(message, maxTextBytes);
    if (isAttachmentsOnly(message)) {
        MessageHit reactionsOnly;
        reactionsOnly.reactions = message.reactions;
        const std::string reactions = reactionsAndAttachments(reactionsOnly);
        return reactions.empty() ? line : line + " [" + reactions + "]";
    }
    const std::string extras = reactionsAndAttachments(message);
    if (!extras.empty()) {
        line += " [" + extras + "]";
    }
    return line;
}

std::string shownText(const MessageHit& message, size_t maxTextBytes) {
    const std::string words = wordsOf(message.text);
    if (!words.empty() || message.attachmentKinds.empty()) {
        return snippet(words, maxTextBytes);
    }
    std::string out;
    for (size_t i = 0; i < message.attachmentKinds.size(); ++i) {
        out += (i == 0 ? "" : ", ") + message.attachmentKinds[i];
        if (i < message.attachmentNames.size() && !message.attachmentNames[i].empty()) {
            out += " " + message.attachmentNames[i];
        }
    }
    return "[" + snippet(out, maxTextBytes) + "]";
}

} // namespace orlune::helper

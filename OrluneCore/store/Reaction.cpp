#include "store/Reaction.hpp"

#include "store/MessageText.hpp"

#include <array>

namespace orlune::core {

namespace {

constexpr int64_t kStickerPlaced = 1000;
constexpr int64_t kFirstTapback = 2000;
constexpr int64_t kFirstRemoval = 3000;
constexpr int64_t kPollVote = 4000;

// Tapbacks and their removals, in the order of their type numbers.
constexpr std::array<ReactionKind, 8> kTapbacks = {
    ReactionKind::Love,      ReactionKind::Like,     ReactionKind::Dislike, ReactionKind::Laugh,
    ReactionKind::Emphasize, ReactionKind::Question, ReactionKind::Emoji,   ReactionKind::Sticker,
};

constexpr size_t kGuidLength = 36;

struct Verb {
    std::string_view text;
    ReactionKind kind;
};
constexpr std::array<Verb, 6> kVerbs = {{
    {"Loved ", ReactionKind::Love},
    {"Liked ", ReactionKind::Like},
    {"Disliked ", ReactionKind::Dislike},
    {"Laughed at ", ReactionKind::Laugh},
    {"Emphasized ", ReactionKind::Emphasize},
    {"Questioned ", ReactionKind::Question},
}};

constexpr std::array<std::string_view, 2> kOpeningQuotes = {"\xE2\x80\x9C", "\""}; // “ "
constexpr std::array<std::string_view, 2> kClosingQuotes = {"\xE2\x80\x9D", "\""}; // ” "
constexpr std::array<std::string_view, 2> kEllipses = {"\xE2\x80\xA6", "..."};     // … ...

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isSpace(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// Placeholders removed, white space runs made one space, ends trimmed.
std::string normalised(std::string_view text) {
    const std::string clean = withoutPlaceholders(text);
    std::string out;
    out.reserve(clean.size());
    bool pendingSpace = false;
    for (char c : trimmed(clean)) {
        if (isSpace(c)) {
            pendingSpace = true;
            continue;
        }
        if (pendingSpace) {
            out += ' ';
            pendingSpace = false;
        }
        out += c;
    }
    return out;
}

std::optional<int64_t> parsePartIndex(std::string_view digits) {
    if (digits.empty() || digits.size() > 9) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::string_view reactionKindName(ReactionKind kind) {
    switch (kind) {
    case ReactionKind::Love:
        return "love";
    case ReactionKind::Like:
        return "like";
    case ReactionKind::Dislike:
        return "dislike";
    case ReactionKind::Laugh:
        return "laugh";
    case ReactionKind::Emphasize:
        return "emphasize";
    case ReactionKind::Question:
        return "question";
    case ReactionKind::Emoji:
        return "emoji";
    case ReactionKind::Sticker:
        return "sticker";
    case ReactionKind::PollVote:
        return "poll_vote";
    }
    return "unknown";
}

std::optional<ReactionType> reactionTypeFromAssociatedType(int64_t type) {
    if (type == kStickerPlaced) {
        return ReactionType{ReactionKind::Sticker, false};
    }
    if (type == kPollVote) {
        return ReactionType{ReactionKind::PollVote, false};
    }
    const auto count = static_cast<int64_t>(kTapbacks.size());
    if (type >= kFirstTapback && type < kFirstTapback + count) {
        return ReactionType{kTapbacks[static_cast<size_t>(type - kFirstTapback)], false};
    }
    if (type >= kFirstRemoval && type < kFirstRemoval + count) {
        return ReactionType{kTapbacks[static_cast<size_t>(type - kFirstRemoval)], true};
    }
    return std::nullopt;
}

std::optional<ReactionTarget> reactionTargetFromAssociatedGuid(std::string_view value) {
    ReactionTarget target;
    std::string_view rest = value;
    if (rest.starts_with("p:")) {
        const size_t slash = rest.find('/');
        if (slash == std::string_view::npos) {
            return std::nullopt;
        }
        target.part = parsePartIndex(rest.substr(2, slash - 2));
        if (!target.part) {
            return std::nullopt;
        }
        rest.remove_prefix(slash + 1);
    } else if (rest.starts_with("bp:")) {
        target.balloon = true;
        rest.remove_prefix(3);
    }
    if (rest.size() < kGuidLength) {
        return std::nullopt;
    }
    target.guid = std::string(rest.substr(0, kGuidLength));
    return target;
}

std::optional<TextReaction> parseReactionText(std::string_view text) {
    for (const auto& verb : kVerbs) {
        if (!text.starts_with(verb.text)) {
            continue;
        }
        std::string_view rest = text.substr(verb.text.size());
        while (!rest.empty() && isSpace(rest.back())) {
            rest.remove_suffix(1);
        }
        for (auto open : kOpeningQuotes) {
            if (!rest.starts_with(open)) {
                continue;
            }
            for (auto close : kClosingQuotes) {
                if (rest.size() < open.size() + close.size() || !rest.ends_with(close)) {
                    continue;
                }
                std::string_view quoted =
                    rest.substr(open.size(), rest.size() - open.size() - close.size());
                if (trimmed(quoted).empty()) {
                    return std::nullopt;
                }
                return TextReaction{verb.kind, std::string(quoted)};
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

bool reactionQuoteMatches(std::string_view quoted, std::string_view targetText) {
    const std::string quote = normalised(quoted);
    const std::string target = normalised(targetText);
    if (quote.empty()) {
        return false;
    }
    if (quote == target) {
        return true;
    }
    for (auto ellipsis : kEllipses) {
        if (!std::string_view(quote).ends_with(ellipsis)) {
            continue;
        }
        std::string_view prefix =
            trimmed(std::string_view(quote).substr(0, quote.size() - ellipsis.size()));
        if (!prefix.empty() && std::string_view(target).starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

} // namespace orlune::core

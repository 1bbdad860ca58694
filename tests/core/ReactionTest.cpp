#include "store/Reaction.hpp"

#include <gtest/gtest.h>
#include <string>

namespace orlune::core {
namespace {

TEST(Reaction, TypeFromAssociatedMessageType) {
    using K = ReactionKind;
    struct Case {
        int64_t type;
        std::optional<ReactionType> expected;
    };
    const Case cases[] = {
        {0, std::nullopt},
        {2000, ReactionType{K::Love}},
        {2001, ReactionType{K::Like}},
        {2002, ReactionType{K::Dislike}},
        {2003, ReactionType{K::Laugh}},
        {2004, ReactionType{K::Emphasize}},
        {2005, ReactionType{K::Question}},
        {2006, ReactionType{K::Emoji}},
        {2007, ReactionType{K::Sticker}},
        {3000, ReactionType{K::Love, true}},
        {3003, ReactionType{K::Laugh, true}},
        {3006, ReactionType{K::Emoji, true}},
        {3007, ReactionType{K::Sticker, true}},
        {1000, ReactionType{K::Sticker}},
        {4000, ReactionType{K::PollVote}},
        // Neighbours of the ranges are not reactions.
        {1999, std::nullopt},
        {2008, std::nullopt},
        {2999, std::nullopt},
        {3008, std::nullopt},
        {1001, std::nullopt},
        {4001, std::nullopt},
        {-2000, std::nullopt},
        {3, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reactionTypeFromAssociatedType(c.type), c.expected) << c.type;
    }
}

TEST(Reaction, TargetFromAssociatedMessageGuid) {
    const std::string guid = "5F3C2E1A-7B6D-4C8E-9A0B-1C2D3E4F5A6B";
    struct Case {
        std::string value;
        std::optional<ReactionTarget> expected;
    };
    const Case cases[] = {
        {"p:0/" + guid, ReactionTarget{guid, 0, false}},
        {"p:12/" + guid, ReactionTarget{guid, 12, false}},
        {"bp:" + guid, ReactionTarget{guid, std::nullopt, true}},
        {guid, ReactionTarget{guid, std::nullopt, false}},
        {"p:1/" + guid + "/extra", ReactionTarget{guid, 1, false}}, // the 36 characters only
        {"p:/" + guid, std::nullopt},
        {"p:x/" + guid, std::nullopt},
        {"p:-1/" + guid, std::nullopt},
        {"p:0" + guid, std::nullopt}, // no slash
        {"p:0/" + guid.substr(0, 35), std::nullopt},
        {"bp:", std::nullopt},
        {"", std::nullopt},
        {guid.substr(1), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reactionTargetFromAssociatedGuid(c.value), c.expected) << c.value;
    }
}

TEST(Reaction, PlainTextForm) {
    using K = ReactionKind;
    struct Case {
        std::string text;
        std::optional<TextReaction> expected;
    };
    const Case cases[] = {
        {"Loved “Cabin is booked!”", TextReaction{K::Love, "Cabin is booked!"}},
        {"Liked \"see you at 8\"", TextReaction{K::Like, "see you at 8"}},
        {"Disliked “no”", TextReaction{K::Dislike, "no"}},
        {"Laughed at “that's hilarious 😂”", TextReaction{K::Laugh, "that's hilarious 😂"}},
        {"Emphasized \"Bring the keys\"", TextReaction{K::Emphasize, "Bring the keys"}},
        {"Questioned “Friday?”", TextReaction{K::Question, "Friday?"}},
        {"Liked “mixed quotes\"", TextReaction{K::Like, "mixed quotes"}},
        {"Liked \"trailing space\"  \n", TextReaction{K::Like, "trailing space"}},
        {"Liked “He said \"hi\"”", TextReaction{K::Like, "He said \"hi\""}},
        {"Liked “a\nb”", TextReaction{K::Like, "a\nb"}},
        // Not the form.
        {"Liked the movie", std::nullopt},
        {"Liked \"the movie\" a lot", std::nullopt},
        {"liked \"lower case verb\"", std::nullopt},
        {"Liked  \"two spaces\"", std::nullopt},
        {"Liked\"no space\"", std::nullopt},
        {"Liked \"\"", std::nullopt},
        {"Liked \"   \"", std::nullopt},
        {"Liked \"", std::nullopt},
        {"Loved ‘single quotes’", std::nullopt},
        {"Reacted 🎉 to “party”", std::nullopt},
        {"Adored “x”", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseReactionText(c.text), c.expected) << c.text;
    }
}

TEST(Reaction, QuoteMustReproduceTheTarget) {
    const std::string object = "\xEF\xBF\xBC";
    struct Case {
        const char* name;
        std::string quoted;
        std::string target;
        bool matches;
    };
    const Case cases[] = {
        {"same text", "Cabin is booked!", "Cabin is booked!", true},
        {"white space differs", "Cabin  is\nbooked! ", " Cabin is booked!", true},
        {"target with an attachment placeholder", "here's the lease", object + "here's the lease",
         true},
        {"shortened with an ellipsis", "Cabin is booked! Wifi password is…",
         "Cabin is booked! Wifi password is hunter2 and the door code 4417", true},
        {"shortened with three dots", "Cabin is booked...", "Cabin is booked! Bring towels", true},
        {"a person's own words", "the movie", "Did you see the game?", false},
        {"prefix without an ellipsis", "Cabin is", "Cabin is booked!", false},
        {"ellipsis alone", "…", "anything", false},
        {"ellipsis but another start", "Wifi password…", "Cabin is booked! Wifi password", false},
        {"case differs", "cabin is booked!", "Cabin is booked!", false},
        {"empty quote", "", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reactionQuoteMatches(c.quoted, c.target), c.matches) << c.name;
    }
}

} // namespace
} // namespace orlune::core

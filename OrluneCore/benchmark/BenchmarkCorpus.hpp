#pragma once
// A retrieval benchmark corpus: a small, self-contained message history and
// graded queries naming the messages a good search returns. Read from and
// written to one JSON document; every record is a plain value.
//
// Decoding is strict: a required key that is missing or null, a value of the
// wrong JSON type (1 for a boolean, 2.5 for an integer) or an unknown category
// fails with BenchmarkCorpus::Error. Optional keys may be missing or null;
// keys not listed are ignored. Written documents leave absent optional fields
// out and keep the key order of each record.

#include "records/ShadowMessage.hpp"

#include <cstdint>
#include <exception>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace orlune::core {

enum class QueryCategory {
    keyword,
    semantic,
    temporal,
    multiHop,
    negation,
    person,
    attachment,
    reaction,
    // Questions as a person asks them, by what they ask.
    everyday,  // what someone said about something
    reply,     // the answer is the reply to a message
    when,      // when something happened, from the messages' times
    time,      // a time as people say it ("over the weekend")
    askedFor,  // a kind of thing: a number, an amount, a time, a place, a link
    topicWord, // a word that could be a filter but is a topic ("the photos")
    wording,   // the answer says it in other words
};

// "keyword", "semantic", "temporal", "multi-hop", "negation", "person",
// "attachment", "reaction", "everyday", "reply", "when", "time",
// "askedfor", "topicword", "wording".
std::string toString(QueryCategory category);
// The category written exactly as one of those strings, or absent.
std::optional<QueryCategory> queryCategoryFromString(const std::string& text);
// Every category, in declaration order.
const std::vector<QueryCategory>& allQueryCategories();

// A file sent with a message: its kind as the person names it ("photo",
// "pdf", "voice message": attachmentKindName) and its file name.
struct CorpusAttachment {
    std::string kind;
    std::optional<std::string> name;

    friend bool operator==(const CorpusAttachment&, const CorpusAttachment&) = default;
};

// A reaction standing on a message: its kind as reactionKindName ("love",
// "like", "laugh", ...), who left it (a handle, or "me") and the emoji of an
// "emoji" reaction.
struct CorpusReaction {
    std::string kind;
    std::string sender;
    std::optional<std::string> emoji;

    friend bool operator==(const CorpusReaction&, const CorpusReaction&) = default;
};

struct CorpusMessage {
    std::string guid;
    std::string chatId;
    std::optional<std::string> chatName;
    std::string sender;
    std::string text;
    int64_t timestamp = 0; // in the unit of ShadowMessage::timestamp, never converted
    bool isFromMe = false;
    bool isGroup = false;
    // Optional ("attachments": [{"kind", "name"}]); written only when not
    // empty.
    std::vector<CorpusAttachment> attachments;
    // Optional ("reactions": [{"kind", "sender", "emoji"}]); written only
    // when not empty. Engines that keep reactions read them from the corpus.
    std::vector<CorpusReaction> reactions;
    // Optional ("thread_originator_guid"): the guid of the thread's first
    // message, for a reply made in a thread; written only when present.
    std::optional<std::string> threadOriginatorGuid;

    // The record the benchmark indexes: fields copied unchanged, the
    // attachments (shown, downloaded), the thread, and a source row id made
    // from a hash of the guid (stable within one process only).
    ShadowMessage toShadowMessage() const;

    static CorpusMessage fromJson(const nlohmann::ordered_json& json);
    nlohmann::ordered_json toJson() const;
    friend bool operator==(const CorpusMessage&, const CorpusMessage&) = default;
};

struct CorpusChat {
    std::string id;
    std::string name;
    bool isGroup = false;
    std::optional<std::vector<std::string>> participants;

    static CorpusChat fromJson(const nlohmann::ordered_json& json);
    nlohmann::ordered_json toJson() const;
    friend bool operator==(const CorpusChat&, const CorpusChat&) = default;
};

struct CorpusQuery {
    std::string id;
    // Handed to the full-text engine unchanged (an FTS5 MATCH expression).
    std::string text;
    QueryCategory category = QueryCategory::keyword;
    std::optional<std::string> description;
    // May be empty; duplicates are kept as written.
    std::vector<std::string> expectedGuids;
    // Carried, never used in scoring.
    std::optional<std::map<std::string, std::vector<std::string>>> expectedAtK;
    std::optional<std::string> notes;
    // The question as a person asks it ("what did Mom say about the boiler
    // last week?"), for engines that read questions; they read `text` when
    // it is absent.
    std::optional<std::string> question;
    // Set aside from tuning: written with "held_out": true, or an id that
    // starts "h-". Benchmarks report these queries apart from the others.
    bool heldOut = false;

    static CorpusQuery fromJson(const nlohmann::ordered_json& json);
    // Keys in the order id, text, category, description, notes,
    // expected_guids, expected_at_k, question, held_out (only when true).
    nlohmann::ordered_json toJson() const;
    friend bool operator==(const CorpusQuery&, const CorpusQuery&) = default;
};

// A person of the corpus's address book: the name shown, other names, and
// the handles (as messages' "sender" holds them) that are theirs.
struct CorpusContact {
    std::string name;
    std::vector<std::string> nicknames; // optional; written only when not empty
    std::vector<std::string> handles;

    static CorpusContact fromJson(const nlohmann::ordered_json& json);
    nlohmann::ordered_json toJson() const;
    friend bool operator==(const CorpusContact&, const CorpusContact&) = default;
};

// Messages made up to bury the corpus's own: `count` of them from `seed`.
struct CorpusDecoys {
    int64_t count = 0;
    int64_t seed = 0;

    friend bool operator==(const CorpusDecoys&, const CorpusDecoys&) = default;
};

struct BenchmarkCorpus {
    // Why a corpus could not be loaded; what() is the whole description.
    class Error : public std::exception {
    public:
        enum class Kind { readFailed, invalidJson, decodingFailed };
        Error(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
        Kind kind() const { return kind_; }
        const char* what() const noexcept override { return message_.c_str(); }

    private:
        Kind kind_;
        std::string message_;
    };

    std::string version;
    std::optional<std::string> description;
    std::vector<CorpusMessage> messages;
    std::optional<std::vector<CorpusChat>> chats;
    std::vector<CorpusQuery> queries;
    // Optional: the people behind the handles.
    std::optional<std::vector<CorpusContact>> contacts;
    // Optional: the moment the questions are asked (a store date, in the
    // unit of the messages' timestamps) and the person's time zone (an IANA
    // identifier, UTC when absent), for questions that name times.
    std::optional<int64_t> now;
    std::optional<std::string> zone;
    // Optional ("decoys": {"count", "seed"}).
    std::optional<CorpusDecoys> decoys;

    // This corpus with its decoys added after its own messages (unchanged
    // when it asks for none). The same count and seed always give the same
    // messages: from handles no contact or message of the corpus uses, in
    // chats of their own ("decoy-chat-N"), in the two years before `now` (or
    // before the newest message). Decoys of the last 60 days before that
    // moment speak of everyday things from a fixed vocabulary; older ones
    // also reuse words of the corpus's own messages. Pure.
    BenchmarkCorpus withDecoys() const;

    // Reads and decodes the file at `path`. Throws Error: readFailed (with the
    // system's reason), invalidJson (with the parser's), decodingFailed (with
    // the offending key).
    static BenchmarkCorpus load(const std::string& path);
    static BenchmarkCorpus fromJson(const nlohmann::ordered_json& json);
    nlohmann::ordered_json toJson() const;
    friend bool operator==(const BenchmarkCorpus&, const BenchmarkCorpus&) = default;
};

} // namespace orlune::core

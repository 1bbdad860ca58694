#include "benchmark/BenchmarkCorpus.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <set>
#include <sstream>

namespace orlune::core {

using Json = nlohmann::ordered_json;

namespace {

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw BenchmarkCorpus::Error(BenchmarkCorpus::Error::Kind::decodingFailed,
                                 "Invalid benchmark corpus: " + where + ": " + what);
}

std::string at(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
}

const Json& object(const Json& json, const std::string& where) {
    if (!json.is_object()) {
        fail(where.empty() ? "document" : where, "expected an object");
    }
    return json;
}

// The value of a required key; missing and null both fail.
const Json& required(const Json& json, const std::string& key, const std::string& where) {
    auto found = json.find(key);
    if (found == json.end() || found->is_null()) {
        fail(at(where, key), "required key is missing");
    }
    return *found;
}

// The value of an optional key, or null when missing or null.
const Json* optional(const Json& json, const std::string& key) {
    auto found = json.find(key);
    if (found == json.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

std::string asString(const Json& value, const std::string& where) {
    if (!value.is_string()) {
        fail(where, "expected a string");
    }
    return value.get<std::string>();
}

bool asBool(const Json& value, const std::string& where) {
    if (!value.is_boolean()) {
        fail(where, "expected true or false");
    }
    return value.get<bool>();
}

int64_t asInt64(const Json& value, const std::string& where) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<int64_t>();
    }
    if (value.is_number_unsigned()) {
        auto unsignedValue = value.get<uint64_t>();
        if (unsignedValue <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            return static_cast<int64_t>(unsignedValue);
        }
    }
    fail(where, "expected an integer that fits in 64 signed bits");
}

std::vector<std::string> asStrings(const Json& value, const std::string& where) {
    if (!value.is_array()) {
        fail(where, "expected an array of strings");
    }
    std::vector<std::string> strings;
    strings.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        strings.push_back(asString(value[i], where + "[" + std::to_string(i) + "]"));
    }
    return strings;
}

template <typename Record>
std::vector<Record> asRecords(const Json& value, const std::string& where,
                              Record (*decode)(const Json&, const std::string&)) {
    if (!value.is_array()) {
        fail(where, "expected an array");
    }
    std::vector<Record> records;
    records.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        records.push_back(decode(value[i], where + "[" + std::to_string(i) + "]"));
    }
    return records;
}

std::optional<std::string> optionalString(const Json& json, const std::string& key,
                                          const std::string& where) {
    const Json* value = optional(json, key);
    return value ? std::optional<std::string>(asString(*value, at(where, key))) : std::nullopt;
}

CorpusAttachment decodeAttachment(const Json& json, const std::string& where) {
    object(json, where);
    return CorpusAttachment{asString(required(json, "kind", where), at(where, "kind")),
                            optionalString(json, "name", where)};
}

CorpusReaction decodeReaction(const Json& json, const std::string& where) {
    object(json, where);
    return CorpusReaction{asString(required(json, "kind", where), at(where, "kind")),
                          asString(required(json, "sender", where), at(where, "sender")),
                          optionalString(json, "emoji", where)};
}

CorpusMessage decodeMessage(const Json& json, const std::string& where) {
    object(json, where);
    std::vector<CorpusAttachment> attachments;
    if (const Json* value = optional(json, "attachments")) {
        attachments =
            asRecords<CorpusAttachment>(*value, at(where, "attachments"), decodeAttachment);
    }
    std::vector<CorpusReaction> reactions;
    if (const Json* value = optional(json, "reactions")) {
        reactions = asRecords<CorpusReaction>(*value, at(where, "reactions"), decodeReaction);
    }
    return CorpusMessage{
        asString(required(json, "guid", where), at(where, "guid")),
        asString(required(json, "chat_id", where), at(where, "chat_id")),
        optionalString(json, "chat_name", where),
        asString(required(json, "sender", where), at(where, "sender")),
        asString(required(json, "text", where), at(where, "text")),
        asInt64(required(json, "timestamp", where), at(where, "timestamp")),
        asBool(required(json, "is_from_me", where), at(where, "is_from_me")),
        asBool(required(json, "is_group", where), at(where, "is_group")),
        std::move(attachments),
        std::move(reactions),
        optionalString(json, "thread_originator_guid", where),
    };
}

CorpusContact decodeContact(const Json& json, const std::string& where) {
    object(json, where);
    std::vector<std::string> nicknames;
    if (const Json* value = optional(json, "nicknames")) {
        nicknames = asStrings(*value, at(where, "nicknames"));
    }
    return CorpusContact{
        asString(required(json, "name", where), at(where, "name")),
        std::move(nicknames),
        asStrings(required(json, "handles", where), at(where, "handles")),
    };
}

CorpusDecoys decodeDecoys(const Json& json, const std::string& where) {
    object(json, where);
    CorpusDecoys decoys{asInt64(required(json, "count", where), at(where, "count")),
                        asInt64(required(json, "seed", where), at(where, "seed"))};
    if (decoys.count < 0) {
        fail(at(where, "count"), "expected a count of 0 or more");
    }
    return decoys;
}

CorpusChat decodeChat(const Json& json, const std::string& where) {
    object(json, where);
    std::optional<std::vector<std::string>> participants;
    if (const Json* value = optional(json, "participants")) {
        participants = asStrings(*value, at(where, "participants"));
    }
    return CorpusChat{
        asString(required(json, "id", where), at(where, "id")),
        asString(required(json, "name", where), at(where, "name")),
        asBool(required(json, "is_group", where), at(where, "is_group")),
        std::move(participants),
    };
}

CorpusQuery decodeQuery(const Json& json, const std::string& where) {
    object(json, where);
    std::string categoryText = asString(required(json, "category", where), at(where, "category"));
    auto category = queryCategoryFromString(categoryText);
    if (!category) {
        fail(at(where, "category"), "unknown category \"" + categoryText + "\"");
    }
    std::optional<std::map<std::string, std::vector<std::string>>> expectedAtK;
    if (const Json* value = optional(json, "expected_at_k")) {
        std::string place = at(where, "expected_at_k");
        if (!value->is_object()) {
            fail(place, "expected an object");
        }
        expectedAtK.emplace();
        for (const auto& [key, guids] : value->items()) {
            (*expectedAtK)[key] = asStrings(guids, at(place, key));
        }
    }
    std::string id = asString(required(json, "id", where), at(where, "id"));
    bool heldOut = id.starts_with("h-");
    if (const Json* value = optional(json, "held_out")) {
        heldOut = heldOut || asBool(*value, at(where, "held_out"));
    }
    return CorpusQuery{
        std::move(id),
        asString(required(json, "text", where), at(where, "text")),
        *category,
        optionalString(json, "description", where),
        asStrings(required(json, "expected_guids", where), at(where, "expected_guids")),
        std::move(expectedAtK),
        optionalString(json, "notes", where),
        optionalString(json, "question", where),
        heldOut,
    };
}

Json stringsToJson(const std::vector<std::string>& strings) {
    Json array = Json::array();
    for (const auto& s : strings) {
        array.push_back(s);
    }
    return array;
}

} // namespace

std::string toString(QueryCategory category) {
    switch (category) {
    case QueryCategory::keyword:
        return "keyword";
    case QueryCategory::semantic:
        return "semantic";
    case QueryCategory::temporal:
        return "temporal";
    case QueryCategory::multiHop:
        return "multi-hop";
    case QueryCategory::negation:
        return "negation";
    case QueryCategory::person:
        return "person";
    case QueryCategory::attachment:
        return "attachment";
    case QueryCategory::reaction:
        return "reaction";
    case QueryCategory::everyday:
        return "everyday";
    case QueryCategory::reply:
        return "reply";
    case QueryCategory::when:
        return "when";
    case QueryCategory::time:
        return "time";
    case QueryCategory::askedFor:
        return "askedfor";
    case QueryCategory::topicWord:
        return "topicword";
    case QueryCategory::wording:
        return "wording";
    }
    return "keyword";
}

const std::vector<QueryCategory>& allQueryCategories() {
    static const std::vector<QueryCategory> all = {
        QueryCategory::keyword,    QueryCategory::semantic,  QueryCategory::temporal,
        QueryCategory::multiHop,   QueryCategory::negation,  QueryCategory::person,
        QueryCategory::attachment, QueryCategory::reaction,  QueryCategory::everyday,
        QueryCategory::reply,      QueryCategory::when,      QueryCategory::time,
        QueryCategory::askedFor,   QueryCategory::topicWord, QueryCategory::wording};
    return all;
}

std::optional<QueryCategory> queryCategoryFromString(const std::string& text) {
    for (QueryCategory category : allQueryCategories()) {
        if (toString(category) == text) {
            return category;
        }
    }
    return std::nullopt;
}

ShadowMessage CorpusMessage::toShadowMessage() const {
    auto hash = static_cast<int64_t>(std::hash<std::string>{}(guid));
    int64_t rowid = hash == std::numeric_limits<int64_t>::min()
                        ? std::numeric_limits<int64_t>::max()
                        : (hash < 0 ? -hash : hash);
    ShadowMessage message = ShadowMessage(guid, chatId, chatName, sender, text, timestamp, isFromMe,
                                          isGroup, false, {}, rowid)
                                .inThreadOf(threadOriginatorGuid);
    if (attachments.empty()) {
        return message;
    }
    std::vector<ShadowAttachment> files;
    for (size_t i = 0; i < attachments.size(); ++i) {
        ShadowAttachment file;
        file.guid = guid + "-attachment-" + std::to_string(i);
        file.kind = attachments[i].kind;
        file.name = attachments[i].name;
        file.downloaded = true;
        files.push_back(std::move(file));
    }
    return std::move(message).withDetails(std::move(files), std::nullopt);
}

CorpusMessage CorpusMessage::fromJson(const Json& json) {
    return decodeMessage(json, "message");
}

Json CorpusMessage::toJson() const {
    Json json = Json::object();
    json["guid"] = guid;
    json["chat_id"] = chatId;
    if (chatName) {
        json["chat_name"] = *chatName;
    }
    json["sender"] = sender;
    json["text"] = text;
    json["timestamp"] = timestamp;
    json["is_from_me"] = isFromMe;
    json["is_group"] = isGroup;
    if (!attachments.empty()) {
        Json files = Json::array();
        for (const auto& attachment : attachments) {
            Json file = {{"kind", attachment.kind}};
            if (attachment.name) {
                file["name"] = *attachment.name;
            }
            files.push_back(std::move(file));
        }
        json["attachments"] = std::move(files);
    }
    if (!reactions.empty()) {
        Json marks = Json::array();
        for (const auto& reaction : reactions) {
            Json mark = {{"kind", reaction.kind}, {"sender", reaction.sender}};
            if (reaction.emoji) {
                mark["emoji"] = *reaction.emoji;
            }
            marks.push_back(std::move(mark));
        }
        json["reactions"] = std::move(marks);
    }
    if (threadOriginatorGuid) {
        json["thread_originator_guid"] = *threadOriginatorGuid;
    }
    return json;
}

CorpusContact CorpusContact::fromJson(const Json& json) {
    return decodeContact(json, "contact");
}

Json CorpusContact::toJson() const {
    Json json = Json::object();
    json["name"] = name;
    if (!nicknames.empty()) {
        json["nicknames"] = stringsToJson(nicknames);
    }
    json["handles"] = stringsToJson(handles);
    return json;
}

CorpusChat CorpusChat::fromJson(const Json& json) {
    return decodeChat(json, "chat");
}

Json CorpusChat::toJson() const {
    Json json = Json::object();
    json["id"] = id;
    json["name"] = name;
    json["is_group"] = isGroup;
    if (participants) {
        json["participants"] = stringsToJson(*participants);
    }
    return json;
}

CorpusQuery CorpusQuery::fromJson(const Json& json) {
    return decodeQuery(json, "query");
}

Json CorpusQuery::toJson() const {
    Json json = Json::object();
    json["id"] = id;
    json["text"] = text;
    json["category"] = toString(category);
    if (description) {
        json["description"] = *description;
    }
    if (notes) {
        json["notes"] = *notes;
    }
    json["expected_guids"] = stringsToJson(expectedGuids);
    if (expectedAtK) {
        Json atK = Json::object();
        for (const auto& [key, guids] : *expectedAtK) {
            atK[key] = stringsToJson(guids);
        }
        json["expected_at_k"] = std::move(atK);
    }
    if (question) {
        json["question"] = *question;
    }
    if (heldOut) {
        json["held_out"] = true;
    }
    return json;
}

BenchmarkCorpus BenchmarkCorpus::fromJson(const Json& json) {
    object(json, "");
    std::optional<std::vector<CorpusChat>> chats;
    if (const Json* value = optional(json, "chats")) {
        chats = asRecords<CorpusChat>(*value, "chats", decodeChat);
    }
    std::optional<std::vector<CorpusContact>> contacts;
    if (const Json* value = optional(json, "contacts")) {
        contacts = asRecords<CorpusContact>(*value, "contacts", decodeContact);
    }
    std::optional<int64_t> now;
    if (const Json* value = optional(json, "now")) {
        now = asInt64(*value, "now");
    }
    std::optional<CorpusDecoys> decoys;
    if (const Json* value = optional(json, "decoys")) {
        decoys = decodeDecoys(*value, "decoys");
    }
    return BenchmarkCorpus{
        asString(required(json, "version", ""), "version"),
        optionalString(json, "description", ""),
        asRecords<CorpusMessage>(required(json, "messages", ""), "messages", decodeMessage),
        std::move(chats),
        asRecords<CorpusQuery>(required(json, "queries", ""), "queries", decodeQuery),
        std::move(contacts),
        now,
        optionalString(json, "zone", ""),
        decoys,
    };
}

Json BenchmarkCorpus::toJson() const {
    Json json = Json::object();
    json["version"] = version;
    if (description) {
        json["description"] = *description;
    }
    Json messageArray = Json::array();
    for (const auto& message : messages) {
        messageArray.push_back(message.toJson());
    }
    json["messages"] = std::move(messageArray);
    if (chats) {
        Json chatArray = Json::array();
        for (const auto& chat : *chats) {
            chatArray.push_back(chat.toJson());
        }
        json["chats"] = std::move(chatArray);
    }
    Json queryArray = Json::array();
    for (const auto& query : queries) {
        queryArray.push_back(query.toJson());
    }
    json["queries"] = std::move(queryArray);
    if (contacts) {
        Json contactArray = Json::array();
        for (const auto& contact : *contacts) {
            contactArray.push_back(contact.toJson());
        }
        json["contacts"] = std::move(contactArray);
    }
    if (now) {
        json["now"] = *now;
    }
    if (zone) {
        json["zone"] = *zone;
    }
    if (decoys) {
        json["decoys"] = {{"count", decoys->count}, {"seed", decoys->seed}};
    }
    return json;
}

namespace {

// SplitMix64: the same seed gives the same numbers on every platform.
class DecoyRandom {
public:
    explicit DecoyRandom(int64_t seed) : state_(static_cast<uint64_t>(seed)) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    size_t below(size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(next() % bound); }

private:
    uint64_t state_;
};

// Everyday talk of strangers, away from what a corpus asks about.
constexpr const char* kDecoySubjects[] = {
    "the bus",        "the weather", "my laptop",   "the game",      "that film",
    "the traffic",    "the gym",     "the podcast", "the allotment", "the printer",
    "the neighbours", "the kettle",  "the cat",     "the playlist",  "the new phone",
    "the quiz",       "the bike",    "the heating", "the crossword", "the train"};
constexpr const char* kDecoyPredicates[] = {
    "was great",         "is running late", "looks odd today", "needs fixing",  "made me laugh",
    "is on again",       "was packed",      "got cancelled",   "is sorted now", "was fine",
    "is driving me mad", "was a bit much",  "keeps crashing",  "was brilliant", "is back"};
constexpr const char* kDecoyTails[] = {"",      " honestly", " again",   " this morning",
                                       " lol",  " as usual", " I think", "!",
                                       " haha", " tbh",      "?",        " for once"};
constexpr int64_t kDecoyHandles = 400;
constexpr int64_t kDecoyDays = 730;
constexpr int64_t kRecentDecoyDays = 60;

// A run of 2 to 4 words of `text`, or "" when it has fewer than 2.
std::string wordsOf(const std::string& text, DecoyRandom& random) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    if (words.size() < 2) {
        return "";
    }
    const size_t length = std::min(words.size(), 2 + random.below(3));
    const size_t start = random.below(words.size() - length + 1);
    std::string run;
    for (size_t i = start; i < start + length; ++i) {
        run += (run.empty() ? "" : " ") + words[i];
    }
    return run;
}

} // namespace

BenchmarkCorpus BenchmarkCorpus::withDecoys() const {
    BenchmarkCorpus corpus = *this;
    if (!decoys || decoys->count == 0) {
        return corpus;
    }
    std::set<std::string> used;
    int64_t newest = 0;
    for (const auto& message : messages) {
        used.insert(message.sender);
        used.insert(message.chatId);
        newest = std::max(newest, message.timestamp);
    }
    for (const auto& contact : contacts.value_or(std::vector<CorpusContact>{})) {
        used.insert(contact.handles.begin(), contact.handles.end());
    }
    const int64_t reference = now.value_or(newest);
    // Store dates count nanoseconds; very old stores count seconds.
    const int64_t second = reference > 100'000'000'000'000LL ? 1'000'000'000LL : 1;
    const int64_t day = 86'400 * second;

    std::vector<std::string> handles;
    for (int64_t i = 0; static_cast<int64_t>(handles.size()) < kDecoyHandles; ++i) {
        char handle[32];
        std::snprintf(handle, sizeof handle, "+1555077%04lld", static_cast<long long>(i));
        if (used.count(handle) == 0) {
            handles.emplace_back(handle);
        }
    }

    DecoyRandom random(decoys->seed);
    corpus.messages.reserve(messages.size() + static_cast<size_t>(decoys->count));
    for (int64_t i = 0; i < decoys->count; ++i) {
        const size_t person = random.below(handles.size());
        const bool fromMe = random.below(5) == 0;
        const auto age =
            static_cast<int64_t>(random.below(static_cast<size_t>(kDecoyDays * 86'400))) * second;
        std::string text = std::string(kDecoySubjects[random.below(std::size(kDecoySubjects))]) +
                           " " + kDecoyPredicates[random.below(std::size(kDecoyPredicates))] +
                           kDecoyTails[random.below(std::size(kDecoyTails))];
        if (age >= kRecentDecoyDays * day && !messages.empty()) {
            const std::string borrowed =
                wordsOf(messages[random.below(messages.size())].text, random);
            if (!borrowed.empty()) {
                text += ", " + borrowed;
            }
        }
        CorpusMessage decoy;
        decoy.guid = "decoy-" + std::to_string(i);
        decoy.chatId = "decoy-chat-" + std::to_string(person);
        decoy.sender = fromMe ? "me" : handles[person];
        decoy.text = std::move(text);
        decoy.timestamp = reference - age;
        decoy.isFromMe = fromMe;
        corpus.messages.push_back(std::move(decoy));
    }
    return corpus;
}

BenchmarkCorpus BenchmarkCorpus::load(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        throw Error(Error::Kind::readFailed,
                    "Cannot read benchmark corpus " + path + ": " + std::strerror(EISDIR));
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Error(Error::Kind::readFailed,
                    "Cannot read benchmark corpus " + path + ": " + std::strerror(errno));
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        throw Error(Error::Kind::readFailed,
                    "Cannot read benchmark corpus " + path + ": " + std::strerror(errno));
    }
    Json json;
    try {
        json = Json::parse(buffer.str());
    } catch (const Json::parse_error& error) {
        throw Error(Error::Kind::invalidJson,
                    "Benchmark corpus " + path + " is not valid JSON: " + error.what());
    }
    return fromJson(json);
}

} // namespace orlune::core

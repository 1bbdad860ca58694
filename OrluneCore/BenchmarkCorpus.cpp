#include "OrluneCore/BenchmarkCorpus.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
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

CorpusMessage decodeMessage(const Json& json, const std::string& where) {
    object(json, where);
    return CorpusMessage{
        asString(required(json, "guid", where), at(where, "guid")),
        asString(required(json, "chat_id", where), at(where, "chat_id")),
        optionalString(json, "chat_name", where),
        asString(required(json, "sender", where), at(where, "sender")),
        asString(required(json, "text", where), at(where, "text")),
        asInt64(required(json, "timestamp", where), at(where, "timestamp")),
        asBool(required(json, "is_from_me", where), at(where, "is_from_me")),
        asBool(required(json, "is_group", where), at(where, "is_group")),
    };
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
    return CorpusQuery{
        asString(required(json, "id", where), at(where, "id")),
        asString(required(json, "text", where), at(where, "text")),
        *category,
        optionalString(json, "description", where),
        asStrings(required(json, "expected_guids", where), at(where, "expected_guids")),
        std::move(expectedAtK),
        optionalString(json, "notes", where),
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
    }
    return "keyword";
}

const std::vector<QueryCategory>& allQueryCategories() {
    static const std::vector<QueryCategory> all = {QueryCategory::keyword, QueryCategory::semantic,
                                                   QueryCategory::temporal, QueryCategory::multiHop,
                                                   QueryCategory::negation};
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
    int64_t rowid = hash == std::numeric_limits<int64_t>::min() ? std::numeric_limits<int64_t>::max()
                                                                : (hash < 0 ? -hash : hash);
    return ShadowMessage(guid, chatId, chatName, sender, text, timestamp, isFromMe, isGroup, false,
                         {}, rowid);
}

CorpusMessage CorpusMessage::fromJson(const Json& json) { return decodeMessage(json, "message"); }

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
    return json;
}

CorpusChat CorpusChat::fromJson(const Json& json) { return decodeChat(json, "chat"); }

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

CorpusQuery CorpusQuery::fromJson(const Json& json) { return decodeQuery(json, "query"); }

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
    return json;
}

BenchmarkCorpus BenchmarkCorpus::fromJson(const Json& json) {
    object(json, "");
    std::optional<std::vector<CorpusChat>> chats;
    if (const Json* value = optional(json, "chats")) {
        chats = asRecords<CorpusChat>(*value, "chats", decodeChat);
    }
    return BenchmarkCorpus{
        asString(required(json, "version", ""), "version"),
        optionalString(json, "description", ""),
        asRecords<CorpusMessage>(required(json, "messages", ""), "messages", decodeMessage),
        std::move(chats),
        asRecords<CorpusQuery>(required(json, "queries", ""), "queries", decodeQuery),
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
    return json;
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

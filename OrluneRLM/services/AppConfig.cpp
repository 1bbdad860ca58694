#include "services/AppConfig.hpp"

#include "services/JsonErrorText.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace orlune::rlm {

namespace {

constexpr const char* kApiKeyKey = "veyrlinkApiKey";
constexpr const char* kAddressKey = "modelServerAddress";
constexpr const char* kModelKey = "modelName";
constexpr const char* kEmbeddingModelKey = "embeddingModel";
constexpr const char* kContactsFilesKey = "contactsFiles";
constexpr const char* kMcpPrivacyKey = "mcpPrivacy";
constexpr const char* kServerWithoutKeyKey = "serverWithoutKey";
constexpr const char* kChatStorePathKey = "chatStorePath";
constexpr const char* kExcludedChatsKey = "excludedChats";
constexpr const char* kChatIdKey = "chatId";
constexpr const char* kTitleKey = "title";

std::optional<std::string> optionalString(const nlohmann::json& document, const char* key) {
    const auto found = document.find(key);
    if (found == document.end() || found->is_null()) {
        return std::nullopt;
    }
    if (!found->is_string()) {
        throw std::invalid_argument(std::string("\"") + key + "\" is not a string");
    }
    return found->get<std::string>();
}

std::vector<std::string> stringList(const nlohmann::json& document, const char* key) {
    const auto found = document.find(key);
    if (found == document.end() || found->is_null()) {
        return {};
    }
    if (!found->is_array()) {
        throw std::invalid_argument(std::string("\"") + key + "\" is not a list");
    }
    std::vector<std::string> values;
    for (const nlohmann::json& value : *found) {
        if (!value.is_string()) {
            throw std::invalid_argument(std::string("\"") + key +
                                        "\" holds a value that is not a string");
        }
        values.push_back(value.get<std::string>());
    }
    return values;
}

std::vector<ExcludedChat> excludedChatList(const nlohmann::json& document) {
    const auto found = document.find(kExcludedChatsKey);
    if (found == document.end() || found->is_null()) {
        return {};
    }
    const std::string where = std::string("\"") + kExcludedChatsKey + "\"";
    if (!found->is_array()) {
        throw std::invalid_argument(where + " is not a list");
    }
    AppConfig chats;
    for (const nlohmann::json& entry : *found) {
        if (!entry.is_object()) {
            throw std::invalid_argument(where + " holds a value that is not an object");
        }
        const auto id = entry.find(kChatIdKey);
        if (id == entry.end() || !id->is_string() || id->get<std::string>().empty()) {
            throw std::invalid_argument(where + " holds a chat without a \"chatId\" text");
        }
        const std::optional<std::string> title = optionalString(entry, kTitleKey);
        chats.excludeChat(id->get<std::string>(), title);
    }
    return chats.excludedChats;
}

} // namespace

std::set<std::string> AppConfig::excludedChatIds() const {
    std::set<std::string> ids;
    for (const ExcludedChat& chat : excludedChats) {
        ids.insert(chat.chatId);
    }
    return ids;
}

bool AppConfig::excludeChat(const std::string& chatId, const std::optional<std::string>& title) {
    for (ExcludedChat& chat : excludedChats) {
        if (chat.chatId == chatId) {
            if (title) {
                chat.title = title;
            }
            return false;
        }
    }
    excludedChats.push_back(ExcludedChat{chatId, title});
    return true;
}

bool AppConfig::includeChat(const std::string& chatId) {
    return std::erase_if(excludedChats,
                         [&](const ExcludedChat& chat) { return chat.chatId == chatId; }) > 0;
}

std::string AppConfig::toJSON() const {
    nlohmann::ordered_json document = nlohmann::ordered_json::object();
    if (veyrlinkApiKey) {
        document[kApiKeyKey] = *veyrlinkApiKey;
    }
    if (modelServerAddress) {
        document[kAddressKey] = *modelServerAddress;
    }
    if (modelName) {
        document[kModelKey] = *modelName;
    }
    if (embeddingModel) {
        document[kEmbeddingModelKey] = *embeddingModel;
    }
    if (!contactsFiles.empty()) {
        document[kContactsFilesKey] = contactsFiles;
    }
    if (mcpPrivacy) {
        document[kMcpPrivacyKey] = *mcpPrivacy;
    }
    if (serverWithoutKey) {
        document[kServerWithoutKeyKey] = *serverWithoutKey;
    }
    if (chatStorePath) {
        document[kChatStorePathKey] = *chatStorePath;
    }
    if (!excludedChats.empty()) {
        nlohmann::ordered_json chats = nlohmann::ordered_json::array();
        for (const ExcludedChat& chat : excludedChats) {
            nlohmann::ordered_json entry = {{kChatIdKey, chat.chatId}};
            if (chat.title) {
                entry[kTitleKey] = *chat.title;
            }
            chats.push_back(std::move(entry));
        }
        document[kExcludedChatsKey] = std::move(chats);
    }
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

AppConfig AppConfig::fromJSON(const std::string& text) {
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& error) {
        throw std::invalid_argument(describeJsonParseError(error));
    }
    if (!document.is_object()) {
        throw std::invalid_argument("the configuration is not a JSON object");
    }
    AppConfig config;
    config.veyrlinkApiKey = optionalString(document, kApiKeyKey);
    config.modelServerAddress = optionalString(document, kAddressKey);
    config.modelName = optionalString(document, kModelKey);
    config.embeddingModel = optionalString(document, kEmbeddingModelKey);
    config.contactsFiles = stringList(document, kContactsFilesKey);
    config.mcpPrivacy = optionalString(document, kMcpPrivacyKey);
    config.serverWithoutKey = optionalString(document, kServerWithoutKeyKey);
    config.chatStorePath = optionalString(document, kChatStorePathKey);
    config.excludedChats = excludedChatList(document);
    return config;
}

} // namespace orlune::rlm

#include "services/AppConfig.hpp"

#include "services/JsonErrorText.hpp"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace orlune::rlm {

namespace {

constexpr const char* kApiKeyKey = "veyrlinkApiKey";
constexpr const char* kAddressKey = "modelServerAddress";
constexpr const char* kModelKey = "modelName";
constexpr const char* kContactsFilesKey = "contactsFiles";
constexpr const char* kMcpPrivacyKey = "mcpPrivacy";
constexpr const char* kServerWithoutKeyKey = "serverWithoutKey";
constexpr const char* kChatStorePathKey = "chatStorePath";

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

} // namespace

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
    config.contactsFiles = stringList(document, kContactsFilesKey);
    config.mcpPrivacy = optionalString(document, kMcpPrivacyKey);
    config.serverWithoutKey = optionalString(document, kServerWithoutKeyKey);
    config.chatStorePath = optionalString(document, kChatStorePathKey);
    return config;
}

} // namespace orlune::rlm

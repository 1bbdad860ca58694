#include "OrluneRLM/AppConfig.hpp"

#include "OrluneRLM/JsonErrorText.hpp"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace orlune::rlm {

namespace {
constexpr const char* kApiKeyKey = "veyrlinkApiKey";
}

std::string AppConfig::toJSON() const {
    nlohmann::ordered_json document = nlohmann::ordered_json::object();
    if (veyrlinkApiKey) {
        document[kApiKeyKey] = *veyrlinkApiKey;
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
    const auto key = document.find(kApiKeyKey);
    if (key != document.end() && !key->is_null()) {
        if (!key->is_string()) {
            throw std::invalid_argument(std::string("\"") + kApiKeyKey + "\" is not a string");
        }
        config.veyrlinkApiKey = key->get<std::string>();
    }
    return config;
}

} // namespace orlune::rlm

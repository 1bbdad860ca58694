#include "helper/HelperRequest.hpp"

#include "answer/QuestionLength.hpp"
#include "helper/HelperError.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace orlune::helper {

namespace {

using nlohmann::json;

HelperError invalid(const std::string& message) {
    return HelperError(HelperError::Kind::invalidRequest, message);
}

// The value of `key`, or null when missing (null and missing are the same).
const json& member(const json& object, const char* key) {
    static const json null;
    auto it = object.find(key);
    return it == object.end() ? null : *it;
}

std::optional<std::string> optionalString(const json& object, const char* key) {
    const json& value = member(object, key);
    if (value.is_null()) {
        return std::nullopt;
    }
    if (!value.is_string()) {
        throw invalid(std::string("The request's \"") + key + "\" must be a string.");
    }
    return value.get<std::string>();
}

std::optional<std::string> nonBlank(const std::optional<std::string>& text) {
    if (!text) {
        return std::nullopt;
    }
    std::string value = trimmed(*text);
    if (value.empty()) {
        return std::nullopt;
    }
    return value;
}

int limitValue(const json& object, const char* key, int fallback, int minimum, int ceiling) {
    const json& value = member(object, key);
    if (value.is_null()) {
        return fallback;
    }
    if (!value.is_number_integer()) {
        throw invalid(std::string("The request's \"") + key + "\" must be a whole number.");
    }
    auto number = value.get<int64_t>();
    if (number < minimum) {
        throw invalid(std::string("The request's \"") + key + "\" must be at least " +
                      std::to_string(minimum) + ".");
    }
    return static_cast<int>(std::min<int64_t>(number, ceiling));
}

// A true-or-false member; false when absent.
bool optionalFlag(const json& object, const char* key) {
    const json& value = member(object, key);
    if (value.is_null()) {
        return false;
    }
    if (!value.is_boolean()) {
        throw invalid(std::string("The request's \"") + key + "\" must be true or false.");
    }
    return value.get<bool>();
}

} // namespace

std::string trimmed(std::string_view text) {
    auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && isSpace(text[end - 1])) {
        --end;
    }
    return std::string(text.substr(begin, end - begin));
}

HelperRequest HelperRequest::parse(std::string_view document) {
    json root = json::parse(document.begin(), document.end(), nullptr, false);
    if (root.is_discarded()) {
        throw invalid("The request is not valid JSON.");
    }
    if (!root.is_object()) {
        throw invalid("The request must be a JSON object.");
    }

    HelperRequest request;
    request.apiKey = nonBlank(optionalString(root, "api_key"));
    if (request.apiKey && std::any_of(request.apiKey->begin(), request.apiKey->end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
        })) {
        // It goes into an HTTP header, where a line break would start another.
        throw invalid("The API key contains control characters; enter it again.");
    }

    auto question = nonBlank(optionalString(root, "question"));
    if (!question) {
        throw invalid("The request has no question.");
    }
    if (auto problem = core::questionLengthProblem(*question)) {
        throw invalid(*problem);
    }
    request.question = *question;

    request.dbPath = optionalString(root, "db_path");
    if (request.dbPath && request.dbPath->empty()) {
        throw invalid("The request's \"db_path\" is empty.");
    }

    request.model = nonBlank(optionalString(root, "model"));
    request.baseUrl = nonBlank(optionalString(root, "base_url"));
    request.maxDepth = limitValue(root, "max_depth", kDefaultMaxDepth, 0, kMaxDepthCeiling);
    request.maxCalls = limitValue(root, "max_calls", kDefaultMaxCalls, 1, kMaxCallsCeiling);

    request.verbose = optionalFlag(root, "verbose");
    request.indexOnly = optionalFlag(root, "index_only");

    const json& turns = member(root, "conversation_messages");
    if (!turns.is_null()) {
        if (!turns.is_array()) {
            throw invalid("The request's \"conversation_messages\" must be a list.");
        }
        for (const json& turn : turns) {
            if (!turn.is_object() || !member(turn, "role").is_string() ||
                !member(turn, "text").is_string()) {
                throw invalid("Each earlier turn needs a \"role\" and a \"text\".");
            }
            request.conversation.push_back(
                {turn.at("role").get<std::string>(), turn.at("text").get<std::string>()});
        }
    }

    request.summary = nonBlank(optionalString(root, "conversation_summary"));
    return request;
}

} // namespace orlune::helper

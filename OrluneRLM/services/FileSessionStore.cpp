#include "services/FileSessionStore.hpp"

#include "base/Environment.hpp"
#include "services/FileError.hpp"
#include "services/JsonErrorText.hpp"
#include "services/PrivateFiles.hpp"
#include "services/UnreadableSessionsError.hpp"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string_view>

namespace orlune::rlm {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw std::invalid_argument(where + ": " + what);
}

const Json& required(const Json& object, const char* key, const std::string& where) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        fail(where, std::string("missing key \"") + key + "\"");
    }
    return *found;
}

std::string requiredString(const Json& object, const char* key, const std::string& where) {
    const Json& value = required(object, key, where);
    if (!value.is_string()) {
        fail(where, std::string("\"") + key + "\" is not a string");
    }
    return value.get<std::string>();
}

ChatDate requiredDate(const Json& object, const char* key, const std::string& where) {
    const Json& value = required(object, key, where);
    if (!value.is_number()) {
        fail(where, std::string("\"") + key + "\" is not a number");
    }
    return ChatDate{value.get<double>()};
}

std::int64_t requiredInteger(const Json& object, const char* key, const std::string& where) {
    const Json& value = required(object, key, where);
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() <=
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return static_cast<std::int64_t>(value.get<std::uint64_t>());
    }
    // A whole number written with a fraction (3.0) is still that integer.
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (std::isfinite(number) && std::trunc(number) == number && std::fabs(number) < 9.0e18) {
            return static_cast<std::int64_t>(number);
        }
    }
    fail(where, std::string("\"") + key + "\" is not an integer");
}

// Canonical 8-4-4-4-12 hexadecimal text, either case, nothing else.
QUuid parseUuid(const std::string& text, const std::string& where) {
    bool wellFormed = text.size() == 36;
    for (size_t i = 0; wellFormed && i < text.size(); ++i) {
        const bool dashPosition = i == 8 || i == 13 || i == 18 || i == 23;
        wellFormed =
            dashPosition ? text[i] == '-' : std::isxdigit(static_cast<unsigned char>(text[i])) != 0;
    }
    const QUuid uuid =
        wellFormed ? QUuid::fromString(QString::fromLatin1(text.data(), 36)) : QUuid();
    if (!wellFormed || (uuid.isNull() && text != "00000000-0000-0000-0000-000000000000")) {
        fail(where, "\"id\" is not a UUID: " + text);
    }
    return uuid;
}

// How an answer from the index alone began in files written before answers
// recorded who wrote them; only such files are read with it.
constexpr std::string_view kOlderIndexAnswerStart = "Answer from your messages (no model used:";

ChatMessage decodeMessage(const Json& object, const std::string& where) {
    if (!object.is_object()) {
        fail(where, "not an object");
    }
    ChatMessage message;
    message.id = parseUuid(requiredString(object, "id", where), where);
    const std::string role = requiredString(object, "role", where);
    const auto parsedRole = chatRoleFromRawValue(role);
    if (!parsedRole) {
        fail(where, "unknown role \"" + role + "\"");
    }
    message.role = *parsedRole;
    message.text = requiredString(object, "text", where);
    message.timestamp = requiredDate(object, "timestamp", where);
    // Optional: files written before answers cited messages have none.
    if (const auto cited = object.find("messages"); cited != object.end()) {
        message.citations = CitedMessage::listFromJson(*cited);
    }
    // Optional: who wrote an answer, as the helper said ("model": its name,
    // or null for the index alone).
    if (const auto model = object.find("model"); model != object.end()) {
        if (model->is_null()) {
            message.source = AnswerSource::index;
        } else if (model->is_string()) {
            message.source = AnswerSource::model;
            message.model = model->get<std::string>();
        } else {
            fail(where, "\"model\" is not a string or null");
        }
    } else if (message.role == ChatRole::assistant &&
               message.text.starts_with(kOlderIndexAnswerStart)) {
        message.source = AnswerSource::index;
    }
    return message;
}

ChatSession decodeSession(const Json& object, const std::string& where) {
    if (!object.is_object()) {
        fail(where, "not an object");
    }
    ChatSession session;
    session.id = requiredString(object, "id", where);
    session.createdAt = requiredDate(object, "createdAt", where);
    session.lastMessageAt = requiredDate(object, "lastMessageAt", where);
    session.title = requiredString(object, "title", where);
    session.messageCount = requiredInteger(object, "messageCount", where);
    const Json& messages = required(object, "messages", where);
    if (!messages.is_array()) {
        fail(where, "\"messages\" is not an array");
    }
    session.messages.reserve(messages.size());
    for (size_t i = 0; i < messages.size(); ++i) {
        session.messages.push_back(
            decodeMessage(messages[i], where + " message " + std::to_string(i)));
    }
    const auto summary = object.find("summary");
    if (summary != object.end() && !summary->is_null()) {
        if (!summary->is_string()) {
            fail(where, "\"summary\" is not a string");
        }
        session.summary = summary->get<std::string>();
    }
    return session;
}

} // namespace

FileSessionStore::FileSessionStore(std::string filePath, StructuredLogger logger)
    : filePath_(std::move(filePath)), logger_(std::move(logger)) {}

std::string FileSessionStore::defaultSessionsURL() {
    return core::joinPath(core::joinPath(PrivateFiles::dataFolder(), "Orlune"), "sessions.json");
}

std::string FileSessionStore::encode(const std::vector<ChatSession>& sessions) {
    OrderedJson array = OrderedJson::array();
    for (const ChatSession& session : sessions) {
        OrderedJson messages = OrderedJson::array();
        for (const ChatMessage& message : session.messages) {
            OrderedJson item = OrderedJson::object();
            item["id"] = message.idText();
            item["role"] = toRawValue(message.role);
            item["text"] = message.text;
            item["timestamp"] = message.timestamp.secondsSinceReferenceDate;
            if (!message.citations.empty()) {
                item["messages"] = CitedMessage::listToJson(message.citations);
            }
            if (message.source == AnswerSource::model) {
                item["model"] = message.model.value_or("");
            } else if (message.source == AnswerSource::index) {
                item["model"] = nullptr;
            }
            messages.push_back(std::move(item));
        }
        OrderedJson object = OrderedJson::object();
        object["id"] = session.id;
        object["createdAt"] = session.createdAt.secondsSinceReferenceDate;
        object["lastMessageAt"] = session.lastMessageAt.secondsSinceReferenceDate;
        object["title"] = session.title;
        object["messageCount"] = session.messageCount;
        object["messages"] = std::move(messages);
        if (session.summary) {
            object["summary"] = *session.summary;
        }
        array.push_back(std::move(object));
    }
    // Text that is not UTF-8 cannot be stored as JSON; it is written with U+FFFD.
    return array.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<ChatSession> FileSessionStore::decode(const std::string& text) {
    Json document;
    try {
        document = Json::parse(text);
    } catch (const Json::parse_error& error) {
        throw std::invalid_argument(describeJsonParseError(error));
    }
    if (!document.is_array()) {
        throw std::invalid_argument("the sessions file does not hold a JSON array");
    }
    std::vector<ChatSession> sessions;
    sessions.reserve(document.size());
    for (size_t i = 0; i < document.size(); ++i) {
        sessions.push_back(decodeSession(document[i], "session " + std::to_string(i)));
    }
    return sessions;
}

std::vector<ChatSession> FileSessionStore::load() const {
    if (!core::pathExists(filePath_)) {
        unreadableInPlace_ = false;
        return {};
    }
    try {
        const std::string text = PrivateFiles::read(filePath_);
        try {
            auto sessions = decode(text);
            unreadableInPlace_ = false;
            return sessions;
        } catch (const std::invalid_argument& error) {
            throw FileError(FileError::Kind::decode, filePath_, error.what());
        }
    } catch (const FileError& error) {
        // Whatever the caller saves next must not replace what could not be read.
        const std::string movedTo = setAside();
        unreadableInPlace_ = movedTo.empty();
        throw UnreadableSessionsError(error, movedTo);
    }
}

std::string FileSessionStore::setAsidePath(const std::string& filePath,
                                           std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);

    const size_t slash = filePath.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = filePath.find_last_of('.');
    if (dot == std::string::npos || dot <= nameStart) {
        dot = filePath.size();
    }
    const std::string stem = filePath.substr(0, dot) + ".unreadable-" + stamp;
    const std::string extension = filePath.substr(dot);
    std::string candidate = stem + extension;
    for (int n = 2; core::pathExists(candidate); ++n) {
        candidate = stem + "-" + std::to_string(n) + extension;
    }
    return candidate;
}

std::string FileSessionStore::setAside() const {
    const std::string target = setAsidePath(filePath_, std::chrono::system_clock::now());
    if (std::rename(filePath_.c_str(), target.c_str()) != 0) {
        return {};
    }
    return target;
}

void FileSessionStore::save(const std::vector<ChatSession>& sessions) const {
    if (unreadableInPlace_) {
        if (core::pathExists(filePath_) && setAside().empty()) {
            throw FileError(FileError::Kind::write, filePath_,
                            std::string("the unreadable file there could not be moved aside: ") +
                                std::strerror(errno));
        }
        unreadableInPlace_ = false;
    }
    PrivateFiles::preparePrivateFolder(PrivateFiles::folderOf(filePath_), logger_);
    PrivateFiles::writeAtomically(filePath_, encode(sessions), logger_);
}

} // namespace orlune::rlm

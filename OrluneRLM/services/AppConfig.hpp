#pragma once
// The configuration document: what the user enters in the settings.

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orlune::rlm {

// A chat the person left out of the copy: never copied, searched or shown
// (ShadowSync::setExcludedChats).
struct ExcludedChat {
    // The chat's id as the shadow database holds it (messages.chat_id).
    std::string chatId;
    // What it was called when it was left out, for the settings to show once
    // the copy no longer has it; absent when it was never copied.
    std::optional<std::string> title = std::nullopt;
    bool operator==(const ExcludedChat&) const = default;
};

struct AppConfig {
    // The Veyrlink gateway API key as entered (views trim it before saving);
    // absent when none is stored. Optional for a model server on this
    // machine.
    std::optional<std::string> veyrlinkApiKey;
    // The chat-completions address of the model server to use instead of the
    // Veyrlink gateway ("http://127.0.0.1:8080/v1"); absent: the gateway.
    std::optional<std::string> modelServerAddress = std::nullopt;
    // The model to ask for; absent: the helper's default model.
    std::optional<std::string> modelName = std::nullopt;
    // The model the model server embeds messages with (the semantic search);
    // absent: ModelServer::kDefaultEmbeddingModel.
    std::optional<std::string> embeddingModel = std::nullopt;
    // vCard files of the person's contacts, read with the address books at
    // every sync (the app's and `orlune sync`'s), in this order; a file that
    // cannot be read is skipped with a warning.
    std::vector<std::string> contactsFiles = {};
    // What `orlune mcp` may show an assistant: "full" (message texts too)
    // or "metadata" (names, times and counts only); absent: "full".
    std::optional<std::string> mcpPrivacy = std::nullopt;
    // The model server address for which the person chose "Continue without
    // a key": the key setup is not shown again for it (another address asks
    // again). Absent: no such choice.
    std::optional<std::string> serverWithoutKey = std::nullopt;
    // The messaging store the person chose ("Choose…" when none was found);
    // absent: CHAT_DB_PATH, else the system's own.
    std::optional<std::string> chatStorePath = std::nullopt;
    // The chats left out, in the order they were left out, each once.
    std::vector<ExcludedChat> excludedChats = {};

    // The ids of excludedChats.
    std::set<std::string> excludedChatIds() const;
    // Leaves the chat out (its title replaced when given again); returns
    // whether it was not left out before.
    bool excludeChat(const std::string& chatId, const std::optional<std::string>& title);
    // Takes the chat back in; returns whether it was left out.
    bool includeChat(const std::string& chatId);

    // Compact JSON with the keys "veyrlinkApiKey", "modelServerAddress",
    // "modelName", "embeddingModel", "contactsFiles", "mcpPrivacy", "serverWithoutKey",
    // "chatStorePath" and "excludedChats" (a list of {"chatId", "title"}
    // objects, "title" left out when absent), each left out when absent or
    // empty ({} when all are).
    std::string toJSON() const;
    // Reads the configuration file format: a JSON object whose first three
    // keys, "embeddingModel", "mcpPrivacy", "serverWithoutKey" and "chatStorePath" are each a
    // string, null or missing, whose "contactsFiles" is a list of strings,
    // null or missing, and whose "excludedChats" is a list of objects with a
    // string "chatId" and a string or null "title", null or missing (a chat
    // listed twice counts once); other keys are ignored. Throws
    // std::invalid_argument otherwise, with a message that holds no part of
    // the file (it may be the key).
    static AppConfig fromJSON(const std::string& text);

    bool operator==(const AppConfig&) const = default;
};

} // namespace orlune::rlm

#pragma once
// The request document the application writes to the helper's standard input:
// one JSON object, keys in any order, unknown keys ignored, JSON null counted
// as absent.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::helper {

struct ConversationTurn {
    std::string role; // "user", "assistant" or "system"
    std::string text;
};

struct HelperRequest {
    static constexpr int kDefaultMaxDepth = 2;
    static constexpr int kDefaultMaxCalls = 16;
    // Ceilings applied to larger requested limits, so that one question can
    // never turn into an unbounded number of paid calls.
    static constexpr int kMaxDepthCeiling = 5;
    static constexpr int kMaxCallsCeiling = 64;

    std::optional<std::string> apiKey; // trimmed; absent when missing or blank
    std::string question;              // trimmed, never empty, within kMaxQuestionCharacters
    // Absent: the one default shadow database (SHADOW_DB_PATH, else
    // <data folder>/OrluneRLM/shadow.db); never empty.
    std::optional<std::string> dbPath;
    std::optional<std::string> model; // trimmed; absent when missing or blank
    // "base_url": the chat-completions address of the model server (without
    // "/chat/completions"); trimmed; absent when missing or blank.
    std::optional<std::string> baseUrl;
    int maxDepth = kDefaultMaxDepth; // 0 means no sub-model calls
    int maxCalls = kDefaultMaxCalls; // chat completions in all, at least 1
    bool verbose = false;
    // "index_only": answer from the index alone, at once, without asking a
    // model (the application shows it while the model works).
    bool indexOnly = false;
    std::vector<ConversationTurn> conversation; // earlier turns, oldest first
    std::optional<std::string> summary;         // absent when missing or blank

    // Parses the document. Throws HelperError (invalidRequest) when it is not
    // a JSON object, lacks "question" or has a longer one than
    // core::kMaxQuestionCharacters, has an empty "db_path", or a known
    // key has the wrong type or an impossible value.
    static HelperRequest parse(std::string_view document);
};

// `text` without white space and line breaks at either end.
std::string trimmed(std::string_view text);

} // namespace orlune::helper

#pragma once
// What the person's model server setting means: whether an address can be
// used, whether the server needs a key, and what answers the questions.

#include "services/AppConfig.hpp"

#include <QString>
#include <map>
#include <optional>
#include <string>

namespace orlune::rlm {

// Stateless; any thread.
class ModelServer {
public:
    ModelServer() = delete;

    // Why `address` (trimmed) cannot be saved as the model server, in plain
    // words: not a web address, a scheme other than http or https, or no
    // server name. Empty when it can (a blank address can: it removes the
    // setting).
    static QString addressProblem(const QString& address);

    // Whether `address` names this machine (localhost, *.localhost,
    // 127.0.0.0/8, ::1). An address without a scheme is read as http.
    static bool isOnThisMachine(const QString& address);

    // Whether the menu asks for a key first: no key is stored, a model
    // server is configured that is not on this machine (it would need a
    // key), and the person has not chosen to go on without a key for that
    // very address (AppConfig::serverWithoutKey).
    static bool asksForKey(const AppConfig& settings, bool hasApiKey);

    // The configured server's address trimmed, or empty for the gateway.
    static QString configuredAddress(const AppConfig& settings);

    // Who answers questions with `settings`, for the line under the sync
    // status: the model and the server (the gateway by default), or the
    // index alone when the gateway has no key. `environmentAddress` and
    // `environmentModel` (VEYRLINK_BASE_URL, ORLUNE_RLM_MODEL) win over the
    // saved ones when not blank.
    static QString answerSourceText(const AppConfig& settings, bool hasApiKey,
                                    const std::optional<std::string>& environmentAddress,
                                    const std::optional<std::string>& environmentModel);

    // The model messages are embedded with when the settings name none.
    static constexpr const char* kDefaultEmbeddingModel = "nomic-embed-text";

    // Where messages are embedded for the search by meaning.
    struct EmbeddingSource {
        std::string baseUrl; // the model server's address, trimmed
        std::string apiKey;  // empty for a server on this machine or without a key
        std::string model;
        bool operator==(const EmbeddingSource&) const = default;
    };
    // The model server named by a non-blank VEYRLINK_BASE_URL in
    // `environment`, else the settings', with the settings' key (else
    // VEYRLINK_API_KEY) unless it is on this machine, and the model named by a
    // non-blank ORLUNE_EMBEDDING_MODEL, else the settings' embeddingModel,
    // else kDefaultEmbeddingModel. Absent when no model server is named:
    // messages are never sent to the gateway to be embedded.
    static std::optional<EmbeddingSource>
    embeddingSource(const AppConfig& settings,
                    const std::map<std::string, std::string>& environment);
};

} // namespace orlune::rlm

#pragma once
// The configuration document: the one setting the user enters.

#include <optional>
#include <string>

namespace orlune::rlm {

struct AppConfig {
    // The Veyrlink gateway API key as entered (views trim it before saving);
    // absent when none is stored.
    std::optional<std::string> veyrlinkApiKey;

    // Compact JSON: {"veyrlinkApiKey":"..."} or {} without a key.
    std::string toJSON() const;
    // Reads the configuration file format: a JSON object whose
    // "veyrlinkApiKey" is a string, null or missing; other keys are ignored.
    // Throws std::invalid_argument otherwise, with a message that holds no
    // part of the file (it may be the key).
    static AppConfig fromJSON(const std::string& text);

    bool operator==(const AppConfig&) const = default;
};

} // namespace orlune::rlm

#pragma once
// A place for one secret outside the configuration file: the platform's
// credential store (the Keychain on the Mac, the Secret Service elsewhere).

#include <optional>
#include <string>

namespace orlune::rlm {

// Holds at most one secret. Implementations say when they cannot be reached
// (no credential store on this system, a refused or timed-out request), so
// that the caller can keep the secret where it was before. Texts in results
// never hold the secret.
class CredentialStore {
public:
    struct Result {
        // False when the store could not be used; nothing was changed then.
        bool available = true;
        // read(): the stored secret; absent when none is stored.
        std::optional<std::string> secret;
        // Why the store could not be used (empty when it could).
        std::string error;

        static Result unavailable(std::string why) { return {false, std::nullopt, std::move(why)}; }
    };

    virtual ~CredentialStore() = default;

    virtual Result read() const = 0;
    // Stores `secret`, replacing the one stored before.
    virtual Result write(const std::string& secret) const = 0;
    // Removes the stored secret; succeeds when none was stored.
    virtual Result remove() const = 0;
};

} // namespace orlune::rlm

#pragma once
// A credential store in memory for the configuration tests: it holds one
// secret, can be made unreachable, and counts what it was asked.

#include "services/CredentialStore.hpp"

#include <optional>
#include <string>

namespace orlune::testing {

class FakeCredentialStore final : public rlm::CredentialStore {
public:
    // The secret it holds; absent when none.
    mutable std::optional<std::string> secret;
    // When false, every call fails as a missing credential service does.
    bool reachable = true;
    mutable int writes = 0;

    Result read() const override {
        if (!reachable) {
            return Result::unavailable("no credential service");
        }
        return {true, secret, {}};
    }
    Result write(const std::string& value) const override {
        if (!reachable) {
            return Result::unavailable("no credential service");
        }
        ++writes;
        secret = value;
        return {};
    }
    Result remove() const override {
        if (!reachable) {
            return Result::unavailable("no credential service");
        }
        secret.reset();
        return {};
    }
};

} // namespace orlune::testing

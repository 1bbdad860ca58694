#pragma once
// The platform's credential store through QtKeychain: the login Keychain on
// the Mac, the Secret Service (or KWallet) on Linux desktops.

#include "services/CredentialStore.hpp"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace orlune::rlm {

// One generic password, named by `service` and `account`. Each call starts a
// QtKeychain job and waits for it in a local event loop, so it must be made
// on the thread of the QCoreApplication (QtKeychain delivers its results
// there), with one existing; otherwise the store reports itself unavailable.
// Events of that thread (timers, painting) may run during the wait; user
// input does not.
//
// A store that turned out to be unreachable (no credential service, a
// request refused or not answered within `timeout`) stays unavailable for
// the rest of the object's life, so later calls answer at once instead of
// waiting again. On Linux without a session bus (DBUS_SESSION_BUS_ADDRESS
// unset) QtKeychain is not asked at all: it has nothing to talk to.
class KeychainCredentialStore final : public CredentialStore {
public:
    // The application's entry: service "com.orlune.OrluneRLM", account
    // "veyrlinkApiKey".
    static constexpr const char* kService = "com.orlune.OrluneRLM";
    static constexpr const char* kApiKeyAccount = "veyrlinkApiKey";

    // How long one request may take before the store gives up on it: long
    // enough on the Mac for the person to answer the Keychain's "allow
    // access" prompt, short elsewhere where nothing would ever ask.
    static std::chrono::milliseconds defaultTimeout();

    KeychainCredentialStore(std::string service, std::string account,
                            std::chrono::milliseconds timeout = defaultTimeout());

    Result read() const override;
    Result write(const std::string& secret) const override;
    Result remove() const override;

private:
    enum class Operation { read, write, remove };
    Result run(Operation operation, const std::string& secret) const;

    std::string service_;
    std::string account_;
    std::chrono::milliseconds timeout_;
    // Set once the store is known to be unreachable; shared by copies.
    std::shared_ptr<std::atomic<bool>> unreachable_;
};

} // namespace orlune::rlm

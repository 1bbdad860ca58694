#pragma once
// The single owner of the configuration file (the Veyrlink API key, the model
// server address and the model name).

#include "services/AppConfig.hpp"
#include "services/CredentialStore.hpp"
#include "services/StructuredLogger.hpp"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace orlune::rlm {

// Holds no configuration in memory: every load() and hasApiKey() reads the
// file (and the credential store) afresh. Two saves at once each replace the
// whole file, the last wins.
//
// With a credential store, the API key lives there and the file keeps
// everything else; the file holds the key only while the store cannot be
// used (no credential service on the system, access refused), as it did
// before there was a store. A key found in the file while the store can be
// used is moved into the store by load() (and so on the first start after an
// update). Without a store, the key stays in the file.
//
// Thread: without a credential store, any thread. With one, the store's
// rules hold (KeychainCredentialStore: the application's main thread).
class ConfigManager {
public:
    // The one instance of the application, created on first use (thread-safe),
    // with the file at <data folder>/OrluneRLM/config.json as the data folder
    // was at that moment. It keeps the key in the platform's credential store
    // (KeychainCredentialStore) unless ORLUNE_DATA_DIR is set: a data folder
    // of its own (tests, scripts) never reads or writes the person's real
    // credentials. When the platform reports no data folder, load() finds no
    // key and save() throws.
    static ConfigManager& shared();

    // A manager of the file at `configPath` (tests and tools); events go
    // through `logger`; the key goes to `credentials` when given.
    ConfigManager(std::string configPath, StructuredLogger logger,
                  std::shared_ptr<const CredentialStore> credentials = nullptr);

    // <data folder>/OrluneRLM/config.json. Creates nothing. Throws FileError
    // (noDataFolder).
    static std::string defaultConfigPath();

    const std::string& configPath() const { return configPath_; }

    // The stored configuration. Never throws: without a file, the result has
    // no key (silently); with an unreadable or invalid file, it has no key
    // and a "config_load_failed" warning is logged (its "error" names the
    // file and where it stopped being valid, never any of its text). The key
    // is not trimmed.
    //
    // With a credential store: a key that is not blank in the file is
    // written to the store and then removed from the file
    // ("config_key_moved_to_keychain"; the file's other settings stay);
    // otherwise the key is the store's. A
    // store that cannot be used leaves the file as it is and logs
    // "config_keychain_unavailable" {"error"} once in the manager's life.
    AppConfig load() const;

    // The file's settings without asking the credential store (so it never
    // waits for one): what needs no key, such as the contact files, reads
    // this. The key is the file's, if any. Never throws; an unreadable or
    // invalid file gives the defaults and logs "config_load_failed" as load()
    // does.
    AppConfig loadWithoutCredentials() const;

    // Writes `config` atomically as compact JSON, creating the folder (0700)
    // when missing and tightening or refusing one others could reach
    // (PrivateFiles::preparePrivateFolder); the file is owner-only (0600)
    // after every save, and a symbolic link in its place is replaced, never
    // written through. With a credential store that can be used, the key is
    // written there first (or removed there, for a configuration without one)
    // and the file is saved without it. Throws FileError; the previous file
    // is then intact. Logs "config_saved".
    void save(const AppConfig& config) const;

    // The file's settings, as loadWithoutCredentials() reads them, but a
    // file that cannot be read or is not valid throws FileError instead of
    // giving the defaults (nothing is logged): for what must not fall back
    // to them, such as the chats left out. No file: the defaults.
    AppConfig readSettings() const;

    // Changes the file's settings with `change` and writes them as save()
    // does, leaving the key where it is: the credential store is neither
    // read nor written, and a key the file holds stays in it. For settings
    // that need no key (the chats left out). A file that cannot be read or
    // is not valid is refused with FileError rather than replaced, as is
    // everything save() refuses; the file is then as it was. Logs
    // "config_saved".
    void update(const std::function<void(AppConfig&)>& change) const;

    // Whether load() yields a key that is not blank after trimming.
    bool hasApiKey() const;

private:
    // readSettings(), with the defaults and "config_load_failed" on a failure.
    AppConfig loadFile() const;
    void writeFile(const AppConfig& config) const;
    void reportUnavailable(const std::string& why) const;

    std::string configPath_;
    StructuredLogger logger_;
    std::shared_ptr<const CredentialStore> credentials_;
    std::shared_ptr<std::atomic<bool>> reportedUnavailable_;
};

} // namespace orlune::rlm

#pragma once
// The single owner of the configuration file (the Veyrlink API key).

#include "OrluneRLM/AppConfig.hpp"
#include "OrluneRLM/StructuredLogger.hpp"

#include <string>

namespace orlune::rlm {

// Holds no configuration in memory: every load() and hasApiKey() reads the
// file afresh. No mutable state after construction, so it may be used from
// any thread; two saves at once each replace the whole file, the last wins.
class ConfigManager {
public:
    // The one instance of the application, created on first use (thread-safe),
    // with the file at <data folder>/OrluneRLM/config.json as the data folder
    // was at that moment. When the platform reports no data folder, load()
    // finds no key and save() throws.
    static ConfigManager& shared();

    // A manager of the file at `configPath` (tests and tools); events go
    // through `logger`.
    ConfigManager(std::string configPath, StructuredLogger logger);

    // <data folder>/OrluneRLM/config.json. Creates nothing. Throws FileError
    // (noDataFolder).
    static std::string defaultConfigPath();

    const std::string& configPath() const { return configPath_; }

    // The stored configuration. Never throws: without a file, the result has
    // no key (silently); with an unreadable or invalid file, it has no key
    // and a "config_load_failed" warning is logged. The key is not trimmed.
    AppConfig load() const;

    // Writes `config` atomically as compact JSON, creating the folder (0700)
    // when missing and tightening or refusing one others could reach
    // (PrivateFiles::preparePrivateFolder); the file is owner-only (0600)
    // after every save, and a symbolic link in its place is replaced, never
    // written through. Throws FileError; the previous file is then intact.
    // Logs "config_saved".
    void save(const AppConfig& config) const;

    // Whether load() yields a key that is not blank after trimming.
    bool hasApiKey() const;

private:
    std::string configPath_;
    StructuredLogger logger_;
};

} // namespace orlune::rlm

#include "services/ConfigManager.hpp"

#include "base/Environment.hpp"
#include "services/FileError.hpp"
#include "services/KeychainCredentialStore.hpp"
#include "services/PrivateFiles.hpp"
#include "services/TextTrimming.hpp"

#include <stdexcept>

namespace orlune::rlm {

namespace {

std::string sharedConfigPath() {
    try {
        return ConfigManager::defaultConfigPath();
    } catch (const FileError&) {
        return {};
    }
}

std::shared_ptr<const CredentialStore> sharedCredentials() {
    if (core::Environment::process().variable(core::Environment::kDataFolderOverride)) {
        return nullptr;
    }
    return std::make_shared<KeychainCredentialStore>(KeychainCredentialStore::kService,
                                                     KeychainCredentialStore::kApiKeyAccount);
}

bool isBlank(const std::optional<std::string>& key) {
    return !key || trimmedText(*key).empty();
}

} // namespace

ConfigManager& ConfigManager::shared() {
    static ConfigManager instance(
        sharedConfigPath(),
        StructuredLogger(StructuredLogger::kBundleIdentifier, StructuredLogger::kConfigCategory),
        sharedCredentials());
    return instance;
}

ConfigManager::ConfigManager(std::string configPath, StructuredLogger logger,
                             std::shared_ptr<const CredentialStore> credentials)
    : configPath_(std::move(configPath)), logger_(std::move(logger)),
      credentials_(std::move(credentials)),
      reportedUnavailable_(std::make_shared<std::atomic<bool>>(false)) {}

std::string ConfigManager::defaultConfigPath() {
    return core::joinPath(core::joinPath(PrivateFiles::dataFolder(), "OrluneRLM"), "config.json");
}

AppConfig ConfigManager::readSettings() const {
    if (configPath_.empty() || !core::pathExists(configPath_)) {
        return {};
    }
    const std::string text = PrivateFiles::read(configPath_);
    try {
        return AppConfig::fromJSON(text);
    } catch (const std::invalid_argument& error) {
        throw FileError(FileError::Kind::decode, configPath_, error.what());
    }
}

AppConfig ConfigManager::loadFile() const {
    try {
        return readSettings();
    } catch (const FileError& error) {
        logger_.warning("config_load_failed", {{"error", error.what()}});
        return {};
    }
}

void ConfigManager::writeFile(const AppConfig& config) const {
    if (configPath_.empty()) {
        throw FileError(FileError::Kind::noDataFolder, {}, {});
    }
    PrivateFiles::preparePrivateFolder(PrivateFiles::folderOf(configPath_), logger_);
    PrivateFiles::writeAtomically(configPath_, config.toJSON(), logger_);
}

void ConfigManager::reportUnavailable(const std::string& why) const {
    if (!reportedUnavailable_->exchange(true)) {
        logger_.warning("config_keychain_unavailable", {{"error", why}});
    }
}

AppConfig ConfigManager::loadWithoutCredentials() const {
    return loadFile();
}

AppConfig ConfigManager::load() const {
    AppConfig config = loadFile();
    if (!credentials_) {
        return config;
    }
    if (!isBlank(config.veyrlinkApiKey)) {
        const CredentialStore::Result moved = credentials_->write(*config.veyrlinkApiKey);
        if (!moved.available) {
            reportUnavailable(moved.error);
            return config;
        }
        // The key is safe in the store; a file that cannot be rewritten now
        // is tried again at the next load.
        try {
            AppConfig withoutKey = config;
            withoutKey.veyrlinkApiKey.reset();
            writeFile(withoutKey);
            logger_.info("config_key_moved_to_keychain", {{"path", configPath_}});
        } catch (const FileError& error) {
            logger_.warning("config_key_move_failed", {{"error", error.what()}});
        }
        return config;
    }
    const CredentialStore::Result stored = credentials_->read();
    if (!stored.available) {
        reportUnavailable(stored.error);
        return config;
    }
    if (stored.secret) {
        config.veyrlinkApiKey = stored.secret;
    }
    return config;
}

void ConfigManager::save(const AppConfig& config) const {
    if (configPath_.empty()) {
        throw FileError(FileError::Kind::noDataFolder, {}, {});
    }
    AppConfig fileConfig = config;
    if (credentials_) {
        const CredentialStore::Result stored = config.veyrlinkApiKey
                                                   ? credentials_->write(*config.veyrlinkApiKey)
                                                   : credentials_->remove();
        if (stored.available) {
            fileConfig.veyrlinkApiKey.reset();
        } else {
            reportUnavailable(stored.error);
        }
    }
    writeFile(fileConfig);
    logger_.info("config_saved", {{"path", configPath_}});
}

void ConfigManager::update(const std::function<void(AppConfig&)>& change) const {
    if (configPath_.empty()) {
        throw FileError(FileError::Kind::noDataFolder, {}, {});
    }
    AppConfig config = readSettings();
    change(config);
    writeFile(config);
    logger_.info("config_saved", {{"path", configPath_}});
}

bool ConfigManager::hasApiKey() const {
    const AppConfig config = load();
    return config.veyrlinkApiKey && !trimmedText(*config.veyrlinkApiKey).empty();
}

} // namespace orlune::rlm

#include "OrluneRLM/ConfigManager.hpp"

#include "OrluneCore/Environment.hpp"
#include "OrluneRLM/FileError.hpp"
#include "OrluneRLM/PrivateFiles.hpp"
#include "OrluneRLM/TextTrimming.hpp"

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

} // namespace

ConfigManager& ConfigManager::shared() {
    static ConfigManager instance(
        sharedConfigPath(),
        StructuredLogger(StructuredLogger::kBundleIdentifier, StructuredLogger::kConfigCategory));
    return instance;
}

ConfigManager::ConfigManager(std::string configPath, StructuredLogger logger)
    : configPath_(std::move(configPath)), logger_(std::move(logger)) {}

std::string ConfigManager::defaultConfigPath() {
    return core::joinPath(core::joinPath(PrivateFiles::dataFolder(), "OrluneRLM"), "config.json");
}

AppConfig ConfigManager::load() const {
    if (configPath_.empty() || !core::pathExists(configPath_)) {
        return {};
    }
    try {
        const std::string text = PrivateFiles::read(configPath_);
        try {
            return AppConfig::fromJSON(text);
        } catch (const std::invalid_argument& error) {
            throw FileError(FileError::Kind::decode, configPath_, error.what());
        }
    } catch (const FileError& error) {
        logger_.warning("config_load_failed", {{"error", error.what()}});
        return {};
    }
}

void ConfigManager::save(const AppConfig& config) const {
    if (configPath_.empty()) {
        throw FileError(FileError::Kind::noDataFolder, {}, {});
    }
    PrivateFiles::preparePrivateFolder(PrivateFiles::folderOf(configPath_), logger_);
    PrivateFiles::writeAtomically(configPath_, config.toJSON(), logger_);
    logger_.info("config_saved", {{"path", configPath_}});
}

bool ConfigManager::hasApiKey() const {
    const AppConfig config = load();
    return config.veyrlinkApiKey && !trimmedText(*config.veyrlinkApiKey).empty();
}

} // namespace orlune::rlm

#include "OrluneRLM/ConfigManager.hpp"

#include "OrluneCore/ShadowDB.hpp"
#include "OrluneRLM/FileError.hpp"
#include "OrluneRLM/FileSessionStore.hpp"
#include "OrluneRLM/ShadowPaths.hpp"
#include "tests/rlm/RlmTestFolder.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace orlune::rlm {
namespace {

using testing::readFile;
using testing::RlmTestFolder;
using testing::writeFile;

class ConfigManagerTest : public ::testing::Test {
protected:
    std::string configPath() const { return folder.dataFolder() + "/OrluneRLM/config.json"; }
    ConfigManager manager() const { return ConfigManager(configPath(), folder.logger("config")); }
    void store(const std::string& bytes) const {
        std::filesystem::create_directories(folder.dataFolder() + "/OrluneRLM");
        writeFile(configPath(), bytes);
    }

    RlmTestFolder folder;
};

TEST_F(ConfigManagerTest, DefaultPathIsUnderTheDataFolder) {
    EXPECT_EQ(ConfigManager::defaultConfigPath(), configPath());
    EXPECT_FALSE(std::filesystem::exists(folder.dataFolder()));
}

TEST_F(ConfigManagerTest, NoFileMeansNoKeyAndNoEvent) {
    EXPECT_EQ(manager().load().veyrlinkApiKey, std::nullopt);
    EXPECT_FALSE(manager().hasApiKey());
    EXPECT_TRUE(folder.loggedEntries().empty());
}

TEST_F(ConfigManagerTest, ReadingTheFile) {
    const struct {
        const char* name;
        const char* contents;
        std::optional<std::string> key;
        bool hasApiKey;
        bool logsFailure;
    } cases[] = {
        {"empty object", "{}", std::nullopt, false, false},
        {"null key", R"({"veyrlinkApiKey":null})", std::nullopt, false, false},
        {"key", R"({"veyrlinkApiKey":"vk-123"})", "vk-123", true, false},
        {"key kept untrimmed", R"({"veyrlinkApiKey":" vk-1\n"})", " vk-1\n", true, false},
        {"blank key", R"({"veyrlinkApiKey":"  \n\t "})", "  \n\t ", false, false},
        {"empty key", R"({"veyrlinkApiKey":""})", "", false, false},
        {"extra key", R"({"other":1,"veyrlinkApiKey":"vk"})", "vk", true, false},
        {"not JSON", "veyrlinkApiKey=vk", std::nullopt, false, true},
        {"empty file", "", std::nullopt, false, true},
        {"key not a string", R"({"veyrlinkApiKey":42})", std::nullopt, false, true},
        {"not an object", R"(["vk"])", std::nullopt, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        store(c.contents);
        const size_t before = folder.loggedEntries().size();
        EXPECT_EQ(manager().load().veyrlinkApiKey, c.key);
        EXPECT_EQ(manager().hasApiKey(), c.hasApiKey);
        const auto entries = folder.loggedEntries();
        // load() and hasApiKey() each report a bad file once.
        ASSERT_EQ(entries.size() - before, c.logsFailure ? 2u : 0u);
        for (size_t i = before; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i]["message"], "config_load_failed");
            EXPECT_EQ(entries[i]["level"], "warning");
            EXPECT_EQ(entries[i]["category"], "config");
            EXPECT_FALSE(entries[i]["error"].get<std::string>().empty());
        }
        // A bad file stays as it was until a save replaces it.
        EXPECT_EQ(readFile(configPath()), c.contents);
    }
}

TEST_F(ConfigManagerTest, SaveCreatesAnOwnerOnlyFolderAndFile) {
    manager().save(AppConfig{});
    EXPECT_EQ(readFile(configPath()), "{}");
    EXPECT_EQ(RlmTestFolder::mode(folder.dataFolder() + "/OrluneRLM"), 0700u);
    EXPECT_EQ(RlmTestFolder::mode(configPath()), 0600u);

    const auto entries = folder.loggedEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]["message"], "config_saved");
    EXPECT_EQ(entries[0]["level"], "info");
    EXPECT_EQ(entries[0]["path"], configPath());
}

TEST_F(ConfigManagerTest, SaveKeepsTheFileOwnerOnlyWhateverItWasAndTheUmask) {
    store(R"({"veyrlinkApiKey":"old","extra":true})");
    ::chmod(configPath().c_str(), 0644);
    const mode_t previous = ::umask(0);
    manager().save(AppConfig{"new key/with solidus"});
    ::umask(previous);
    EXPECT_EQ(RlmTestFolder::mode(configPath()), 0600u);
    // The extra key is gone; the key is written as entered.
    EXPECT_EQ(manager().load().veyrlinkApiKey, "new key/with solidus");
    EXPECT_EQ(readFile(configPath()).find("extra"), std::string::npos);
    manager().save(AppConfig{"third"});
    EXPECT_EQ(RlmTestFolder::mode(configPath()), 0600u);
    EXPECT_TRUE(manager().hasApiKey());
}

TEST_F(ConfigManagerTest, SaveFailureIsThrownAndNotLogged) {
    std::filesystem::create_directories(folder.dataFolder());
    writeFile(folder.dataFolder() + "/OrluneRLM", "a file where the folder should be");
    EXPECT_THROW(manager().save(AppConfig{"vk"}), FileError);
    EXPECT_TRUE(folder.loggedEntries().empty());
}

TEST(ShadowPathsTest, CreatesItsFolderOnceAndNotTheDatabase) {
    RlmTestFolder folder;
    const std::string first = ShadowPaths::shadowDBPath();
    EXPECT_EQ(first, folder.dataFolder() + "/OrluneRLM/shadow.db");
    EXPECT_EQ(RlmTestFolder::mode(folder.dataFolder()), 0700u);
    EXPECT_EQ(RlmTestFolder::mode(folder.dataFolder() + "/OrluneRLM"), 0700u);
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_EQ(ShadowPaths::shadowDBPath(), first);
}

// The application's shadow database is the one of the command-line tool and
// the helper.
TEST(ShadowPathsTest, TheApplicationUsesTheOneDefaultAndTheVariable) {
    RlmTestFolder folder;
    EXPECT_EQ(ShadowPaths::shadowDBPath(), core::ShadowDB::defaultShadowDBPath());
    testing::ScopedEnv variable("SHADOW_DB_PATH", folder.file("elsewhere.db"));
    EXPECT_EQ(ShadowPaths::shadowDBPath(), folder.file("elsewhere.db"));
}

TEST(ShadowPathsTest, ExistingFoldersAreLeftAsTheyAre) {
    RlmTestFolder folder;
    std::filesystem::create_directories(folder.dataFolder() + "/OrluneRLM");
    ::chmod(folder.dataFolder().c_str(), 0755);
    ShadowPaths::shadowDBPath();
    EXPECT_EQ(RlmTestFolder::mode(folder.dataFolder()), 0755u);
}

TEST(ShadowPathsTest, AFileInTheWayIsAnError) {
    RlmTestFolder folder;
    std::filesystem::create_directories(folder.dataFolder());
    writeFile(folder.dataFolder() + "/OrluneRLM", "");
    EXPECT_THROW(ShadowPaths::shadowDBPath(), FileError);
}

TEST(DataFolderTest, WithoutXdgDataHomeTheHomeFolderDecides) {
    RlmTestFolder folder;
    testing::ScopedEnv unset("XDG_DATA_HOME", std::nullopt);
    unset.set("ORLUNE_DATA_DIR", std::nullopt);
    const std::string share = folder.file(".local/share");
    EXPECT_EQ(FileSessionStore::defaultSessionsURL(), share + "/Orlune/sessions.json");
    EXPECT_EQ(ConfigManager::defaultConfigPath(), share + "/OrluneRLM/config.json");
    EXPECT_FALSE(std::filesystem::exists(share));
}

TEST(DataFolderTest, TheOverrideDecidesEveryPathWhenAbsolute) {
    RlmTestFolder folder;
    const std::string override = folder.file("override");
    struct Case {
        std::optional<std::string> value;
        std::string expectedFolder;
    };
    const Case cases[] = {
        {override, override},
        {std::string("relative/folder"), folder.dataFolder()},
        {std::string(), folder.dataFolder()},
    };
    for (const Case& c : cases) {
        testing::ScopedEnv env("ORLUNE_DATA_DIR", c.value);
        EXPECT_EQ(ConfigManager::defaultConfigPath(), c.expectedFolder + "/OrluneRLM/config.json");
        EXPECT_EQ(FileSessionStore::defaultSessionsURL(),
                  c.expectedFolder + "/Orlune/sessions.json");
        EXPECT_EQ(ShadowPaths::shadowDBPath(), c.expectedFolder + "/OrluneRLM/shadow.db");
    }
}

TEST(DataFolderTest, SessionsLiveInTheirOwnFolder) {
    RlmTestFolder folder;
    EXPECT_EQ(FileSessionStore::defaultSessionsURL(),
              folder.dataFolder() + "/Orlune/sessions.json");
    EXPECT_FALSE(std::filesystem::exists(folder.dataFolder()));
}

} // namespace
} // namespace orlune::rlm

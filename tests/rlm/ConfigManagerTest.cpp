#include "services/ConfigManager.hpp"

#include "services/FileError.hpp"
#include "services/FileSessionStore.hpp"
#include "services/KeychainCredentialStore.hpp"
#include "services/ShadowPaths.hpp"
#include "shadow/ShadowDB.hpp"
#include "tests/rlm/FakeCredentialStore.hpp"
#include "tests/rlm/ModelTestSupport.hpp"
#include "tests/rlm/RlmTestFolder.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orlune::rlm {
namespace {

using testing::eventNames;
using testing::eventsNamed;
using testing::FakeCredentialStore;
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

TEST_F(ConfigManagerTest, ABrokenFileNeverShowsTheKeyInTheLog) {
    // Every case holds the key in a file the parser rejects; its messages
    // quote the text around the error, which here is the key.
    const std::string key = "sk-SECRET7f3a9Q";
    const struct {
        const char* name;
        std::string contents;
    } cases[] = {
        {"line break inside the key", "{\"veyrlinkApiKey\": \"" + key + "\n\"}"},
        {"garbage after the key", "{\"veyrlinkApiKey\": \"" + key + "\"garbage}"},
        {"no closing quote", "{\"veyrlinkApiKey\": \"" + key},
        {"no closing brace", "{\"veyrlinkApiKey\": \"" + key + "\""},
        {"not UTF-8 after the key", "{\"veyrlinkApiKey\": \"" + key + "\xff\"}"},
        {"key without quotes", "{\"veyrlinkApiKey\": " + key + "}"},
        {"key in a list", "{\"veyrlinkApiKey\": [\"" + key + "\"]}"},
        {"the key alone", key},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RlmTestFolder caseFolder;
        std::filesystem::create_directories(caseFolder.dataFolder() + "/OrluneRLM");
        const std::string path = caseFolder.dataFolder() + "/OrluneRLM/config.json";
        writeFile(path, c.contents);
        const ConfigManager config(path, caseFolder.logger("config"));

        EXPECT_EQ(config.load().veyrlinkApiKey, std::nullopt);
        EXPECT_FALSE(config.hasApiKey());

        ASSERT_EQ(eventNames(caseFolder),
                  (std::vector<std::string>{"config_load_failed", "config_load_failed"}));
        const std::string log = readFile(caseFolder.file("log.jsonl"));
        // Not even a few characters of it.
        for (size_t start = 3; start + 4 <= key.size(); ++start) {
            EXPECT_EQ(log.find(key.substr(start, 4)), std::string::npos)
                << key.substr(start, 4) << " in " << log;
        }
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

// The key in the platform's credential store, the file for the rest.
class CredentialStoreConfigTest : public ConfigManagerTest {
protected:
    ConfigManager managerWithStore() const {
        return ConfigManager(configPath(), folder.logger("config"), credentials);
    }

    std::shared_ptr<FakeCredentialStore> credentials = std::make_shared<FakeCredentialStore>();
};

TEST_F(CredentialStoreConfigTest, SavedKeysGoToTheStoreAndTheFileKeepsNone) {
    const ConfigManager config = managerWithStore();
    config.save(AppConfig{"sk-stored"});
    EXPECT_EQ(credentials->secret, "sk-stored");
    EXPECT_EQ(readFile(configPath()), "{}");
    EXPECT_EQ(config.load().veyrlinkApiKey, "sk-stored");
    EXPECT_TRUE(config.hasApiKey());

    // A configuration without a key removes the stored one.
    config.save(AppConfig{});
    EXPECT_EQ(credentials->secret, std::nullopt);
    EXPECT_EQ(config.load().veyrlinkApiKey, std::nullopt);
    EXPECT_EQ(eventNames(folder), (std::vector<std::string>{"config_saved", "config_saved"}));
}

TEST_F(CredentialStoreConfigTest, AKeyInTheFileMovesToTheStoreOnceAndWins) {
    const struct {
        const char* name;
        std::optional<std::string> storedBefore;
    } cases[] = {
        {"nothing stored yet", std::nullopt},
        {"an older key stored", "sk-older"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RlmTestFolder caseFolder;
        std::filesystem::create_directories(caseFolder.dataFolder() + "/OrluneRLM");
        const std::string path = caseFolder.dataFolder() + "/OrluneRLM/config.json";
        writeFile(path, R"({"veyrlinkApiKey":"sk-from-file"})");
        auto store = std::make_shared<FakeCredentialStore>();
        store->secret = c.storedBefore;
        const ConfigManager config(path, caseFolder.logger("config"), store);

        EXPECT_EQ(config.load().veyrlinkApiKey, "sk-from-file");
        EXPECT_EQ(store->secret, "sk-from-file");
        EXPECT_EQ(readFile(path), "{}");
        EXPECT_EQ(RlmTestFolder::mode(path), 0600u);
        EXPECT_EQ(config.load().veyrlinkApiKey, "sk-from-file");
        EXPECT_EQ(store->writes, 1) << "moved once";
        const auto moved = eventsNamed(caseFolder, "config_key_moved_to_keychain");
        ASSERT_EQ(moved.size(), 1u);
        EXPECT_EQ(moved[0]["path"], path);
        EXPECT_EQ(readFile(caseFolder.file("log.jsonl")).find("sk-from-file"), std::string::npos);
    }
}

TEST_F(CredentialStoreConfigTest, TheModelServerSettingsStayInTheFile) {
    AppConfig saved;
    saved.veyrlinkApiKey = "sk-1";
    saved.modelServerAddress = "http://127.0.0.1:8080/v1";
    saved.modelName = "llama";
    saved.embeddingModel = "nomic-embed-text";
    managerWithStore().save(saved);
    EXPECT_EQ(credentials->secret, "sk-1");
    EXPECT_EQ(readFile(configPath()),
              R"({"modelServerAddress":"http://127.0.0.1:8080/v1","modelName":"llama",)"
              R"("embeddingModel":"nomic-embed-text"})");
    EXPECT_EQ(managerWithStore().load(), saved);

    // Moving an older file's key into the store keeps the other settings.
    store(R"({"veyrlinkApiKey":"sk-old","modelServerAddress":"http://localhost:11434/v1",)"
          R"("modelName":"qwen"})");
    const AppConfig moved = managerWithStore().load();
    EXPECT_EQ(moved.veyrlinkApiKey, "sk-old");
    EXPECT_EQ(readFile(configPath()),
              R"({"modelServerAddress":"http://localhost:11434/v1","modelName":"qwen"})");

    // Without a key at all, the server settings are all there is.
    AppConfig keyless;
    keyless.modelServerAddress = "http://127.0.0.1:8080/v1";
    managerWithStore().save(keyless);
    EXPECT_EQ(credentials->secret, std::nullopt);
    EXPECT_EQ(managerWithStore().load(), keyless);
}

TEST_F(ConfigManagerTest, TheModelServerSettingsMustBeStrings) {
    for (const char* contents :
         {R"({"modelServerAddress":8080})", R"({"modelName":["a"]})", R"({"embeddingModel":1})"}) {
        store(contents);
        EXPECT_EQ(manager().load(), AppConfig{}) << contents;
    }
    store(R"({"modelServerAddress":null,"modelName":"m"})");
    EXPECT_EQ(manager().load().modelName, "m");
    EXPECT_EQ(manager().load().modelServerAddress, std::nullopt);
}

TEST_F(CredentialStoreConfigTest, ContactFilesStayInTheFileInTheirOrder) {
    AppConfig saved;
    saved.veyrlinkApiKey = "sk-1";
    saved.contactsFiles = {"/b/work.vcf", "/a/family.vcf"};
    managerWithStore().save(saved);
    EXPECT_EQ(readFile(configPath()), R"({"contactsFiles":["/b/work.vcf","/a/family.vcf"]})");
    EXPECT_EQ(managerWithStore().load(), saved);

    // Read without the store: the files, and no key (the store was not asked).
    credentials->reachable = false;
    const AppConfig fileOnly = managerWithStore().loadWithoutCredentials();
    EXPECT_EQ(fileOnly.contactsFiles, saved.contactsFiles);
    EXPECT_EQ(fileOnly.veyrlinkApiKey, std::nullopt);
    EXPECT_TRUE(eventsNamed(folder, "config_keychain_unavailable").empty());

    // An empty list is left out of the file.
    credentials->reachable = true;
    saved.contactsFiles.clear();
    managerWithStore().save(saved);
    EXPECT_EQ(readFile(configPath()), "{}");
}

TEST_F(ConfigManagerTest, ContactFilesMustBeAListOfStrings) {
    const struct {
        const char* contents;
        std::vector<std::string> files;
        bool valid;
    } cases[] = {
        {R"({"contactsFiles":["/a.vcf"],"veyrlinkApiKey":"vk"})", {"/a.vcf"}, true},
        {R"({"contactsFiles":[],"veyrlinkApiKey":"vk"})", {}, true},
        {R"({"contactsFiles":null,"veyrlinkApiKey":"vk"})", {}, true},
        {R"({"contactsFiles":"/a.vcf","veyrlinkApiKey":"vk"})", {}, false},
        {R"({"contactsFiles":["/a.vcf",3],"veyrlinkApiKey":"vk"})", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contents);
        store(c.contents);
        const AppConfig loaded = manager().load();
        EXPECT_EQ(loaded.contactsFiles, c.files);
        EXPECT_EQ(loaded.veyrlinkApiKey.has_value(), c.valid) << "an invalid file is not used";
    }
}

TEST_F(ConfigManagerTest, ExcludedChatsAreReadByIdWithTheirTitles) {
    using Chats = std::vector<ExcludedChat>;
    const struct {
        const char* contents;
        Chats chats;
        bool valid;
    } cases[] = {
        {R"({"excludedChats":[{"chatId":"c1","title":"Dr Fox"},{"chatId":"c2"}],"modelName":"m"})",
         {{"c1", "Dr Fox"}, {"c2", std::nullopt}},
         true},
        {R"({"excludedChats":[{"chatId":"c1","title":null}],"modelName":"m"})",
         {{"c1", std::nullopt}},
         true},
        // A chat listed twice counts once, with the last title given.
        {R"({"excludedChats":[{"chatId":"c1"},{"chatId":"c1","title":"T"}],"modelName":"m"})",
         {{"c1", "T"}},
         true},
        {R"({"excludedChats":null,"modelName":"m"})", {}, true},
        {R"({"excludedChats":["c1"],"modelName":"m"})", {}, false},
        {R"({"excludedChats":[{"title":"T"}],"modelName":"m"})", {}, false},
        {R"({"excludedChats":[{"chatId":""}],"modelName":"m"})", {}, false},
        {R"({"excludedChats":[{"chatId":"c1","title":3}],"modelName":"m"})", {}, false},
        {R"({"excludedChats":{"chatId":"c1"},"modelName":"m"})", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contents);
        store(c.contents);
        const AppConfig loaded = manager().loadWithoutCredentials();
        EXPECT_EQ(loaded.excludedChats, c.chats);
        EXPECT_EQ(loaded.modelName.has_value(), c.valid) << "an invalid file is not used";
    }
}

TEST_F(ConfigManagerTest, ExcludingAndIncludingChatsRoundTripsThroughTheFile) {
    AppConfig config;
    EXPECT_TRUE(config.excludeChat("iMessage;+;chat1", "Book club"));
    EXPECT_TRUE(config.excludeChat("iMessage;-;+15550001", std::nullopt));
    EXPECT_FALSE(config.excludeChat("iMessage;+;chat1", std::nullopt)) << "already left out";
    manager().save(config);
    EXPECT_EQ(readFile(configPath()),
              R"({"excludedChats":[{"chatId":"iMessage;+;chat1","title":"Book club"},)"
              R"({"chatId":"iMessage;-;+15550001"}]})");
    AppConfig loaded = manager().load();
    EXPECT_EQ(loaded, config);
    EXPECT_EQ(loaded.excludedChatIds(),
              (std::set<std::string>{"iMessage;+;chat1", "iMessage;-;+15550001"}));
    EXPECT_TRUE(loaded.includeChat("iMessage;+;chat1"));
    EXPECT_FALSE(loaded.includeChat("iMessage;+;chat1"));
    loaded.includeChat("iMessage;-;+15550001");
    manager().save(loaded);
    EXPECT_EQ(readFile(configPath()), "{}");
}

// Leaving a chat out changes the file alone: a stored key stays in the
// store, untouched and unread, and a key the file holds stays in the file.
// A file that cannot be read is refused, not replaced by the defaults.
TEST_F(CredentialStoreConfigTest, UpdatingTheFileLeavesTheKeyWhereItIs) {
    credentials->secret = "sk-stored";
    store(R"({"modelName":"m","veyrlinkApiKey":"sk-in-file"})");
    credentials->reachable = false; // any use of the store would fail
    managerWithStore().update([](AppConfig& config) { config.excludeChat("c1", "T"); });
    EXPECT_EQ(readFile(configPath()), R"({"veyrlinkApiKey":"sk-in-file","modelName":"m",)"
                                      R"("excludedChats":[{"chatId":"c1","title":"T"}]})");
    EXPECT_EQ(credentials->secret, "sk-stored");
    EXPECT_EQ(credentials->writes, 0);

    store("{not json");
    EXPECT_THROW(managerWithStore().update([](AppConfig& config) { config.includeChat("c1"); }),
                 FileError);
    EXPECT_EQ(readFile(configPath()), "{not json");
}

TEST_F(CredentialStoreConfigTest, ABlankKeyInTheFileStaysThere) {
    store(R"({"veyrlinkApiKey":"  "})");
    const ConfigManager config = managerWithStore();
    EXPECT_EQ(config.load().veyrlinkApiKey, "  ");
    EXPECT_FALSE(config.hasApiKey());
    EXPECT_EQ(credentials->writes, 0);
    EXPECT_EQ(readFile(configPath()), R"({"veyrlinkApiKey":"  "})");
}

TEST_F(CredentialStoreConfigTest, WithoutAReachableStoreTheFileKeepsTheKeyAsBefore) {
    credentials->reachable = false;
    const ConfigManager config = managerWithStore();
    config.save(AppConfig{"sk-fallback"});
    EXPECT_EQ(readFile(configPath()), R"({"veyrlinkApiKey":"sk-fallback"})");
    EXPECT_EQ(RlmTestFolder::mode(configPath()), 0600u);
    EXPECT_EQ(config.load().veyrlinkApiKey, "sk-fallback");
    EXPECT_TRUE(config.hasApiKey());

    // Told once, without the key.
    const auto unavailable = eventsNamed(folder, "config_keychain_unavailable");
    ASSERT_EQ(unavailable.size(), 1u);
    EXPECT_EQ(unavailable[0]["level"], "warning");
    EXPECT_EQ(unavailable[0]["error"], "no credential service");
    EXPECT_EQ(readFile(folder.file("log.jsonl")).find("sk-fallback"), std::string::npos);

    // Once the store can be used again, the key moves over.
    credentials->reachable = true;
    EXPECT_EQ(config.load().veyrlinkApiKey, "sk-fallback");
    EXPECT_EQ(credentials->secret, "sk-fallback");
    EXPECT_EQ(readFile(configPath()), "{}");
}

// The real credential store of this system (the login Keychain, a Secret
// Service), under a service name of the tests' own. It is the person's own,
// so it is used only when ORLUNE_TEST_CREDENTIAL_STORE=1 says this machine
// is a throwaway one (the macOS workflow sets it). Otherwise, on Linux, the
// store is made unreachable by hiding the session bus, and on the Mac,
// where nothing can hide the login Keychain, the test is skipped. An
// unreachable store must say so at once and the configuration must fall
// back to the file.
TEST(KeychainCredentialStoreTest, RoundTripOrCleanFallback) {
    const bool realStoreAllowed = qgetenv("ORLUNE_TEST_CREDENTIAL_STORE") == "1";
#ifdef __APPLE__
    if (!realStoreAllowed) {
        GTEST_SKIP() << "the login Keychain is the person's own; set "
                        "ORLUNE_TEST_CREDENTIAL_STORE=1 on a throwaway machine to test it";
    }
#endif
    testing::ScopedEnv sessionBus;
    if (!realStoreAllowed) {
        sessionBus.set("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    }
    testing::coreApplication();
    RlmTestFolder folder;
    const std::string account = "test-" + std::to_string(::getpid());
    auto keychain = std::make_shared<KeychainCredentialStore>(
        std::string(KeychainCredentialStore::kService) + ".tests", account);

    const CredentialStore::Result first = keychain->read();
    if (!first.available) {
        EXPECT_FALSE(first.error.empty());
        EXPECT_FALSE(keychain->write("sk-test").available);
        const ConfigManager config(folder.dataFolder() + "/OrluneRLM/config.json",
                                   folder.logger("config"), keychain);
        config.save(AppConfig{"sk-test"});
        EXPECT_EQ(config.load().veyrlinkApiKey, "sk-test");
        EXPECT_NE(readFile(config.configPath()).find("sk-test"), std::string::npos);
        GTEST_SKIP() << "no credential store here (" << first.error
                     << "); the file fallback was checked";
    }
    EXPECT_EQ(first.secret, std::nullopt);
    ASSERT_TRUE(keychain->write("sk-test-1").available);
    ASSERT_TRUE(keychain->write("sk-test-2").available);
    EXPECT_EQ(keychain->read().secret, "sk-test-2");
    ASSERT_TRUE(keychain->remove().available);
    EXPECT_EQ(keychain->read().secret, std::nullopt);
    EXPECT_TRUE(keychain->remove().available) << "removing nothing succeeds";
}

TEST(ShadowPathsTest, CreatesItsFolderOnceAndNotTheDatabase) {
    RlmTestFolder folder;
    const std::string first = ShadowPaths::preparedShadowDBPath();
    EXPECT_EQ(first, folder.dataFolder() + "/OrluneRLM/shadow.db");
    EXPECT_EQ(RlmTestFolder::mode(folder.dataFolder()), 0700u);
    EXPECT_EQ(RlmTestFolder::mode(folder.dataFolder() + "/OrluneRLM"), 0700u);
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_EQ(ShadowPaths::preparedShadowDBPath(), first);
}

// The application's shadow database is the one of the command-line tool and
// the helper.
TEST(ShadowPathsTest, TheApplicationUsesTheOneDefaultAndTheVariable) {
    RlmTestFolder folder;
    EXPECT_EQ(ShadowPaths::preparedShadowDBPath(), core::ShadowDB::shadowDBPath());
    testing::ScopedEnv variable("SHADOW_DB_PATH", folder.file("elsewhere.db"));
    EXPECT_EQ(ShadowPaths::preparedShadowDBPath(), folder.file("elsewhere.db"));
}

TEST(ShadowPathsTest, ExistingFoldersAreLeftAsTheyAre) {
    RlmTestFolder folder;
    std::filesystem::create_directories(folder.dataFolder() + "/OrluneRLM");
    ::chmod(folder.dataFolder().c_str(), 0755);
    ShadowPaths::preparedShadowDBPath();
    EXPECT_EQ(RlmTestFolder::mode(folder.dataFolder()), 0755u);
}

TEST(ShadowPathsTest, AFileInTheWayIsAnError) {
    RlmTestFolder folder;
    std::filesystem::create_directories(folder.dataFolder());
    writeFile(folder.dataFolder() + "/OrluneRLM", "");
    EXPECT_THROW(ShadowPaths::preparedShadowDBPath(), FileError);
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
        EXPECT_EQ(ShadowPaths::preparedShadowDBPath(), c.expectedFolder + "/OrluneRLM/shadow.db");
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

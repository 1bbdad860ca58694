// Saving the configuration and the sessions never writes through a symbolic
// link, and never into a folder other users can reach.

#include "services/PrivateFiles.hpp"

#include "services/ConfigManager.hpp"
#include "services/FileError.hpp"
#include "services/FileSessionStore.hpp"
#include "tests/rlm/ModelTestSupport.hpp"
#include "tests/rlm/RlmTestFolder.hpp"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orlune::rlm {
namespace {

using testing::eventsNamed;
using testing::readFile;
using testing::RlmTestFolder;
using testing::writeFile;

bool isLink(const std::string& path) {
    struct stat entry {};
    return ::lstat(path.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode);
}

class PrivateFilesTest : public ::testing::Test {
protected:
    std::string configPath() const { return folder.dataFolder() + "/OrluneRLM/config.json"; }
    std::string sessionsPath() const { return folder.dataFolder() + "/Orlune/sessions.json"; }
    void saveConfig() const {
        ConfigManager(configPath(), folder.logger("config")).save(AppConfig{"sk-key"});
    }
    void saveSessions() const { FileSessionStore(sessionsPath(), folder.logger("chat")).save({}); }

    RlmTestFolder folder;
};

TEST_F(PrivateFilesTest, SavingReplacesALinkAndLeavesWhatItPointedTo) {
    const struct {
        const char* name;
        std::string path;
        std::function<void()> save;
        std::string saved;
        bool dangling;
    } cases[] = {
        {"config.json to another file", configPath(), [this] { saveConfig(); },
         R"({"veyrlinkApiKey":"sk-key"})", false},
        {"config.json dangling", configPath(), [this] { saveConfig(); },
         R"({"veyrlinkApiKey":"sk-key"})", true},
        {"sessions.json to another file", sessionsPath(), [this] { saveSessions(); }, "[]", false},
        {"sessions.json dangling", sessionsPath(), [this] { saveSessions(); }, "[]", true},
    };
    std::filesystem::create_directories(folder.file("elsewhere"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = folder.file(std::string("elsewhere/") + c.name);
        if (!c.dangling) {
            writeFile(target, "another user's file");
        }
        std::filesystem::create_directories(PrivateFiles::folderOf(c.path));
        ::chmod(PrivateFiles::folderOf(c.path).c_str(), 0700);
        std::filesystem::remove(c.path);
        std::filesystem::create_symlink(target, c.path);
        const size_t before = eventsNamed(folder, "private_file_link_replaced").size();

        c.save();
        EXPECT_FALSE(isLink(c.path));
        EXPECT_EQ(readFile(c.path), c.saved);
        EXPECT_EQ(RlmTestFolder::mode(c.path), 0600u);
        if (c.dangling) {
            EXPECT_FALSE(std::filesystem::exists(target));
        } else {
            EXPECT_EQ(readFile(target), "another user's file");
            EXPECT_EQ(RlmTestFolder::mode(target), 0644u);
        }
        const auto events = eventsNamed(folder, "private_file_link_replaced");
        ASSERT_EQ(events.size(), before + 1);
        EXPECT_EQ(events.back()["path"], c.path);
        EXPECT_EQ(events.back()["level"], "warning");
    }
    // Without a link nothing is reported, and no temporary file stays behind.
    saveConfig();
    EXPECT_EQ(eventsNamed(folder, "private_file_link_replaced").size(), 4u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.dataFolder() + "/OrluneRLM"),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(PrivateFilesTest, AFolderOthersCanReachIsTightenedOrRefused) {
    const std::string own = folder.dataFolder() + "/OrluneRLM";
    const std::string elsewhere = folder.file("elsewhere");
    const struct {
        const char* name;
        std::function<void()> prepare;
        bool saved;
        std::optional<std::string> repairedFrom; // the old mode logged
    } cases[] = {
        {"missing", [] {}, true, std::nullopt},
        {"owner only",
         [&] {
             std::filesystem::create_directories(own);
             ::chmod(own.c_str(), 0700);
         },
         true, std::nullopt},
        {"writable by all",
         [&] {
             std::filesystem::create_directories(own);
             ::chmod(own.c_str(), 0777);
         },
         true, "0777"},
        {"readable by all",
         [&] {
             std::filesystem::create_directories(own);
             ::chmod(own.c_str(), 0755);
         },
         true, "0755"},
        {"a link to a private folder",
         [&] {
             std::filesystem::create_directories(elsewhere);
             ::chmod(elsewhere.c_str(), 0700);
             std::filesystem::create_directories(folder.dataFolder());
             std::filesystem::create_directory_symlink(elsewhere, own);
         },
         true, std::nullopt},
        {"a link to a folder all can write to",
         [&] {
             std::filesystem::create_directories(elsewhere);
             ::chmod(elsewhere.c_str(), 0777);
             std::filesystem::create_directories(folder.dataFolder());
             std::filesystem::create_directory_symlink(elsewhere, own);
         },
         false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(folder.dataFolder());
        std::filesystem::remove_all(elsewhere);
        c.prepare();
        const size_t before = eventsNamed(folder, "private_folder_repaired").size();
        if (c.saved) {
            EXPECT_NO_THROW(saveConfig());
            EXPECT_EQ(readFile(configPath()), R"({"veyrlinkApiKey":"sk-key"})");
        } else {
            EXPECT_THROW(saveConfig(), FileError);
            EXPECT_FALSE(std::filesystem::exists(elsewhere + "/config.json"));
        }
        const auto repaired = eventsNamed(folder, "private_folder_repaired");
        ASSERT_EQ(repaired.size(), before + (c.repairedFrom ? 1 : 0));
        if (c.repairedFrom) {
            EXPECT_EQ(RlmTestFolder::mode(own), 0700u);
            EXPECT_EQ(repaired.back()["old_mode"], *c.repairedFrom);
            EXPECT_EQ(repaired.back()["path"], own);
        }
    }
}

TEST_F(PrivateFilesTest, TheSessionsFolderIsTightenedToo) {
    const std::string own = folder.dataFolder() + "/Orlune";
    std::filesystem::create_directories(own);
    ::chmod(own.c_str(), 0777);
    saveSessions();
    EXPECT_EQ(RlmTestFolder::mode(own), 0700u);
    EXPECT_EQ(eventsNamed(folder, "private_folder_repaired").size(), 1u);
}

TEST_F(PrivateFilesTest, AFolderOfAnotherUserIsRefused) {
    const std::string own = folder.dataFolder() + "/OrluneRLM";
    std::filesystem::create_directories(own);
    if (::geteuid() != 0 || ::chown(own.c_str(), 65534, 65534) != 0) {
        GTEST_SKIP() << "giving a folder to another user needs root";
    }
    try {
        saveConfig();
        ADD_FAILURE() << "saved into another user's folder";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find("belongs to another user"), std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(std::filesystem::exists(configPath()));
}

} // namespace
} // namespace orlune::rlm

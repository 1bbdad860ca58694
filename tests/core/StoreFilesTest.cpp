// The messaging store as files on disk: in WAL mode with its -wal and -shm
// files, as a snapshot without them, and damaged or foreign. A sync never
// creates, changes or deletes anything beside the store, and a store that
// cannot be read leaves the shadow database as it was.

#include "shadow/ShadowDB.hpp"
#include "sql/SQLite.hpp"
#include "sql/StoreConnection.hpp"
#include "store/ChatDBReader.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <cerrno>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace orlune::core {
namespace {

using samplestore::ChatStoreWriter;
using ::testing::HasSubstr;
using testing::readFile;
using testing::ScopedEnv;
using testing::TempDir;
using testing::writeFile;

// Every file of a folder with its bytes.
std::map<std::string, std::string> folderContents(const std::filesystem::path& folder) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        contents[entry.path().filename().string()] = readFile(entry.path().string());
    }
    return contents;
}

std::vector<std::string> names(const std::map<std::string, std::string>& contents) {
    std::vector<std::string> result;
    for (const auto& [name, bytes] : contents) {
        result.push_back(name);
    }
    return result;
}

void exec(sqlite3* db, const std::string& sql) {
    sqlite::exec(db, sql);
}

class StoreFilesTest : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv env{"HOME", dir.path().string()};
    std::filesystem::path storeFolder = dir.path() / "Messages";
    std::string storePath = (storeFolder / "chat.db").string();
    std::string shadowPath = dir.file("shadow.db");

    void SetUp() override {
        env.set("XDG_DATA_HOME", dir.file("data"));
        env.set("ORLUNE_DATA_DIR", dir.file("data"));
        std::filesystem::create_directories(storeFolder);
    }

    int64_t sync() { return ShadowSync(storePath, shadowPath).performSync(); }
    int64_t shadowCount() { return ShadowSync(storePath, shadowPath).messageCount(); }

    // A sample store switched to WAL mode and closed: the file has a WAL
    // header and, the last connection having checkpointed, no -wal or -shm.
    samplestore::SampleStoreSummary buildWalStore(int64_t messages) {
        samplestore::SampleStoreOptions options;
        options.messageCount = messages;
        auto summary = samplestore::buildSampleStore(storePath, options);
        testing::DatabaseProbe(storePath).exec("PRAGMA journal_mode = WAL");
        return summary;
    }

    int64_t messagesWithTextInAFreshSync() {
        TempDir other;
        std::string copy = other.file("chat.db");
        std::filesystem::copy_file(storePath, copy);
        ShadowSync reference(copy, other.file("shadow.db"));
        reference.performSync();
        return reference.messageCount();
    }
};

TEST_F(StoreFilesTest, AWalStoreIsReadWithTheRowsOnlyInItsWalFileAndNothingBesideItChanges) {
    buildWalStore(300);
    const int64_t before = messagesWithTextInAFreshSync();
    // The messaging service keeps its connection open and has not
    // checkpointed: the new rows, dated after all others, live only in the
    // -wal file.
    sqlite::Connection service;
    ASSERT_EQ(service.open(storePath, SQLITE_OPEN_READWRITE), SQLITE_OK);
    exec(service.get(), "PRAGMA wal_autocheckpoint = 0");
    exec(service.get(),
         "BEGIN; INSERT INTO message (ROWID, guid, text, date, is_from_me, handle_id) "
         "SELECT 100000 + ROWID, 'wal-' || ROWID, 'only in the wal ' || ROWID, "
         "date + 1000000000000, 0, handle_id FROM message WHERE ROWID <= 50; COMMIT");
    ASSERT_TRUE(std::filesystem::exists(storePath + "-wal"));
    ASSERT_TRUE(std::filesystem::exists(storePath + "-shm"));
    const auto filesBefore = folderContents(storeFolder);

    sync();
    EXPECT_EQ(shadowCount(), before + 50);

    const auto filesAfter = folderContents(storeFolder);
    EXPECT_EQ(names(filesAfter), names(filesBefore));
    EXPECT_EQ(filesAfter.at("chat.db"), filesBefore.at("chat.db"));
    EXPECT_EQ(filesAfter.at("chat.db-wal"), filesBefore.at("chat.db-wal"));
}

TEST_F(StoreFilesTest, ASnapshotWithAWalHeaderButNoWalFilesOpensAndStaysUntouched) {
    buildWalStore(300);
    ASSERT_FALSE(std::filesystem::exists(storePath + "-wal"));
    const int64_t expected = messagesWithTextInAFreshSync();
    const auto filesBefore = folderContents(storeFolder);

    sync();
    EXPECT_EQ(shadowCount(), expected);
    EXPECT_EQ(sync(), 0);

    EXPECT_EQ(folderContents(storeFolder), filesBefore);
}

TEST_F(StoreFilesTest, ASnapshotThatCannotBeReadSaysWhatWasTried) {
    buildWalStore(300);
    std::string bytes = readFile(storePath);
    writeFile(storePath, bytes.substr(0, bytes.size() / 2));
    try {
        ChatDBReader reader(storePath);
        FAIL() << "expected failedToOpen";
    } catch (const ChatDBReader::Error& error) {
        EXPECT_EQ(error.kind(), ChatDBReader::Error::Kind::failedToOpen);
        EXPECT_THAT(error.what(), HasSubstr("the file is truncated"));
        EXPECT_THAT(error.what(),
                    HasSubstr("the store is in WAL mode without its -wal and -shm files; "
                              "it was opened as an immutable snapshot"));
    }
    EXPECT_EQ(names(folderContents(storeFolder)), std::vector<std::string>{"chat.db"});
}

// Folder names that mean something else inside a "file:" URI: each store is
// read from exactly the folder named, with a decoy store at the path a
// careless URI would name instead, and neither is changed; the shadow
// database is written in exactly that folder too.
TEST_F(StoreFilesTest, AStoreIsReadFromExactlyTheFolderNamed) {
    struct Case {
        std::string folder;
        std::string decoyFolder; // where the unescaped URI would point; "" for none
    };
    const Case cases[] = {
        {"a%20b", "a b"},
        {"x#y?z", "x"},
        {"Nachrichten von J\u00fcrgen \u00e9t\u00e9", ""},
        {"%41%", "A%"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::filesystem::path folder =
            dir.path() / ("case" + std::to_string(index++)) / c.folder;
        std::filesystem::create_directories(folder);
        const std::string store = (folder / "chat.db").string();
        ChatStoreWriter writer(store);
        writer.addHandle({1, std::string("+15550001"), std::string("iMessage")});
        writer.addMessage(
            {1, std::string("right-1"), std::string("from the named folder"), {}, 10, 0, 1});
        std::string decoy;
        if (!c.decoyFolder.empty()) {
            const auto decoyFolder = folder.parent_path() / c.decoyFolder;
            std::filesystem::create_directories(decoyFolder);
            decoy = (decoyFolder / "chat.db").string();
            ChatStoreWriter decoyWriter(decoy);
            decoyWriter.addMessage(
                {1, std::string("decoy-1"), std::string("from the decoy"), {}, 10, 0, 0});
        }
        const std::string storeBytes = readFile(store);
        const std::string shadow = (folder / "shadow.db").string();

        ShadowSync(store, shadow).performSync();
        EXPECT_TRUE(std::filesystem::is_regular_file(shadow));
        if (!c.decoyFolder.empty()) {
            EXPECT_FALSE(
                std::filesystem::exists(folder.parent_path() / c.decoyFolder / "shadow.db"));
        }

        const auto hits = ShadowDBReader(shadow).search("named", 10);
        ASSERT_EQ(hits.size(), 1u);
        EXPECT_EQ(hits[0].guid, "right-1");
        EXPECT_TRUE(ShadowDBReader(shadow).search("decoy", 10).empty());
        EXPECT_EQ(readFile(store), storeBytes);
    }
}

// A store that cannot be read, and how it is broken.
TEST(StoreAccessDenialTest, TheSystemsRefusalsAreToldFromOtherFailures) {
    const struct {
        const char* name;
        int code;
        int systemErrno;
        bool denied;
    } cases[] = {
        {"privacy protection (Apple's SQLite)", SQLITE_AUTH, 0, true},
        {"authorization, extended code", SQLITE_AUTH_USER, 0, true},
        {"permission", SQLITE_PERM, 0, true},
        {"open refused by the system", SQLITE_CANTOPEN, EPERM, true},
        {"open refused by file modes", SQLITE_CANTOPEN, EACCES, true},
        {"read refused, extended code", SQLITE_IOERR_READ, EPERM, true},
        {"missing file", SQLITE_CANTOPEN, ENOENT, false},
        {"a folder", SQLITE_IOERR, EISDIR, false},
        {"not a database", SQLITE_NOTADB, 0, false},
        {"busy", SQLITE_BUSY, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isAccessDenial(c.code, c.systemErrno), c.denied) << c.name;
    }
}

// File modes do not stop root, so this runs only unprivileged (as on the
// macOS workflow's runners, where the privacy protection refuses the same way).
TEST_F(StoreFilesTest, AStoreTheSystemRefusesIsReportedAsRefusedNotAsMissing) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root is never refused a file";
    }
    samplestore::SampleStoreOptions options;
    options.messageCount = 50;
    samplestore::buildSampleStore(storePath, options);

    // The file itself refused: the open says so.
    std::filesystem::permissions(storePath, std::filesystem::perms::none);
    StoreOpenFailure failure;
    EXPECT_FALSE(openStoreReadOnly(storePath, failure));
    EXPECT_TRUE(failure.accessDenied);
    EXPECT_THAT(failure.message, HasSubstr("the system refused access to " + storePath));
    std::filesystem::permissions(storePath, std::filesystem::perms::owner_read |
                                                std::filesystem::perms::owner_write);

    // Its folder refused: even stat fails, which is not "missing".
    std::filesystem::permissions(storeFolder, std::filesystem::perms::none);
    try {
        sync();
        ADD_FAILURE() << "synced a refused store";
    } catch (const ChatDBReader::Error& error) {
        EXPECT_EQ(error.kind(), ChatDBReader::Error::Kind::failedToOpen);
        EXPECT_THAT(error.what(), HasSubstr("the system refused access"));
    }
    std::filesystem::permissions(storeFolder, std::filesystem::perms::owner_all);
    EXPECT_FALSE(std::filesystem::exists(shadowPath));
}

struct BrokenStore {
    const char* name;
    std::function<void(const std::string& path)> breakIt;
    ChatDBReader::Error::Kind kind;
    std::function<std::string(const std::string& path)> description;
};

class BrokenStoreTest : public StoreFilesTest, public ::testing::WithParamInterface<BrokenStore> {};

TEST_P(BrokenStoreTest, GivesItsOwnErrorAndLeavesTheShadowDatabaseUntouched) {
    samplestore::SampleStoreOptions options;
    options.messageCount = 200;
    samplestore::buildSampleStore(storePath, options);
    ASSERT_GT(sync(), 0);
    const std::string shadowBefore = readFile(shadowPath);
    const auto shadowFolderBefore = names(folderContents(dir.path()));

    GetParam().breakIt(storePath);
    try {
        sync();
        FAIL() << "expected an error";
    } catch (const ChatDBReader::Error& error) {
        EXPECT_EQ(error.kind(), GetParam().kind);
        EXPECT_EQ(std::string(error.what()), GetParam().description(storePath));
    }
    EXPECT_EQ(readFile(shadowPath), shadowBefore);
    EXPECT_EQ(names(folderContents(dir.path())), shadowFolderBefore);
}

void runOnStore(const std::string& path, const std::string& sql) {
    testing::DatabaseProbe(path).exec(sql);
}

// Replaces the store file with something that is not one.
void replaceStore(const std::string& path, const std::function<void()>& make) {
    std::filesystem::remove(path);
    make();
}

INSTANTIATE_TEST_SUITE_P(
    Stores, BrokenStoreTest,
    ::testing::Values(
        BrokenStore{
            "MissingColumn",
            [](const std::string& path) {
                runOnStore(path, "ALTER TABLE message DROP COLUMN attributedBody");
            },
            ChatDBReader::Error::Kind::queryFailed,
            [](const std::string&) {
                return std::string(
                    "Query failed: the messaging store has no column message.attributedBody");
            }},
        BrokenStore{
            "MissingTable",
            [](const std::string& path) { runOnStore(path, "DROP TABLE chat_handle_join"); },
            ChatDBReader::Error::Kind::queryFailed,
            [](const std::string&) {
                return std::string(
                    "Query failed: the messaging store has no table chat_handle_join");
            }},
        BrokenStore{
            "TruncatedFile",
            [](const std::string& path) {
                std::string bytes = readFile(path);
                writeFile(path, bytes.substr(0, 8192));
            },
            ChatDBReader::Error::Kind::failedToOpen,
            [](const std::string& path) {
                // The size the header announces: page size x page count.
                std::string header = readFile(path).substr(0, 100);
                auto byte = [&](int i) {
                    return static_cast<uint64_t>(static_cast<unsigned char>(header[i]));
                };
                uint64_t pageSize = (byte(16) << 8) | byte(17);
                uint64_t pages = (byte(28) << 24) | (byte(29) << 16) | (byte(30) << 8) | byte(31);
                return "Failed to open database: database disk image is malformed: the file is "
                       "truncated (8192 bytes where its header announces " +
                       std::to_string(pageSize * pages) + ")";
            }},
        BrokenStore{"NotADatabase",
                    [](const std::string& path) { writeFile(path, std::string(8192, '\x5a')); },
                    ChatDBReader::Error::Kind::failedToOpen,
                    [](const std::string& path) {
                        return "Failed to open database: file is not a database: " + path +
                               " is not an SQLite database";
                    }},
        // Reading a FIFO would wait for a writer for ever.
        BrokenStore{"Fifo",
                    [](const std::string& path) {
                        replaceStore(path, [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); });
                    },
                    ChatDBReader::Error::Kind::failedToOpen,
                    [](const std::string& path) {
                        return "Failed to open database: " + path +
                               " is a FIFO, not a regular file; only a database file can be read";
                    }},
        BrokenStore{"Folder",
                    [](const std::string& path) {
                        replaceStore(path, [&] { std::filesystem::create_directory(path); });
                    },
                    ChatDBReader::Error::Kind::failedToOpen,
                    [](const std::string& path) {
                        return "Failed to open database: " + path +
                               " is a folder, not a database file";
                    }},
        BrokenStore{"SymbolicLinkLoop",
                    [](const std::string& path) {
                        replaceStore(path, [&] {
                            std::filesystem::create_symlink(path + ".other", path);
                            std::filesystem::create_symlink(path, path + ".other");
                        });
                    },
                    ChatDBReader::Error::Kind::failedToOpen,
                    [](const std::string& path) {
                        return "Failed to open database: " + path +
                               " cannot be reached: its symbolic links form a loop";
                    }}),
    [](const ::testing::TestParamInfo<BrokenStore>& info) { return std::string(info.param.name); });

} // namespace
} // namespace orlune::core

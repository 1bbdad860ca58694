// `orlune sync`: one sync pass from the messaging store into the shadow
// database.

#include "Command.hpp"
#include "TerminalOutput.hpp"
#include "base/SystemDifferences.hpp"
#include "services/ConfigManager.hpp"
#include "shadow/ShadowDBReader.hpp"
#include "store/ChatDBReader.hpp"
#include "sync/ShadowSync.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <exception>
#include <iostream>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace orlune::cli {

namespace {

constexpr const char* kHelp =
    "Usage: orlune sync [--chat-db PATH] [--shadow-db PATH] [--contacts FILE.vcf]...\n"
    "                   [--exclude-chat ID]... [--include-chat ID]...\n"
    "                   [--include-junk] [--watch]\n"
    "\n"
    "Copies the messages that are new since the last sync from the messaging\n"
    "store into the shadow database (Orlune's private, searchable copy), in one\n"
    "pass. The messaging store is only read, never written. A new shadow\n"
    "database is created with its schema on the first sync.\n"
    "\n"
    "Options:\n"
    "  --chat-db PATH    the messaging store to read (default: $CHAT_DB_PATH,\n"
    "                    else ~/Library/Messages/chat.db)\n"
    "  --shadow-db PATH  the shadow database to write (default: $SHADOW_DB_PATH,\n"
    "                    else OrluneRLM/shadow.db in your per-user data folder:\n"
    "                    the one `orlune ask`, the read verbs and the app use;\n"
    "                    a database left at the old default Orlune/shadow.db\n"
    "                    is moved there)\n"
    "  --contacts FILE   a vCard file (3.0 or 4.0) of your contacts, read with\n"
    "                    your address books to name the people you message;\n"
    "                    may be given more than once; read after the files\n"
    "                    of the configuration (\"contactsFiles\" in the app's\n"
    "                    config.json, also set in its Settings)\n"
    "  --exclude-chat ID leave the chat with this id (as `orlune chats` lists it)\n"
    "                    out from now on: it is added to the chats left out\n"
    "                    (\"excludedChats\" in the app's config.json, also set in\n"
    "                    its Settings), and this sync removes whatever was\n"
    "                    copied of it (messages, reactions, attachments,\n"
    "                    members, its title, the people met only there) and\n"
    "                    purges its words from the database's files; may be\n"
    "                    given more than once\n"
    "  --include-chat ID take a chat left out back in: this sync copies it\n"
    "                    again; may be given more than once\n"
    "  --include-junk    also copy the chats the store files as junk, blocked\n"
    "                    senders' chats and messages marked spam (left out\n"
    "                    otherwise); changing this copies the store again\n"
    "  --watch           keep running: sync again whenever the store or its\n"
    "                    write-ahead log changes (at least every 3 seconds\n"
    "                    while it keeps changing), until Ctrl-C or SIGTERM,\n"
    "                    which end it after the pass in progress with status 0\n"
    "                    (a failed pass is reported and watching goes on);\n"
    "                    each pass leaves out the chats the configuration\n"
    "                    leaves out at that moment\n"
    "  -h, --help        show this help\n"
    "\n"
    "Each sync also names the people behind the senders and what each chat is\n"
    "called, from your address books ($ADDRESS_BOOK_PATH, else\n"
    "~/Library/Application Support/AddressBook), the configuration's vCard\n"
    "files and the ones given. A book or file that cannot be read (locked,\n"
    "damaged, missing) is named on standard error and skipped; the sync goes\n"
    "on.\n"
    "\n"
    "While the configuration file cannot be read, the sync leaves out the\n"
    "chats it left out last time (--exclude-chat and --include-chat then fail\n"
    "with status 1, copying nothing). So do they for an id that names no chat\n"
    "in the messaging store or the shadow database.\n"
    "\n"
    "Prints how many messages were written and how many the shadow database\n"
    "holds. On a terminal it shows the rows read so far during long passes.\n"
    "On failure it prints the reason on standard error and exits with status 1;\n"
    "pages written before the failure are kept and the next sync resumes after\n"
    "them. Wrong arguments exit with status 2.\n"
    "\n"
    "The shadow database remembers which messaging store it copies: another\n"
    "store is refused, and another store put at the same path is copied again\n"
    "in full in place of the earlier copy, which the sync says. Only one sync\n"
    "at a time writes a shadow database; a second one\n"
    "says so and exits with status 1. A database written by a newer version of\n"
    "Orlune, or a file that is not a shadow database, is refused and left as\n"
    "it was; one written by an older version is upgraded in place.\n";

struct Options {
    std::optional<std::string> chatDB;
    std::optional<std::string> shadowDB;
    bool watch = false;
    std::vector<std::string> contacts;
    std::vector<std::string> excludeChats;
    std::vector<std::string> includeChats;
    bool includeJunk = false;
};

// How often --watch looks at the store, how long a change must be quiet
// before a pass starts (a burst of writes makes one pass), and how long a
// change waits at most while the store never goes quiet.
constexpr std::chrono::milliseconds kWatchPeriod{250};
constexpr std::chrono::milliseconds kWatchQuiet{500};
constexpr std::chrono::milliseconds kWatchMaxWait{3000};

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int) {
    stopRequested = 1;
}

// Sizes and modification times of the store and its log; a pass starts when
// they move. Reading them costs two stat calls.
struct StoreSignature {
    long long storeSize = -1;
    long long storeModified = 0;
    long long logSize = -1;
    long long logModified = 0;
    bool operator==(const StoreSignature&) const = default;
};

long long nanosecondsSinceEpoch(const timespec& time) {
    return static_cast<long long>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

StoreSignature signatureOf(const std::string& store) {
    StoreSignature signature;
    struct stat info {};
    if (::stat(store.c_str(), &info) == 0) {
        signature.storeSize = info.st_size;
        signature.storeModified = nanosecondsSinceEpoch(core::modificationTime(info));
    }
    if (::stat((store + "-wal").c_str(), &info) == 0) {
        signature.logSize = info.st_size;
        signature.logModified = nanosecondsSinceEpoch(core::modificationTime(info));
    }
    return signature;
}

// Waits until the store's signature differs from `seen` and has then been
// quiet for kWatchQuiet, or the first change is kWatchMaxWait old, or a stop
// is requested. Returns false on a stop.
bool waitForChange(const std::string& store, StoreSignature& seen) {
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> firstChange;
    auto quietSince = Clock::now();
    while (stopRequested == 0) {
        std::this_thread::sleep_for(kWatchPeriod);
        const StoreSignature now = signatureOf(store);
        if (!(now == seen)) {
            seen = now;
            quietSince = Clock::now();
            firstChange = firstChange.value_or(quietSince);
        }
        if (firstChange && (Clock::now() - quietSince >= kWatchQuiet ||
                            Clock::now() - *firstChange >= kWatchMaxWait)) {
            return true;
        }
    }
    return false;
}

// What an option's value is, for messages ("path").
std::string valueName(const std::string& option) {
    return option == "--exclude-chat" || option == "--include-chat" ? "chat id" : "path";
}

// Accepts "--name VALUE" and "--name=VALUE". Returns false (after printing
// why) on anything else.
bool parse(const std::vector<std::string>& args, Options& options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::optional<std::string>* target = nullptr;
        // The value of a repeatable option, and the list it joins.
        std::optional<std::string> listed;
        std::vector<std::string>* list = nullptr;
        std::string name = arg.substr(0, arg.find('='));
        if (arg == "--watch") {
            options.watch = true;
            continue;
        }
        if (arg == "--include-junk") {
            options.includeJunk = true;
            continue;
        }
        if (name == "--contacts" || name == "--exclude-chat" || name == "--include-chat") {
            target = &listed;
            list = name == "--contacts"       ? &options.contacts
                   : name == "--exclude-chat" ? &options.excludeChats
                                              : &options.includeChats;
        } else if (name == "--chat-db") {
            target = &options.chatDB;
        } else if (name == "--shadow-db") {
            target = &options.shadowDB;
        } else {
            std::cerr << "orlune sync: unknown argument '" << arg << "'\n"
                      << "Run `orlune sync --help` for usage.\n";
            return false;
        }
        if (name.size() < arg.size()) {
            *target = arg.substr(name.size() + 1);
        } else if (i + 1 < args.size()) {
            *target = args[++i];
        } else {
            std::cerr << "orlune sync: " << name << " needs a " << valueName(name) << "\n";
            return false;
        }
        if ((*target)->empty()) {
            std::cerr << "orlune sync: " << name << " needs a non-empty " << valueName(name)
                      << "\n";
            return false;
        }
        if (list != nullptr) {
            list->push_back(*listed);
        }
    }
    return true;
}

// The configuration's contact files, then those of --contacts that are not
// among them. The configuration is read without the credential store: a
// sync needs no key.
std::vector<std::string> contactFiles(const std::vector<std::string>& given) {
    std::vector<std::string> files =
        rlm::ConfigManager::shared().loadWithoutCredentials().contactsFiles;
    for (const std::string& path : given) {
        if (std::find(files.begin(), files.end(), path) == files.end()) {
            files.push_back(path);
        }
    }
    return files;
}

// What the shadow database at `shadowPath` calls the chat, when it holds it.
// A database that cannot be read names nothing here; the sync says what is
// wrong with it.
std::optional<std::string> titleInCopy(const std::string& shadowPath, const std::string& chatId) {
    if (!core::pathExists(shadowPath)) {
        return std::nullopt;
    }
    try {
        core::ShadowDBReader copy(shadowPath);
        if (copy.hasPeopleTables()) {
            for (const core::ChatTitleRow& chat : copy.chats()) {
                if (chat.chatId == chatId) {
                    return chat.title;
                }
            }
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

// The chats the configuration leaves out; absent, after saying so, when it
// cannot be read: the sync then leaves out those it left out last time
// rather than none, which would copy them.
std::optional<std::set<std::string>> configuredChatsLeftOut() {
    try {
        return rlm::ConfigManager::shared().readSettings().excludedChatIds();
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\nThe chats left out at the last sync stay left out.\n";
        return std::nullopt;
    }
}

// Whether the messaging store at `storePath` has the chat; false, with the
// store's error in `storeError`, when the store cannot be read.
bool storeHasChat(const std::string& storePath, const std::string& chatId,
                  std::string& storeError) {
    try {
        core::ChatDBReader store(storePath);
        return store.hasChat(chatId);
    } catch (const std::exception& error) {
        storeError = error.what();
        return false;
    }
}

// Refuses, naming it, a chat id given to --exclude-chat or --include-chat
// that neither the messaging store nor the shadow database has (a chat not
// copied yet is in the store; one gone from the store is still in the copy)
// and, for --include-chat, that is not left out either. Throws
// std::runtime_error.
void checkChatIds(const Options& options, const rlm::AppConfig& settings,
                  const std::string& storePath, const std::string& shadowPath) {
    auto check = [&](const std::string& chatId, bool leftOutIsKnown) {
        if (leftOutIsKnown && settings.excludedChatIds().count(chatId) > 0) {
            return;
        }
        std::string storeError;
        if (storeHasChat(storePath, chatId, storeError) || titleInCopy(shadowPath, chatId)) {
            return;
        }
        throw std::runtime_error(
            "orlune sync: no chat has the id '" + chatId +
            "' in the messaging store or the shadow database" +
            (storeError.empty() ? "" : " (the store could not be read: " + storeError + ")") +
            ". `orlune chats` lists the chats with their ids. Nothing was changed.");
    };
    for (const std::string& chatId : options.excludeChats) {
        check(chatId, false);
    }
    for (const std::string& chatId : options.includeChats) {
        check(chatId, true);
    }
}

// Records --exclude-chat and --include-chat in the configuration (each left
// out with the title the copy gives it) and returns every chat to leave out,
// as configuredChatsLeftOut() without them. Throws rlm::FileError when they
// cannot be recorded (a configuration that cannot be read or written) and
// std::runtime_error for an id of no chat (checkChatIds); the configuration
// is then left as it was.
std::optional<std::set<std::string>> chatsToLeaveOut(const Options& options,
                                                     const std::string& storePath,
                                                     const std::string& shadowPath) {
    const rlm::ConfigManager& config = rlm::ConfigManager::shared();
    if (options.excludeChats.empty() && options.includeChats.empty()) {
        return configuredChatsLeftOut();
    }
    std::set<std::string> excluded;
    config.update([&](rlm::AppConfig& settings) {
        checkChatIds(options, settings, storePath, shadowPath);
        for (const std::string& chatId : options.includeChats) {
            settings.includeChat(chatId);
        }
        for (const std::string& chatId : options.excludeChats) {
            settings.excludeChat(chatId, titleInCopy(shadowPath, chatId));
        }
        excluded = settings.excludedChatIds();
    });
    return excluded;
}

// A failed pass for people: the error, and for a store that is not there,
// which file was looked for and what to do.
void printFailure(const std::exception& error, const std::string& storePath) {
    std::cerr << error.what() << "\n";
    const auto* syncError = dynamic_cast<const core::ShadowSyncError*>(&error);
    if (syncError != nullptr && syncError->kind() == core::ShadowSyncError::Kind::chatDBNotFound) {
        std::cerr << "Nothing is at " << storePath
                  << ". Name the messaging store with --chat-db PATH (or CHAT_DB_PATH); on "
                     "macOS, give the program running orlune Full Disk Access (System Settings "
                     "> Privacy & Security > Full Disk Access).\n";
    }
    std::cerr << std::flush;
}

void printContactWarnings(const core::ShadowSync& sync) {
    for (const std::string& note : sync.passNotes()) {
        std::cerr << note << "\n";
    }
    for (const std::string& warning : sync.contactWarnings()) {
        std::cerr << "Contacts skipped: " << warning << "\n";
    }
}

int runSync(const std::vector<std::string>& args) {
    Options options;
    if (!parse(args, options)) {
        return 2;
    }
    const bool showProgress = isatty(STDERR_FILENO) == 1;
    bool progressShown = false;
    auto progress = [&](int64_t rowsRead) {
        if (showProgress) {
            writeControlToStandardError("\rRead " + std::to_string(rowsRead) +
                                        " rows from the messaging store...");
            progressShown = true;
        }
    };
    auto endProgressLine = [&] {
        if (progressShown) {
            std::cerr << "\n";
            progressShown = false;
        }
    };

    if (!options.watch) {
        std::string storePath;
        try {
            core::ShadowSync sync(options.chatDB, options.shadowDB);
            storePath = sync.sourceDatabasePath();
            sync.setExcludedChats(
                chatsToLeaveOut(options, sync.sourceDatabasePath(), sync.databasePath()));
            sync.setContactFiles(contactFiles(options.contacts));
            sync.setIncludeJunk(options.includeJunk);
            std::cout << "Syncing " << sync.sourceDatabasePath() << " into " << sync.databasePath()
                      << "\n"
                      << std::flush;
            int64_t written = sync.performSync(progress);
            endProgressLine();
            printContactWarnings(sync);
            int64_t count = sync.messageCount();
            std::cout << "Messages written: " << written << "\n"
                      << "Messages in the shadow database: " << count << "\n";
            return 0;
        } catch (const std::exception& error) {
            endProgressLine();
            printFailure(error, storePath);
            return 1;
        }
    }

    // Each page of a pass is its own transaction, so a signal only has to
    // let the pass in progress end: nothing is left half written.
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    std::optional<core::ShadowSync> sync;
    try {
        sync.emplace(options.chatDB, options.shadowDB);
        sync->setExcludedChats(
            chatsToLeaveOut(options, sync->sourceDatabasePath(), sync->databasePath()));
        sync->setContactFiles(contactFiles(options.contacts));
        sync->setIncludeJunk(options.includeJunk);
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    std::cout << "Watching " << sync->sourceDatabasePath() << " for " << sync->databasePath()
              << " (Ctrl-C ends)\n"
              << std::flush;
    StoreSignature seen = signatureOf(sync->sourceDatabasePath());
    do {
        try {
            // The chats left out as the configuration says now (the app's
            // Settings may change them while watching).
            sync->setExcludedChats(configuredChatsLeftOut());
            int64_t written = sync->performSync(progress);
            endProgressLine();
            printContactWarnings(*sync);
            std::cout << "Messages written: " << written
                      << "; in the shadow database: " << sync->messageCount() << "\n"
                      << std::flush;
        } catch (const std::exception& error) {
            endProgressLine();
            printFailure(error, sync->sourceDatabasePath());
        }
    } while (stopRequested == 0 && waitForChange(sync->sourceDatabasePath(), seen));
    std::cout << "Stopped.\n" << std::flush;
    return 0;
}

const CommandRegistration registration(Command{
    "sync",
    "copy new messages from the messaging store into the shadow database",
    kHelp,
    runSync,
});

} // namespace

} // namespace orlune::cli

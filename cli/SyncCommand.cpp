// `orlune sync`: one sync pass from the messaging store into the shadow
// database.

#include "Command.hpp"
#include "OrluneCore/ShadowSync.hpp"

#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>

namespace orlune::cli {

namespace {

constexpr const char* kHelp =
    "Usage: orlune sync [--chat-db PATH] [--shadow-db PATH] [--contacts FILE.vcf]...\n"
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
    "                    may be given more than once\n"
    "  -h, --help        show this help\n"
    "\n"
    "Each sync also names the people behind the senders and what each chat is\n"
    "called, from your address books ($ADDRESS_BOOK_PATH, else\n"
    "~/Library/Application Support/AddressBook) and the vCard files given. A\n"
    "book or file that cannot be read (locked, damaged, missing) is named on\n"
    "standard error and skipped; the sync goes on.\n"
    "\n"
    "Prints how many messages were written and how many the shadow database\n"
    "holds. On a terminal it shows the rows read so far during long passes.\n"
    "On failure it prints the reason on standard error and exits with status 1;\n"
    "pages written before the failure are kept and the next sync resumes after\n"
    "them. Wrong arguments exit with status 2.\n"
    "\n"
    "The shadow database remembers which messaging store it copies: another\n"
    "store is refused, and a store made anew at the same path is copied again\n"
    "in full. Only one sync at a time writes a shadow database; a second one\n"
    "says so and exits with status 1. A database written by a newer version of\n"
    "Orlune, or a file that is not a shadow database, is refused and left as\n"
    "it was; one written by an older version is upgraded in place.\n";

struct Options {
    std::optional<std::string> chatDB;
    std::optional<std::string> shadowDB;
    std::vector<std::string> contacts;
};

// Accepts "--name VALUE" and "--name=VALUE". Returns false (after printing
// why) on anything else.
bool parse(const std::vector<std::string>& args, Options& options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::optional<std::string>* target = nullptr;
        std::optional<std::string> contactFile;
        std::string name = arg.substr(0, arg.find('='));
        if (name == "--contacts") {
            target = &contactFile;
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
            std::cerr << "orlune sync: " << name << " needs a path\n";
            return false;
        }
        if ((*target)->empty()) {
            std::cerr << "orlune sync: " << name << " needs a non-empty path\n";
            return false;
        }
        if (contactFile) {
            options.contacts.push_back(*contactFile);
        }
    }
    return true;
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
            std::cerr << "\rRead " << rowsRead << " rows from the messaging store..." << std::flush;
            progressShown = true;
        }
    };
    auto endProgressLine = [&] {
        if (progressShown) {
            std::cerr << "\n";
            progressShown = false;
        }
    };

    try {
        core::ShadowSync sync(options.chatDB, options.shadowDB);
        sync.setContactFiles(options.contacts);
        std::cout << "Syncing " << sync.sourceDatabasePath() << " into " << sync.databasePath()
                  << "\n"
                  << std::flush;
        int64_t written = sync.performSync(progress);
        endProgressLine();
        for (const std::string& warning : sync.contactWarnings()) {
            std::cerr << "Contacts skipped: " << warning << "\n";
        }
        int64_t count = sync.messageCount();
        std::cout << "Messages written: " << written << "\n"
                  << "Messages in the shadow database: " << count << "\n";
        return 0;
    } catch (const std::exception& error) {
        endProgressLine();
        std::cerr << error.what() << "\n";
        return 1;
    }
}

const CommandRegistration registration(Command{
    "sync",
    "copy new messages from the messaging store into the shadow database",
    kHelp,
    runSync,
});

} // namespace

} // namespace orlune::cli

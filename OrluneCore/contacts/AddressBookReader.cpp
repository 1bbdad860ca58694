#include "contacts/AddressBookReader.hpp"

#include "sql/SQLite.hpp"
#include "sql/StoreConnection.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>
#include <tuple>

namespace orlune::core {

namespace {

namespace fs = std::filesystem;

constexpr const char* kBookFileName = "AddressBook-v22.abcddb";
constexpr const char* kSourcesFolder = "Sources";
constexpr const char* kDefaultFolder = "Library/Application Support/AddressBook";

using Kind = AddressBookReader::Error::Kind;

// Column positions of a `SELECT *` statement by name; -1 for a column the
// table does not have.
class Columns {
public:
    explicit Columns(const sqlite::Statement& statement) {
        for (int i = 0; i < statement.columnCount(); ++i) {
            byName_[statement.columnName(i)] = i;
        }
    }
    int operator[](const std::string& name) const {
        auto found = byName_.find(name);
        return found == byName_.end() ? -1 : found->second;
    }

private:
    std::map<std::string, int> byName_;
};

std::string text(const sqlite::Statement& statement, int column) {
    if (column < 0) {
        return {};
    }
    std::string value = statement.columnText(column);
    const auto first = value.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = value.find_last_not_of(" \t\r\n");
    return value.substr(first, last - first + 1);
}

int64_t integer(const sqlite::Statement& statement, int column) {
    return column < 0 ? 0 : statement.columnInt64(column);
}

// What a book held by another program is said to be.
constexpr const char* kLockedMessage =
    "it is locked by another program (the Contacts app saving?); it is read again at the next "
    "sync";

bool isLockedCode(int code) {
    return (code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED;
}

// The error for a failed read of the book at `path`.
AddressBookReader::Error readFailure(const sqlite::Error& error, const std::string& path) {
    return isLockedCode(error.code())
               ? AddressBookReader::Error(Kind::locked, path, kLockedMessage)
               : AddressBookReader::Error(Kind::queryFailed, path, error.what());
}

// A table the book may lack: prepares `sql`, or returns false when the table
// is not there (SQLITE_ERROR). Other failures throw.
bool prepareOptional(sqlite::Statement& statement, sqlite3* db, std::string_view sql,
                     const std::string& path) {
    try {
        statement.prepare(db, sql);
        return true;
    } catch (const sqlite::Error& error) {
        if (error.primaryCode() == SQLITE_ERROR) {
            return false;
        }
        throw readFailure(error, path);
    }
}

// Steps once; true for a row, false at the end; throws for anything else.
bool next(sqlite::Statement& statement, const std::string& path) {
    try {
        return statement.step();
    } catch (const sqlite::Error& error) {
        throw readFailure(error, path);
    }
}

// One phone number or e-mail address of a record, in the book's order.
struct Address {
    int64_t owner = 0;
    int64_t order = 0;
    int64_t pk = 0;
    std::string value;
};

std::vector<Address> readAddresses(sqlite3* db, std::string_view sql, const char* valueColumn,
                                   const std::string& path) {
    std::vector<Address> addresses;
    sqlite::Statement statement;
    if (!prepareOptional(statement, db, sql, path)) {
        return addresses;
    }
    const Columns columns(statement);
    const int owner = columns["ZOWNER"];
    const int order = columns["ZORDERINGINDEX"];
    const int pk = columns["Z_PK"];
    const int value = columns[valueColumn];
    if (owner < 0 || value < 0) {
        return addresses;
    }
    while (next(statement, path)) {
        if (statement.isNull(owner)) {
            continue;
        }
        Address address{integer(statement, owner), integer(statement, order),
                        integer(statement, pk), text(statement, value)};
        if (!address.value.empty()) {
            addresses.push_back(std::move(address));
        }
    }
    std::sort(addresses.begin(), addresses.end(), [](const Address& a, const Address& b) {
        return std::tie(a.owner, a.order, a.pk) < std::tie(b.owner, b.order, b.pk);
    });
    return addresses;
}

} // namespace

AddressBookReader::Error::Error(Kind kind, std::string path, std::string message)
    : kind_(kind),
      description_("Address book " + path + " could not be read: " + std::move(message)) {}

std::string AddressBookReader::location(const Environment& environment) {
    if (auto folder = environment.variable(kFolderOverride); folder && !folder->empty()) {
        return *folder;
    }
    return joinPath(environment.homeDirectory(), kDefaultFolder);
}

std::vector<std::string> AddressBookReader::bookPaths(const std::string& location,
                                                      std::vector<std::string>& warnings) {
    std::vector<std::string> paths;
    const std::string topLevel = joinPath(location, kBookFileName);
    if (pathExists(topLevel)) {
        paths.push_back(topLevel);
    }
    const fs::path sources = fs::path(location) / kSourcesFolder;
    std::error_code error;
    if (!fs::is_directory(sources, error)) {
        return paths;
    }
    std::vector<std::string> accounts;
    for (fs::directory_iterator it(sources, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        accounts.push_back(it->path().filename().string());
    }
    if (error) {
        warnings.push_back(Error(Kind::cannotOpen, sources.string(), error.message()).what());
        return paths;
    }
    std::sort(accounts.begin(), accounts.end());
    for (const std::string& account : accounts) {
        const std::string book = (sources / account / kBookFileName).string();
        if (pathExists(book)) {
            paths.push_back(book);
        }
    }
    return paths;
}

std::vector<ContactCard> AddressBookReader::readBook(const std::string& path, int sourceIndex) {
    // The Contacts app holds its book locked only while it saves: a locked
    // book is tried again a few times over about a second.
    constexpr int kAttempts = 10;
    constexpr std::chrono::milliseconds kPause{100};
    for (int attempt = 1;; ++attempt) {
        try {
            return readBookOnce(path, sourceIndex);
        } catch (const Error& error) {
            if (error.kind() != Kind::locked || attempt == kAttempts) {
                throw;
            }
        }
        std::this_thread::sleep_for(kPause);
    }
}

std::vector<ContactCard> AddressBookReader::readBookOnce(const std::string& path, int sourceIndex) {
    if (!pathExists(path)) {
        throw Error(Kind::cannotOpen, path, "no such file");
    }
    StoreOpenFailure failure;
    sqlite::Connection connection = openStoreReadOnly(path, failure);
    if (!connection) {
        throw isLockedCode(failure.code) ? Error(Kind::locked, path, kLockedMessage)
                                         : Error(Kind::cannotOpen, path, failure.message);
    }
    sqlite3* db = connection.get();
    // One read transaction: the records and their numbers and addresses come
    // from one snapshot of a book that the Contacts app may be writing. It
    // ends with the connection.
    try {
        sqlite::exec(db, "BEGIN");
    } catch (const sqlite::Error& error) {
        throw readFailure(error, path);
    }

    sqlite::Statement entity;
    if (!prepareOptional(entity, db, address_book_sql::kContactEntity, path)) {
        throw Error(Kind::notAnAddressBook, path, "it has no Z_PRIMARYKEY table");
    }
    if (!next(entity, path)) {
        throw Error(Kind::notAnAddressBook, path, "it names no ABCDContact entity");
    }
    const int64_t contactEntity = entity.columnInt64(0);
    entity.finalize();

    sqlite::Statement records;
    if (!prepareOptional(records, db, address_book_sql::kContactRecords, path)) {
        throw Error(Kind::notAnAddressBook, path, "it has no ZABCDRECORD table");
    }
    records.bindInt64(1, contactEntity);
    const Columns columns(records);
    const std::string folderName = fs::path(path).parent_path().filename().string();
    std::vector<ContactCard> cards;
    std::map<int64_t, size_t> cardOfRecord;
    while (next(records, path)) {
        const int64_t pk = integer(records, columns["Z_PK"]);
        ContactCard card;
        card.source = path;
        card.sourceIndex = sourceIndex;
        card.uid = text(records, columns["ZUNIQUEID"]);
        if (card.uid.empty()) {
            card.uid = folderName + "#" + std::to_string(pk);
        }
        card.firstName = text(records, columns["ZFIRSTNAME"]);
        card.middleName = text(records, columns["ZMIDDLENAME"]);
        card.lastName = text(records, columns["ZLASTNAME"]);
        card.organization = text(records, columns["ZORGANIZATION"]);
        if (std::string nickname = text(records, columns["ZNICKNAME"]); !nickname.empty()) {
            card.nicknames.push_back(std::move(nickname));
        }
        cardOfRecord[pk] = cards.size();
        cards.push_back(std::move(card));
    }
    records.finalize();

    for (const Address& phone :
         readAddresses(db, address_book_sql::kPhoneNumbers, "ZFULLNUMBER", path)) {
        if (auto card = cardOfRecord.find(phone.owner); card != cardOfRecord.end()) {
            cards[card->second].phones.push_back(phone.value);
        }
    }
    for (const Address& email :
         readAddresses(db, address_book_sql::kEmailAddresses, "ZADDRESS", path)) {
        if (auto card = cardOfRecord.find(email.owner); card != cardOfRecord.end()) {
            cards[card->second].emails.push_back(email.value);
        }
    }
    return cards;
}

ContactScan AddressBookReader::readAll(const Environment& environment, int firstSourceIndex) {
    ContactScan scan;
    const std::string where = location(environment);
    std::error_code error;
    const fs::file_status status = fs::status(where, error);
    if (!fs::exists(status)) {
        if (environment.variable(kFolderOverride).value_or("") != "") {
            scan.warnings.push_back("Address books were not read: " + where + " (from " +
                                    kFolderOverride + ") does not exist");
        }
        return scan;
    }
    std::vector<std::string> books;
    if (fs::is_regular_file(status)) {
        books.push_back(where);
    } else {
        books = bookPaths(where, scan.warnings);
    }
    int sourceIndex = firstSourceIndex;
    for (const std::string& book : books) {
        try {
            auto cards = readBook(book, sourceIndex);
            scan.cards.insert(scan.cards.end(), std::make_move_iterator(cards.begin()),
                              std::make_move_iterator(cards.end()));
        } catch (const Error& e) {
            scan.warnings.push_back(e.what());
        }
        ++sourceIndex;
    }
    return scan;
}

} // namespace orlune::core

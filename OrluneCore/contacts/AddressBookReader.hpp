#pragma once
// Reads the person's address books: the macOS Contacts databases (Core Data
// SQLite files named AddressBook-v22.abcddb), strictly read-only.
//
// Where they are: <folder>/AddressBook-v22.abcddb and every
// <folder>/Sources/<account>/AddressBook-v22.abcddb, where <folder> is
// $ADDRESS_BOOK_PATH when set to a non-empty value (it may also name one
// book file), else <home>/Library/Application Support/AddressBook.
//
// What is read: the records of the ABCDContact entity only (groups,
// containers and other records share ZABCDRECORD; the entity number comes
// from Z_PRIMARYKEY and changes between versions), with first, middle, last,
// nick and organisation names, their phone numbers (ZABCDPHONENUMBER) and
// e-mail addresses (ZABCDEMAILADDRESS) in the book's order.

#include "base/Environment.hpp"
#include "contacts/ContactCard.hpp"

#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

namespace address_book_sql {

inline constexpr std::string_view kContactEntity =
    "SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = 'ABCDContact'";
// Whole rows, read by column name: columns differ between versions, and one
// that a version lacks is read as empty.
inline constexpr std::string_view kContactRecords =
    "SELECT * FROM ZABCDRECORD WHERE Z_ENT = ? ORDER BY Z_PK";
inline constexpr std::string_view kPhoneNumbers = "SELECT * FROM ZABCDPHONENUMBER";
inline constexpr std::string_view kEmailAddresses = "SELECT * FROM ZABCDEMAILADDRESS";

} // namespace address_book_sql

class AddressBookReader {
public:
    class Error : public std::exception {
    public:
        enum class Kind {
            cannotOpen,       // missing, not an SQLite file, unreadable
            notAnAddressBook, // an SQLite file without the address-book tables
            queryFailed,      // a read failed part way (damaged)
            locked,           // another program holds it locked (it is saving)
        };
        Error(Kind kind, std::string path, std::string message);

        Kind kind() const { return kind_; }
        // "Address book <path> could not be read: <message>".
        const char* what() const noexcept override { return description_.c_str(); }

    private:
        Kind kind_;
        std::string description_;
    };

    // The variable that overrides the folder.
    static constexpr const char* kFolderOverride = "ADDRESS_BOOK_PATH";

    // The folder (or single book) to read, as described above.
    static std::string location(const Environment& environment);

    // The books under `location`, top-level book first, then the accounts'
    // books in byte order of their folder names; only files that exist. A
    // Sources folder that exists but cannot be listed adds a warning.
    static std::vector<std::string> bookPaths(const std::string& location,
                                              std::vector<std::string>& warnings);

    // Reads one book through openStoreReadOnly (WAL with or without its -wal
    // and -shm files; nothing beside it is created or changed). A book
    // another program holds locked is tried again for about a second, then
    // fails with Kind::locked ("it is locked by another program ..."). Cards
    // get `sourceIndex`. Throws Error. Any thread; holds no state.
    static std::vector<ContactCard> readBook(const std::string& path, int sourceIndex);

    // Every book of the environment's location, the first getting
    // `firstSourceIndex` and each next one more. A book that cannot be read
    // adds a warning and no card. A location that does not exist gives
    // nothing and, when it was set by kFolderOverride, a warning. Never
    // throws for a reading failure.
    static ContactScan readAll(const Environment& environment, int firstSourceIndex = 0);

private:
    // One attempt of readBook.
    static std::vector<ContactCard> readBookOnce(const std::string& path, int sourceIndex);
};

} // namespace orlune::core

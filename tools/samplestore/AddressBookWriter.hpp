#pragma once
// Writes macOS Contacts databases (AddressBook-v22.abcddb) shaped like real
// ones: the Core Data bookkeeping tables (Z_PRIMARYKEY with the entity
// numbers, Z_METADATA), ZABCDRECORD holding contacts beside groups and
// containers (told apart only by Z_ENT), ZABCDPHONENUMBER and
// ZABCDEMAILADDRESS with their owner columns and ordering, in WAL mode like
// the real files. For tests, benchmarks and the sample store.

#include <cstdint>
#include <memory>
#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace orlune::samplestore {

struct AddressBookContact {
    std::string firstName{};
    std::string lastName{};
    std::string middleName{};
    std::string nickname{};
    std::string organization{};
    // ZUNIQUEID; empty gives "<book>-<record>:ABPerson", unique per book
    // file. Give two books' cards the same id to make them one record.
    std::string uniqueId{};
    std::vector<std::string> phones{}; // as typed: "(555) 010-0001"
    std::vector<std::string> emails{};
};

// Thrown for any failure while writing, with SQLite's message.
class AddressBookWriterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Owns one read-write connection to the book; closes it on destruction
// (committing an open transaction). Not copyable; one thread. Every method
// throws AddressBookWriterError.
class AddressBookWriter {
public:
    struct Options {
        // The ABCDContact entity number (it differs between macOS versions);
        // the other entities are numbered around it.
        int64_t contactEntity = 22;
        // WAL like the real books; false leaves SQLite's rollback journal.
        bool walMode = true;
    };

    // Creates the book at `path` (which must not exist; its folder must).
    explicit AddressBookWriter(const std::string& path);
    AddressBookWriter(const std::string& path, Options options);
    ~AddressBookWriter();
    AddressBookWriter(const AddressBookWriter&) = delete;
    AddressBookWriter& operator=(const AddressBookWriter&) = delete;

    // Adds a contact record with its phone numbers and e-mail addresses (in
    // the order given); returns its Z_PK.
    int64_t addContact(const AddressBookContact& contact);
    // Adds a group record (ZNAME = name, members none) and an account's
    // container record; ZABCDRECORD rows that are not contacts.
    int64_t addGroup(const std::string& name);
    int64_t addContainer(const std::string& name);

    void beginTransaction();
    void commit();
    void execute(const std::string& sql);
    sqlite3* connection() const;

    // Commits an open transaction and closes; later calls do nothing.
    void close();

    // <folder>/AddressBook-v22.abcddb for an empty `account`, else
    // <folder>/Sources/<account>/AddressBook-v22.abcddb; creates the folders.
    static std::string bookPath(const std::string& folder, const std::string& account = "");

private:
    struct State;
    int64_t addRecord(int64_t entity, const AddressBookContact& fields, const std::string& name);
    std::unique_ptr<State> state_;
};

} // namespace orlune::samplestore

#include "tools/samplestore/AddressBookWriter.hpp"

#include "base/AsciiText.hpp"
#include "base/Environment.hpp"
#include "sql/SQLite.hpp"

#include <filesystem>

namespace orlune::samplestore {

namespace {

using core::sqlite::Statement;

// {OWNER} becomes the owner-entity column Core Data adds for the contact
// entity ("Z22_OWNER").
constexpr const char* kSchema = R"sql(
CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX INTEGER);
CREATE TABLE Z_METADATA (Z_VERSION INTEGER PRIMARY KEY, Z_UUID VARCHAR(255), Z_PLIST BLOB);
CREATE TABLE Z_MODELCACHE (Z_CONTENT BLOB);
CREATE TABLE ZABCDRECORD (
    Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER,
    ZCONTACTINDEX INTEGER, ZDISPLAYFLAGS INTEGER, ZPRIVACYFLAGS INTEGER,
    ZCONTAINER1 INTEGER, ZME INTEGER,
    ZCREATIONDATE TIMESTAMP, ZMODIFICATIONDATE TIMESTAMP,
    ZFIRSTNAME VARCHAR, ZLASTNAME VARCHAR, ZMIDDLENAME VARCHAR, ZNICKNAME VARCHAR,
    ZORGANIZATION VARCHAR, ZDEPARTMENT VARCHAR, ZJOBTITLE VARCHAR, ZTITLE VARCHAR,
    ZSUFFIX VARCHAR, ZMAIDENNAME VARCHAR, ZPHONETICFIRSTNAME VARCHAR,
    ZPHONETICLASTNAME VARCHAR, ZSORTINGFIRSTNAME VARCHAR, ZSORTINGLASTNAME VARCHAR,
    ZNAME VARCHAR, ZUNIQUEID VARCHAR, ZIDENTITYUNIQUEID VARCHAR, ZIMAGEREFERENCE BLOB
);
CREATE TABLE ZABCDPHONENUMBER (
    Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER,
    ZISPRIMARY INTEGER, ZISPRIVATE INTEGER, ZORDERINGINDEX INTEGER,
    ZOWNER INTEGER, {OWNER} INTEGER,
    ZAREACODE VARCHAR, ZCOUNTRYCODE VARCHAR, ZEXTENSION VARCHAR, ZFULLNUMBER VARCHAR,
    ZLABEL VARCHAR, ZLASTFOURDIGITS VARCHAR, ZLOCALNUMBER VARCHAR, ZUNIQUEID VARCHAR
);
CREATE TABLE ZABCDEMAILADDRESS (
    Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER,
    ZISPRIMARY INTEGER, ZISPRIVATE INTEGER, ZORDERINGINDEX INTEGER,
    ZOWNER INTEGER, {OWNER} INTEGER,
    ZADDRESS VARCHAR, ZADDRESSNORMALIZED VARCHAR, ZLABEL VARCHAR, ZUNIQUEID VARCHAR
);
CREATE INDEX ZABCDRECORD_ZUNIQUEID_INDEX ON ZABCDRECORD (ZUNIQUEID);
CREATE INDEX ZABCDPHONENUMBER_ZOWNER_INDEX ON ZABCDPHONENUMBER (ZOWNER);
CREATE INDEX ZABCDPHONENUMBER_ZFULLNUMBER_INDEX ON ZABCDPHONENUMBER (ZFULLNUMBER);
CREATE INDEX ZABCDEMAILADDRESS_ZOWNER_INDEX ON ZABCDEMAILADDRESS (ZOWNER);
CREATE INDEX ZABCDEMAILADDRESS_ZADDRESSNORMALIZED_INDEX ON ZABCDEMAILADDRESS (ZADDRESSNORMALIZED);
INSERT INTO Z_METADATA (Z_VERSION, Z_UUID) VALUES (1, '6C52D7F4-2E4C-4F0B-9B55-0AD0F1A3C9E1');
)sql";

constexpr const char* kInsertEntity =
    "INSERT INTO Z_PRIMARYKEY (Z_ENT, Z_NAME, Z_SUPER, Z_MAX) VALUES (?, ?, ?, 0)";
constexpr const char* kInsertRecord =
    "INSERT INTO ZABCDRECORD (Z_ENT, Z_OPT, ZDISPLAYFLAGS, ZCREATIONDATE, ZMODIFICATIONDATE,\n"
    " ZFIRSTNAME, ZLASTNAME, ZMIDDLENAME, ZNICKNAME, ZORGANIZATION, ZNAME, ZUNIQUEID,\n"
    " ZSORTINGFIRSTNAME, ZSORTINGLASTNAME)\n"
    "VALUES (?, 1, ?, 757382400.0, 757382400.0, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
constexpr const char* kInsertPhone =
    "INSERT INTO ZABCDPHONENUMBER (Z_ENT, Z_OPT, ZISPRIMARY, ZORDERINGINDEX, ZOWNER, {OWNER},\n"
    " ZFULLNUMBER, ZLABEL, ZUNIQUEID) VALUES (?, 1, ?, ?, ?, ?, ?, '_$!<Mobile>!$_', ?)";
constexpr const char* kInsertEmail =
    "INSERT INTO ZABCDEMAILADDRESS (Z_ENT, Z_OPT, ZISPRIMARY, ZORDERINGINDEX, ZOWNER, {OWNER},\n"
    " ZADDRESS, ZADDRESSNORMALIZED, ZLABEL, ZUNIQUEID) VALUES (?, 1, ?, ?, ?, ?, ?, ?, "
    "'_$!<Home>!$_', ?)";
constexpr const char* kUpdateMax = "UPDATE Z_PRIMARYKEY SET Z_MAX = ? WHERE Z_ENT = ?";

// ZDISPLAYFLAGS bit that shows a card as a company.
constexpr int64_t kShowAsCompany = 1;

std::string withOwner(std::string sql, int64_t contactEntity) {
    std::string column = "Z";
    column += std::to_string(contactEntity);
    column += "_OWNER";
    for (size_t at = sql.find("{OWNER}"); at != std::string::npos; at = sql.find("{OWNER}")) {
        sql.replace(at, 7, column);
    }
    return sql;
}

} // namespace

struct AddressBookWriter::State {
    core::sqlite::Connection db;
    Options options;
    std::string bookTag; // makes default unique ids differ between books
    int64_t recordEntity = 0, groupEntity = 0, containerEntity = 0;
    int64_t phoneEntity = 0, emailEntity = 0;
    Statement record, phone, email, updateMax;
    int64_t records = 0, phones = 0, emails = 0;
    bool inTransaction = false;

    void prepare(Statement& statement, std::string_view sql) const {
        try {
            statement.prepare(db.get(), sql);
        } catch (const core::sqlite::Error& error) {
            throw AddressBookWriterError(error.what());
        }
    }
    void run(Statement& statement) {
        try {
            statement.run();
        } catch (const core::sqlite::Error& error) {
            statement.reset();
            statement.clearBindings();
            throw AddressBookWriterError(error.what());
        }
        statement.reset();
        statement.clearBindings();
    }
};

AddressBookWriter::AddressBookWriter(const std::string& path)
    : AddressBookWriter(path, Options{}) {}

AddressBookWriter::AddressBookWriter(const std::string& path, Options options)
    : state_(std::make_unique<State>()) {
    if (core::pathExists(path)) {
        throw AddressBookWriterError("A file already exists at " + path);
    }
    State& s = *state_;
    s.options = options;
    s.bookTag = std::to_string(std::hash<std::string>{}(path) % 1000000007);
    if (s.db.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) != SQLITE_OK) {
        throw AddressBookWriterError("Cannot create " + path + ": " + s.db.errorMessage());
    }
    // Nothing here needs to survive a power cut.
    execute("PRAGMA synchronous = OFF");
    if (options.walMode) {
        execute("PRAGMA journal_mode = WAL");
    }
    execute(withOwner(kSchema, options.contactEntity));

    // Entity numbers as Core Data gives them: the abstract record entity just
    // before its sub-entities, the others after.
    const int64_t contact = options.contactEntity;
    s.recordEntity = contact - 1;
    s.containerEntity = contact + 1;
    s.groupEntity = contact + 2;
    s.phoneEntity = contact + 4;
    s.emailEntity = contact + 5;
    Statement entity;
    s.prepare(entity, kInsertEntity);
    auto addEntity = [&](int64_t number, const char* name, int64_t super) {
        entity.bindInt64(1, number);
        entity.bindText(2, name);
        entity.bindInt64(3, super);
        s.run(entity);
    };
    addEntity(s.recordEntity, "ABCDRecord", 0);
    addEntity(contact, "ABCDContact", s.recordEntity);
    addEntity(s.containerEntity, "ABCDContainer", s.recordEntity);
    addEntity(s.groupEntity, "ABCDGroup", s.recordEntity);
    addEntity(contact + 3, "ABCDInfo", s.recordEntity);
    addEntity(s.phoneEntity, "ABCDPhoneNumber", 0);
    addEntity(s.emailEntity, "ABCDEmailAddress", 0);
    addEntity(contact + 6, "ABCDPostalAddress", 0);
    addEntity(contact + 7, "ABCDNote", 0);
    addEntity(contact + 8, "ABCDMessagingAddress", 0);

    s.prepare(s.record, kInsertRecord);
    s.prepare(s.phone, withOwner(kInsertPhone, contact));
    s.prepare(s.email, withOwner(kInsertEmail, contact));
    s.prepare(s.updateMax, kUpdateMax);
}

AddressBookWriter::~AddressBookWriter() {
    try {
        close();
    } catch (...) {
        // Destructors must not throw; an uncommitted transaction is lost.
    }
}

int64_t AddressBookWriter::addRecord(int64_t entity, const AddressBookContact& fields,
                                     const std::string& name) {
    State& s = *state_;
    const int64_t pk = s.records + 1;
    auto optionalText = [&](int index, const std::string& value) {
        if (value.empty()) {
            s.record.bindNull(index);
        } else {
            s.record.bindText(index, value);
        }
    };
    const bool company =
        fields.firstName.empty() && fields.lastName.empty() && !fields.organization.empty();
    s.record.bindInt64(1, entity);
    s.record.bindInt64(2, company ? kShowAsCompany : 0);
    optionalText(3, fields.firstName);
    optionalText(4, fields.lastName);
    optionalText(5, fields.middleName);
    optionalText(6, fields.nickname);
    optionalText(7, fields.organization);
    optionalText(8, name);
    std::string uid = fields.uniqueId;
    if (uid.empty()) {
        uid = s.bookTag + "-" + std::to_string(pk) +
              (entity == s.options.contactEntity ? ":ABPerson" : ":ABGroup");
    }
    s.record.bindText(9, uid);
    optionalText(10, fields.firstName);
    optionalText(11, fields.lastName);
    s.run(s.record);
    s.records = sqlite3_last_insert_rowid(s.db.get());
    s.updateMax.bindInt64(1, s.records);
    s.updateMax.bindInt64(2, s.recordEntity);
    s.run(s.updateMax);
    return s.records;
}

int64_t AddressBookWriter::addContact(const AddressBookContact& contact) {
    State& s = *state_;
    const int64_t pk = addRecord(s.options.contactEntity, contact, "");
    for (size_t i = 0; i < contact.phones.size(); ++i) {
        s.phone.bindInt64(1, s.phoneEntity);
        s.phone.bindInt64(2, i == 0 ? 1 : 0);
        s.phone.bindInt64(3, static_cast<int64_t>(i));
        s.phone.bindInt64(4, pk);
        s.phone.bindInt64(5, s.options.contactEntity);
        s.phone.bindText(6, contact.phones[i]);
        s.phone.bindText(7, s.bookTag + "-phone-" + std::to_string(++s.phones));
        s.run(s.phone);
    }
    for (size_t i = 0; i < contact.emails.size(); ++i) {
        s.email.bindInt64(1, s.emailEntity);
        s.email.bindInt64(2, i == 0 ? 1 : 0);
        s.email.bindInt64(3, static_cast<int64_t>(i));
        s.email.bindInt64(4, pk);
        s.email.bindInt64(5, s.options.contactEntity);
        s.email.bindText(6, contact.emails[i]);
        s.email.bindText(7, core::ascii::lower(contact.emails[i]));
        s.email.bindText(8, s.bookTag + "-email-" + std::to_string(++s.emails));
        s.run(s.email);
    }
    return pk;
}

int64_t AddressBookWriter::addGroup(const std::string& name) {
    return addRecord(state_->groupEntity, AddressBookContact{}, name);
}

int64_t AddressBookWriter::addContainer(const std::string& name) {
    return addRecord(state_->containerEntity, AddressBookContact{}, name);
}

void AddressBookWriter::beginTransaction() {
    execute("BEGIN");
    state_->inTransaction = true;
}

void AddressBookWriter::commit() {
    state_->inTransaction = false;
    execute("COMMIT");
}

void AddressBookWriter::execute(const std::string& sql) {
    try {
        core::sqlite::exec(state_->db.get(), sql);
    } catch (const core::sqlite::Error& error) {
        throw AddressBookWriterError(error.what());
    }
}

sqlite3* AddressBookWriter::connection() const {
    return state_->db.get();
}

void AddressBookWriter::close() {
    if (!state_ || !state_->db) {
        return;
    }
    if (state_->inTransaction) {
        commit();
    }
    state_->record.finalize();
    state_->phone.finalize();
    state_->email.finalize();
    state_->updateMax.finalize();
    state_->db.close();
}

std::string AddressBookWriter::bookPath(const std::string& folder, const std::string& account) {
    std::filesystem::path book = folder;
    if (!account.empty()) {
        book = book / "Sources" / account;
    }
    std::filesystem::create_directories(book);
    return (book / "AddressBook-v22.abcddb").string();
}

} // namespace orlune::samplestore

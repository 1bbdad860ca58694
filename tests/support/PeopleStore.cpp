#include "tests/support/PeopleStore.hpp"

#include "sync/ShadowSync.hpp"
#include "tests/support/DatabaseProbe.hpp"
#include "tools/samplestore/AddressBookWriter.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"

#include <chrono>
#include <cstdio>

namespace orlune::testing {

using samplestore::AddressBookContact;
using samplestore::AddressBookWriter;
using samplestore::ChatRow;
using samplestore::ChatStoreWriter;
using samplestore::HandleRow;
using samplestore::MessageRow;

const std::vector<PeopleStoreMessage> kPeopleStoreMessages = {
    {1, "m1", "my flight lands at noon", "2025-11-20 09:00", 1, 1},
    {2, "m2", "great, I will meet your flight", "2025-11-20 09:05", 0, 1},
    {3, "m3", "the flight number is BA117", "2025-12-05 18:00", 4, 2},
    {4, "m4", "who booked the flight?", "2025-12-08 09:00", 5, 2},
    {5, "m5", "flight delivery notice", "2025-12-09 12:00", 8, 4},
    {6, "m6", "packing for the flight tonight", "2025-12-09 20:00", 3, 3},
    {7, "m7", "flight over the lake by SMS", "2025-12-10 07:30", 2, 1},
    {8, "m8", "old news about a flight", "2024-12-31 23:30", 6, 2},
    {9, "m9", "your flight of stairs is fixed", "2025-12-03 15:00", 7, 5},
    {10, "m10", "Jessie booked the flight home", "2025-12-06 11:00", 0, 3},
};

int64_t peopleStoreDate(const std::string& utc) {
    int year = 0;
    unsigned month = 0, day = 0, hour = 0, minute = 0;
    std::sscanf(utc.c_str(), "%d-%u-%u %u:%u", &year, &month, &day, &hour, &minute);
    const std::chrono::sys_days date{std::chrono::year(year) / std::chrono::month(month) /
                                     std::chrono::day(day)};
    const int64_t unixSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(
            date.time_since_epoch() + std::chrono::hours(hour) + std::chrono::minutes(minute))
            .count();
    return (unixSeconds - 978307200) * 1'000'000'000;
}

void writePeopleStore(const std::string& path) {
    ChatStoreWriter store(path);
    const std::string pcid = "PCID-ALEX";
    store.addHandle(HandleRow{1, std::string("+15550100001"), std::string("iMessage"),
                              std::string("us"), pcid});
    store.addHandle(
        HandleRow{2, std::string("+15550100001"), std::string("SMS"), std::string("us"), pcid});
    store.addHandle(HandleRow{3, std::string("alex.k@example.com"), std::string("iMessage"),
                              std::string("us"), pcid});
    const char* numbers[] = {"+15550100002", "+15550100003", "+15550100004", "+15550100005",
                             "+15550100009"};
    for (int64_t i = 0; i < 5; ++i) {
        store.addHandle(HandleRow{4 + i, std::string(numbers[i])});
    }
    using samplestore::kDirectChatStyle;
    using samplestore::kGroupChatStyle;
    store.addChat(
        ChatRow{1, "iMessage;-;+15550100001", std::nullopt, kDirectChatStyle, "+15550100001"});
    store.addChat(ChatRow{2, "iMessage;+;chat100", std::nullopt, kGroupChatStyle, "chat100"});
    store.addChat(
        ChatRow{3, "iMessage;+;chat200", std::string("Ski trip"), kGroupChatStyle, "chat200"});
    store.addChat(
        ChatRow{4, "iMessage;-;+15550100009", std::nullopt, kDirectChatStyle, "+15550100009"});
    store.addChat(
        ChatRow{5, "iMessage;-;+15550100005", std::nullopt, kDirectChatStyle, "+15550100005"});
    store.addChatMember(1, 1);
    for (int64_t handle : {1, 4, 5, 6, 8}) {
        store.addChatMember(2, handle);
    }
    store.addChatMember(3, 3);
    store.addChatMember(3, 4);
    store.addChatMember(4, 8);
    store.addChatMember(5, 7);
    for (const PeopleStoreMessage& message : kPeopleStoreMessages) {
        MessageRow row;
        row.rowid = message.rowid;
        row.guid = message.guid;
        row.text = message.text;
        row.date = peopleStoreDate(message.utc);
        row.isFromMe = message.handle == 0;
        row.handleId = message.handle;
        store.addMessage(row);
        store.joinMessageToChat(message.rowid, message.chat, row.date);
    }
}

void writePeopleBooks(const std::string& folder) {
    {
        AddressBookWriter book(AddressBookWriter::bookPath(folder));
        book.addContainer("On My Mac");
        book.addContact({.firstName = "Alex",
                         .lastName = "Kim",
                         .uniqueId = "ALEX-1",
                         .phones = {"(555) 010-0001"},
                         .emails = {"Alex.K@Example.com"}});
        book.addGroup("Family");
        book.addContact(
            {.firstName = "Chloé", .lastName = "Martin", .phones = {"+1 555 010 0003"}});
    }
    AddressBookWriter book(AddressBookWriter::bookPath(folder, "icloud"));
    book.addContact({.firstName = "Alex", .lastName = "Kim", .phones = {"+1 555 010 0001"}});
    book.addContact(
        {.firstName = "Jess", .lastName = "Day", .nickname = "Jessie", .phones = {"555.010.0002"}});
    book.addContact({.firstName = "Sam", .lastName = "Lee", .phones = {"+15550100004"}});
    book.addContact({.organization = "Acme Plumbing", .phones = {"+1 (555) 010-0005"}});
}

void syncPeopleShadow(const TempDir& dir) {
    FakeEnvironment environment;
    environment.home = dir.path().string();
    environment.variables["ADDRESS_BOOK_PATH"] = dir.file("AddressBook");
    environment.variables["LANG"] = "en_US.UTF-8";
    writePeopleStore(dir.file("chat.db"));
    writePeopleBooks(dir.file("AddressBook"));
    core::ShadowSync(dir.file("chat.db"), dir.file("shadow.db"), environment).performSync();
}

} // namespace orlune::testing

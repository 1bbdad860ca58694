#pragma once
// A small messaging store with people behind its handles and the address
// books that name them, for tests of names, chat titles and filters.
//
// Handles (ROWID: address, whose card):
//   1 +15550100001 iMessage, 2 the same number over SMS, 3 alex.k@example.com
//     (person_centric_id shared by 1-3): Alex Kim, in both books, written
//     "(555) 010-0001" in one and "+1 555 010 0001" in the other, the e-mail
//     as "Alex.K@Example.com"
//   4 +15550100002: Jess Day (nickname "Jessie"), written "555.010.0002"
//   5 +15550100003: Chloé Martin
//   6 +15550100004: Sam Lee
//   7 +15550100005: the company card "Acme Plumbing"
//   8 +15550100009: no card
// Chats (ROWID: guid):
//   1 iMessage;-;+15550100001  one-to-one with Alex
//   2 iMessage;+;chat100       unnamed group: Alex, Jess, Chloé, Sam, +15550100009
//   3 iMessage;+;chat200       group named "Ski trip": Alex (by e-mail), Jess
//   4 iMessage;-;+15550100009  one-to-one with the number of no card
//   5 iMessage;-;+15550100005  one-to-one with Acme Plumbing
// Messages: see kPeopleStoreMessages.

#include "tests/support/TempDir.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace orlune::testing {

struct PeopleStoreMessage {
    int64_t rowid;
    const char* guid;
    const char* text;
    const char* utc; // "2025-12-01 10:00"
    int64_t handle;  // 0: sent by me
    int64_t chat;
};

// Every message of the store: all contain the word "flight".
extern const std::vector<PeopleStoreMessage> kPeopleStoreMessages;

// The store's date (nanoseconds since 2001) of a UTC "YYYY-MM-DD HH:MM".
int64_t peopleStoreDate(const std::string& utc);

// Writes the store at `path`.
void writePeopleStore(const std::string& path);

// Writes the two books under `folder` (as ADDRESS_BOOK_PATH names it): the
// top-level one with Alex, Chloé, a group and a container record, and the
// "icloud" account's with Alex again, Jess, Sam and Acme Plumbing.
void writePeopleBooks(const std::string& folder);

// Writes the store (`dir`/chat.db) and the books (`dir`/AddressBook), and
// syncs them into `dir`/shadow.db as a person with those books would.
void syncPeopleShadow(const TempDir& dir);

} // namespace orlune::testing

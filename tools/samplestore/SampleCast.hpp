#pragma once
// The people and chats of a sample store, shared by the parts of the
// builder (not for use outside tools/samplestore).

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace orlune::samplestore::detail {

struct Contact {
    std::string name;
    std::string address;
    std::string service;
    int64_t handleRowid;
};

struct Chat {
    int64_t rowid;
    std::string guid;
    std::vector<size_t> members; // indexes into Cast::contacts
    bool group;
};

struct Cast {
    std::vector<Contact> contacts;
    std::vector<Chat> chats;
};

// A plain message as the builder wrote it, for the rows that go with it.
struct WrittenMessage {
    int64_t rowid = 0;
    std::string guid;
    std::string text;           // placeholders included
    int64_t dateNs = 0;         // nanoseconds since 2001-01-01, whatever the era
    const Chat* chat = nullptr; // nullptr: in no chat
    bool inTwoChats = false;
    bool fromMe = false;
    const Contact* sender = nullptr; // the member who sent it, or who received it
    int64_t handleRowid = 0;
    std::string service;
    std::vector<std::string> fileTransferGuids; // one per U+FFFC, in order
};

// A random guid in the store's form: 32 upper-case hexadecimal digits in
// groups of 8-4-4-4-12.
inline std::string randomGuid(std::mt19937_64& rng) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) {
            out += '-';
        }
        out += kHex[rng() & 0xF];
    }
    return out;
}

} // namespace orlune::samplestore::detail

#pragma once
// The shadow database's people and chats: who is behind each handle (people,
// person_handles), what each chat is called (chats), the members of each
// chat (chat_participants) and the fingerprint of what they were built from
// (people_state).

#include "records/ChatParticipant.hpp"
#include "shadow/ShadowConnection.hpp"
#include "shadow/ShadowPeople.hpp"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

// The people and chat tables over a shared connection (ShadowConnection).
// Every failure is thrown as ShadowDBError.
class ShadowPeopleTables {
public:
    explicit ShadowPeopleTables(ShadowConnection& connection) : connection_(connection) {}

    // Whether the people and chats tables exist (a database at version 3 or
    // later). Throws prepareFailed or queryFailed.
    bool present();
    // The people and their handles as the last sync stored them (links carry
    // handle text, ROWID 0); empty for a database from before they were
    // kept. Throws prepareFailed or queryFailed.
    People people();
    // Every chat with its title; empty for a database from before chats were
    // kept. Throws prepareFailed or queryFailed.
    std::vector<ChatTitleRow> chats();
    // Every handle text the database knows: senders, chat members and known
    // people's handles, each once. Throws prepareFailed or queryFailed.
    std::vector<std::string> knownHandles();
    // What handlesNamed found.
    struct NamedHandles {
        // The handles, each once: those of the people kept, and those that
        // the typed text names by itself (HandleQuery).
        std::vector<std::string> handleIds;
        size_t people = 0;         // people kept
        size_t peopleLeftOut = 0;  // people of the same fit beyond kMaxNamedPeople
        size_t handlesLeftOut = 0; // handles beyond kMaxNamedHandles
    };
    static constexpr size_t kMaxNamedPeople = 1000;
    static constexpr size_t kMaxNamedHandles = 10000;
    // The handles `typed` names, as findNamed finds them from people() and
    // knownHandles(), but within bounds whatever the size of the address
    // book: the people are read row by row and only those whose names may
    // fit (NameQuery::mayFit) are looked at closely; the first
    // kMaxNamedPeople of the best fit are kept, and the first
    // kMaxNamedHandles handles. Throws prepareFailed or queryFailed.
    NamedHandles handlesNamed(std::string_view typed, const std::string& defaultRegion);
    static constexpr size_t kMaxMentionablePeople = 5000;
    // The people `text` may mention, with their handles, read row by row:
    // those with a name word among the text's words (MentionWords), the
    // first kMaxMentionablePeople of them. findPeopleMentioned over them
    // finds what it would over people(), however large the address book
    // (within the bound). Throws prepareFailed or queryFailed.
    People peopleMentionable(std::string_view text);
    // The display name of the person with `handle`; absent for a handle of no
    // known person. Throws prepareFailed or queryFailed.
    std::optional<std::string> nameOfHandle(const std::string& handle);
    // Who is behind a handle.
    struct HandleOwner {
        std::string personId;
        std::string displayName;
        friend bool operator==(const HandleOwner&, const HandleOwner&) = default;
    };
    // The person behind each of `handles` that has one, by handle: one
    // lookup per handle, so that naming a few senders reads none of the rest
    // of the address book. Throws prepareFailed or queryFailed.
    std::map<std::string, HandleOwner> ownersOf(const std::vector<std::string>& handles);
    // The members of one chat, in handle_id order. Throws prepareFailed or
    // queryFailed.
    std::vector<ChatParticipant> participantsOf(const std::string& chatId);

    // The fingerprint the last replace stored; absent before the first.
    // Throws prepareFailed or queryFailed.
    std::optional<std::string> fingerprint();
    // Replaces the people, person_handles and chats tables with `tables` and
    // stores `fingerprint`, in one transaction: on failure the previous rows
    // stay. Throws insertFailed, prepareFailed or queryFailed.
    void replace(const PeopleTables& tables, const std::string& fingerprint);
    // Replaces the whole membership table in one transaction; an empty list
    // empties it. On failure (for instance a duplicate chat/handle pair) the
    // previous membership stays and the error is thrown (insertFailed,
    // prepareFailed or queryFailed).
    void replaceParticipants(const std::vector<ChatParticipant>& participants);

private:
    ShadowConnection& connection_;
};

} // namespace orlune::core

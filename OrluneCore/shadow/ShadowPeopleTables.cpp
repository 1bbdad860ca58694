// The people, person_handles, chats, chat_participants and people_state
// tables: written by the sync, read for names, titles and filters.

#include "shadow/ShadowPeopleTables.hpp"

#include "base/TextFold.hpp"
#include "contacts/PersonNames.hpp"

#include <map>
#include <nlohmann/json.hpp>
#include <unordered_set>

namespace orlune::core {

namespace {

constexpr std::string_view kHasPeopleTables =
    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('people', "
    "'person_handles', 'chats')";
constexpr std::string_view kSelectPeople =
    "SELECT person_id, display_name, first_name, middle_name, last_name, organization, "
    "nicknames, other_names FROM people ORDER BY rowid";
constexpr std::string_view kSelectPersonHandles =
    "SELECT handle, person_id FROM person_handles ORDER BY handle";
constexpr std::string_view kSelectChats =
    "SELECT chat_id, display_name, is_group, title FROM chats ORDER BY rowid";
constexpr std::string_view kSelectKnownHandles =
    "SELECT sender FROM messages WHERE sender <> 'me' UNION SELECT handle FROM chat_participants "
    "UNION SELECT handle FROM person_handles";
constexpr std::string_view kSelectSenders =
    "SELECT DISTINCT sender FROM messages WHERE sender <> 'me'";
constexpr std::string_view kSelectParticipantHandles =
    "SELECT DISTINCT handle FROM chat_participants";
constexpr std::string_view kSelectHandlesOfPerson =
    "SELECT handle FROM person_handles WHERE person_id = ? ORDER BY handle";
constexpr std::string_view kSelectNameOfHandle =
    "SELECT p.display_name FROM person_handles h JOIN people p ON p.person_id = h.person_id "
    "WHERE h.handle = ?";
constexpr std::string_view kSelectOwnerOfHandle =
    "SELECT p.person_id, p.display_name FROM person_handles h JOIN people p "
    "ON p.person_id = h.person_id WHERE h.handle = ?";
constexpr std::string_view kSelectParticipants = "SELECT chat_id, handle_id, handle, service\n"
                                                 "FROM chat_participants\n"
                                                 "WHERE chat_id = ?\n"
                                                 "ORDER BY handle_id ASC";
constexpr std::string_view kDeleteParticipants = "DELETE FROM chat_participants";
constexpr std::string_view kInsertParticipant =
    "INSERT INTO chat_participants (chat_id, handle_id, handle, service)\n"
    "VALUES (?, ?, ?, ?)";
constexpr std::string_view kSelectFingerprint = "SELECT fingerprint FROM people_state WHERE id = 1";

constexpr std::string_view kDeletePeople = "DELETE FROM people";
constexpr std::string_view kDeletePersonHandles = "DELETE FROM person_handles";
constexpr std::string_view kDeleteChats = "DELETE FROM chats";
constexpr std::string_view kInsertPerson =
    "INSERT INTO people (person_id, display_name, first_name, middle_name, last_name, "
    "organization, nicknames, other_names) VALUES (?, ?, ?, ?, ?, ?, ?, ?)";
constexpr std::string_view kInsertPersonHandle =
    "INSERT INTO person_handles (handle, person_id) VALUES (?, ?)";
constexpr std::string_view kInsertChat =
    "INSERT INTO chats (chat_id, display_name, is_group, title) VALUES (?, ?, ?, ?)";
constexpr std::string_view kStoreFingerprint =
    "INSERT INTO people_state (id, fingerprint) VALUES (1, ?) "
    "ON CONFLICT(id) DO UPDATE SET fingerprint = excluded.fingerprint";

// A JSON array of the names; text that is not UTF-8 is replaced, not refused.
std::string namesToJson(const std::vector<std::string>& names) {
    return nlohmann::json(names).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<std::string> optionalName(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

std::vector<std::string> namesFromJson(const std::string& text) {
    std::vector<std::string> names;
    const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
    if (parsed.is_array()) {
        for (const auto& name : parsed) {
            if (name.is_string()) {
                names.push_back(name.get<std::string>());
            }
        }
    }
    return names;
}

// The person of a kSelectPeople row.
Person personOf(const sqlite::Statement& row) {
    Person person;
    person.id = row.columnText(0);
    person.displayName = row.columnText(1);
    person.firstName = row.columnText(2);
    person.middleName = row.columnText(3);
    person.lastName = row.columnText(4);
    person.organization = row.columnText(5);
    person.nicknames = namesFromJson(row.columnText(6));
    person.otherNames = namesFromJson(row.columnText(7));
    return person;
}

} // namespace

bool ShadowPeopleTables::present() {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kHasPeopleTables);
        return query.step() && query.columnInt(0) == 3;
    });
}

People ShadowPeopleTables::people() {
    People people;
    if (!present()) {
        return people;
    }
    connection_.guarded([&] {
        std::map<std::string, size_t> indexOf;
        sqlite::Statement query = connection_.db().prepare(kSelectPeople);
        while (query.step()) {
            Person person = personOf(query);
            indexOf.emplace(person.id, people.people.size());
            people.people.push_back(std::move(person));
        }
        sqlite::Statement handles = connection_.db().prepare(kSelectPersonHandles);
        while (handles.step()) {
            auto found = indexOf.find(handles.columnText(1));
            if (found != indexOf.end()) {
                people.links.push_back(HandleLink{0, handles.columnText(0), found->second});
            }
        }
    });
    return people;
}

std::vector<ChatTitleRow> ShadowPeopleTables::chats() {
    std::vector<ChatTitleRow> chats;
    if (!present()) {
        return chats;
    }
    connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kSelectChats);
        while (query.step()) {
            chats.push_back(ChatTitleRow{query.columnText(0), query.columnOptionalText(1),
                                         query.columnInt64(2) != 0, query.columnText(3)});
        }
    });
    return chats;
}

std::vector<std::string> ShadowPeopleTables::knownHandles() {
    std::vector<std::string> handles;
    const bool withPeople = present();
    connection_.guarded([&] {
        std::string sql(kSelectKnownHandles);
        if (!withPeople) {
            sql = sql.substr(0, sql.rfind(" UNION"));
        }
        sqlite::Statement query = connection_.db().prepare(sql);
        while (query.step()) {
            if (!query.isNull(0)) {
                handles.push_back(query.columnText(0));
            }
        }
    });
    return handles;
}

ShadowPeopleTables::NamedHandles
ShadowPeopleTables::handlesNamed(std::string_view typed, const std::string& defaultRegion) {
    NamedHandles named;
    const bool withPeople = present();
    const NameQuery query(typed);
    const HandleQuery handleQuery(typed, defaultRegion);
    std::unordered_set<std::string> added;
    auto add = [&](const std::string& id) {
        if (added.count(id) != 0) {
            return;
        }
        if (named.handleIds.size() >= kMaxNamedHandles) {
            ++named.handlesLeftOut;
            return;
        }
        added.insert(id);
        named.handleIds.push_back(id);
    };
    connection_.guarded([&] {
        // The people of the best fit, read one row at a time.
        std::vector<std::string> chosen;
        NameFit best = NameFit::none;
        if (withPeople && !query.empty()) {
            sqlite::Statement people = connection_.db().prepare(kSelectPeople);
            std::string names;
            while (people.step()) {
                names.clear();
                for (int column = 1; column <= 7; ++column) {
                    names += people.columnText(column);
                    names += ' ';
                }
                if (!query.mayFit(text::fold(names))) {
                    continue;
                }
                const Person person = personOf(people);
                const NameFit fit = fitOf(query, person);
                if (fit == NameFit::none || fit < best) {
                    continue;
                }
                if (fit > best) {
                    best = fit;
                    chosen.clear();
                    named.peopleLeftOut = 0;
                }
                if (chosen.size() < kMaxNamedPeople) {
                    chosen.push_back(person.id);
                } else {
                    ++named.peopleLeftOut;
                }
            }
        }
        named.people = chosen.size();
        sqlite::Statement handlesOf = connection_.db().prepare(kSelectHandlesOfPerson);
        for (const std::string& person : chosen) {
            handlesOf.reset();
            handlesOf.bindText(1, person);
            while (handlesOf.step()) {
                add(handlesOf.columnText(0));
            }
        }
        // The handles the typed text names by itself, from each source in
        // turn (no handle list is held).
        for (std::string_view sql :
             {kSelectSenders, kSelectParticipantHandles, kSelectPersonHandles}) {
            if (sql == kSelectPersonHandles && !withPeople) {
                continue;
            }
            sqlite::Statement handles = connection_.db().prepare(sql);
            while (handles.step()) {
                if (!handles.isNull(0)) {
                    const std::string id = handles.columnText(0);
                    if (handleQuery.names(id)) {
                        add(id);
                    }
                }
            }
        }
    });
    return named;
}

People ShadowPeopleTables::peopleMentionable(std::string_view text) {
    People people;
    if (!present()) {
        return people;
    }
    const MentionWords words(text);
    connection_.guarded([&] {
        sqlite::Statement rows = connection_.db().prepare(kSelectPeople);
        std::string names;
        while (people.people.size() < kMaxMentionablePeople && rows.step()) {
            names.clear();
            for (int column = 1; column <= 7; ++column) {
                names += rows.columnText(column);
                names += ' ';
            }
            if (words.anyIn(names)) {
                people.people.push_back(personOf(rows));
            }
        }
        sqlite::Statement handlesOf = connection_.db().prepare(kSelectHandlesOfPerson);
        for (size_t i = 0; i < people.people.size(); ++i) {
            handlesOf.reset();
            handlesOf.bindText(1, people.people[i].id);
            while (handlesOf.step()) {
                people.links.push_back(HandleLink{0, handlesOf.columnText(0), i});
            }
        }
    });
    return people;
}

std::optional<std::string> ShadowPeopleTables::nameOfHandle(const std::string& handle) {
    if (!present()) {
        return std::nullopt;
    }
    return connection_.guarded([&]() -> std::optional<std::string> {
        sqlite::Statement query = connection_.db().prepare(kSelectNameOfHandle);
        query.bindText(1, handle);
        if (query.step()) {
            return query.columnText(0);
        }
        return std::nullopt;
    });
}

std::map<std::string, ShadowPeopleTables::HandleOwner>
ShadowPeopleTables::ownersOf(const std::vector<std::string>& handles) {
    std::map<std::string, HandleOwner> owners;
    if (handles.empty() || !present()) {
        return owners;
    }
    connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kSelectOwnerOfHandle);
        for (const std::string& handle : handles) {
            query.reset();
            query.bindText(1, handle);
            if (query.step()) {
                owners.emplace(handle, HandleOwner{query.columnText(0), query.columnText(1)});
            }
        }
    });
    return owners;
}

std::optional<std::string> ShadowPeopleTables::fingerprint() {
    return connection_.guarded([&]() -> std::optional<std::string> {
        sqlite::Statement query = connection_.db().prepare(kSelectFingerprint);
        if (query.step()) {
            return query.columnText(0);
        }
        return std::nullopt;
    });
}

void ShadowPeopleTables::replace(const PeopleTables& tables, const std::string& fingerprint) {
    connection_.guarded([&] {
        sqlite::Transaction transaction(connection_.handle());
        sqlite::exec(connection_.handle(), kDeletePeople);
        sqlite::exec(connection_.handle(), kDeletePersonHandles);
        sqlite::exec(connection_.handle(), kDeleteChats);
        auto run = [&](sqlite::Statement& statement) {
            try {
                statement.run();
            } catch (const sqlite::Error& error) {
                throw ShadowDBError(ShadowDBError::Kind::insertFailed,
                                    ShadowDBError::fromSQLite(error, connection_.path()).message());
            }
            statement.reset();
            statement.clearBindings();
        };
        sqlite::Statement person = connection_.db().prepare(kInsertPerson);
        for (const Person& p : tables.people.people) {
            person.bindText(1, p.id);
            person.bindText(2, p.displayName);
            person.bindOptionalText(3, optionalName(p.firstName));
            person.bindOptionalText(4, optionalName(p.middleName));
            person.bindOptionalText(5, optionalName(p.lastName));
            person.bindOptionalText(6, optionalName(p.organization));
            person.bindText(7, namesToJson(p.nicknames));
            person.bindText(8, namesToJson(p.otherNames));
            run(person);
        }
        sqlite::Statement link = connection_.db().prepare(kInsertPersonHandle);
        for (const auto& [handleText, index] : tables.handles) {
            link.bindText(1, handleText);
            link.bindText(2, tables.people.people.at(index).id);
            run(link);
        }
        sqlite::Statement chat = connection_.db().prepare(kInsertChat);
        for (const ChatTitleRow& row : tables.chats) {
            chat.bindText(1, row.chatId);
            chat.bindOptionalText(2, row.displayName);
            chat.bindInt(3, row.isGroup ? 1 : 0);
            chat.bindText(4, row.title);
            run(chat);
        }
        sqlite::Statement state = connection_.db().prepare(kStoreFingerprint);
        state.bindText(1, fingerprint);
        run(state);
        transaction.commit();
    });
}

std::vector<ChatParticipant> ShadowPeopleTables::participantsOf(const std::string& chatId) {
    return connection_.guarded([&] {
        sqlite::Statement query = connection_.db().prepare(kSelectParticipants);
        query.bindText(1, chatId);
        std::vector<ChatParticipant> participants;
        while (query.step()) {
            // Braces: clang before 16 has no parenthesized aggregate
            // initialisation.
            participants.push_back(ChatParticipant{query.columnText(0), query.columnInt64(1),
                                                   query.columnText(2),
                                                   query.columnOptionalText(3)});
        }
        return participants;
    });
}

void ShadowPeopleTables::replaceParticipants(const std::vector<ChatParticipant>& participants) {
    connection_.guarded([&] {
        sqlite::Transaction transaction(connection_.handle());
        sqlite::exec(connection_.handle(), kDeleteParticipants);
        sqlite::Statement insert = connection_.db().prepare(kInsertParticipant);
        for (const ChatParticipant& participant : participants) {
            insert.reset();
            insert.clearBindings();
            insert.bindText(1, participant.chatId);
            insert.bindInt64(2, participant.handleId);
            insert.bindText(3, participant.handle);
            insert.bindOptionalText(4, participant.service);
            try {
                insert.run();
            } catch (const sqlite::Error& error) {
                throw ShadowDBError(ShadowDBError::Kind::insertFailed,
                                    ShadowDBError::fromSQLite(error, connection_.path()).message());
            }
        }
        insert.finalize();
        transaction.commit();
    });
}

} // namespace orlune::core

#include "shadow/ShadowPeople.hpp"

#include "base/Sha256.hpp"
#include "base/SystemDifferences.hpp"

#include <algorithm>
#include <map>
#include <sys/stat.h>

namespace orlune::core {

namespace {

// Members named in a group title before "and N others".
constexpr size_t kNamedMembers = 2;

std::string shortName(const Person& person) {
    return person.firstName.empty() ? person.displayName : person.firstName;
}

// Appends `text` with its length first, so that no two sequences of texts
// give the same bytes.
void addField(std::string& out, std::string_view text) {
    out += std::to_string(text.size());
    out += ':';
    out += text;
}

void addFile(std::string& out, const std::string& path) {
    addField(out, path);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        out += "-;";
        return;
    }
    const timespec modified = modificationTime(info);
    out += std::to_string(info.st_size) + "," + std::to_string(modified.tv_sec) + "." +
           std::to_string(modified.tv_nsec) + "," + std::to_string(info.st_ino) + ";";
}

} // namespace

std::string chatTitle(const std::string& chatId, const std::optional<std::string>& displayName,
                      bool isGroup, const std::vector<std::string>& memberNames) {
    if (displayName && !displayName->empty()) {
        return *displayName;
    }
    if (!isGroup) {
        if (!memberNames.empty()) {
            return memberNames.front();
        }
        const size_t separator = chatId.rfind(';');
        if (separator != std::string::npos && separator + 1 < chatId.size()) {
            return chatId.substr(separator + 1);
        }
        return chatId;
    }
    switch (memberNames.size()) {
    case 0:
        return chatId;
    case 1:
        return memberNames[0];
    case 2:
        return memberNames[0] + " and " + memberNames[1];
    case 3:
        return memberNames[0] + ", " + memberNames[1] + " and " + memberNames[2];
    default:
        break;
    }
    std::string title;
    for (size_t i = 0; i < kNamedMembers; ++i) {
        title += (i == 0 ? "" : ", ") + memberNames[i];
    }
    return title + " and " + std::to_string(memberNames.size() - kNamedMembers) + " others";
}

PeopleTables buildPeopleTables(People people, const std::vector<StoreChat>& chats,
                               const std::vector<ChatParticipant>& participants) {
    PeopleTables tables;
    std::map<std::string, size_t, std::less<>> personOf;
    for (const HandleLink& link : people.links) {
        if (personOf.emplace(link.handleId, link.person).second) {
            tables.handles.emplace_back(link.handleId, link.person);
        }
    }

    std::map<std::string_view, std::vector<const ChatParticipant*>> members;
    for (const ChatParticipant& participant : participants) {
        members[participant.chatId].push_back(&participant);
    }
    for (const StoreChat& chat : chats) {
        // People first (a person with two handles in the chat once), then
        // the handles of no known person, each in the store's order.
        std::vector<std::string> named;
        std::vector<std::string> unknown;
        std::vector<size_t> seen;
        auto found = members.find(chat.guid);
        if (found != members.end()) {
            for (const ChatParticipant* participant : found->second) {
                auto person = personOf.find(participant->handle);
                if (person == personOf.end()) {
                    if (std::find(unknown.begin(), unknown.end(), participant->handle) ==
                        unknown.end()) {
                        unknown.push_back(participant->handle);
                    }
                    continue;
                }
                if (std::find(seen.begin(), seen.end(), person->second) != seen.end()) {
                    continue;
                }
                seen.push_back(person->second);
                const Person& who = people.people[person->second];
                named.push_back(chat.isGroup ? shortName(who) : who.displayName);
            }
        }
        named.insert(named.end(), unknown.begin(), unknown.end());
        tables.chats.push_back(
            ChatTitleRow{chat.guid, chat.displayName, chat.isGroup,
                         chatTitle(chat.guid, chat.displayName, chat.isGroup, named)});
    }
    tables.people = std::move(people);
    return tables;
}

std::string peopleFingerprint(const std::vector<std::string>& sourceFiles,
                              const std::vector<HandleRecord>& handles,
                              const std::vector<StoreChat>& chats,
                              const std::vector<ChatParticipant>& participants,
                              const std::string& region) {
    std::string bytes = "people-1;";
    addField(bytes, region);
    for (const std::string& path : sourceFiles) {
        addFile(bytes, path);
        addFile(bytes, path + "-wal");
    }
    bytes += "|h";
    for (const HandleRecord& handle : handles) {
        bytes += std::to_string(handle.rowid);
        addField(bytes, handle.id);
        addField(bytes, handle.service);
        addField(bytes, handle.country);
        addField(bytes, handle.personCentricId);
    }
    bytes += "|c";
    for (const StoreChat& chat : chats) {
        addField(bytes, chat.guid);
        bytes += chat.displayName ? "n" : "-";
        addField(bytes, chat.displayName.value_or(""));
        bytes += chat.isGroup ? "g" : "d";
    }
    bytes += "|m";
    for (const ChatParticipant& participant : participants) {
        addField(bytes, participant.chatId);
        addField(bytes, participant.handle);
    }
    return sha256HexPrefix(bytes, 32);
}

} // namespace orlune::core

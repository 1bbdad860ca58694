#include "benchmark/AnswerEngineBackend.hpp"

#include <algorithm>
#include <filesystem>
#include <set>

namespace orlune::core {

namespace {

void removeDatabase(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::error_code ignored;
        std::filesystem::remove(path + suffix, ignored);
    }
}

} // namespace

AnswerEngineBackend::AnswerEngineBackend(const std::string& databasePath,
                                         const BenchmarkCorpus& corpus, TimeContext time)
    : databasePath_(databasePath), time_(std::move(time)), people_(peopleTables(corpus)) {
    for (const CorpusMessage& message : corpus.messages) {
        if (!message.reactions.empty()) {
            reactions_[message.guid] = message.reactions;
        }
    }
    open();
}

void AnswerEngineBackend::open() {
    finder_.reset();
    db_.reset();
    removeDatabase(databasePath_);
    db_ = std::make_unique<ShadowDB>(databasePath_);
    db_->createSchemaIfNeeded();
    db_->replacePeople(people_, "benchmark");
}

AnswerEngineBackend::~AnswerEngineBackend() = default;

PeopleTables AnswerEngineBackend::peopleTables(const BenchmarkCorpus& corpus) {
    PeopleTables tables;
    std::set<std::string> seen;
    const auto contacts = corpus.contacts.value_or(std::vector<CorpusContact>{});
    for (size_t i = 0; i < contacts.size(); ++i) {
        const CorpusContact& contact = contacts[i];
        Person person;
        person.id = "benchmark-person-" + std::to_string(i);
        person.displayName = contact.name;
        const size_t space = contact.name.find(' ');
        person.firstName = contact.name.substr(0, space);
        if (space != std::string::npos) {
            person.lastName = contact.name.substr(space + 1);
        }
        person.nicknames = contact.nicknames;
        tables.people.people.push_back(std::move(person));
        for (const std::string& handle : contact.handles) {
            if (seen.insert(handle).second) {
                tables.handles.emplace_back(handle, i);
            }
        }
    }
    for (const CorpusChat& chat : corpus.chats.value_or(std::vector<CorpusChat>{})) {
        tables.chats.push_back(ChatTitleRow{chat.id, chat.name, chat.isGroup, chat.name});
    }
    return tables;
}

std::vector<std::string> AnswerEngineBackend::search(const std::string& query, int limit) {
    if (!finder_) {
        finder_ = std::make_unique<AnswerFinder>(*db_);
    }
    std::vector<std::string> guids;
    for (RankedMessage& ranked : finder_->find(query, time_, limit, QueryBounds{}).messages) {
        guids.push_back(std::move(ranked.message.guid));
    }
    return guids;
}

void AnswerEngineBackend::ingest(const std::vector<ShadowMessage>& messages) {
    finder_.reset();
    // As a sync page writes them: with their attachments (and reactions).
    ShadowDB::Watermark cursor;
    ShadowDB::PageChanges changes;
    for (const ShadowMessage& message : messages) {
        cursor.timestamp = std::max(cursor.timestamp, message.timestamp());
        auto found = reactions_.find(message.guid());
        if (found == reactions_.end()) {
            continue;
        }
        for (size_t i = 0; i < found->second.size(); ++i) {
            const CorpusReaction& reaction = found->second[i];
            StoreReaction stored;
            stored.guid = message.guid() + "-reaction-" + std::to_string(i);
            stored.targetGuid = message.guid();
            stored.kind = reaction.kind;
            stored.sender = reaction.sender;
            stored.emoji = reaction.emoji;
            stored.timestamp = message.timestamp() + 1 + static_cast<int64_t>(i);
            changes.reactions.push_back(std::move(stored));
        }
    }
    db_->commitSyncPage(messages, cursor, db_->messageCount(), ShadowDB::SyncMarks{},
                        ShadowDB::SyncSource{"benchmark", 0, std::nullopt}, changes);
}

void AnswerEngineBackend::reset() {
    open();
}

} // namespace orlune::core

#include "answer/AnswerFinder.hpp"

#include "time/TimeExpressionParser.hpp"

#include <algorithm>
#include <unordered_set>

namespace orlune::core {

namespace {

// Each search looks this far down its ranking before fusion.
constexpr int kCandidatesPerSearch = 50;

} // namespace

// The people and named chats a question may name, read once.
struct AnswerFinder::Directory {
    People people;
    std::vector<ChatTitleRow> chats;
    std::vector<std::string> namedChatIds; // chats with a display name, as given to the reader
    TimeExpressionParser parser;
    std::unique_ptr<QuestionReader> reader;

    // Handles of the people at `indices`, each once, in the order of the
    // links. Linear in the links, however many people a name brings.
    std::vector<std::string> handlesOf(const std::vector<size_t>& indices) const {
        const std::unordered_set<size_t> wanted(indices.begin(), indices.end());
        std::unordered_set<std::string> seen;
        std::vector<std::string> handles;
        for (const HandleLink& link : people.links) {
            if (wanted.count(link.person) > 0 && seen.insert(link.handleId).second) {
                handles.push_back(link.handleId);
            }
        }
        return handles;
    }

    // The one-to-one chats with any of `handles` (their ids end with
    // ";<handle>", as "iMessage;-;+15550100001").
    std::vector<std::string> chatsWith(const std::vector<std::string>& handles) const {
        const std::unordered_set<std::string_view> wanted(handles.begin(), handles.end());
        std::vector<std::string> ids;
        for (const ChatTitleRow& chat : chats) {
            const size_t semicolon = chat.chatId.rfind(';');
            if (!chat.isGroup && semicolon != std::string::npos &&
                wanted.count(std::string_view(chat.chatId).substr(semicolon + 1)) > 0) {
                ids.push_back(chat.chatId);
            }
        }
        return ids;
    }
};

AnswerFinder::AnswerFinder(ShadowDBReader& db)
    : db_(db), directory_(std::make_unique<Directory>()) {
    directory_->people = db.people();
    directory_->chats = db.chats();
    std::vector<std::string> titles;
    for (const ChatTitleRow& chat : directory_->chats) {
        if (chat.isGroup && chat.displayName && !chat.displayName->empty()) {
            titles.push_back(*chat.displayName);
            directory_->namedChatIds.push_back(chat.chatId);
        }
    }
    directory_->reader =
        std::make_unique<QuestionReader>(directory_->people, std::move(titles), directory_->parser);
}

AnswerFinder::~AnswerFinder() = default;

FoundAnswer AnswerFinder::find(std::string_view question, const TimeContext& context, int limit,
                               const QueryBounds& bounds) {
    FoundAnswer found;
    found.reading = directory_->reader->read(question, context);
    found.understood =
        describeReading(found.reading, directory_->people, directory_->reader->chatTitles());

    const std::vector<std::string> handles = directory_->handlesOf(found.reading.people);
    std::vector<std::string> namedChats;
    for (size_t chat : found.reading.chats) {
        namedChats.push_back(directory_->namedChatIds[chat]);
    }

    std::vector<RankedList> lists;
    std::vector<RankedList> fallbackLists;
    const std::vector<PlannedSearch> plans = planSearches(found.reading);
    const bool wordsApartPlanned = std::any_of(plans.begin(), plans.end(), [](const auto& plan) {
        return plan.joined == WordsJoined::each;
    });
    bool allWordsFound = false;
    // The different texts (shownTextKey) the searches found so far.
    std::unordered_set<std::string> textsFound;
    for (const PlannedSearch& plan : plans) {
        if (plan.fallback && !lists.empty()) {
            continue;
        }
        if (!plan.fallback) {
            bool wanted = true;
            if (plan.joined == WordsJoined::each) {
                wanted = !allWordsFound;
            } else if (plan.joined == WordsJoined::any) {
                wanted = allWordsFound || !wordsApartPlanned;
            }
            if (plan.fillsOnly && textsFound.size() >= static_cast<size_t>(std::max(limit, 0))) {
                wanted = false;
            }
            if (!wanted) {
                continue;
            }
        }
        MessageScope scope;
        switch (plan.people) {
        case PeopleScope::any:
            break;
        case PeopleScope::fromThem:
            scope.senders = handles;
            break;
        case PeopleScope::chatsWithThem:
            scope.chatIds = directory_->chatsWith(handles);
            break;
        case PeopleScope::fromMe:
            scope.senders = std::vector<std::string>{};
            scope.fromMe = true;
            break;
        case PeopleScope::fromMeToThem:
            scope.senders = std::vector<std::string>{};
            scope.fromMe = true;
            scope.chatIds = directory_->chatsWith(handles);
            break;
        }
        if (plan.withinChats) {
            if (scope.chatIds) {
                // Both the named chats and the chats with the people: none.
                std::vector<std::string> both;
                for (const std::string& id : *scope.chatIds) {
                    if (std::find(namedChats.begin(), namedChats.end(), id) != namedChats.end()) {
                        both.push_back(id);
                    }
                }
                scope.chatIds = both;
            } else {
                scope.chatIds = namedChats;
            }
        }
        if (plan.withinTime && found.reading.time) {
            scope.time = *found.reading.time;
        }
        if (!plan.fallback && !found.reading.attachmentKinds.empty()) {
            std::vector<std::string> kinds;
            for (AttachmentKind kind : found.reading.attachmentKinds) {
                kinds.emplace_back(attachmentKindName(kind));
            }
            scope.attachmentKinds = std::move(kinds);
        }
        if (plan.reactedBy != ReactedBy::none) {
            MessageScope::Reactions reactions;
            reactions.kinds = found.reading.reactionKinds;
            if (plan.reactedBy == ReactedBy::me) {
                reactions.by = std::vector<std::string>{kSenderMe};
            } else if (plan.reactedBy == ReactedBy::them) {
                reactions.by = handles;
            }
            scope.reactions = std::move(reactions);
        }
        ShadowDBReader::SearchOutcome outcome =
            db_.search(plan.match, scope, kCandidatesPerSearch, bounds);
        found.incomplete = found.incomplete || outcome.cutTexts > 0 || outcome.stoppedAtSizeLimit;
        if (!outcome.results.empty()) {
            allWordsFound = allWordsFound || (!plan.fallback && plan.joined == WordsJoined::all);
            if (!plan.fallback) {
                for (const SearchResult& message : outcome.results) {
                    textsFound.insert(shownTextKey(message));
                }
            }
            (plan.fallback ? fallbackLists : lists)
                .push_back(RankedList{std::move(outcome.results), plan.weight});
        }
    }
    if (lists.empty() && !fallbackLists.empty()) {
        found.widened = true;
        lists = std::move(fallbackLists);
    }
    found.messages = fuseRankings(lists, static_cast<size_t>(std::max(limit, 0)));
    return found;
}

} // namespace orlune::core

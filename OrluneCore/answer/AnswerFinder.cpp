#include "answer/AnswerFinder.hpp"

#include "answer/AnswerWindows.hpp"
#include "answer/CoverageText.hpp"
#include "answer/SemanticLane.hpp"
#include "time/StoreTime.hpp"
#include "time/TimeExpressionParser.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace orlune::core {

namespace {

// Each search looks this far down its ranking before fusion.
constexpr int kCandidatesPerSearch = 50;
// A message that holds the thing asked for is often long ("The car is
// ready. New clutch kit and the slave cylinder. Total 640€"), and the full-
// text ranking puts short ones first: such a question looks further down.
constexpr int kCandidatesForAKind = 150;
// The best this many fused messages bring in the answers in their windows.
constexpr size_t kHitsWithWindows = 8;
// How much more a message that holds the kind of thing asked for counts:
// enough to lift one from the bottom of a search's candidates to its top.
constexpr double kHoldsAskedFor = 1.8;
// How many fused messages are weighed again (windows, the kind asked for)
// before the best are kept.
constexpr size_t kReweighed = kCandidatesPerSearch;
// How much more a message of a conversation with someone the person knows
// counts than one of a stranger's: what people ask about is mostly said by
// the people in their address book and in the groups they named, and the
// same words also come from unknown numbers (codes, adverts, wrong numbers).
constexpr double kWithSomeoneKnown = 1.25;

int64_t comparableTime(int64_t storeDate) {
    const auto instant = instantFromStoreDate(storeDate);
    return instant ? instant->time_since_epoch().count() : INT64_MIN;
}

// The list of a search without words (newest first) with its messages that
// say something before its acknowledgements ("ok", "lol").
void acknowledgementsLast(std::vector<SearchResult>& messages) {
    std::stable_partition(messages.begin(), messages.end(),
                          [](const SearchResult& m) { return !isAcknowledgement(m.text); });
}

// Best first (ties: newest), each message (by guid) and each text
// (shownTextKey) once, at most `limit`.
std::vector<RankedMessage> bestFirst(std::vector<RankedMessage> candidates, size_t limit) {
    std::stable_sort(
        candidates.begin(), candidates.end(), [](const RankedMessage& a, const RankedMessage& b) {
            if (a.score != b.score) {
                return a.score > b.score;
            }
            return comparableTime(a.message.timestamp) > comparableTime(b.message.timestamp);
        });
    std::vector<RankedMessage> kept;
    std::unordered_set<std::string> guids;
    std::unordered_set<std::string> texts;
    for (RankedMessage& candidate : candidates) {
        if (kept.size() == limit) {
            break;
        }
        if (!guids.insert(candidate.message.guid).second ||
            !texts.insert(shownTextKey(candidate.message)).second) {
            continue;
        }
        kept.push_back(std::move(candidate));
    }
    return kept;
}

// Without the messages that hold a word the question excluded: those found
// by their attachments' names or in a window, and those of a search whose
// exclusions did not fit its bounds.
void leaveOutExcluded(const std::vector<std::string>& excluded,
                      std::vector<RankedMessage>& candidates) {
    std::erase_if(candidates, [&](const RankedMessage& candidate) {
        return std::any_of(excluded.begin(), excluded.end(), [&](const std::string& word) {
            return holdsFormOf(candidate.message.text, word);
        });
    });
}

} // namespace

// The named chats a question may name, read once, and the people the
// question being answered may name.
struct AnswerFinder::Directory {
    People people;
    std::vector<ChatTitleRow> chats;
    std::vector<std::string> namedChatIds; // chats with a display name, as given to the reader
    std::vector<std::string> titles;       // their display names
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
    directory_->chats = db.chats();
    for (const ChatTitleRow& chat : directory_->chats) {
        if (chat.isGroup && chat.displayName && !chat.displayName->empty()) {
            directory_->titles.push_back(*chat.displayName);
            directory_->namedChatIds.push_back(chat.chatId);
        }
    }
}

AnswerFinder::~AnswerFinder() = default;

void AnswerFinder::useSemanticSearch(EmbeddingGateway* gateway, std::chrono::milliseconds timeout) {
    semantic_ =
        gateway != nullptr ? std::make_unique<SemanticSearch>(db_, *gateway, timeout) : nullptr;
}

std::string AnswerFinder::describeWidening(const QuestionReading& reading, int step) const {
    QuestionReading wider;
    wider.words = reading.words;
    if (step < 3) {
        wider.people = reading.people;
        wider.bothSides = step == 1;
    }
    std::string out = describeReading(wider, directory_->people, directory_->reader->chatTitles());
    return reading.time ? out + " at any time" : out;
}

FoundAnswer AnswerFinder::find(std::string_view question, const TimeContext& context, int limit,
                               const QueryBounds& bounds) {
    FoundAnswer found;
    directory_->people = db_.peopleMentionable(question);
    directory_->reader = std::make_unique<QuestionReader>(
        directory_->people, directory_->titles, directory_->parser, &WordNet::installed());
    found.reading = directory_->reader->read(question, context);
    found.understood =
        describeReading(found.reading, directory_->people, directory_->reader->chatTitles());
    if (found.reading.time) {
        if (const std::optional<MessageTimeSpan> span = db_.messageTimeSpan()) {
            found.outsideCopied =
                outsideSpanNote(*found.reading.time, *span, LocalCalendar(context))
                    .value_or(std::string());
        }
    }

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
    // The widening step whose fallbacks found messages (0: none yet).
    int wideningFound = 0;
    for (const PlannedSearch& plan : plans) {
        if (plan.fallback &&
            (!lists.empty() || (wideningFound != 0 && plan.widening > wideningFound))) {
            continue;
        }
        if (!plan.fallback) {
            bool wanted = true;
            if (plan.joined == WordsJoined::each) {
                wanted = !allWordsFound;
            } else if (plan.joined == WordsJoined::any) {
                wanted = allWordsFound || !wordsApartPlanned;
            }
            // An answer that holds the thing asked for seldom repeats the
            // question's words: such a question searches for some of them
            // whatever the others found.
            if (plan.fillsOnly && found.reading.askedFor == AskedFor::anything &&
                textsFound.size() >= static_cast<size_t>(std::max(limit, 0))) {
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
        scope.oldestFirst = found.reading.when == WhenAsked::first;
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
            db_.search(plan.match, scope,
                       found.reading.askedFor == AskedFor::anything ? kCandidatesPerSearch
                                                                    : kCandidatesForAKind,
                       bounds);
        found.incomplete = found.incomplete || outcome.cutTexts > 0 || outcome.stoppedAtSizeLimit;
        if (!outcome.results.empty()) {
            allWordsFound = allWordsFound || (!plan.fallback && plan.joined == WordsJoined::all);
            if (!plan.fallback) {
                for (const SearchResult& message : outcome.results) {
                    textsFound.insert(shownTextKey(message));
                }
            }
            if (plan.match.empty()) {
                acknowledgementsLast(outcome.results);
            }
            if (plan.fallback && wideningFound == 0) {
                wideningFound = plan.widening;
            }
            (plan.fallback ? fallbackLists : lists)
                .push_back(RankedList{std::move(outcome.results), plan.weight});
        }
    }
    if (lists.empty() && !fallbackLists.empty()) {
        found.widened = true;
        found.widenedTo = describeWidening(found.reading, wideningFound);
        lists = std::move(fallbackLists);
    }
    const auto wanted = static_cast<size_t>(std::max(limit, 0));
    const WhenAsked when = found.reading.when;
    if ((when == WhenAsked::latest || when == WhenAsked::first) && !lists.empty()) {
        // The strictest search that found messages, in the order of time.
        RankedList byTime = std::move(lists.front());
        std::stable_sort(byTime.messages.begin(), byTime.messages.end(),
                         [&](const SearchResult& a, const SearchResult& b) {
                             const int64_t x = comparableTime(a.timestamp);
                             const int64_t y = comparableTime(b.timestamp);
                             return when == WhenAsked::latest ? x > y : x < y;
                         });
        lists.assign(1, std::move(byTime));
        found.messages = fuseRankings(lists, wanted + kReweighed);
        leaveOutExcluded(found.reading.excludedWords, found.messages);
        found.messages.resize(std::min(found.messages.size(), wanted));
        return found;
    }
    const size_t reweighed =
        found.reading.askedFor == AskedFor::anything ? kReweighed : kCandidatesForAKind;
    std::vector<RankedMessage> candidates = fuseRankings(lists, std::max(wanted, reweighed));
    if (semantic_) {
        // Near in meaning, among the messages of the people and time named.
        VectorScope scope;
        if (!found.reading.people.empty()) {
            scope.senders = handles;
            scope.chatIds = directory_->chatsWith(handles);
        }
        if (found.reading.time) {
            scope.time = *found.reading.time;
        }
        SemanticSearch::Outcome near =
            semantic_->nearest(question, scope, kCandidatesPerSearch, bounds);
        found.semanticNote = std::move(near.note);
        candidates = fuseVectorHits(std::move(candidates), std::move(near.messages),
                                    std::max(wanted, reweighed));
    }
    addWindowAnswers(found.reading, candidates, bounds);
    leaveOutExcluded(found.reading.excludedWords, candidates);
    std::unordered_map<std::string, bool> knownChats;
    for (RankedMessage& candidate : candidates) {
        // A message that asks ("where did you park?") does not state the
        // thing, whatever it holds.
        if (found.reading.askedFor != AskedFor::anything &&
            candidate.message.text.find('?') == std::string::npos &&
            holdsAskedFor(candidate.message.text, found.reading.askedFor)) {
            candidate.score *= kHoldsAskedFor;
        }
        if (withSomeoneKnown(candidate.message, knownChats)) {
            candidate.score *= kWithSomeoneKnown;
        }
    }
    found.messages = bestFirst(std::move(candidates), wanted);
    return found;
}

bool AnswerFinder::withSomeoneKnown(const SearchResult& message,
                                    std::unordered_map<std::string, bool>& knownChats) {
    if (message.senderName) {
        return true;
    }
    if (!message.isFromMe) {
        return false;
    }
    auto [at, added] = knownChats.try_emplace(message.chatId, false);
    if (added) {
        // A one-to-one chat ("iMessage;-;+155...") with a handle of someone
        // known. A group's members are not read here: your messages in a
        // group count as a stranger's.
        const size_t semicolon = message.chatId.rfind(';');
        at->second = !message.isGroup && semicolon != std::string::npos &&
                     db_.nameOfHandle(message.chatId.substr(semicolon + 1)).has_value();
    }
    return at->second;
}

void AnswerFinder::addWindowAnswers(const QuestionReading& reading,
                                    std::vector<RankedMessage>& candidates,
                                    const QueryBounds& bounds) {
    WindowWants wants;
    // Your reply answers a question about what they asked, as it does one
    // about what you wrote.
    wants.byMe = reading.byMe || reading.repliedToThem;
    wants.people = directory_->handlesOf(reading.people);
    wants.askedFor = reading.askedFor;
    if (reading.aboutReactions) {
        return;
    }
    std::unordered_map<std::string, size_t> byGuid;
    for (size_t i = 0; i < candidates.size(); ++i) {
        byGuid.emplace(candidates[i].message.guid, i);
    }
    const size_t hits = std::min(candidates.size(), kHitsWithWindows);
    for (size_t i = 0; i < hits; ++i) {
        const SearchResult hit = candidates[i].message;
        const double score = candidates[i].score;
        ShadowDBReader::MessageContext window =
            db_.messageContext(hit.guid, 0, kWindowMessages, bounds);
        std::vector<WindowPick> picks = pickFromWindow(hit, window.after, wants);
        for (WindowPick& pick :
             pickFromThread(hit, db_.messageThread(hit.guid, kThreadMessages, bounds), wants)) {
            picks.push_back(std::move(pick));
        }
        for (WindowPick& pick : picks) {
            const double worth = score * pick.factor;
            auto [at, added] = byGuid.try_emplace(pick.message.guid, candidates.size());
            if (!added) {
                candidates[at->second].score = std::max(candidates[at->second].score, worth);
                continue;
            }
            pick.message.senderName =
                pick.message.isFromMe ? std::nullopt : db_.nameOfHandle(pick.message.sender);
            pick.message.chatTitle = hit.chatTitle;
            candidates.push_back(RankedMessage{std::move(pick.message), worth, 0});
        }
    }
}

} // namespace orlune::core

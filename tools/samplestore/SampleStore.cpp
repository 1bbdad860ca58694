#include "tools/samplestore/SampleStore.hpp"

#include "base/Utf8.hpp"
#include "sql/SQLite.hpp"
#include "tools/samplestore/AddressBookWriter.hpp"
#include "tools/samplestore/ChatStoreWriter.hpp"
#include "tools/samplestore/RealContent.hpp"
#include "tools/samplestore/SampleCast.hpp"
#include "tools/samplestore/TypedStreamWriter.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

namespace orlune::samplestore {

namespace {

// The store's time unit: nanoseconds since 2001-01-01 00:00:00 UTC.
constexpr int64_t kSecond = 1000000000LL;
// 2024-01-01 00:00:00 UTC: where a new store's history ends (roughly).
constexpr int64_t kHistoryEnd = 725846400LL * kSecond;
constexpr int64_t kDay = 86400;
// A history spans about five minutes per message, from 30 days to 10 years,
// so that dates stay far from overflowing whatever the message count.
constexpr int64_t kMinSpanSeconds = 30 * kDay;
constexpr int64_t kMaxSpanSeconds = 3652 * kDay;
constexpr int64_t kMeanBurstLength = 4; // messages per burst, on average (1 to 8)
constexpr std::string_view kAttachmentCharacter = "\xEF\xBF\xBC"; // U+FFFC

// The people, chats and memberships are the same in every store (their own
// fixed seed), so that messages appended later find the chats they belong to.
constexpr uint64_t kCastSeed = 20260101;

using detail::Cast;
using detail::Chat;
using detail::Contact;
using detail::RealContent;
using detail::WrittenMessage;

constexpr std::array<std::string_view, 48> kFirstNames = {
    "Alice",   "Ben",   "Chloé", "Daniel", "Emma",    "Farid",  "Grace",  "Hiroshi",
    "Ines",    "Jonas", "Kavya", "Liam",   "María",   "Noah",   "Olivia", "Pedro",
    "Quinn",   "Rosa",  "Søren", "Tom",    "Uma",     "Victor", "Wen",    "Xavier",
    "Yasmin",  "Zoë",   "Amir",  "Björn",  "Camille", "Dmitri", "Elif",   "François",
    "Gabriel", "Hana",  "Ivan",  "José",   "Kenji",   "Lucía",  "Mateus", "Nadia",
    "Oskar",   "Priya", "Renée", "Sam",    "Tariq",   "Ayşe",   "Leo",    "Mia",
};

constexpr std::array<std::string_view, 10> kGroupNames = {
    "Family",      "Hiking crew",      "Book club",        "",         "Office lunch",
    "Roommates 🏠", "Soccer Sundays ⚽", "Wedding planning", "Climbing", "Trip to Lisbon",
};

Cast makeCast() {
    std::mt19937_64 rng(kCastSeed);
    Cast cast;
    int64_t handleRowid = 1;
    for (size_t i = 0; i < kFirstNames.size(); ++i) {
        Contact c;
        c.name = std::string(kFirstNames[i]);
        if (i % 3 == 2) {
            std::string local;
            for (char ch : c.name) {
                if (static_cast<unsigned char>(ch) < 0x80) {
                    local += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                }
            }
            c.address = local + "." + std::to_string(100 + i) + "@example.com";
        } else {
            c.address = "+1555" + std::to_string(1000000 + rng() % 9000000);
        }
        c.service = (i % 7 == 6) ? "SMS" : "iMessage";
        c.handleRowid = handleRowid++;
        cast.contacts.push_back(std::move(c));
    }
    int64_t chatRowid = 1;
    for (size_t i = 0; i < cast.contacts.size(); ++i) {
        const auto& c = cast.contacts[i];
        cast.chats.push_back({chatRowid++, c.service + ";-;" + c.address, {i}, false});
    }
    for (size_t g = 0; g < kGroupNames.size(); ++g) {
        Chat chat{chatRowid++,
                  "iMessage;+;chat" + std::to_string(100000000 + rng() % 900000000),
                  {},
                  true};
        const size_t size = 2 + rng() % 5;
        while (chat.members.size() < size) {
            size_t m = rng() % cast.contacts.size();
            if (std::find(chat.members.begin(), chat.members.end(), m) == chat.members.end()) {
                chat.members.push_back(m);
            }
        }
        cast.chats.push_back(std::move(chat));
    }
    return cast;
}

constexpr std::array<std::string_view, 24> kPlaces = {
    "the station",      "Café Müller",         "the park",   "Tesco",        "the gym",
    "Lisbon",           "the office",          "Zürich",     "São Paulo",    "the airport",
    "Joe's pizza",      "the library",         "Kraków",     "the beach",    "the farmers market",
    "Mom's place",      "the dentist",         "the cinema", "IKEA",         "the bakery",
    "the climbing gym", "the pub on Queen St", "Shibuya",    "the hospital",
};
constexpr std::array<std::string_view, 12> kTimes = {
    "7:30",  "8",    "noon",        "half past 5", "6pm",   "9:15",
    "10ish", "3:45", "after lunch", "around 7",    "11:30", "first thing tomorrow",
};
constexpr std::array<std::string_view, 9> kDays = {
    "tonight",   "tomorrow",  "on Saturday",    "on Sunday",   "this weekend",
    "next week", "on Friday", "Monday morning", "on Thursday",
};
constexpr std::array<std::string_view, 12> kFoods = {
    "ramen", "tacos",  "pizza",   "sushi", "dumplings", "pho",
    "curry", "crêpes", "falafel", "pasta", "bibimbap",  "pastéis de nata",
};
constexpr std::array<std::string_view, 12> kItems = {
    "milk",      "the keys",        "my charger", "bread",        "the tickets",  "a birthday card",
    "batteries", "the blue folder", "oat milk",   "coffee beans", "the umbrella", "dog food",
};
constexpr std::array<std::string_view, 9> kEmoji = {
    "😂", "👍", "❤️", "🎉", "🙏", "😅", "🍕", "👨‍👩‍👧", "🔥",
};

// Short messages; {name} {place} {time} {day} {food} {item} {n} {emoji} are
// filled in.
constexpr std::array<std::string_view, 52> kTemplates = {
    "Are we still on for {food} {day}?",
    "Running {n} minutes late, sorry!",
    "Can you pick up {item} on the way home?",
    "Happy birthday {name}! {emoji}",
    "I'll be at {place} around {time}",
    "Flight lands at {time}, terminal {n}",
    "Thanks for dinner last night, the {food} was amazing",
    "Did you talk to {name} about {day}?",
    "On my way",
    "ok",
    "Sounds good {emoji}",
    "haha yes",
    "Where are you?",
    "Just left {place}",
    "Don't forget {item}!",
    "Meet at {place} at {time}?",
    "Can we move it to {time}? Something came up",
    "{name} says hi",
    "Call me when you get a chance",
    "Got the tickets for {day} {emoji}",
    "Who's bringing {food}?",
    "I left {item} at {place}, can you grab it?",
    "Traffic is terrible, {n} more minutes",
    "Love you, drive safe",
    "Did you see the game?",
    "Good morning! ☀️",
    "Yes please",
    "No worries at all",
    "What time does {place} close?",
    "Booked a table for {n} at {time}",
    "Is {name} coming {day}?",
    "Let me check and get back to you",
    "The {food} place near {place} is closed {day}",
    "Can't wait {emoji}",
    "Remind me to buy {item}",
    "Parking at {place} now",
    "Sorry, missed your call",
    "Perfect, see you then",
    "How was {place}?",
    "Bring {item} if you can",
    "We need a new plan for {day}",
    "I'm outside",
    "Thank you so much {emoji}",
    "That's hilarious",
    "Does {time} work for everyone?",
    "Mom wants to know if you're coming {day}",
    "Just landed!",
    "Almost done here, {n} minutes",
    "Want to get {food} {day}?",
    "Can you send me the address of {place}?",
    "Good luck today, you'll be great",
    "Home safe {emoji}",
};

constexpr std::array<std::string_view, 8> kForeign = {
    "¿Vienes a la fiesta el sábado?",
    "On se retrouve au café à 18h ?",
    "Bis später! Ich bringe Kuchen mit.",
    "今夜は何時に帰る？",
    "مرحبا، كيف حالك؟",
    "Привет! Как дела?",
    "Obrigado pela ajuda ontem 🙏",
    "Dziękuję, do zobaczenia jutro!",
};

constexpr std::array<std::string_view, 14> kLongSentences = {
    "So the landlord finally called back about the heating and said someone can come on "
    "Thursday between 9 and 1.",
    "I told him that doesn't really work because I'm at the office all day, but he said it's "
    "the only slot they have this month.",
    "Honestly the trip was exhausting but so worth it, the old town at night was beautiful and "
    "the food was unreal.",
    "We took the train up the coast on the second day and stopped at every tiny village on the "
    "way.",
    "Can you remind everyone that the deposit for the cabin is due by the end of the month?",
    "If we don't pay it by then they'll give the booking to the next people on the list.",
    "The doctor said it's nothing serious, just rest for a week and no running until it stops "
    "hurting.",
    "Also, Grandma wants everyone at her place for lunch on Sunday, she's making her famous "
    "lasagne.",
    "I finished the book last night, the ending completely surprised me and I still can't stop "
    "thinking about it.",
    "The meeting ran over again so I'm going to miss the start of the film, save me a seat?",
    "Quick update on the move: the van is booked for 8am Saturday and we still need two more "
    "people to help carry the sofa.",
    "Ça marche pour moi, mais je dois partir avant 22h parce que je travaille tôt demain matin.",
    "Lo siento, no puedo ir esta noche, pero el domingo estoy libre si quieres quedar.",
    "The kids loved the museum, especially the dinosaur hall, we were there for almost four "
    "hours 🦕",
};

// One piece of a message text with the attributes of its run.
struct Piece {
    std::string text;
    TextAttributes attributes;
};

// Sentences in scripts written without spaces between words (and Korean,
// whose words carry particles), made of a start, a middle and an end of one
// language, sometimes with an English word glued on.
constexpr std::array<std::array<std::array<std::string_view, 6>, 3>, 4> kSpacelessParts = {{
    {{{"明天我们", "今天晚上", "下周五", "周末大家", "刚才老板", "昨天妈妈"},
      {"去吃火锅", "在公司开会", "坐火车回家", "买了新手机", "看了电影", "订好了机票"},
      {"吧", "了吗？", "，太好了", "，记得带伞", "！", "，你觉得呢"}}},
    {{{"明日の朝", "今日は", "来週の会議", "東京駅で", "週末に", "さっき"},
      {"ラーメンを食べ", "大阪に行き", "雨が降り", "電話をし", "資料を送り", "映画を見"},
      {"ます", "ました", "ませんか？", "たいです", "てください", "てるね"}}},
    {{{"내일 ", "오늘 저녁에 ", "주말에 ", "회의는 ", "서울역에서 ", "아까 "},
      {"치킨을 먹", "회의실을 예약하", "친구를 만나", "우산을 사", "기차를 타", "전화를 하"},
      {"었어요", "을래?", "자", "고 싶어", "세요", "는 중이야"}}},
    {{{"พรุ่งนี้", "วันนี้", "เมื่อวาน", "สุดสัปดาห์นี้", "ตอนเย็น", "เดี๋ยวนี้"},
      {"ประชุม", "ไปกินข้าว", "ฝนตกหนัก", "ไปสนามบิน", "ซื้อของ", "โทรหาแม่"},
      {"กี่โมง", "กันไหม", "มาก", "แล้ว", "นะ", "ครับ"}}},
}};
constexpr std::array<std::string_view, 6> kGluedWords = {"Zoom", "iPhone",  "OK",
                                                         "Uber", "Netflix", "PDF"};

class Generator {
public:
    Generator(const Cast& cast, uint64_t seed)
        : cast_(cast), rng_(seed), spacelessRng_(seed ^ 0x5ACE1E55ULL) {}

    size_t below(size_t n) { return static_cast<size_t>(rng_() % n); }
    int percent() { return static_cast<int>(rng_() % 100); }

    template <size_t N> std::string_view pick(const std::array<std::string_view, N>& list) {
        return list[below(N)];
    }

    std::string uuid() { return detail::randomGuid(rng_); }

    // For `percent` of the messages, a sentence of kSpacelessParts instead
    // of the text drawn for them. Drawn from a stream of its own, so every
    // other message stays as it is for the same seed.
    std::optional<std::string> spacelessSentence(int percent) {
        if (percent <= 0 || static_cast<int>(spacelessRng_() % 100) >= percent) {
            return std::nullopt;
        }
        const auto& parts = kSpacelessParts[spacelessRng_() % kSpacelessParts.size()];
        std::string text;
        for (const auto& slot : parts) {
            text += slot[spacelessRng_() % slot.size()];
        }
        if (spacelessRng_() % 4 == 0) {
            text.insert(0, kGluedWords[spacelessRng_() % kGluedWords.size()]);
        }
        return text;
    }

    std::string fill(std::string_view pattern) {
        std::string out;
        size_t i = 0;
        while (i < pattern.size()) {
            if (pattern[i] == '{') {
                size_t close = pattern.find('}', i);
                std::string_view slot = pattern.substr(i + 1, close - i - 1);
                if (slot == "name") {
                    out += cast_.contacts[below(cast_.contacts.size())].name;
                } else if (slot == "place") {
                    out += pick(kPlaces);
                } else if (slot == "time") {
                    out += pick(kTimes);
                } else if (slot == "day") {
                    out += pick(kDays);
                } else if (slot == "food") {
                    out += pick(kFoods);
                } else if (slot == "item") {
                    out += pick(kItems);
                } else if (slot == "n") {
                    out += std::to_string(2 + below(40));
                } else if (slot == "emoji") {
                    out += pick(kEmoji);
                }
                i = close + 1;
            } else {
                out += pattern[i++];
            }
        }
        return out;
    }

    // The pieces of one message's text in chat `chat`.
    std::vector<Piece> message(const Chat& chat) {
        std::vector<Piece> pieces;
        const int kind = percent();
        if (kind < 3) { // long: several sentences, often past 255 bytes
            std::string text;
            const size_t sentences = 2 + below(6);
            for (size_t s = 0; s < sentences; ++s) {
                if (!text.empty()) {
                    text += ' ';
                }
                text += pick(kLongSentences);
            }
            pieces.push_back({std::move(text), {}});
        } else if (kind < 6) {
            pieces.push_back({std::string(pick(kForeign)), {}});
        } else if (kind < 8) {
            pieces.push_back({std::string(pick(kEmoji)), {}});
        } else if (kind < 11) { // a link inside the text
            std::string url =
                "https://www.example.com/articles/" + std::to_string(1000 + below(9000));
            pieces.push_back({"Look at this ", {}});
            TextAttributes link;
            link.link = url;
            pieces.push_back({url, link});
        } else if (kind < 14 && chat.group) { // a mention
            TextAttributes mention;
            const auto& member = cast_.contacts[chat.members[below(chat.members.size())]];
            mention.mention = member.address;
            pieces.push_back({member.name, mention});
            pieces.push_back({" " + fill(pick(kTemplates)), {}});
        } else if (kind < 18) { // an attachment with a caption
            TextAttributes attachment;
            attachment.fileTransferGuid = "at_0_" + uuid();
            pieces.push_back({std::string(kAttachmentCharacter), attachment});
            TextAttributes caption;
            caption.messagePart = 1;
            pieces.push_back({fill(pick(kTemplates)), caption});
        } else {
            pieces.push_back({fill(pick(kTemplates)), {}});
        }
        return pieces;
    }

    const Cast& cast_;
    std::mt19937_64 rng_;
    std::mt19937_64 spacelessRng_;
};

std::string joinPieces(const std::vector<Piece>& pieces) {
    std::string text;
    for (const auto& p : pieces) {
        text += p.text;
    }
    return text;
}

std::string archive(const std::vector<Piece>& pieces, bool mutableClasses) {
    AttributedBodyOptions options;
    options.mutableClasses = mutableClasses;
    for (const auto& p : pieces) {
        options.runs.push_back({TypedStreamWriter::utf16Length(p.text), p.attributes});
    }
    return TypedStreamWriter::attributedBody(joinPieces(pieces), options);
}

int64_t spanSeconds(int64_t messageCount) {
    const int64_t perMessage = 300;
    if (messageCount > kMaxSpanSeconds / perMessage) {
        return kMaxSpanSeconds;
    }
    return std::clamp(messageCount * perMessage, kMinSpanSeconds, kMaxSpanSeconds);
}

// The file transfer guids of the attachments in `pieces`, in order.
std::vector<std::string> attachmentGuids(const std::vector<Piece>& pieces) {
    std::vector<std::string> guids;
    for (const auto& p : pieces) {
        if (p.attributes.fileTransferGuid) {
            guids.push_back(*p.attributes.fileTransferGuid);
        }
    }
    return guids;
}

// Writes the messages with dates after `firstDate` (nanoseconds), bursts of
// messages a few minutes apart separated by pauses of about
// `meanPauseSeconds`, in the store's time unit. `real`, when given, adds the
// rows that go with each message.
void writeMessages(ChatStoreWriter& writer, const Cast& cast, const SampleStoreOptions& options,
                   int64_t firstDate, int64_t meanPauseSeconds, SampleStoreSummary& summary,
                   RealContent* real = nullptr) {
    Generator gen(cast, options.seed);
    const int archiveOnly = std::clamp(options.archiveOnlyPercent, 0, 100);
    const int neither = std::min(4, 100 - archiveOnly);
    const int textOnly = (100 - archiveOnly - neither) * 45 / 100;
    const int64_t nanosecondsPerTick = kSecond / storeTicksPerSecond(writer.era());

    int64_t date = firstDate;
    int64_t rowid = options.firstRowid;
    int64_t remaining = options.messageCount;
    int64_t index = 0;
    while (remaining > 0) {
        // A burst of messages in one chat, minutes apart, then a longer pause.
        const Chat& chat = cast.chats[gen.below(cast.chats.size())];
        const int64_t burst = std::min<int64_t>(remaining, 1 + static_cast<int64_t>(gen.below(8)));
        date += static_cast<int64_t>(1 + gen.below(static_cast<size_t>(2 * meanPauseSeconds))) *
                kSecond;
        for (int64_t b = 0; b < burst; ++b, ++rowid, --remaining, ++index) {
            if (gen.percent() >= 4) { // otherwise the same date as the previous message
                date += static_cast<int64_t>(1 + gen.below(240)) * kSecond +
                        static_cast<int64_t>(gen.below(1000000));
            }
            const bool fromMe = gen.percent() < 45;
            const Contact& sender = cast.contacts[chat.members[gen.below(chat.members.size())]];
            const int placement = gen.percent();
            const int category = gen.percent();
            const bool mutableClasses = gen.percent() < 30;
            std::vector<Piece> pieces = gen.message(chat);
            if (auto sentence = gen.spacelessSentence(options.spacelessPercent)) {
                pieces = {{std::move(*sentence), {}}};
            }
            std::string guid = gen.uuid();

            MessageRow row;
            row.rowid = rowid;
            row.guid = std::move(guid);
            row.date = date / nanosecondsPerTick;
            row.isFromMe = fromMe;
            row.handleId = (fromMe && chat.group) ? 0 : sender.handleRowid;
            row.service = chat.group ? "iMessage" : sender.service;
            std::string text = joinPieces(pieces);
            std::vector<std::string> attachments = attachmentGuids(pieces);
            if (category < archiveOnly) {
                row.attributedBody = archive(pieces, mutableClasses);
                if (options.textAlwaysInTextColumn && core::utf8::hasContent(text)) {
                    row.text = text;
                }
                ++summary.archiveOnly;
            } else if (category < archiveOnly + neither) {
                text.clear();
                attachments.clear();
                if (category % 2 == 0) {
                    TextAttributes attachment;
                    attachment.fileTransferGuid = "at_0_" + *row.guid;
                    row.attributedBody =
                        archive({{std::string(kAttachmentCharacter), attachment}}, mutableClasses);
                    text = kAttachmentCharacter;
                    attachments.push_back(*attachment.fileTransferGuid);
                }
                ++summary.neither;
            } else if (category < archiveOnly + neither + textOnly) {
                row.text = text;
                ++summary.textOnly;
            } else {
                row.text = text;
                row.attributedBody = archive(pieces, mutableClasses);
                ++summary.both;
            }
            writer.addMessage(row);

            const Chat* joined = nullptr;
            if (placement == 0) {
                ++summary.inNoChat;
            } else {
                joined = &chat;
                writer.joinMessageToChat(rowid, chat.rowid, row.date);
                if (placement == 1) {
                    const Chat& other =
                        cast.chats[(static_cast<size_t>(chat.rowid) + 3) % cast.chats.size()];
                    writer.joinMessageToChat(rowid, other.rowid, row.date);
                    ++summary.inTwoChats;
                    if (!summary.twoChats) {
                        summary.twoChats =
                            SampleStoreSummary::TwoChats{*row.guid, {chat.guid, other.guid}};
                    }
                }
            }
            ++summary.messages;
            if (real != nullptr) {
                WrittenMessage written;
                written.rowid = rowid;
                written.guid = *row.guid;
                written.text = std::move(text);
                written.dateNs = date;
                written.chat = joined;
                written.inTwoChats = placement == 1;
                written.fromMe = fromMe;
                written.sender = &sender;
                written.handleRowid = row.handleId;
                written.service = row.service;
                written.fileTransferGuids = std::move(attachments);
                int64_t next = rowid + 1;
                real->after(written, index, options.messageCount, next, date);
                rowid = next - 1;
            }
        }
    }
    if (real != nullptr) {
        int64_t next = rowid;
        real->finish(next, date);
    }
    summary.lastDate = date / nanosecondsPerTick;
}

void prepareForBulkWrites(ChatStoreWriter& writer) {
    writer.execute("PRAGMA synchronous = OFF");
    writer.execute("PRAGMA cache_size = -65536");
}

} // namespace

RealStoreContent RealStoreContent::everything() {
    RealStoreContent all;
    all.reactions = true;
    all.groupEvents = true;
    all.attachments = true;
    all.edits = true;
    all.unsends = true;
    all.deletions = true;
    all.junk = true;
    all.threads = true;
    all.handles = true;
    return all;
}

bool RealStoreContent::any() const {
    return reactions || groupEvents || attachments || edits || unsends || deletions || junk ||
           threads || handles;
}

namespace {

void apply(ChatStoreWriter& writer, const StoreChange& change) {
    using K = StoreChange::Kind;
    switch (change.kind) {
    case K::Edit:
    case K::EditKeepingDateEditedZero:
        writer.editMessage(change.rowid, change.text, change.date, change.flag,
                           change.kind == K::Edit);
        break;
    case K::Unsend:
        writer.unsendMessage(change.rowid, change.date, change.flag);
        break;
    case K::MoveToRecentlyDeleted:
        writer.moveToRecentlyDeleted(change.rowid, change.date);
        break;
    case K::Restore:
        writer.restoreFromRecentlyDeleted(change.rowid);
        break;
    case K::Delete:
        writer.deleteMessage(change.rowid);
        break;
    case K::MoveChatToRecentlyDeleted:
        writer.moveChatToRecentlyDeleted(change.rowid, change.date);
        break;
    case K::DeleteChat:
        writer.deleteChat(change.rowid);
        break;
    }
}

int64_t countRows(ChatStoreWriter& writer, const char* sql) {
    try {
        core::sqlite::Statement statement;
        statement.prepare(writer.connection(), sql);
        if (!statement.step()) {
            throw ChatStoreError(std::string("no row from ") + sql);
        }
        return statement.columnInt64(0);
    } catch (const core::sqlite::Error& error) {
        throw ChatStoreError(error.what());
    }
}

} // namespace

void applyStoreChanges(const std::string& path, const std::vector<StoreChange>& changes) {
    ChatStoreWriter writer(path, ChatStoreWriter::OpenExisting{});
    writer.beginTransaction();
    for (const auto& change : changes) {
        apply(writer, change);
    }
    writer.commit();
    writer.close();
}

SampleStoreSummary buildSampleStore(const std::string& path, const SampleStoreOptions& options) {
    Cast cast = makeCast();
    if (options.era == StoreEra::Newest) {
        for (auto& chat : cast.chats) {
            chat.guid = "any" + chat.guid.substr(chat.guid.find(';'));
        }
    }
    ChatStoreWriter writer(
        path, ChatStoreWriter::CreateOptions{.deferIndexes = true, .era = options.era});
    prepareForBulkWrites(writer);
    writer.beginTransaction();
    SampleStoreSummary summary;
    summary.era = options.era;
    for (const auto& c : cast.contacts) {
        HandleRow handle;
        handle.rowid = c.handleRowid;
        handle.id = c.address;
        handle.service = c.service;
        writer.addHandle(handle);
    }
    size_t groupIndex = 0;
    for (const auto& chat : cast.chats) {
        ChatRow row;
        row.rowid = chat.rowid;
        row.guid = chat.guid;
        row.style = chat.group ? kGroupChatStyle : kDirectChatStyle;
        if (chat.group) {
            // One group has no name at all, one an empty name.
            const auto name = kGroupNames[groupIndex++ % kGroupNames.size()];
            if (groupIndex != kGroupNames.size()) {
                row.displayName = std::string(name);
            }
            row.chatIdentifier = chat.guid.substr(chat.guid.rfind(';') + 1);
            row.roomName = row.chatIdentifier;
        } else {
            const auto& contact = cast.contacts[chat.members.front()];
            row.chatIdentifier = contact.address;
            row.serviceName = contact.service;
            if (chat.rowid % 11 == 0) {
                row.displayName = std::string();
            }
        }
        writer.addChat(row);
        for (size_t m : chat.members) {
            writer.addChatMember(chat.rowid, cast.contacts[m].handleRowid);
        }
    }
    summary.handles = static_cast<int64_t>(cast.contacts.size());
    summary.chats = static_cast<int64_t>(cast.chats.size());

    std::optional<RealContent> real;
    if (options.content.any()) {
        real.emplace(writer, cast, options, summary);
        real->writeCast(static_cast<int64_t>(cast.contacts.size()) + 1,
                        static_cast<int64_t>(cast.chats.size()) + 1);
    }
    const int64_t span = spanSeconds(options.messageCount);
    const int64_t bursts = std::max<int64_t>(1, options.messageCount / kMeanBurstLength);
    // Messages inside a burst are two minutes apart on average.
    const int64_t withinBursts = (kMeanBurstLength - 1) * 120;
    writeMessages(writer, cast, options, kHistoryEnd - span * kSecond,
                  std::max<int64_t>(1, span / bursts - withinBursts), summary,
                  real ? &*real : nullptr);
    writer.createIndexes();
    if (real) {
        if (options.deferChanges) {
            summary.pendingChanges = real->changes();
        } else {
            for (const auto& change : real->changes()) {
                apply(writer, change);
            }
        }
    }
    summary.messageRows = countRows(writer, "SELECT COUNT(*) FROM message");
    writer.commit();
    writer.close();
    if (real) {
        real->writeFiles();
    }
    return summary;
}

SampleStoreSummary appendSampleMessages(const std::string& path, int64_t count, uint64_t seed,
                                        int archiveOnlyPercent) {
    Cast cast = makeCast();
    ChatStoreWriter writer(path, ChatStoreWriter::OpenExisting{});
    if (writer.era() == StoreEra::Newest) {
        for (auto& chat : cast.chats) {
            chat.guid = "any" + chat.guid.substr(chat.guid.find(';'));
        }
    }
    // After every ROWID ever used: the store never reuses one.
    const int64_t lastRowid =
        std::max(countRows(writer, "SELECT COALESCE(MAX(ROWID), 0) FROM message"),
                 countRows(writer, "SELECT COALESCE((SELECT seq FROM sqlite_sequence WHERE name = "
                                   "'message'), 0)"));
    const int64_t nanosecondsPerTick = kSecond / storeTicksPerSecond(writer.era());
    const int64_t lastDate =
        lastRowid > 0
            ? countRows(writer, "SELECT COALESCE(MAX(date), 0) FROM message") * nanosecondsPerTick
            : kHistoryEnd;
    prepareForBulkWrites(writer);
    writer.beginTransaction();
    SampleStoreOptions options;
    options.era = writer.era();
    options.messageCount = count;
    options.seed = seed;
    options.archiveOnlyPercent = archiveOnlyPercent;
    options.firstRowid = lastRowid + 1;
    SampleStoreSummary summary;
    summary.era = writer.era();
    summary.handles = static_cast<int64_t>(cast.contacts.size());
    summary.chats = static_cast<int64_t>(cast.chats.size());
    writeMessages(writer, cast, options, lastDate, 30 * 60, summary);
    summary.messageRows = countRows(writer, "SELECT COUNT(*) FROM message");
    writer.commit();
    writer.close();
    return summary;
}

void writeSampleAddressBook(const std::string& folder) {
    static constexpr std::array<std::string_view, 8> kLastNames = {
        "Kim", "Martin", "Okafor", "Rossi", "Nguyen", "Schmidt", "Silva", "Haddad"};
    const Cast cast = makeCast();
    AddressBookWriter book(AddressBookWriter::bookPath(folder));
    book.addContainer("On My Mac");
    book.addGroup("Friends");
    for (size_t i = 0; i < cast.contacts.size(); ++i) {
        if (i % 5 == 4) {
            continue; // someone with no card
        }
        const Contact& contact = cast.contacts[i];
        AddressBookContact card;
        card.firstName = contact.name;
        card.lastName = std::string(kLastNames[i % kLastNames.size()]);
        if (contact.address.find('@') != std::string::npos) {
            std::string shown = contact.address;
            shown[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(shown[0])));
            card.emails.push_back(shown);
        } else if (contact.address.size() == 12) {
            // "+15551234567" as "(555) 123-4567".
            const std::string digits = contact.address.substr(2);
            card.phones.push_back("(" + digits.substr(0, 3) + ") " + digits.substr(3, 3) + "-" +
                                  digits.substr(6));
        } else {
            card.phones.push_back(contact.address);
        }
        book.addContact(card);
    }
}

} // namespace orlune::samplestore

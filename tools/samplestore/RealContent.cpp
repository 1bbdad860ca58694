#include "tools/samplestore/RealContent.hpp"

#include "base/Utf8.hpp"
#include "records/AttachmentKind.hpp"
#include "store/MessageText.hpp"
#include "store/PropertyListValue.hpp"
#include "store/Reaction.hpp"
#include "tools/samplestore/BinaryPropertyListWriter.hpp"
#include "tools/samplestore/TypedStreamWriter.hpp"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string_view>

namespace orlune::samplestore::detail {

namespace {

using core::PropertyListUid;
using core::PropertyListValue;
using E = StoreEra;

constexpr int64_t kNanosecond = 1000000000LL;
constexpr std::string_view kObject = "\xEF\xBF\xBC";      // U+FFFC
constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD
constexpr std::string_view kUrlBalloon = "com.apple.messages.URLBalloonProvider";
constexpr std::string_view kPollBalloon =
    "com.apple.messages.MSMessageExtensionBalloonPlugin:0000000000:com.apple.messages.Polls";

// Associated message types.
constexpr int64_t kStickerPlaced = 1000;
constexpr int64_t kLove = 2000;
constexpr int64_t kLike = 2001;
constexpr int64_t kDislike = 2002;
constexpr int64_t kLaugh = 2003;
constexpr int64_t kEmphasize = 2004;
constexpr int64_t kQuestion = 2005;
constexpr int64_t kEmojiTapback = 2006;
constexpr int64_t kStickerTapback = 2007;
constexpr int64_t kRemoval = 1000; // a removal's type is its tapback's + 1000
constexpr int64_t kPollVote = 4000;

// The text a tapback row carries, as "<verb> “<quote>”".
std::string_view tapbackVerb(int64_t type) {
    switch (type) {
    case kLove:
        return "Loved";
    case kLike:
        return "Liked";
    case kDislike:
        return "Disliked";
    case kLaugh:
        return "Laughed at";
    case kEmphasize:
        return "Emphasized";
    case kQuestion:
        return "Questioned";
    default:
        return "Reacted to";
    }
}

std::string_view removalWhat(int64_t type) {
    switch (type) {
    case kLove:
        return "a heart";
    case kLike:
        return "a like";
    case kDislike:
        return "a dislike";
    case kLaugh:
        return "a laugh";
    case kEmphasize:
        return "an exclamation";
    case kQuestion:
        return "a question mark";
    default:
        return "a sticker";
    }
}

// An attachment's file type.
struct FileType {
    std::string_view name; // {n}: a number
    std::string_view uti;
    std::optional<std::string_view> mime;
    int64_t minKb;
    int64_t maxKb;
};

constexpr FileType kPhoto{"IMG_{n}.HEIC", "public.heic", "image/heic", 800, 4000};
constexpr FileType kJpegWithoutMime{"IMG_{n}.JPG", "public.jpeg", std::nullopt, 300, 3000};
constexpr FileType kScreenshot{"Screenshot {n}.png", "public.png", "image/png", 100, 2000};
constexpr FileType kGif{"party.gif", "com.compuserve.gif", "image/gif", 200, 5000};
constexpr FileType kVideo{"IMG_{n}.MOV", "com.apple.quicktime-movie", "video/quicktime", 2000,
                          60000};
constexpr FileType kVoice{"Audio Message.caf", "com.apple.coreaudio-format", std::nullopt, 20, 400};
constexpr FileType kSong{"song.mp3", "public.mp3", "audio/mpeg", 2000, 8000};
constexpr FileType kPdf{"Lease.pdf", "com.adobe.pdf", "application/pdf", 100, 900};
constexpr FileType kCard{"Alex Kim.vcf", "public.vcard", "text/vcard", 1, 40};
constexpr FileType kLocation{"CL.loc.vcf", "public.vcard", "text/vcard", 1, 2};
constexpr FileType kArchive{"photos.zip", "public.zip-archive", "application/zip", 500, 20000};
constexpr FileType kStickerImage{"sticker.heic", "public.heic", "image/heic", 20, 200};
constexpr FileType kPreviewPart{
    "{n}.pluginPayloadAttachment",
    "dyn.ah62d4rv4gu8yc6durvwwa3xmrvw1gkdusm1044pxqyuha2pxsvw0e55bsmwca7", std::nullopt, 5, 300};

// Who wrote a row: me, or a contact.
struct Person {
    const Contact* contact = nullptr; // nullptr: me
    bool me() const { return contact == nullptr; }
};

// What a reaction points at.
struct Target {
    std::string guid;
    std::string text; // placeholders removed
    const Chat* chat = nullptr;
    int64_t part = 0;
    bool attachmentOnly = false;
    bool balloon = false; // a link preview or app balloon: "bp:GUID"
    bool bare = false;    // named by its guid alone, as older clients do
};

} // namespace

class RealContent::Impl {
public:
    Impl(ChatStoreWriter& writer, const Cast& cast, const SampleStoreOptions& options,
         SampleStoreSummary& summary)
        : w_(writer), cast_(cast), o_(options), s_(summary), era_(options.era),
          ticks_(storeTicksPerSecond(options.era)),
          rng_(options.seed * 0x9E3779B97F4A7C15ULL + 0x5EED), contacts_(cast.contacts) {}

    // ---------------------------------------------------------------------
    // The extra people and chats.

    void writeCast(int64_t nextHandle, int64_t nextChat) {
        nextHandle_ = nextHandle;
        nextChat_ = nextChat;
        const auto& c = o_.content;
        if (c.handles) {
            const bool person = era_ >= E::BeforeEdits;
            const std::string personId = "5A1E7C3B-DA4A-4E15-9C2B-5F0E7D1C2B3A";
            const size_t phone = contact("Dana", "+15550100042", "iMessage", "us",
                                         person ? personId : "", "+1 (555) 010-0042");
            const size_t sms = contact("Dana", "+15550100042", "SMS", "us", person ? personId : "",
                                       "(555) 010-0042");
            const size_t email = contact("Dana", "dana.reyes@example.net", "iMessage", "us",
                                         person ? personId : "", "");
            const size_t uk = contact("Oliver", "+447700900123", "iMessage", "gb", "", "");
            const size_t de = contact("Lena", "lena.schmidt@example.de", "iMessage", "de", "", "");
            danaPhoneChat_ = directChat(phone);
            danaSmsChat_ = directChat(sms);
            danaEmailChat_ = directChat(email);
            ukChat_ = directChat(uk);
            deChat_ = directChat(de);
            if (person) {
                s_.personHandles[personId] = {"+15550100042", "+15550100042",
                                              "dana.reyes@example.net"};
            }
        }
        if (c.groupEvents) {
            newcomer_ = contact("Casey", "casey.park@example.com", "iMessage", "us", "", "");
        }
        if (c.deletions) {
            if (era_ >= E::Recent) {
                recoverableChat_ =
                    directChat(contact("Jordan", "+15550100077", "iMessage", "us", "", ""));
            }
            deletedChat_ =
                directChat(contact("Robin", "robin.old@example.com", "iMessage", "us", "", ""));
        }
        if (c.junk) {
            junkChat_ = directChat(contact("", "+18005550199", "SMS", "us", "", ""), kJunk);
            if (era_ >= E::BeforeEdits) {
                blockedChat_ =
                    directChat(contact("", "promo@deals.example", "iMessage", "us", "", ""),
                               kKnownSender, true);
            }
        }
        scenes();
    }

    // ---------------------------------------------------------------------
    // What goes with each plain message.

    void after(const WrittenMessage& m, int64_t index, int64_t count, int64_t& rowid,
               int64_t& dateNs) {
        rowid_ = &rowid;
        dateNs_ = &dateNs;
        if (m.chat != nullptr) {
            withMessage(m);
        }
        while (next_ < scenes_.size() &&
               index + 1 >= static_cast<int64_t>(next_ + 1) * count /
                                static_cast<int64_t>(scenes_.size() + 1)) {
            scenes_[next_++]();
        }
    }

    void finish(int64_t& rowid, int64_t& dateNs) {
        rowid_ = &rowid;
        dateNs_ = &dateNs;
        while (next_ < scenes_.size()) {
            scenes_[next_++]();
        }
        for (auto& [key, reaction] : current_) {
            s_.currentReactions.push_back(reaction);
        }
    }

    const std::vector<StoreChange>& changes() const { return changes_; }

    void writeFiles() const {
        if (!o_.attachmentHome) {
            return;
        }
        for (const auto& [relative, bytes] : files_) {
            const std::filesystem::path path = std::filesystem::path(*o_.attachmentHome) / relative;
            std::filesystem::create_directories(path.parent_path());
            std::ofstream out(path, std::ios::binary);
            out << std::string(static_cast<size_t>(bytes), '\x5A');
            if (!out) {
                throw ChatStoreError("Cannot write " + path.string());
            }
        }
    }

private:
    // ---------------------------------------------------------------------
    // Randomness and names.

    size_t below(size_t n) { return static_cast<size_t>(rng_() % n); }
    bool chance(int perTenThousand) { return static_cast<int>(rng_() % 10000) < perTenThousand; }

    std::string uuid() { return randomGuid(rng_); }

    // A word found nowhere else in the store: `stem` and a letter sequence.
    std::string word(std::string_view stem) {
        int n = words_++;
        std::string suffix;
        do {
            suffix.insert(suffix.begin(), static_cast<char>('a' + n % 26));
            n /= 26;
        } while (n > 0);
        return std::string(stem) + "q" + suffix;
    }

    int64_t store(int64_t ns) const { return ns / (kNanosecond / ticks_); }

    std::string chatGuid(std::string_view service, std::string_view address) const {
        return (era_ == E::Newest ? std::string("any") : std::string(service)) + ";-;" +
               std::string(address);
    }

    std::string sender(Person p) const { return p.me() ? "me" : p.contact->address; }

    std::string serviceOf(const Chat& chat) const {
        return chat.group ? "iMessage" : contacts_[chat.members.front()].service;
    }

    // ---------------------------------------------------------------------
    // Extra people and chats.

    size_t contact(std::string name, std::string address, std::string service, std::string country,
                   const std::string& personId, const std::string& uncanonicalized) {
        Contact c{std::move(name), std::move(address), std::move(service), nextHandle_++};
        HandleRow row;
        row.rowid = c.handleRowid;
        row.id = c.address;
        row.service = c.service;
        row.country = country;
        if (!personId.empty()) {
            row.personCentricId = personId;
        }
        if (!uncanonicalized.empty()) {
            row.uncanonicalizedId = uncanonicalized;
        }
        w_.addHandle(row);
        contacts_.push_back(std::move(c));
        ++s_.counts.extraHandles;
        return contacts_.size() - 1;
    }

    const Chat* directChat(size_t member, int64_t filtered = kKnownSender,
                           bool blackholed = false) {
        const Contact& c = contacts_[member];
        // Where chat guids do not name the service, one address on two
        // services is one chat.
        for (const auto& existing : extraChats_) {
            if (existing->guid == chatGuid(c.service, c.address)) {
                w_.addChatMember(existing->rowid, c.handleRowid);
                return existing.get();
            }
        }
        auto chat = std::make_unique<Chat>(
            Chat{nextChat_++, chatGuid(c.service, c.address), {member}, false});
        ChatRow row;
        row.rowid = chat->rowid;
        row.guid = chat->guid;
        row.style = kDirectChatStyle;
        row.chatIdentifier = c.address;
        row.serviceName = c.service;
        row.isFiltered = filtered;
        row.isBlackholed = blackholed;
        w_.addChat(row);
        w_.addChatMember(chat->rowid, c.handleRowid);
        extraChats_.push_back(std::move(chat));
        return extraChats_.back().get();
    }

    // Cast chats by kind.
    const Chat* groupChat(size_t which) const {
        std::vector<const Chat*> groups;
        for (const auto& chat : cast_.chats) {
            if (chat.group) {
                groups.push_back(&chat);
            }
        }
        return groups[which % groups.size()];
    }
    const Chat* directCastChat(std::string_view service, size_t which) const {
        std::vector<const Chat*> found;
        for (const auto& chat : cast_.chats) {
            if (!chat.group && contacts_[chat.members.front()].service == service) {
                found.push_back(&chat);
            }
        }
        return found[which % found.size()];
    }
    Person member(const Chat& chat, size_t which) const {
        return Person{&contacts_[chat.members[which % chat.members.size()]]};
    }

    // ---------------------------------------------------------------------
    // Writing rows.

    // Moves the running date on by `seconds` (and a fraction) and returns it
    // in store time.
    int64_t tick(int64_t seconds) {
        *dateNs_ += seconds * kNanosecond + static_cast<int64_t>(below(1000000));
        return store(*dateNs_);
    }

    // Writes `row` from `who` into `chat`, `gap` seconds after the previous
    // row; returns its guid.
    std::string write(MessageRow row, const Chat& chat, Person who, int64_t gap) {
        row.rowid = (*rowid_)++;
        if (!row.guid) {
            row.guid = uuid();
        }
        row.date = tick(gap);
        row.isFromMe = who.me();
        if (who.me()) {
            row.handleId = chat.group ? 0 : contacts_[chat.members.front()].handleRowid;
        } else {
            row.handleId = who.contact->handleRowid;
        }
        row.service = serviceOf(chat);
        w_.addMessage(row);
        w_.joinMessageToChat(row.rowid, chat.rowid, row.date);
        lastRowid_ = row.rowid;
        lastDate_ = row.date;
        return *row.guid;
    }

    // The body of `text` whose U+FFFC characters stand for `files`, in order:
    // one run per attachment and one per stretch of text between them. A
    // `transcript` goes with the first attachment, as the system writes a
    // voice message's.
    static std::string body(const std::string& text, const std::vector<std::string>& files,
                            const std::optional<std::string>& transcript = std::nullopt) {
        AttributedBodyOptions options;
        size_t file = 0;
        std::string pending;
        auto flushText = [&] {
            if (!pending.empty()) {
                TextAttributes caption;
                caption.messagePart = static_cast<int64_t>(file);
                options.runs.push_back({TypedStreamWriter::utf16Length(pending), caption});
                pending.clear();
            }
        };
        for (size_t i = 0; i < text.size();) {
            if (text.compare(i, kObject.size(), kObject) == 0 && file < files.size()) {
                flushText();
                TextAttributes attachment;
                attachment.messagePart = static_cast<int64_t>(file);
                if (file == 0) {
                    attachment.audioTranscription = transcript;
                }
                attachment.fileTransferGuid = files[file++];
                options.runs.push_back({1, attachment});
                i += kObject.size();
            } else {
                pending += text[i++];
            }
        }
        flushText();
        return TypedStreamWriter::attributedBody(text, options);
    }

    // A message of `text`: in the text column and the body, or (`archiveOnly`)
    // in the body alone.
    MessageRow textRow(const std::string& text, bool archiveOnly = false,
                       const std::vector<std::string>& files = {},
                       const std::optional<std::string>& transcript = std::nullopt) {
        MessageRow row;
        if (!archiveOnly) {
            row.text = text;
        }
        row.attributedBody = body(text, files, transcript);
        return row;
    }

    std::string say(const Chat& chat, Person who, const std::string& text, int64_t gap = 60) {
        return write(textRow(text, chance(4000)), chat, who, gap);
    }

    void change(StoreChange::Kind kind, int64_t rowid, int64_t dateNs, std::string text = {},
                bool flag = false) {
        changes_.push_back({kind, rowid, store(dateNs), std::move(text), flag});
    }

    // ---------------------------------------------------------------------
    // Reactions.

    std::string quoteOf(const Target& t) const {
        if (t.attachmentOnly) {
            return "an image";
        }
        return "\xE2\x80\x9C" + t.text + "\xE2\x80\x9D";
    }

    std::string reactionText(int64_t type, const Target& t,
                             const std::optional<std::string>& emoji) const {
        const bool removal = type >= kLove + kRemoval;
        const int64_t tapback = removal ? type - kRemoval : type;
        if (removal) {
            const std::string what =
                tapback == kEmojiTapback ? emoji.value_or("") : std::string(removalWhat(tapback));
            return "Removed " + what + " from " + quoteOf(t);
        }
        if (tapback == kEmojiTapback) {
            return "Reacted " + emoji.value_or("") + " to " + quoteOf(t);
        }
        if (tapback == kStickerTapback) {
            return "Reacted with a sticker to " + quoteOf(t);
        }
        return std::string(tapbackVerb(tapback)) + " " + quoteOf(t);
    }

    std::string associatedGuid(const Target& t) {
        if (t.balloon) {
            return "bp:" + t.guid;
        }
        if (t.bare || (era_ <= E::BeforeEdits && chance(3000))) {
            return t.guid;
        }
        return "p:" + std::to_string(t.part) + "/" + t.guid;
    }

    // Writes a reaction row of `type` (a tapback, a removal, 1000 or 4000)
    // from `who` to `t`; returns its guid.
    std::string react(const Target& t, int64_t type, Person who,
                      std::optional<std::string> emoji = std::nullopt, int64_t gap = 20) {
        MessageRow row;
        const bool sticker = type == kStickerPlaced || type == kStickerTapback;
        std::string file;
        if (type != kStickerPlaced && type != kPollVote) {
            const std::string text = reactionText(type, t, emoji);
            row.text = text;
            row.attributedBody = TypedStreamWriter::attributedBody(text);
        }
        if (sticker) {
            file = "at_0_" + uuid();
            row.attributedBody = body(std::string(kObject), {file});
        }
        row.associatedMessageGuid = associatedGuid(t);
        row.associatedMessageType = type;
        row.associatedMessageEmoji = emoji;
        row.associatedMessageRangeLength =
            static_cast<int64_t>(TypedStreamWriter::utf16Length(t.text));
        const std::string guid = write(row, *t.chat, who, gap);
        const int64_t rowid = lastRowid_;
        reacted_.insert(t.guid);
        if (sticker) {
            AttachmentRow a = attachment(kStickerImage, file, true, false, false, true);
            w_.addAttachment(a);
            w_.attachToMessage(rowid, a.rowid);
            ++s_.counts.attachments;
        }
        record(guid, t.guid, type, who, emoji);
        return guid;
    }

    void record(const std::string& guid, const std::string& target, int64_t type, Person who,
                const std::optional<std::string>& emoji) {
        SampleStoreSummary::Reaction r;
        r.guid = guid;
        r.targetGuid = target;
        r.associatedType = type;
        r.sender = sender(who);
        r.emoji = emoji;
        const auto reaction = core::reactionTypeFromAssociatedType(type);
        r.kind = std::string(core::reactionKindName(reaction->kind));
        s_.reactionRows.push_back(r);
        const std::string key = target + "|" + r.sender + "|" + r.kind;
        if (reaction->removal) {
            current_.erase(key);
            ++s_.counts.removals;
        } else {
            current_[key] = r;
            if (type == kStickerPlaced) {
                ++s_.counts.stickers;
            } else if (type == kPollVote) {
                ++s_.counts.pollVotes;
            } else {
                ++s_.counts.tapbacks;
            }
        }
    }

    // A tapback and, later, its removal; with `deleteRow` the tapback's row
    // is deleted when the removal comes.
    void reactThenRemove(const Target& t, int64_t type, Person who, bool deleteRow,
                         std::optional<std::string> emoji = std::nullopt) {
        react(t, type, who, emoji);
        const int64_t first = lastRowid_;
        const size_t recorded = s_.reactionRows.size() - 1;
        react(t, type + kRemoval, who, emoji, 40);
        if (deleteRow) {
            change(StoreChange::Kind::Delete, first, *dateNs_);
            s_.reactionRows[recorded].rowDeleted = true;
            ++s_.counts.reactionRowsDeleted;
        }
    }

    // A plain-text reaction sent by SMS (associated type 0).
    void smsReaction(const Target& t, core::ReactionKind kind, Person who, std::string_view open,
                     std::string_view close, const std::string& quoted) {
        static const std::map<core::ReactionKind, std::string_view> kVerbs = {
            {core::ReactionKind::Love, "Loved"},
            {core::ReactionKind::Like, "Liked"},
            {core::ReactionKind::Dislike, "Disliked"},
            {core::ReactionKind::Laugh, "Laughed at"},
            {core::ReactionKind::Emphasize, "Emphasized"},
            {core::ReactionKind::Question, "Questioned"},
        };
        const std::string text =
            std::string(kVerbs.at(kind)) + " " + std::string(open) + quoted + std::string(close);
        MessageRow row;
        row.text = text;
        const std::string guid = write(row, *t.chat, who, 30);
        SampleStoreSummary::Reaction r;
        r.guid = guid;
        r.targetGuid = t.guid;
        r.kind = std::string(core::reactionKindName(kind));
        r.sender = sender(who);
        s_.reactionRows.push_back(r);
        current_[t.guid + "|" + r.sender + "|" + r.kind] = r;
        reacted_.insert(t.guid);
        ++s_.counts.smsReactions;
    }

    void lookalike(const Chat& chat, Person who, const std::string& text) {
        MessageRow row;
        row.text = text;
        s_.lookalikeGuids.push_back(write(row, chat, who, 45));
        ++s_.counts.lookalikes;
    }

    int64_t randomTapback() {
        const int r = static_cast<int>(below(100));
        if (era_ >= E::Recent && r >= 95) {
            return r >= 98 ? kStickerTapback : kEmojiTapback;
        }
        constexpr std::array<int64_t, 6> kCommon = {kLove, kLike,      kLaugh,
                                                    kLove, kEmphasize, kQuestion};
        return r < 3 ? kDislike : kCommon[static_cast<size_t>(r) % kCommon.size()];
    }

    std::optional<std::string> emojiFor(int64_t type) {
        constexpr std::array<std::string_view, 5> kCustom = {"🎉", "🔥", "🙏", "😮", "🍕"};
        if (type == kEmojiTapback) {
            return std::string(kCustom[below(kCustom.size())]);
        }
        return std::nullopt;
    }

    // ---------------------------------------------------------------------
    // Attachments.

    std::string nameFrom(std::string_view pattern, const std::string& guid) {
        std::string name(pattern);
        const size_t at = name.find("{n}");
        if (at != std::string::npos) {
            const std::string n =
                pattern.starts_with("{n}") ? guid : std::to_string(1000 + below(9000));
            name.replace(at, 3, n);
        }
        return name;
    }

    AttachmentRow attachment(const FileType& type, const std::string& guid, bool downloaded,
                             bool onDisk, bool hidden, bool sticker,
                             SampleStoreSummary::Attachment* described = nullptr) {
        AttachmentRow a;
        a.rowid = attachmentRowid_++;
        a.guid = guid;
        a.createdDate = *dateNs_ / kNanosecond;
        a.transferName = nameFrom(type.name, guid);
        a.uti = std::string(type.uti);
        if (type.mime) {
            a.mimeType = std::string(*type.mime);
        }
        a.totalBytes = (type.minKb + static_cast<int64_t>(
                                         below(static_cast<size_t>(type.maxKb - type.minKb + 1)))) *
                       1024;
        a.isSticker = sticker;
        a.hideAttachment = hidden;
        if (downloaded) {
            static constexpr char kHex[] = "0123456789abcdef";
            const std::string folder = std::string(1, kHex[rng_() & 0xF]) + kHex[rng_() & 0xF];
            const std::string relative = "Library/Messages/Attachments/" + folder + "/" +
                                         std::to_string(below(100)) + "/" + guid + "/" +
                                         *a.transferName;
            a.filename = "~/" + relative;
            if (onDisk && o_.attachmentHome) {
                files_.emplace_back(relative, std::min<int64_t>(a.totalBytes, 4096));
            }
        } else {
            a.transferState = 0;
        }
        if (described != nullptr) {
            described->guid = a.guid;
            described->transferName = a.transferName;
            described->mimeType = a.mimeType;
            described->uti = a.uti;
            described->totalBytes = a.totalBytes;
            described->onDisk = downloaded && onDisk && o_.attachmentHome.has_value();
            described->downloaded = downloaded;
            described->hidden = hidden;
            described->sticker = sticker;
            core::AttachmentFacts facts;
            facts.uti = *a.uti;
            if (a.mimeType) {
                facts.mimeType = *a.mimeType;
            }
            facts.name = *a.transferName;
            facts.isSticker = sticker;
            facts.isAudioMessage = type.uti == kVoice.uti;
            described->kind = std::string(core::attachmentKindName(core::attachmentKind(facts)));
        }
        return a;
    }

    struct File {
        const FileType* type;
        bool downloaded = true;
        bool onDisk = true;
    };

    // A message of `files` and `caption` from `who` in `chat`; a voice
    // message may carry the system's `transcript` of it (then its text).
    std::string attachmentMessage(const Chat& chat, Person who, const std::vector<File>& files,
                                  const std::string& caption, int64_t gap = 90,
                                  const std::optional<std::string>& transcript = std::nullopt) {
        std::vector<std::string> guids;
        std::string text;
        for (size_t i = 0; i < files.size(); ++i) {
            guids.push_back("at_" + std::to_string(i) + "_" + uuid());
            text += kObject;
        }
        text += caption;
        MessageRow row = textRow(text, chance(5000), guids, transcript);
        row.isAudioMessage = files.size() == 1 && files.front().type == &kVoice;
        const std::string guid = write(row, chat, who, gap);
        describeAttachments(guid, lastRowid_, text, guids, files);
        if (transcript) {
            s_.attachmentMessages.back().transcript = transcript;
        }
        return guid;
    }

    void describeAttachments(const std::string& guid, int64_t rowid, const std::string& text,
                             const std::vector<std::string>& guids,
                             const std::vector<File>& files) {
        SampleStoreSummary::AttachmentMessage described;
        described.guid = guid;
        described.text = core::withoutPlaceholders(text);
        for (size_t i = 0; i < files.size(); ++i) {
            SampleStoreSummary::Attachment info;
            AttachmentRow a = attachment(*files[i].type, guids[i], files[i].downloaded,
                                         files[i].onDisk, false, false, &info);
            w_.addAttachment(a);
            w_.attachToMessage(rowid, a.rowid);
            described.attachments.push_back(info);
            ++s_.counts.attachments;
        }
        s_.attachmentMessages.push_back(std::move(described));
        ++s_.counts.attachmentMessages;
    }

    File randomFile() {
        const int r = static_cast<int>(below(100));
        const FileType* type = r < 55   ? &kPhoto
                               : r < 65 ? &kJpegWithoutMime
                               : r < 75 ? &kScreenshot
                               : r < 80 ? &kGif
                               : r < 88 ? &kVideo
                               : r < 94 ? &kPdf
                               : r < 97 ? &kCard
                                        : &kArchive;
        return File{type, chance(8500), chance(7000)};
    }

    // A keyed archive of a link preview's metadata, as payload_data holds it.
    static std::string linkPayload(const std::string& url, const std::string& title,
                                   const std::string& summary) {
        auto cls = [](const char* name) {
            return PropertyListValue::Dictionary{
                {"$classname", name}, {"$classes", PropertyListValue::Array{name, "NSObject"}}};
        };
        PropertyListValue::Array objects = {
            "$null",
            PropertyListValue::Dictionary{{"$class", PropertyListUid{7}},
                                          {"richLinkMetadata", PropertyListUid{2}}},
            PropertyListValue::Dictionary{{"$class", PropertyListUid{8}},
                                          {"title", PropertyListUid{3}},
                                          {"summary", PropertyListUid{4}},
                                          {"URL", PropertyListUid{5}},
                                          {"originalURL", PropertyListUid{5}}},
            title,
            summary,
            PropertyListValue::Dictionary{{"$class", PropertyListUid{9}},
                                          {"NS.base", PropertyListUid{0}},
                                          {"NS.relative", PropertyListUid{6}}},
            url,
            cls("LPMessagesPayload"),
            cls("LPLinkMetadata"),
            cls("NSURL"),
        };
        return BinaryPropertyListWriter::write(PropertyListValue::Dictionary{
            {"$version", 100000},
            {"$archiver", "NSKeyedArchiver"},
            {"$top", PropertyListValue::Dictionary{{"root", PropertyListUid{1}}}},
            {"$objects", objects},
        });
    }

    std::string linkPreview(const Chat& chat, Person who, const std::string& url,
                            const std::string& title, const std::string& summary) {
        MessageRow row;
        row.text = url;
        TextAttributes link;
        link.link = url;
        AttributedBodyOptions options;
        options.runs.push_back({TypedStreamWriter::utf16Length(url), link});
        row.attributedBody = TypedStreamWriter::attributedBody(url, options);
        row.balloonBundleId = std::string(kUrlBalloon);
        row.payloadData = linkPayload(url, title, summary);
        const std::string guid = write(row, chat, who, 70);
        const int64_t rowid = lastRowid_;
        SampleStoreSummary::AttachmentMessage described;
        described.guid = guid;
        described.text = url;
        for (int i = 0; i < 2; ++i) {
            SampleStoreSummary::Attachment info;
            AttachmentRow a = attachment(kPreviewPart, uuid(), true, false, true, false, &info);
            w_.addAttachment(a);
            w_.attachToMessage(rowid, a.rowid);
            described.attachments.push_back(info);
            ++s_.counts.attachments;
            ++s_.counts.hiddenAttachments;
        }
        s_.attachmentMessages.push_back(std::move(described));
        ++s_.counts.attachmentMessages;
        return guid;
    }

    // ---------------------------------------------------------------------
    // Group events.

    std::string event(const Chat& chat, Person actor, int64_t itemType, int64_t action,
                      const Contact* other = nullptr,
                      std::optional<std::string> title = std::nullopt) {
        MessageRow row;
        row.itemType = itemType;
        row.groupActionType = action;
        row.otherHandle = other != nullptr ? other->handleRowid : 0;
        row.groupTitle = title;
        row.partCount = std::nullopt;
        const std::string guid = write(row, chat, actor, 120);
        s_.groupEventGuids.push_back(guid);
        ++s_.counts.groupEvents;
        if (itemType == kItemRename && title) {
            w_.renameChat(chat.rowid, *title);
            s_.chatTitles[chat.guid] = *title;
            ++s_.counts.renames;
        }
        return guid;
    }

    // ---------------------------------------------------------------------
    // The rows that go with a plain message.

    void withMessage(const WrittenMessage& m) {
        const auto& c = o_.content;
        const Chat& chat = *m.chat;
        const std::string clean = core::withoutPlaceholders(m.text);
        const bool hasText = core::utf8::hasContent(clean);
        Target target{m.guid, clean, &chat, 0, false, false};
        if (!m.fileTransferGuids.empty()) {
            target.attachmentOnly = !hasText;
            if (c.attachments) {
                std::vector<File> files;
                for (size_t i = 0; i < m.fileTransferGuids.size(); ++i) {
                    files.push_back(randomFile());
                }
                describeAttachments(m.guid, m.rowid, m.text, m.fileTransferGuids, files);
            }
        }
        if (c.reactions && (hasText || target.attachmentOnly) && chance(600)) {
            const int reactions = 1 + static_cast<int>(below(2));
            for (int i = 0; i < reactions; ++i) {
                Person who = m.fromMe || chance(3000) ? member(chat, below(8)) : Person{};
                if (!who.me() && !m.fromMe && who.contact->handleRowid == m.sender->handleRowid) {
                    who = Person{};
                }
                const int64_t type = randomTapback();
                if (chance(1500)) {
                    reactThenRemove(target, type, who, chance(4000), emojiFor(type));
                } else {
                    react(target, type, who, emojiFor(type));
                }
            }
        }
        if (c.reactions && m.fromMe && !chat.group && serviceOf(chat) == "SMS" && hasText &&
            m.fileTransferGuids.empty() && chance(500)) {
            smsReaction(target, core::ReactionKind::Like, member(chat, 0), "\xE2\x80\x9C",
                        "\xE2\x80\x9D", clean);
        }
        if (c.reactions && hasText && chance(20)) {
            react(target, kStickerPlaced, m.fromMe ? member(chat, below(8)) : Person{});
        }
        if (c.threads && era_ >= E::BeforeEdits && hasText && chance(50)) {
            reply(target, m.guid, m.fromMe ? member(chat, below(8)) : Person{},
                  "Replying to this: " + std::string(kReplies[below(kReplies.size())]));
        }
        if (c.groupEvents && chat.group && chance(30)) {
            const Person actor = member(chat, below(8));
            if (chance(5000)) {
                event(chat, actor, kItemGroupAction, 1); // a new group photo
            } else {
                event(chat, actor, kItemRename, 0, nullptr,
                      std::string(kTitles[below(kTitles.size())]));
            }
        }
        if (c.attachments && chance(70)) {
            attachmentMessage(chat, chance(5000) ? Person{} : member(chat, below(8)),
                              {randomFile()}, chance(5000) ? "" : "Look at this");
        }
        // Changes to this message: not to one in two chats or reacted to, which
        // the summary names as they are.
        const bool plain =
            hasText && m.fileTransferGuids.empty() && !m.inTwoChats && reacted_.count(m.guid) == 0;
        if (!plain) {
            return;
        }
        const bool mineOnIMessage = m.fromMe && m.service == "iMessage";
        if (c.edits && era_ >= E::Recent && mineOnIMessage && chance(20)) {
            const std::string edited = "Correction: " + clean;
            change(StoreChange::Kind::Edit, m.rowid, m.dateNs + 90 * kNanosecond, edited);
            s_.edits.push_back(
                {m.guid, clean, edited, store(m.dateNs + 90 * kNanosecond), false, true, 2});
            ++s_.counts.edited;
        } else if (c.unsends && era_ >= E::Recent && mineOnIMessage && chance(5)) {
            change(StoreChange::Kind::Unsend, m.rowid, m.dateNs + 30 * kNanosecond, {}, true);
            s_.removed.push_back({m.guid, SampleStoreSummary::Removal::Unsent, std::nullopt});
            ++s_.counts.unsent;
        } else if (c.deletions && era_ >= E::Recent && chance(5)) {
            change(StoreChange::Kind::MoveToRecentlyDeleted, m.rowid, lastNs());
            s_.removed.push_back(
                {m.guid, SampleStoreSummary::Removal::RecentlyDeleted, std::nullopt});
            ++s_.counts.recentlyDeleted;
        } else if (c.deletions && chance(5)) {
            change(StoreChange::Kind::Delete, m.rowid, lastNs());
            s_.removed.push_back({m.guid, SampleStoreSummary::Removal::Deleted, std::nullopt});
            ++s_.counts.deleted;
        }
    }

    // The date changes are made at: a day after the newest row so far.
    int64_t lastNs() const { return *dateNs_ + 86400 * kNanosecond; }

    std::string reply(const Target& to, const std::string& previous, Person who,
                      const std::string& text) {
        MessageRow row = textRow(text);
        row.threadOriginatorGuid = to.guid;
        row.threadOriginatorPart = "0:0:" + std::to_string(TypedStreamWriter::utf16Length(to.text));
        row.replyToGuid = previous;
        const std::string guid = write(row, *to.chat, who, 75);
        s_.threadReplies.push_back({guid, to.guid});
        ++s_.counts.threadReplies;
        return guid;
    }

    static constexpr std::array<std::string_view, 6> kReplies = {
        "sounds good", "I can do that", "same here", "not sure yet", "yes!", "let's ask the others",
    };
    static constexpr std::array<std::string_view, 6> kTitles = {
        "Weekend plans",          "The Ramen Crew 🍜",  "Lisbon 2024 ✈️",
        "Book club (new season)", "Saturday football", "Birthday surprise 🎂",
    };

    // ---------------------------------------------------------------------
    // Scenes: one kind each, spread over the history.

    void scenes() {
        const auto& c = o_.content;
        if (c.handles) {
            scenes_.push_back([this] { handlesScene(); });
        }
        if (c.reactions) {
            scenes_.push_back([this] { reactionsScene(); });
            scenes_.push_back([this] { smsScene(); });
            if (era_ >= E::Recent) {
                scenes_.push_back([this] { pollScene(); });
            }
        }
        if (c.groupEvents) {
            scenes_.push_back([this] { groupScene(); });
        }
        if (c.attachments) {
            scenes_.push_back([this] { attachmentsScene(); });
        }
        if (c.threads && era_ >= E::BeforeEdits) {
            scenes_.push_back([this] { threadScene(); });
        }
        if (c.edits && era_ >= E::Recent) {
            scenes_.push_back([this] { editsScene(); });
        }
        if (c.unsends && era_ >= E::Recent) {
            scenes_.push_back([this] { unsendScene(); });
        }
        if (c.deletions) {
            scenes_.push_back([this] { deletionsScene(); });
            scenes_.push_back([this] { conversationsScene(); });
        }
        if (c.junk) {
            scenes_.push_back([this] { junkScene(); });
        }
        if (c.any()) {
            scenes_.push_back([this] { twoChatsScene(); });
        }
    }

    void handlesScene() {
        say(*danaPhoneChat_, member(*danaPhoneChat_, 0), "Hi! It's Dana, new number");
        say(*danaPhoneChat_, Person{}, "Saved it, thanks Dana");
        say(*danaSmsChat_, member(*danaSmsChat_, 0), "No data here, texting instead");
        say(*danaEmailChat_, member(*danaEmailChat_, 0), "Sending from my laptop");
        say(*ukChat_, member(*ukChat_, 0), "Cheers, see you at the pub");
        say(*deChat_, member(*deChat_, 0), "Bis morgen!");
    }

    void reactionsScene() {
        const Chat& chat = *groupChat(0);
        const std::string text = "Cabin is booked! Wifi password is " + word("wifi");
        const std::string guid = say(chat, member(chat, 0), text);
        Target t{guid, text, &chat, 0, false, false};
        react(t, kLove, member(chat, 1));
        react(t, kLaugh, member(chat, 2));
        react(t, kLike, Person{});
        Target bare = t;
        bare.bare = true;
        react(bare, kLove, member(chat, 3));
        reactThenRemove(t, kEmphasize, member(chat, 3), false);
        reactThenRemove(t, kQuestion, member(chat, 4), true);
        if (era_ >= E::Recent) {
            react(t, kEmojiTapback, member(chat, 5), std::string("🎉"));
            react(t, kStickerTapback, member(chat, 1));
        }
        react(t, kStickerPlaced, member(chat, 2));
        say(chat, member(chat, 1), "Amazing, can't wait");
    }

    void smsScene() {
        const Chat& chat = *directCastChat("SMS", 0);
        const Person them = member(chat, 0);
        const std::string first = "Can you grab the " + word("parcel") + " on the way?";
        const std::string firstGuid = write(textRow(first), chat, Person{}, 60);
        smsReaction({firstGuid, first, &chat}, core::ReactionKind::Like, them, "\xE2\x80\x9C",
                    "\xE2\x80\x9D", first);
        const std::string second = "See you at 8";
        const std::string secondGuid = write(textRow(second), chat, Person{}, 60);
        smsReaction({secondGuid, second, &chat}, core::ReactionKind::Love, them, "\"", "\"",
                    second);
        const std::string longText = "The plumber can come on Thursday between 9 and 1, or next "
                                     "Monday afternoon if that works better for you, let me know";
        const std::string longGuid = write(textRow(longText), chat, Person{}, 60);
        smsReaction({longGuid, longText, &chat}, core::ReactionKind::Emphasize, them,
                    "\xE2\x80\x9C", "\xE2\x80\x9D", longText.substr(0, 40) + "\xE2\x80\xA6");
        lookalike(chat, them, "Liked \"the movie\"");
        lookalike(*directCastChat("iMessage", 3), Person{},
                  "Emphasized \xE2\x80\x9Cthe new schedule\xE2\x80\x9D");
    }

    void pollScene() {
        const Chat& chat = *groupChat(2);
        MessageRow poll;
        poll.text = std::string(kReplacement);
        poll.attributedBody = TypedStreamWriter::attributedBody(kReplacement);
        poll.balloonBundleId = std::string(kPollBalloon);
        poll.payloadData = BinaryPropertyListWriter::write(
            PropertyListValue::Dictionary{{"question", "Pizza or tacos on Friday?"},
                                          {"options", PropertyListValue::Array{"Pizza", "Tacos"}}});
        const std::string guid = write(poll, chat, Person{}, 60);
        Target t{guid, "", &chat, 0, false, false};
        react(t, kPollVote, member(chat, 0), std::nullopt, 300);
        react(t, kPollVote, member(chat, 1), std::nullopt, 200);
    }

    void groupScene() {
        const Chat& chat = *groupChat(1);
        const Contact& guest = contacts_[newcomer_];
        event(chat, Person{}, kItemMembership, 0, &guest);
        event(chat, member(chat, 0), kItemRename, 0, nullptr, "Cabin weekend 🏔️");
        say(chat, member(chat, 1), "Love the new name");
        event(chat, Person{}, kItemRename, 0, nullptr, "Cabin crew");
        event(chat, Person{}, kItemMembership, 1, &guest);
        event(chat, member(chat, 1), kItemGroupAction, 1); // a new group photo
        event(chat, member(chat, 0), kItemGroupAction, 0); // left
    }

    void attachmentsScene() {
        const Chat& chat = *directCastChat("iMessage", 1);
        const Person them = member(chat, 0);
        const std::string photo = attachmentMessage(chat, them, {{&kPhoto}}, "");
        if (o_.content.reactions) {
            react({photo, "", &chat, 0, true, false}, kLove, Person{});
        }
        const std::string caption = "View from the cabin 🏔️";
        const std::string view = attachmentMessage(chat, them, {{&kPhoto}}, caption);
        if (o_.content.reactions) {
            react({view, caption, &chat, 1, false, false}, kLove, Person{}); // the caption, part 1
        }
        attachmentMessage(chat, Person{}, {{&kPdf}}, "here's the signed lease");
        attachmentMessage(chat, them, {{&kPhoto}, {&kScreenshot}}, "");
        attachmentMessage(chat, them, {{&kPhoto, false, false}}, "");
        attachmentMessage(chat, them, {{&kJpegWithoutMime, true, false}}, "");
        attachmentMessage(chat, Person{}, {{&kVideo}}, "");
        attachmentMessage(chat, them, {{&kVoice}}, "");
        attachmentMessage(chat, them, {{&kVoice}}, "", 90,
                          std::string("Running ten minutes late, save me a seat by the window"));
        attachmentMessage(chat, Person{}, {{&kSong}}, "this song!");
        attachmentMessage(chat, them, {{&kCard}}, "");
        attachmentMessage(chat, them, {{&kLocation}}, "");
        attachmentMessage(chat, Person{}, {{&kArchive}}, "all the photos from the trip");
        attachmentMessage(chat, them, {{&kGif}}, "");
        const std::string url = "https://www.example.com/cabins/4417";
        const std::string preview = linkPreview(chat, Person{}, url, "Lakeside cabin for six",
                                                "Two bedrooms, a wood stove and a jetty");
        if (o_.content.reactions) {
            react({preview, url, &chat, 0, false, true}, kLike, them);
        }
    }

    void threadScene() {
        const Chat& chat = *groupChat(3);
        const std::string question = "Who's bringing the tent?";
        const std::string guid = say(chat, member(chat, 0), question);
        const Target t{guid, question, &chat, 0, false, false};
        const std::string between = say(chat, member(chat, 1), "Also need a stove");
        const std::string first = reply(t, between, Person{}, "I can bring mine");
        reply(t, first, member(chat, 1), "Great, I'll bring the spare one");
    }

    void editsScene() {
        const Chat& chat = *directCastChat("iMessage", 0);
        struct Plan {
            bool historyOnly;
            bool stamp;
            int edits;
        };
        for (const Plan plan : {Plan{false, true, 1}, Plan{true, true, 1}, Plan{false, true, 2},
                                Plan{false, false, 1}}) {
            const std::string oldWord = word("draft");
            const std::string original = "Dinner is at " + oldWord + " at 7";
            const std::string guid = write(textRow(original), chat, Person{}, 60);
            const int64_t rowid = lastRowid_;
            const int64_t sent = *dateNs_;
            std::string current;
            int64_t when = sent;
            for (int i = 0; i < plan.edits; ++i) {
                current = "Dinner is at " + word("final") + " at 8";
                when += (60 + 60 * i) * kNanosecond;
                change(plan.stamp ? StoreChange::Kind::Edit
                                  : StoreChange::Kind::EditKeepingDateEditedZero,
                       rowid, when, current, plan.historyOnly);
            }
            s_.edits.push_back({guid, original, current, store(when), plan.historyOnly, plan.stamp,
                                plan.edits + 1});
            ++s_.counts.edited;
        }
    }

    void unsendScene() {
        const Chat& chat = *directCastChat("iMessage", 2);
        for (bool stamp : {true, false}) {
            const std::string secret = word("vanish");
            const std::string guid =
                write(textRow("The garage code is 4417 " + secret), chat, Person{}, 60);
            change(StoreChange::Kind::Unsend, lastRowid_, *dateNs_ + 40 * kNanosecond, {}, stamp);
            s_.removed.push_back({guid, SampleStoreSummary::Removal::Unsent, secret});
            ++s_.counts.unsent;
        }
    }

    void deletionsScene() {
        const Chat& chat = *groupChat(4);
        if (era_ >= E::Recent) {
            for (int i = 0; i < 2; ++i) {
                const std::string secret = word("vanish");
                const std::string guid =
                    say(chat, i == 0 ? Person{} : member(chat, 0), "Locker combination " + secret);
                change(StoreChange::Kind::MoveToRecentlyDeleted, lastRowid_, lastNs());
                s_.removed.push_back({guid, SampleStoreSummary::Removal::RecentlyDeleted, secret});
                ++s_.counts.recentlyDeleted;
            }
            const std::string kept = word("phoenix");
            const std::string guid = say(chat, member(chat, 1), "Meet at the " + kept + " cafe");
            change(StoreChange::Kind::MoveToRecentlyDeleted, lastRowid_, lastNs());
            change(StoreChange::Kind::Restore, lastRowid_, lastNs());
            s_.restored.push_back({guid, SampleStoreSummary::Removal::RecentlyDeleted, kept});
            ++s_.counts.restored;
        }
        for (int i = 0; i < 2; ++i) {
            const std::string secret = word("vanish");
            const std::string guid =
                say(chat, i == 0 ? Person{} : member(chat, 1), "Alarm code " + secret);
            change(StoreChange::Kind::Delete, lastRowid_, lastNs());
            s_.removed.push_back({guid, SampleStoreSummary::Removal::Deleted, secret});
            ++s_.counts.deleted;
        }
    }

    void conversationsScene() {
        auto conversation = [this](const Chat& chat, StoreChange::Kind kind,
                                   SampleStoreSummary::Removal how) {
            const Person them = member(chat, 0);
            for (int i = 0; i < 3; ++i) {
                const std::string secret = word("vanish");
                const std::string guid =
                    say(chat, i % 2 == 0 ? them : Person{}, "About the " + secret + " thing");
                s_.removed.push_back({guid, how, secret});
            }
            changes_.push_back({kind, chat.rowid, store(lastNs()), {}, false});
            s_.deletedChatGuids.push_back(chat.guid);
            ++s_.counts.deletedChats;
        };
        if (recoverableChat_ != nullptr) {
            conversation(*recoverableChat_, StoreChange::Kind::MoveChatToRecentlyDeleted,
                         SampleStoreSummary::Removal::ChatRecentlyDeleted);
        }
        conversation(*deletedChat_, StoreChange::Kind::DeleteChat,
                     SampleStoreSummary::Removal::ChatDeleted);
    }

    void junkScene() {
        const bool spamColumn = era_ >= E::BeforeEdits;
        const Person spammer = member(*junkChat_, 0);
        s_.junkChatGuids.push_back(junkChat_->guid);
        for (const char* text :
             {"Your parcel could not be delivered. Confirm your address at "
              "http://parcel-redelivery.example/track",
              "FINAL NOTICE: your parcel will be returned today", "Reply STOP to opt out"}) {
            MessageRow row = textRow(text);
            row.isSpam = spamColumn && std::string_view(text) != "Reply STOP to opt out";
            const std::string guid = write(row, *junkChat_, spammer, 300);
            s_.junkMessageGuids.push_back(guid);
            if (row.isSpam) {
                s_.spamMessageGuids.push_back(guid);
            }
            ++s_.counts.junkMessages;
        }
        if (blockedChat_ != nullptr) {
            s_.blockedChatGuids.push_back(blockedChat_->guid);
            for (const char* text : {"Huge savings on sunglasses this weekend only",
                                     "Last chance: sunglasses 90% off"}) {
                s_.junkMessageGuids.push_back(
                    write(textRow(text), *blockedChat_, member(*blockedChat_, 0), 600));
                ++s_.counts.junkMessages;
            }
        }
    }

    void twoChatsScene() {
        if (s_.twoChats) {
            return;
        }
        const Chat& first = *groupChat(5);
        const Chat& second = *groupChat(6);
        const std::string guid =
            write(textRow("Forwarding the " + word("ferry") + " times"), first, Person{}, 60);
        w_.joinMessageToChat(lastRowid_, second.rowid, lastDate_);
        s_.twoChats = SampleStoreSummary::TwoChats{guid, {first.guid, second.guid}};
    }

    ChatStoreWriter& w_;
    const Cast& cast_;
    const SampleStoreOptions& o_;
    SampleStoreSummary& s_;
    const StoreEra era_;
    const int64_t ticks_;
    std::mt19937_64 rng_;
    std::vector<Contact> contacts_; // the cast's, then the extra ones
    std::vector<std::unique_ptr<Chat>> extraChats_;
    int64_t nextHandle_ = 0;
    int64_t nextChat_ = 0;
    int64_t attachmentRowid_ = 1;
    int words_ = 0;
    int64_t* rowid_ = nullptr;
    int64_t* dateNs_ = nullptr;
    int64_t lastDate_ = 0;
    int64_t lastRowid_ = 0; // of the row written last
    std::map<std::string, SampleStoreSummary::Reaction> current_;
    std::set<std::string> reacted_; // targets of the reactions written
    std::vector<StoreChange> changes_;
    std::vector<std::pair<std::string, int64_t>> files_; // under the home folder, and sizes
    std::vector<std::function<void()>> scenes_;
    size_t next_ = 0;

    const Chat* danaPhoneChat_ = nullptr;
    const Chat* danaSmsChat_ = nullptr;
    const Chat* danaEmailChat_ = nullptr;
    const Chat* ukChat_ = nullptr;
    const Chat* deChat_ = nullptr;
    size_t newcomer_ = 0;
    const Chat* recoverableChat_ = nullptr;
    const Chat* deletedChat_ = nullptr;
    const Chat* junkChat_ = nullptr;
    const Chat* blockedChat_ = nullptr;
};

RealContent::RealContent(ChatStoreWriter& writer, const Cast& cast,
                         const SampleStoreOptions& options, SampleStoreSummary& summary)
    : impl_(std::make_unique<Impl>(writer, cast, options, summary)) {}

RealContent::~RealContent() = default;

void RealContent::writeCast(int64_t nextHandleRowid, int64_t nextChatRowid) {
    impl_->writeCast(nextHandleRowid, nextChatRowid);
}

void RealContent::after(const WrittenMessage& m, int64_t index, int64_t count, int64_t& rowid,
                        int64_t& dateNs) {
    impl_->after(m, index, count, rowid, dateNs);
}

void RealContent::finish(int64_t& rowid, int64_t& dateNs) {
    impl_->finish(rowid, dateNs);
}

const std::vector<StoreChange>& RealContent::changes() const {
    return impl_->changes();
}

void RealContent::writeFiles() const {
    impl_->writeFiles();
}

} // namespace orlune::samplestore::detail

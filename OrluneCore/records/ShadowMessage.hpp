#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orlune::core {

// The chat id of a message joined to no chat.
inline constexpr const char* kNoChatId = "unknown";

// The sender of a message you sent.
inline constexpr const char* kSenderMe = "me";
// The sender of a message whose handle the store does not name.
inline constexpr const char* kSenderUnknown = "unknown";

// One attachment of a message, as read from the store's attachment table.
struct ShadowAttachment {
    std::string guid;
    std::string kind;                // attachmentKindName: "photo", "pdf", "voice message"...
    std::optional<std::string> name; // the file's name as sent (transfer_name, else filename)
    std::optional<std::string> mimeType;
    std::optional<std::string> uti;
    int64_t bytes = 0;
    bool downloaded = false; // the store has a file name for it
    bool sticker = false;
    bool hidden = false; // a link preview's image and the like, not shown as an attachment
    bool operator==(const ShadowAttachment&) const = default;
};

// The one normalised form of a message: what the reader produces from the
// messaging store, what the benchmark produces from a corpus, and what the
// shadow database stores as one row of `messages`. An immutable value.
class ShadowMessage {
public:
    ShadowMessage(std::string guid, std::string chatId, std::optional<std::string> chatName,
                  std::string sender, std::string text, int64_t timestamp, bool isFromMe,
                  bool isGroup, bool hasAttachments, std::vector<std::string> attachmentTypes,
                  int64_t sourceRowid);

    const std::string& guid() const { return guid_; }
    // The chat's guid, or kNoChatId ("unknown") for a message in no chat.
    const std::string& chatId() const { return chatId_; }
    // Absent when the source has no name; may be present and empty.
    const std::optional<std::string>& chatName() const { return chatName_; }
    // "me", the sender's handle, or "unknown".
    const std::string& sender() const { return sender_; }
    const std::string& text() const { return text_; }
    // The store's own `date` value: compared and ordered, never converted.
    int64_t timestamp() const { return timestamp_; }
    bool isFromMe() const { return isFromMe_; }
    bool isGroup() const { return isGroup_; }
    bool hasAttachments() const { return hasAttachments_; }
    const std::vector<std::string>& attachmentTypes() const { return attachmentTypes_; }
    int64_t sourceRowid() const { return sourceRowid_; }

    // 16 lower-case hex digits: the first 8 bytes of SHA-256 over
    // text + "|" + the attachment kinds sorted and joined with ",".
    // Computed on each call.
    std::string contentHash() const;

    // The message's attachments in the store's order (hidden ones included);
    // empty when it has none or they were not read.
    const std::vector<ShadowAttachment>& attachments() const { return attachments_; }
    // When the message was last edited, in the store's unit; absent when never.
    const std::optional<int64_t>& editedAt() const { return editedAt_; }
    // This message with its attachments and edit time set.
    ShadowMessage withDetails(std::vector<ShadowAttachment> attachments,
                              std::optional<int64_t> editedAt) && {
        attachments_ = std::move(attachments);
        editedAt_ = editedAt;
        return std::move(*this);
    }
    // The guid of the message this one replies to in a thread (the thread's
    // first message); absent for a message that is no reply, and where the
    // source does not say.
    const std::optional<std::string>& threadOriginatorGuid() const { return threadOriginatorGuid_; }
    // This message as a reply in the thread of `originatorGuid` (absent: no
    // reply).
    ShadowMessage inThreadOf(std::optional<std::string> originatorGuid) && {
        threadOriginatorGuid_ = std::move(originatorGuid);
        return std::move(*this);
    }

private:
    std::string guid_;
    std::string chatId_;
    std::optional<std::string> chatName_;
    std::string sender_;
    std::string text_;
    int64_t timestamp_;
    bool isFromMe_;
    bool isGroup_;
    bool hasAttachments_;
    std::vector<std::string> attachmentTypes_;
    int64_t sourceRowid_;
    std::vector<ShadowAttachment> attachments_;
    std::optional<int64_t> editedAt_;
    std::optional<std::string> threadOriginatorGuid_;
};

} // namespace orlune::core

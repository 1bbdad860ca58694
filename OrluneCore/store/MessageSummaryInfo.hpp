#pragma once
// What the messaging store's message_summary_info blob says about edits and
// unsends of a message (stores from macOS 13 on). The blob is a binary
// property list whose root dictionary holds, among other keys:
//   ec   edited content: part index (a decimal string) -> the part's history,
//        an array of dictionaries, oldest first, each with `d` (when, in
//        seconds since 2001-01-01 UTC) and `t` (the part's text as a
//        typedstream message body); the last entry is the current text;
//   rp   retracted parts: the indexes of the parts that were unsent;
//   otr  original text ranges per part (not read here).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orlune::core {

// One version of an edited part.
struct MessageEdit {
    // When this version was written, in seconds since 2001-01-01 UTC; absent
    // when the entry has no readable `d`.
    std::optional<double> secondsSince2001;
    // The version's text (TypedStreamDecoder over `t`); absent when `t` is
    // missing or has no text.
    std::optional<std::string> text;

    bool operator==(const MessageEdit&) const = default;
};

struct EditedPart {
    int64_t part = 0;
    std::vector<MessageEdit> history; // oldest first, never empty

    bool operator==(const EditedPart&) const = default;
};

class MessageSummaryInfo {
public:
    // The edits and unsends in `blob`, or absent when `blob` is not a binary
    // property list with a dictionary at its root. Inside it, what cannot be
    // read is passed over: an `ec` key that is not a part index, a history
    // that is not an array or is empty, an entry that is not a dictionary,
    // an `rp` member that is not a non-negative integer. Never throws; any
    // thread.
    static std::optional<MessageSummaryInfo> parse(std::string_view blob) noexcept;

    // Parts with an edit history, by ascending part index.
    const std::vector<EditedPart>& editedParts() const { return editedParts_; }
    // Indexes of the unsent parts, ascending, each once.
    const std::vector<int64_t>& unsentParts() const { return unsentParts_; }

    // The current text of `part`: the text of the last entry of its history.
    // Absent when the part has no history or that entry has no text (then
    // the message body holds the current text, if anything does).
    std::optional<std::string> currentText(int64_t part) const;
    // The latest time among all the parts' last entries; absent when no
    // entry has one.
    std::optional<double> lastEditedSecondsSince2001() const;

private:
    std::vector<EditedPart> editedParts_;
    std::vector<int64_t> unsentParts_;
};

} // namespace orlune::core

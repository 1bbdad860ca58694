#include "records/ShadowMessage.hpp"

#include "base/Sha256.hpp"

#include <algorithm>
#include <array>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

namespace orlune::core {

ShadowMessage::ShadowMessage(std::string guid, std::string chatId,
                             std::optional<std::string> chatName, std::string sender,
                             std::string text, int64_t timestamp, bool isFromMe, bool isGroup,
                             bool hasAttachments, std::vector<std::string> attachmentTypes,
                             int64_t sourceRowid)
    : guid_(std::move(guid)), chatId_(std::move(chatId)), chatName_(std::move(chatName)),
      sender_(std::move(sender)), text_(std::move(text)), timestamp_(timestamp),
      isFromMe_(isFromMe), isGroup_(isGroup), hasAttachments_(hasAttachments),
      attachmentTypes_(std::move(attachmentTypes)), sourceRowid_(sourceRowid) {}

namespace {

// Kinds are ordered by the Unicode scalars of their canonically composed
// form; for UTF-8 text, byte order equals scalar order.
std::string composedForm(const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) {
        return text;
    }
    icu::UnicodeString composed = nfc->normalize(icu::UnicodeString::fromUTF8(text), status);
    if (U_FAILURE(status)) {
        return text;
    }
    std::string out;
    composed.toUTF8String(out);
    return out;
}

} // namespace

std::string ShadowMessage::contentHash() const {
    std::vector<std::pair<std::string, const std::string*>> kinds;
    kinds.reserve(attachmentTypes_.size());
    for (const auto& kind : attachmentTypes_) {
        kinds.emplace_back(composedForm(kind), &kind);
    }
    std::stable_sort(kinds.begin(), kinds.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    std::string input = text_;
    input += '|';
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (i > 0) {
            input += ',';
        }
        input += *kinds[i].second;
    }

    return sha256HexPrefix(input, 8);
}

} // namespace orlune::core

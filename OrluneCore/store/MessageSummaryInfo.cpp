#include "store/MessageSummaryInfo.hpp"

#include "store/BinaryPropertyList.hpp"
#include "store/TypedStreamDecoder.hpp"

#include <algorithm>
#include <charconv>

namespace orlune::core {

namespace {

constexpr std::string_view kEditedContent = "ec";
constexpr std::string_view kRetractedParts = "rp";
constexpr std::string_view kEditDate = "d";
constexpr std::string_view kEditText = "t";

std::optional<int64_t> partIndex(std::string_view key) {
    int64_t value = -1;
    auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), value);
    if (ec != std::errc() || end != key.data() + key.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

// `d` is written as an integer; a real number or a date is taken as well.
std::optional<double> seconds(const PropertyListValue* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const auto* i = value->as<int64_t>()) {
        return static_cast<double>(*i);
    }
    if (const auto* r = value->as<double>()) {
        return *r;
    }
    if (const auto* date = value->as<PropertyListDate>()) {
        return date->secondsSince2001;
    }
    return std::nullopt;
}

std::optional<std::string> text(const PropertyListValue* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const auto* data = value->as<PropertyListData>()) {
        return TypedStreamDecoder::decodeToString(data->bytes);
    }
    return std::nullopt;
}

} // namespace

std::optional<MessageSummaryInfo> MessageSummaryInfo::parse(std::string_view blob) noexcept {
    try {
        auto root = BinaryPropertyList::decode(blob);
        if (!root || root->as<PropertyListValue::Dictionary>() == nullptr) {
            return std::nullopt;
        }
        MessageSummaryInfo info;
        if (const auto* edited = root->find(kEditedContent)) {
            if (const auto* parts = edited->as<PropertyListValue::Dictionary>()) {
                for (const auto& [key, history] : *parts) {
                    auto index = partIndex(key);
                    const auto* entries = history.as<PropertyListValue::Array>();
                    if (!index || entries == nullptr) {
                        continue;
                    }
                    EditedPart part;
                    part.part = *index;
                    for (const auto& entry : *entries) {
                        if (entry.as<PropertyListValue::Dictionary>() == nullptr) {
                            continue;
                        }
                        part.history.push_back(
                            {seconds(entry.find(kEditDate)), text(entry.find(kEditText))});
                    }
                    if (!part.history.empty()) {
                        info.editedParts_.push_back(std::move(part));
                    }
                }
            }
        }
        std::stable_sort(info.editedParts_.begin(), info.editedParts_.end(),
                         [](const EditedPart& a, const EditedPart& b) { return a.part < b.part; });
        if (const auto* retracted = root->find(kRetractedParts)) {
            if (const auto* indexes = retracted->as<PropertyListValue::Array>()) {
                for (const auto& index : *indexes) {
                    const auto* i = index.as<int64_t>();
                    if (i != nullptr && *i >= 0) {
                        info.unsentParts_.push_back(*i);
                    }
                }
            }
        }
        std::sort(info.unsentParts_.begin(), info.unsentParts_.end());
        info.unsentParts_.erase(std::unique(info.unsentParts_.begin(), info.unsentParts_.end()),
                                info.unsentParts_.end());
        return info;
    } catch (...) {
        // Only allocation can fail here.
        return std::nullopt;
    }
}

std::optional<std::string> MessageSummaryInfo::currentText(int64_t part) const {
    for (const auto& p : editedParts_) {
        if (p.part == part) {
            return p.history.back().text;
        }
    }
    return std::nullopt;
}

std::optional<double> MessageSummaryInfo::lastEditedSecondsSince2001() const {
    std::optional<double> latest;
    for (const auto& p : editedParts_) {
        const auto& when = p.history.back().secondsSince2001;
        if (when && (!latest || *when > *latest)) {
            latest = when;
        }
    }
    return latest;
}

} // namespace orlune::core

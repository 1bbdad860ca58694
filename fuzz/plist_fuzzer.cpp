// libFuzzer target: the binary property list decoder and the message summary
// reader on top of it, on arbitrary bytes. They must never read outside their
// input, never throw, stay within the decoder's limits, and give strings of
// well-formed UTF-8.

#include "base/Utf8.hpp"
#include "store/BinaryPropertyList.hpp"
#include "store/MessageSummaryInfo.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

namespace {

using orlune::core::PropertyListValue;

// Counts the values of `value` and checks its strings.
size_t check(const PropertyListValue& value, size_t depth) {
    if (depth > orlune::core::BinaryPropertyList::Limits{}.maxDepth) {
        std::abort();
    }
    size_t count = 1;
    if (const auto* s = value.as<std::string>()) {
        if (!orlune::core::utf8::isValid(*s)) {
            std::abort();
        }
    } else if (const auto* array = value.as<PropertyListValue::Array>()) {
        for (const auto& item : *array) {
            count += check(item, depth + 1);
        }
    } else if (const auto* dictionary = value.as<PropertyListValue::Dictionary>()) {
        for (const auto& [key, item] : *dictionary) {
            if (!orlune::core::utf8::isValid(key)) {
                std::abort();
            }
            count += 1 + check(item, depth + 1);
        }
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // libFuzzer hands over an allocation of exactly `size` bytes, so
    // AddressSanitizer catches any read past the end.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto value = orlune::core::BinaryPropertyList::decode(bytes)) {
        if (check(*value, 0) > orlune::core::BinaryPropertyList::Limits{}.maxValues) {
            std::abort();
        }
    }
    if (auto info = orlune::core::MessageSummaryInfo::parse(bytes)) {
        for (const auto& part : info->editedParts()) {
            if (part.history.empty() || part.part < 0) {
                std::abort();
            }
            for (const auto& edit : part.history) {
                if (edit.text && !orlune::core::utf8::isValid(*edit.text)) {
                    std::abort();
                }
            }
        }
        for (int64_t part : info->unsentParts()) {
            if (part < 0) {
                std::abort();
            }
        }
    }
    return 0;
}

// libFuzzer target: the message-body decoder on arbitrary bytes, raw and as
// the hexadecimal text the store's query returns. It must never read outside
// its input, never throw, and return either nothing or well-formed UTF-8 with
// a letter, a number or an emoji.

#include "base/Utf8.hpp"
#include "store/ChatDBReader.hpp"
#include "store/TypedStreamDecoder.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

namespace {

void check(const std::optional<std::string>& text) {
    if (!text) {
        return;
    }
    if (text->empty() || !orlune::core::utf8::isValid(*text) ||
        !orlune::core::utf8::hasContent(*text)) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // libFuzzer hands over an allocation of exactly `size` bytes, so
    // AddressSanitizer catches any read past the end.
    check(orlune::core::TypedStreamDecoder::decodeToString(std::span<const uint8_t>(data, size)));
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 0xF];
    }
    auto decoded = orlune::core::decodeHex(hex);
    if (!decoded || *decoded != bytes) {
        std::abort();
    }
    (void)orlune::core::decodeHex(bytes); // arbitrary text as hexadecimal
    return 0;
}

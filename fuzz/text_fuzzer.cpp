// libFuzzer target: a question on arbitrary bytes, searched for time
// expressions and for people's names. Neither may throw or read outside the
// text; every span found lies inside it, in order and without overlap.

#include "contacts/PersonNames.hpp"
#include "time/TimeExpressionParser.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace orlune::core;

const TimeExpressionParser& parser() {
    static const TimeExpressionParser instance;
    return instance;
}

const People& people() {
    static const People everyone = [] {
        People list;
        Person jess;
        jess.displayName = "Jess Day";
        jess.firstName = "Jess";
        jess.lastName = "Day";
        jess.nicknames = {"Mom"};
        Person acme;
        acme.displayName = acme.organization = "Acme Plumbing";
        list.people = {jess, acme};
        return list;
    }();
    return everyone;
}

template <typename Span> void checkSpans(const std::vector<Span>& spans, size_t size) {
    size_t previousEnd = 0;
    for (const Span& span : spans) {
        if (span.begin < previousEnd || span.begin >= span.end || span.end > size) {
            std::abort();
        }
        previousEnd = span.end;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TimeContext context;
    context.now = Instant(std::chrono::seconds(1718202600)); // 2024-06-12T14:30Z
    context.zone = "Europe/London";
    context.locale = "en_GB";
    checkSpans(parser().find(text, context), size);
    if (auto range = parser().parse(text, context);
        range && range->start && range->end && *range->end < *range->start) {
        std::abort();
    }
    checkSpans(findPeopleMentioned(text, people()), size);
    return 0;
}

#pragma once
// What the shadow database covers, in a person's words: the short line the
// app shows ("84,210 messages · Mar 2021 – today") and the note an answer
// adds when the question's time lies outside the copied messages ("Your
// messages here start in March 2021.").

#include "shadow/ShadowCoverage.hpp"
#include "time/LocalTime.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace orlune::core {

// `count` with a comma between each group of three digits: "84,210".
std::string groupedCount(int64_t count);

// "84,210 messages · Mar 2021 – today": the count, then the local months of
// the first and last message, the last one "today" when it is the
// calendar's today; one month alone when both fall in it ("1 message · Mar
// 2021"). "No messages copied yet" for none.
std::string coverageLine(const Coverage& coverage, const LocalCalendar& calendar);

// The note for a question about `asked` when it lies wholly before the first
// copied message ("Your messages here start in March 2021.") or wholly after
// the last one ("Your messages here end in December 2024."), in the
// calendar's local months; absent when it overlaps them.
std::optional<std::string> outsideSpanNote(const TimeRange& asked, const MessageTimeSpan& span,
                                           const LocalCalendar& calendar);

} // namespace orlune::core

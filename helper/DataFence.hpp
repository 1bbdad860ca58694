#pragma once
// Fences around text from the person's messages before it goes to the model,
// so that the model can tell data from instructions:
//
//   <<<DATA 3f9a0c1e7b2d4a65>>>
//   ...the text, unchanged...
//   <<<END DATA 3f9a0c1e7b2d4a65>>>
//
// The marker's id is drawn afresh for each fence and is never one the text
// contains, so no message (whatever it says, "<<<END DATA" included) can
// close the fence early or forge one.

#include <functional>
#include <string>
#include <string_view>

namespace orlune::helper {

// Returns a new candidate id (lower-case hex) each call.
using FenceIdSource = std::function<std::string()>;

// 16 random hex digits from std::random_device.
std::string randomFenceId();

// `text` between an opening and a closing marker, each on a line of its own.
// Ids from `nextId` that occur in `text` are passed over.
std::string fenceData(std::string_view text, const FenceIdSource& nextId = randomFenceId);

// What the system prompt says about fenced text.
extern const char* const kFenceRule;

} // namespace orlune::helper

#pragma once
// What the agent tells the models in words: the system prompts of the root
// model and of a sub-model, what each is told about the local time, the
// person's people and the database's tables, the sub-model's task, the note
// for the root's last call, and the running summary kept when the model
// gives none.

#include "helper/ShadowTools.hpp"
#include "time/LocalTime.hpp"

#include <cstddef>
#include <optional>
#include <string>

namespace orlune::helper {

// At most this many people are listed in the root's system prompt.
inline constexpr size_t kMaxPromptPeople = 40;

// Told to the root model with its last call, which offers no tools.
extern const char* const kLastCallNote;

// The system prompt's lines on the current local date, time and zone, and
// the first store date (messages.timestamp) of today, for `time`. A zone
// ICU does not know is read as UTC.
std::string timeDescription(const core::TimeContext& time);

// The system prompt's table of people: each known person's name,
// nicknames, handles (as messages.sender holds them) and message count,
// the `maxPeople` with the most messages first, then how many were left
// out. Fenced as data (names come from the person's address books).
// Empty when the database knows no people or the table cannot be read.
std::string peopleDescription(ShadowTools& tools, size_t maxPeople);

// The tables and views with their columns (FTS5's own storage tables left
// out), a word on the full-text index, and the number of messages when it
// can be read. Throws core::ShadowDBError when the tables cannot be listed.
std::string schemaDescription(ShadowTools& tools);

// The root model's system prompt: its task and tools, the fence rule, the
// time, the people, the tables and the limits. Throws core::ShadowDBError
// when the tables cannot be listed.
std::string rootSystemPrompt(ShadowTools& tools, const core::TimeContext& time, int maxCalls,
                             int maxDepth);

// The running summary of the conversation as the root model reads it, in a
// user turn of its own: fenced as data, since it quotes messages.
std::string summaryTurn(const std::string& summary);

// An earlier answer (or application note) as it goes back to the root model:
// fenced as data, since it quotes messages.
std::string earlierAnswerTurn(const std::string& text);

// A sub-model's system prompt: its task, the fence rule, the time and the
// tables. Throws core::ShadowDBError when the tables cannot be listed.
std::string subSystemPrompt(ShadowTools& tools, const core::TimeContext& time);

// A sub-model's question with the slice of text it is about, fenced as data
// and cut to a bounded size.
std::string subModelTask(const std::string& question, const std::string& slice);

// The running summary kept when the model gives none: the previous summary
// followed by this exchange, cut to a bounded size (the most recent part kept).
std::string fallbackSummary(const std::optional<std::string>& previous, const std::string& question,
                            const std::string& answer);

} // namespace orlune::helper

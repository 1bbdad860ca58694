#pragma once
// Who wrote an answer, as the helper's response says in its "model" field.

namespace orlune::rlm {

enum class AnswerSource {
    unknown, // not said: a helper that does not report it, or an answer saved before answers did
    model,   // a language model, named by "model"
    index,   // the full-text index alone, without a model ("model": null)
};

} // namespace orlune::rlm

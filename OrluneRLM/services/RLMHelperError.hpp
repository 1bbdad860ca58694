#pragma once
// The failures of the helper runner; what() is the text the chat shows.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace orlune::rlm {

class RLMHelperError : public std::runtime_error {
public:
    enum class Kind {
        processFailure,       // the helper exited non-zero, or reported an error object
        decodeFailure,        // standard output was not one valid response object
        missingHelperCommand, // no runner at all (used by the chat model)
        missingBundledHelper, // no resource helper and no usable command variable
        shadowDBMissing,      // the shadow database file does not exist
        emptyOutput,          // nothing usable on standard output, or no answer
        timedOut,             // the helper ran past its time limit and was ended
        outputTooLarge,       // the helper wrote more than the runner holds and was ended
        cancelled,            // a stop was requested and the helper was ended
    };

    // "RLM helper failed: <stderr>", or without standard-error text
    // "RLM helper failed with exit code <code>."
    static RLMHelperError processFailure(std::int32_t code, std::string standardError);
    // "RLM helper response decode failed: <message>"
    static RLMHelperError decodeFailure(std::string message);
    // "RLM helper command not set. Set ORLUNE_RLM_HELPER_CMD."
    static RLMHelperError missingHelperCommand();
    // "Bundled RLM helper not found in app resources."
    static RLMHelperError missingBundledHelper();
    // "shadow.db not found. Run sync first."
    static RLMHelperError shadowDBMissing();
    // "RLM helper returned no output."
    static RLMHelperError emptyOutput();
    // "RLM helper did not answer within <seconds> seconds and was stopped."
    static RLMHelperError timedOut(double seconds);
    // "RLM helper's reply was larger than <N> MB, so the helper was stopped."
    // or, for standard error, "RLM helper wrote more than <N> MB of
    // diagnostics, so the helper was stopped."
    static RLMHelperError outputTooLarge(std::size_t limitBytes, bool diagnostics);
    // "The question was cancelled and the helper stopped."
    static RLMHelperError cancelled();

    Kind kind() const { return kind_; }
    // processFailure only: the exit status (1 for an error object).
    std::int32_t code() const { return code_; }
    // processFailure: the trimmed standard error (or "type: message");
    // decodeFailure: the parser's message; empty otherwise.
    const std::string& detail() const { return detail_; }

private:
    RLMHelperError(Kind kind, const std::string& description, std::int32_t code,
                   std::string detail);

    Kind kind_;
    std::int32_t code_;
    std::string detail_;
};

} // namespace orlune::rlm

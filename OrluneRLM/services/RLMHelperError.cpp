#include "services/RLMHelperError.hpp"

#include <cstdio>

namespace orlune::rlm {

RLMHelperError::RLMHelperError(Kind kind, const std::string& description, std::int32_t code,
                               std::string detail)
    : std::runtime_error(description), kind_(kind), code_(code), detail_(std::move(detail)) {}

RLMHelperError RLMHelperError::processFailure(std::int32_t code, std::string standardError) {
    std::string description = standardError.empty()
                                  ? "RLM helper failed with exit code " + std::to_string(code) + "."
                                  : "RLM helper failed: " + standardError;
    return RLMHelperError(Kind::processFailure, description, code, std::move(standardError));
}

RLMHelperError RLMHelperError::decodeFailure(std::string message) {
    const std::string description = "RLM helper response decode failed: " + message;
    return RLMHelperError(Kind::decodeFailure, description, 0, std::move(message));
}

RLMHelperError RLMHelperError::missingHelperCommand() {
    return RLMHelperError(Kind::missingHelperCommand,
                          "RLM helper command not set. Set ORLUNE_RLM_HELPER_CMD.", 0, {});
}

RLMHelperError RLMHelperError::missingBundledHelper() {
    return RLMHelperError(Kind::missingBundledHelper,
                          "Bundled RLM helper not found in app resources.", 0, {});
}

RLMHelperError RLMHelperError::shadowDBMissing() {
    return RLMHelperError(Kind::shadowDBMissing, "shadow.db not found. Run sync first.", 0, {});
}

RLMHelperError RLMHelperError::emptyOutput() {
    return RLMHelperError(Kind::emptyOutput, "RLM helper returned no output.", 0, {});
}

RLMHelperError RLMHelperError::timedOut(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return RLMHelperError(Kind::timedOut,
                          std::string("RLM helper did not answer within ") + text +
                              " seconds and was stopped.",
                          0, {});
}

RLMHelperError RLMHelperError::outputTooLarge(std::size_t limitBytes, bool diagnostics) {
    const std::string size = std::to_string(limitBytes / (1024 * 1024)) + " MB";
    return RLMHelperError(
        Kind::outputTooLarge,
        diagnostics
            ? "RLM helper wrote more than " + size + " of diagnostics, so the helper was stopped."
            : "RLM helper's reply was larger than " + size + ", so the helper was stopped.",
        0, {});
}

RLMHelperError RLMHelperError::cancelled() {
    return RLMHelperError(Kind::cancelled, "The question was cancelled and the helper stopped.", 0,
                          {});
}

} // namespace orlune::rlm

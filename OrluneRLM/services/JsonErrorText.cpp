#include "services/JsonErrorText.hpp"

namespace orlune::rlm {

std::string describeJsonParseError(const nlohmann::json::parse_error& error) {
    return "not valid JSON (syntax error at byte " + std::to_string(error.byte) + ")";
}

} // namespace orlune::rlm

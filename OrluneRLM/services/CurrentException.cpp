#include "services/CurrentException.hpp"

#include <exception>

namespace orlune::rlm {

std::string describeCurrentException() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "Unknown error";
    }
}

} // namespace orlune::rlm

#include "helper/HelperError.hpp"

namespace orlune::helper {

std::string HelperError::typeName() const {
    switch (kind_) {
    case Kind::invalidRequest:
        return "invalid_request";
    case Kind::database:
        return "database_error";
    case Kind::gateway:
        return "gateway_error";
    case Kind::timeout:
        return "timeout";
    case Kind::limit:
        return "limit_exceeded";
    case Kind::internal:
        break;
    }
    return "internal_error";
}

} // namespace orlune::helper

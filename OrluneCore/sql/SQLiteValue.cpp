#include "sql/SQLiteValue.hpp"

namespace orlune::core {

const std::string& SQLiteValue::asText() const {
    if (kind_ != Kind::text) {
        throw std::bad_variant_access();
    }
    return std::get<std::string>(payload_);
}

const std::string& SQLiteValue::asBlob() const {
    if (kind_ != Kind::blob) {
        throw std::bad_variant_access();
    }
    return std::get<std::string>(payload_);
}

bool operator==(const SQLiteValue& a, const SQLiteValue& b) {
    if (a.kind_ != b.kind_) {
        return false;
    }
    switch (a.kind_) {
    case SQLiteValue::Kind::integer:
        return a.asInteger() == b.asInteger();
    case SQLiteValue::Kind::real:
        return a.asReal() == b.asReal();
    case SQLiteValue::Kind::text:
    case SQLiteValue::Kind::blob:
        return std::get<std::string>(a.payload_) == std::get<std::string>(b.payload_);
    case SQLiteValue::Kind::null:
        return true;
    }
    return false;
}

} // namespace orlune::core

#pragma once
// One cell of a row read through the shadow database's read-only query
// surface: a tagged value that keeps SQLite's storage class.

#include <cstdint>
#include <string>
#include <variant>

namespace orlune::core {

class SQLiteValue {
public:
    enum class Kind { integer, real, text, blob, null };

    static SQLiteValue integer(int64_t value) { return SQLiteValue(Kind::integer, value); }
    static SQLiteValue real(double value) { return SQLiteValue(Kind::real, value); }
    static SQLiteValue text(std::string value) { return SQLiteValue(Kind::text, std::move(value)); }
    // The bytes are held as they are (no UTF-8 rule applies to them).
    static SQLiteValue blob(std::string bytes) { return SQLiteValue(Kind::blob, std::move(bytes)); }
    static SQLiteValue null() { return SQLiteValue(Kind::null, std::monostate{}); }

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::null; }

    // The payloads. Each is valid only for its own kind and throws
    // std::bad_variant_access otherwise.
    int64_t asInteger() const { return std::get<int64_t>(payload_); }
    double asReal() const { return std::get<double>(payload_); }
    const std::string& asText() const;
    const std::string& asBlob() const;

    // Same kind and equal payload: doubles by floating-point equality (NaN
    // never equals, 0.0 equals -0.0), texts and blobs byte by byte.
    friend bool operator==(const SQLiteValue& a, const SQLiteValue& b);

private:
    using Payload = std::variant<std::monostate, int64_t, double, std::string>;
    SQLiteValue(Kind kind, Payload payload) : kind_(kind), payload_(std::move(payload)) {}

    Kind kind_;
    Payload payload_;
};

} // namespace orlune::core

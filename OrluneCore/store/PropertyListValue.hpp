#pragma once
// One value of a property list (the format of Apple's preference files and of
// several blobs in the messaging store): null, a boolean, an integer, a real
// number, a date, data, a string, an array, a dictionary with string keys, or
// a UID (an object reference of a keyed archive). An immutable-style value
// type; copies are deep.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace orlune::core {

// Seconds since 2001-01-01 00:00:00 UTC.
struct PropertyListDate {
    double secondsSince2001 = 0;
    bool operator==(const PropertyListDate&) const = default;
};

struct PropertyListData {
    std::string bytes;
    bool operator==(const PropertyListData&) const = default;
};

struct PropertyListUid {
    uint64_t value = 0;
    bool operator==(const PropertyListUid&) const = default;
};

class PropertyListValue {
public:
    using Array = std::vector<PropertyListValue>;
    // Entries in the order they were written; keys are UTF-8.
    using Dictionary = std::vector<std::pair<std::string, PropertyListValue>>;
    using Storage = std::variant<std::monostate, bool, int64_t, double, PropertyListDate,
                                 PropertyListData, std::string, Array, Dictionary, PropertyListUid>;

    PropertyListValue() = default; // null
    PropertyListValue(bool v) : storage_(v) {}
    PropertyListValue(int v) : storage_(static_cast<int64_t>(v)) {}
    PropertyListValue(int64_t v) : storage_(v) {}
    PropertyListValue(double v) : storage_(v) {}
    PropertyListValue(PropertyListDate v) : storage_(v) {}
    PropertyListValue(PropertyListData v) : storage_(std::move(v)) {}
    PropertyListValue(std::string v) : storage_(std::move(v)) {}
    PropertyListValue(const char* v) : storage_(std::string(v)) {}
    PropertyListValue(Array v) : storage_(std::move(v)) {}
    PropertyListValue(Dictionary v) : storage_(std::move(v)) {}
    PropertyListValue(PropertyListUid v) : storage_(v) {}

    const Storage& storage() const { return storage_; }

    bool isNull() const { return std::holds_alternative<std::monostate>(storage_); }
    // The value as T, or nullptr when it holds another type.
    template <typename T> const T* as() const { return std::get_if<T>(&storage_); }

    // In a dictionary, the value of the first entry named `key`; nullptr when
    // there is none or this is not a dictionary.
    const PropertyListValue* find(std::string_view key) const;

    bool operator==(const PropertyListValue&) const = default;

private:
    Storage storage_;
};

} // namespace orlune::core

#include "store/PropertyListValue.hpp"

namespace orlune::core {

const PropertyListValue* PropertyListValue::find(std::string_view key) const {
    const auto* dictionary = as<Dictionary>();
    if (dictionary == nullptr) {
        return nullptr;
    }
    for (const auto& [name, value] : *dictionary) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

} // namespace orlune::core

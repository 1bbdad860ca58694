#pragma once
// Writes property lists in the binary form ("bplist00") that the operating
// system's serializer gives them: the header, every object once, an offset
// table, and the trailer. Strings, data and numbers that occur more than once
// are written once and referred to; integers use the narrowest of 1, 2 or 4
// unsigned bytes, or 8 signed; strings are ASCII when they can be and UTF-16
// otherwise.

#include "store/PropertyListValue.hpp"

#include <string>

namespace orlune::samplestore {

class BinaryPropertyListWriter {
public:
    // The bytes of `value` as a binary property list. Throws
    // std::invalid_argument for a string that is not well-formed UTF-8.
    static std::string write(const core::PropertyListValue& value);
};

} // namespace orlune::samplestore

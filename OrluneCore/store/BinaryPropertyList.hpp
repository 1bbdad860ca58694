#pragma once
// Reads binary property lists ("bplist00"): the form of the messaging store's
// message_summary_info and payload_data blobs.
//
// Layout: the 8-byte header "bplist00", the objects, a table of object
// offsets, and a 32-byte trailer giving the width of an offset and of an
// object reference, the number of objects, the top object and where the
// offset table starts. Containers refer to their members by object number.

#include "store/PropertyListValue.hpp"

#include <cstddef>
#include <optional>
#include <string_view>

namespace orlune::core {

class BinaryPropertyList {
public:
    // Bounds on what one decode may build. A list far smaller than these can
    // name one object from many places (a 200-byte list can describe an
    // array of a billion strings that way), so the decoded size is counted,
    // not the input's.
    struct Limits {
        size_t maxDepth = 64;               // containers inside containers
        size_t maxValues = 100000;          // values built, every reference counted
        size_t maxBytes = 16 * 1024 * 1024; // bytes of strings and data built
    };

    // The top object of the list in `data`, or absent when `data` is not a
    // well-formed binary property list within `limits`: a wrong header or
    // trailer, an offset or reference outside the data or the object count,
    // a length running past the end, an unknown object type, a dictionary key
    // that is not a string, an integer wider than 64 bits, a container that
    // contains itself, or a limit passed.
    //
    // Strings come back as UTF-8: ASCII strings with bytes above 0x7F and
    // UTF-16 strings with unpaired surrogates get U+FFFD in their place.
    // Sets come back as arrays; "fill" bytes used as objects as null.
    //
    // Never throws and never reads outside `data`; no state is shared, so
    // any thread may call it.
    static std::optional<PropertyListValue> decode(std::string_view data) noexcept;
    static std::optional<PropertyListValue> decode(std::string_view data,
                                                   const Limits& limits) noexcept;
};

} // namespace orlune::core

#include "tools/samplestore/BinaryPropertyListWriter.hpp"

#include <bit>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace orlune::samplestore {

namespace {

using core::PropertyListValue;

void bigEndian(std::string& out, uint64_t value, size_t width) {
    for (size_t i = width; i > 0; --i) {
        out += static_cast<char>((value >> (8 * (i - 1))) & 0xFF);
    }
}

size_t widthFor(uint64_t maximum) {
    if (maximum <= 0xFF) {
        return 1;
    }
    if (maximum <= 0xFFFF) {
        return 2;
    }
    if (maximum <= 0xFFFFFFFF) {
        return 4;
    }
    return 8;
}

// UTF-8 to UTF-16 code units.
std::vector<uint16_t> utf16(const std::string& s) {
    std::vector<uint16_t> units;
    size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        uint32_t scalar = 0;
        size_t n = 0;
        if (c < 0x80) {
            scalar = c;
            n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            scalar = c & 0x1F;
            n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            scalar = c & 0x0F;
            n = 3;
        } else if ((c & 0xF8) == 0xF0) {
            scalar = c & 0x07;
            n = 4;
        } else {
            throw std::invalid_argument("string is not UTF-8");
        }
        if (i + n > s.size()) {
            throw std::invalid_argument("string is not UTF-8");
        }
        for (size_t k = 1; k < n; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80) {
                throw std::invalid_argument("string is not UTF-8");
            }
            scalar = (scalar << 6) | (next & 0x3F);
        }
        i += n;
        if (scalar >= 0x10000) {
            scalar -= 0x10000;
            units.push_back(static_cast<uint16_t>(0xD800 + (scalar >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + (scalar & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16_t>(scalar));
        }
    }
    return units;
}

class Writer {
public:
    std::string run(const PropertyListValue& top) {
        const uint64_t topRef = flatten(top);
        refSize_ = widthFor(objects_.size());
        std::string out = "bplist00";
        std::vector<uint64_t> offsets;
        for (const auto& object : objects_) {
            offsets.push_back(out.size());
            encode(out, object);
        }
        const uint64_t tableStart = out.size();
        const size_t offsetSize = widthFor(tableStart);
        for (uint64_t offset : offsets) {
            bigEndian(out, offset, offsetSize);
        }
        out.append(6, '\0');
        out += static_cast<char>(offsetSize);
        out += static_cast<char>(refSize_);
        bigEndian(out, objects_.size(), 8);
        bigEndian(out, topRef, 8);
        bigEndian(out, tableStart, 8);
        return out;
    }

private:
    // One object of the list: a value, and for containers the numbers of
    // their members (dictionaries: keys, then values).
    struct Object {
        const PropertyListValue* value;
        std::vector<uint64_t> members;
    };

    uint64_t add(Object object) {
        objects_.push_back(std::move(object));
        return objects_.size() - 1;
    }

    // Scalars are written once per distinct value.
    uint64_t scalar(const PropertyListValue& value) {
        for (const auto& [known, ref] : scalars_) {
            if (*known == value) {
                return ref;
            }
        }
        const uint64_t ref = add({&value, {}});
        scalars_.emplace_back(&value, ref);
        return ref;
    }

    uint64_t flatten(const PropertyListValue& value) {
        if (const auto* array = value.as<PropertyListValue::Array>()) {
            const uint64_t ref = add({&value, {}});
            std::vector<uint64_t> members;
            for (const auto& item : *array) {
                members.push_back(flatten(item));
            }
            objects_[ref].members = std::move(members);
            return ref;
        }
        if (const auto* dictionary = value.as<PropertyListValue::Dictionary>()) {
            const uint64_t ref = add({&value, {}});
            std::vector<uint64_t> keys;
            std::vector<uint64_t> values;
            for (const auto& [key, item] : *dictionary) {
                keyValues_.push_back(std::make_unique<PropertyListValue>(key));
                keys.push_back(scalar(*keyValues_.back()));
                values.push_back(flatten(item));
            }
            keys.insert(keys.end(), values.begin(), values.end());
            objects_[ref].members = std::move(keys);
            return ref;
        }
        return scalar(value);
    }

    static void marker(std::string& out, uint8_t type, uint64_t length) {
        if (length < 15) {
            out += static_cast<char>((type << 4) | length);
            return;
        }
        out += static_cast<char>((type << 4) | 0x0F);
        const size_t width = widthFor(length);
        const uint8_t power = width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3;
        out += static_cast<char>(0x10 | power);
        bigEndian(out, length, width);
    }

    void encode(std::string& out, const Object& object) const {
        const auto& storage = object.value->storage();
        if (std::holds_alternative<std::monostate>(storage)) {
            out += '\x00';
        } else if (const auto* b = std::get_if<bool>(&storage)) {
            out += *b ? '\x09' : '\x08';
        } else if (const auto* i = std::get_if<int64_t>(&storage)) {
            if (*i < 0 || *i > 0xFFFFFFFF) {
                out += '\x13';
                bigEndian(out, static_cast<uint64_t>(*i), 8);
            } else {
                const size_t width = widthFor(static_cast<uint64_t>(*i));
                out += static_cast<char>(0x10 | (width == 1 ? 0 : width == 2 ? 1 : 2));
                bigEndian(out, static_cast<uint64_t>(*i), width);
            }
        } else if (const auto* r = std::get_if<double>(&storage)) {
            out += '\x23';
            bigEndian(out, std::bit_cast<uint64_t>(*r), 8);
        } else if (const auto* d = std::get_if<core::PropertyListDate>(&storage)) {
            out += '\x33';
            bigEndian(out, std::bit_cast<uint64_t>(d->secondsSince2001), 8);
        } else if (const auto* data = std::get_if<core::PropertyListData>(&storage)) {
            marker(out, 0x4, data->bytes.size());
            out += data->bytes;
        } else if (const auto* s = std::get_if<std::string>(&storage)) {
            bool ascii = true;
            for (char c : *s) {
                ascii = ascii && static_cast<unsigned char>(c) < 0x80;
            }
            if (ascii) {
                marker(out, 0x5, s->size());
                out += *s;
            } else {
                const auto units = utf16(*s);
                marker(out, 0x6, units.size());
                for (uint16_t u : units) {
                    bigEndian(out, u, 2);
                }
            }
        } else if (const auto* uid = std::get_if<core::PropertyListUid>(&storage)) {
            const size_t width = widthFor(uid->value);
            out += static_cast<char>(0x80 | (width - 1));
            bigEndian(out, uid->value, width);
        } else if (std::holds_alternative<PropertyListValue::Array>(storage)) {
            marker(out, 0xA, object.members.size());
            for (uint64_t ref : object.members) {
                bigEndian(out, ref, refSize_);
            }
        } else {
            marker(out, 0xD, object.members.size() / 2);
            for (uint64_t ref : object.members) {
                bigEndian(out, ref, refSize_);
            }
        }
    }

    std::vector<Object> objects_;
    std::vector<std::pair<const PropertyListValue*, uint64_t>> scalars_;
    std::vector<std::unique_ptr<PropertyListValue>> keyValues_; // keys as values
    size_t refSize_ = 1;
};

} // namespace

std::string BinaryPropertyListWriter::write(const core::PropertyListValue& value) {
    return Writer().run(value);
}

} // namespace orlune::samplestore

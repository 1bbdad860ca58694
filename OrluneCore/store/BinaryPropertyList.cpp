#include "store/BinaryPropertyList.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <string>
#include <vector>

namespace orlune::core {

namespace {

constexpr std::string_view kHeader = "bplist00";
constexpr size_t kTrailerSize = 32;

// Object markers: the high four bits give the type, the low four a size or
// a length (0xF: the length follows as an integer object).
constexpr uint8_t kNull = 0x00;
constexpr uint8_t kFalse = 0x08;
constexpr uint8_t kTrue = 0x09;
constexpr uint8_t kFill = 0x0F;
constexpr uint8_t kInteger = 0x1;
constexpr uint8_t kReal = 0x2;
constexpr uint8_t kDate = 0x33;
constexpr uint8_t kData = 0x4;
constexpr uint8_t kAsciiString = 0x5;
constexpr uint8_t kUtf16String = 0x6;
constexpr uint8_t kUid = 0x8;
constexpr uint8_t kArray = 0xA;
constexpr uint8_t kSet = 0xC;
constexpr uint8_t kDictionary = 0xD;
constexpr uint8_t kLengthFollows = 0xF;

// Thrown inside the decoder for anything that makes the list unreadable;
// decode() turns it into an absent result.
struct Invalid {};

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

constexpr uint32_t kReplacement = 0xFFFD;

class Decoder {
public:
    Decoder(std::string_view data, const BinaryPropertyList::Limits& limits)
        : data_(data), limits_(limits) {}

    PropertyListValue run() {
        if (data_.size() < kHeader.size() + 1 + kTrailerSize ||
            data_.substr(0, kHeader.size()) != kHeader) {
            throw Invalid{};
        }
        const size_t trailer = data_.size() - kTrailerSize;
        offsetSize_ = byte(trailer + 6);
        refSize_ = byte(trailer + 7);
        const uint64_t count = bigEndian(trailer + 8, 8, data_.size());
        const uint64_t top = bigEndian(trailer + 16, 8, data_.size());
        const uint64_t table = bigEndian(trailer + 24, 8, data_.size());
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8 || count == 0 ||
            top >= count || table < kHeader.size() || table > trailer ||
            count > (trailer - table) / offsetSize_) {
            throw Invalid{};
        }
        count_ = count;
        offsetTable_ = static_cast<size_t>(table);
        objectsEnd_ = trailer;
        return object(top);
    }

private:
    uint8_t byte(size_t pos) const { return static_cast<uint8_t>(data_[pos]); }

    // `width` bytes at `pos` as a big-endian number; they must end by `end`.
    uint64_t bigEndian(size_t pos, size_t width, size_t end) const {
        if (pos > end || width > end - pos) {
            throw Invalid{};
        }
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) {
            value = (value << 8) | byte(pos + i);
        }
        return value;
    }

    size_t offsetOf(uint64_t ref) const {
        if (ref >= count_) {
            throw Invalid{};
        }
        const uint64_t offset = bigEndian(offsetTable_ + static_cast<size_t>(ref) * offsetSize_,
                                          offsetSize_, objectsEnd_);
        if (offset < kHeader.size() || offset >= objectsEnd_) {
            throw Invalid{};
        }
        return static_cast<size_t>(offset);
    }

    void countValue() {
        if (++values_ > limits_.maxValues) {
            throw Invalid{};
        }
    }
    void countBytes(uint64_t n) {
        if (n > limits_.maxBytes - bytes_) {
            throw Invalid{};
        }
        bytes_ += static_cast<size_t>(n);
    }

    // The length in the marker at `pos`, moving `pos` past it and past a
    // length written as a following integer.
    uint64_t length(size_t& pos) {
        const uint8_t marker = byte(pos++);
        if ((marker & 0x0F) != kLengthFollows) {
            return marker & 0x0F;
        }
        if (pos >= objectsEnd_) {
            throw Invalid{};
        }
        const uint8_t intMarker = byte(pos++);
        if ((intMarker >> 4) != kInteger || (intMarker & 0x0F) > 3) {
            throw Invalid{};
        }
        const size_t width = size_t{1} << (intMarker & 0x0F);
        const uint64_t n = bigEndian(pos, width, objectsEnd_);
        pos += width;
        return n;
    }

    // `n` items of `width` bytes from `pos` must fit before the trailer.
    void requireRoom(size_t pos, uint64_t n, size_t width) const {
        if (n > (objectsEnd_ - pos) / width) {
            throw Invalid{};
        }
    }

    PropertyListValue object(uint64_t ref) {
        countValue();
        size_t pos = offsetOf(ref);
        const uint8_t marker = byte(pos);
        const uint8_t type = marker >> 4;
        const uint8_t info = marker & 0x0F;
        switch (type) {
        case 0x0:
            if (marker == kNull || marker == kFill) {
                return {};
            }
            if (marker == kFalse || marker == kTrue) {
                return marker == kTrue;
            }
            throw Invalid{};
        case kInteger:
            return integer(pos + 1, info);
        case kReal:
            return real(pos + 1, info);
        case 0x3:
            if (marker != kDate) {
                throw Invalid{};
            }
            return PropertyListDate{real(pos + 1, 3)};
        case kData: {
            const uint64_t n = length(pos);
            requireRoom(pos, n, 1);
            countBytes(n);
            return PropertyListData{std::string(data_.substr(pos, static_cast<size_t>(n)))};
        }
        case kAsciiString: {
            const uint64_t n = length(pos);
            requireRoom(pos, n, 1);
            countBytes(n);
            return ascii(pos, static_cast<size_t>(n));
        }
        case kUtf16String: {
            const uint64_t n = length(pos);
            requireRoom(pos, n, 2);
            countBytes(n * 2);
            return utf16(pos, static_cast<size_t>(n));
        }
        case kUid:
            if (info > 7) {
                throw Invalid{};
            }
            return PropertyListUid{bigEndian(pos + 1, size_t{info} + 1, objectsEnd_)};
        case kArray:
        case kSet:
        case kDictionary:
            return container(ref, pos, type == kDictionary);
        default:
            throw Invalid{};
        }
    }

    PropertyListValue integer(size_t pos, uint8_t info) {
        if (info <= 3) {
            const size_t width = size_t{1} << info;
            const uint64_t raw = bigEndian(pos, width, objectsEnd_);
            // Eight-byte integers are signed; narrower ones unsigned.
            return width == 8 ? std::bit_cast<int64_t>(raw) : static_cast<int64_t>(raw);
        }
        if (info == 4) { // sixteen bytes: only values that fit in 64 bits
            const uint64_t high = bigEndian(pos, 8, objectsEnd_);
            const uint64_t low = bigEndian(pos + 8, 8, objectsEnd_);
            if (high != 0 || low > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
                throw Invalid{};
            }
            return static_cast<int64_t>(low);
        }
        throw Invalid{};
    }

    double real(size_t pos, uint8_t info) {
        if (info == 2) {
            return std::bit_cast<float>(static_cast<uint32_t>(bigEndian(pos, 4, objectsEnd_)));
        }
        if (info == 3) {
            return std::bit_cast<double>(bigEndian(pos, 8, objectsEnd_));
        }
        throw Invalid{};
    }

    std::string ascii(size_t pos, size_t n) const {
        std::string out;
        out.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t c = byte(pos + i);
            appendUtf8(out, c < 0x80 ? c : kReplacement);
        }
        return out;
    }

    std::string utf16(size_t pos, size_t n) const {
        std::string out;
        out.reserve(n * 2);
        auto unit = [&](size_t i) {
            return static_cast<uint32_t>((byte(pos + 2 * i) << 8) | byte(pos + 2 * i + 1));
        };
        for (size_t i = 0; i < n; ++i) {
            const uint32_t u = unit(i);
            if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
                const uint32_t next = unit(i + 1);
                if (next >= 0xDC00 && next <= 0xDFFF) {
                    appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
                    ++i;
                    continue;
                }
            }
            appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
        }
        return out;
    }

    PropertyListValue container(uint64_t ref, size_t pos, bool dictionary) {
        if (std::find(path_.begin(), path_.end(), ref) != path_.end() ||
            path_.size() >= limits_.maxDepth) {
            throw Invalid{};
        }
        const uint64_t n = length(pos);
        requireRoom(pos, n, dictionary ? 2 * refSize_ : refSize_);
        path_.push_back(ref);
        auto member = [&](uint64_t i) {
            return object(
                bigEndian(pos + static_cast<size_t>(i) * refSize_, refSize_, objectsEnd_));
        };
        PropertyListValue result;
        if (dictionary) {
            PropertyListValue::Dictionary entries;
            entries.reserve(static_cast<size_t>(std::min<uint64_t>(n, limits_.maxValues)));
            for (uint64_t i = 0; i < n; ++i) {
                PropertyListValue key = member(i);
                const auto* name = key.as<std::string>();
                if (name == nullptr) {
                    throw Invalid{};
                }
                entries.emplace_back(*name, member(n + i));
            }
            result = PropertyListValue(std::move(entries));
        } else {
            PropertyListValue::Array items;
            items.reserve(static_cast<size_t>(std::min<uint64_t>(n, limits_.maxValues)));
            for (uint64_t i = 0; i < n; ++i) {
                items.push_back(member(i));
            }
            result = PropertyListValue(std::move(items));
        }
        path_.pop_back();
        return result;
    }

    std::string_view data_;
    BinaryPropertyList::Limits limits_;
    size_t offsetSize_ = 0;
    size_t refSize_ = 0;
    uint64_t count_ = 0;
    size_t offsetTable_ = 0;
    size_t objectsEnd_ = 0;
    size_t values_ = 0;
    size_t bytes_ = 0;
    std::vector<uint64_t> path_; // containers being read, outermost first
};

} // namespace

std::optional<PropertyListValue> BinaryPropertyList::decode(std::string_view data) noexcept {
    return decode(data, Limits{});
}

std::optional<PropertyListValue> BinaryPropertyList::decode(std::string_view data,
                                                            const Limits& limits) noexcept {
    try {
        return Decoder(data, limits).run();
    } catch (...) {
        // Invalid, or an allocation that failed: either way, no list.
        return std::nullopt;
    }
}

} // namespace orlune::core

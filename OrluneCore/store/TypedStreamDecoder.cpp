#include "store/TypedStreamDecoder.hpp"

#include "base/Utf8.hpp"

#include <array>
#include <cstring>
#include <vector>

namespace orlune::core {

namespace {

constexpr uint8_t kInt16 = 0x81;
constexpr uint8_t kInt32 = 0x82;
constexpr uint8_t kReal = 0x83;
constexpr uint8_t kNew = 0x84;
constexpr uint8_t kNil = 0x85;
constexpr uint8_t kEnd = 0x86;
constexpr uint8_t kFirstReference = 0x92;
// A reference is written as a signed integer r naming table entry r + 110, so
// that the byte 0x92 (-110) is the first entry.
constexpr int64_t kReferenceBias = 110;

constexpr std::string_view kSignature = "streamtyped";
constexpr size_t kTableCapacity = 32;

// Reads fixed-width little-endian values from a byte range, refusing any read
// that would pass its end.
class Cursor {
public:
    explicit Cursor(std::string_view bytes) : bytes_(bytes) {}

    bool atEnd() const { return pos_ >= bytes_.size(); }
    size_t remaining() const { return atEnd() ? 0 : bytes_.size() - pos_; }

    std::optional<uint8_t> peek() const {
        if (atEnd()) {
            return std::nullopt;
        }
        return static_cast<uint8_t>(bytes_[pos_]);
    }
    std::optional<uint8_t> next() {
        auto b = peek();
        if (b) {
            ++pos_;
        }
        return b;
    }
    std::optional<uint64_t> littleEndian(size_t width) {
        if (remaining() < width) {
            return std::nullopt;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) {
            value |= static_cast<uint64_t>(static_cast<uint8_t>(bytes_[pos_ + i])) << (8 * i);
        }
        pos_ += width;
        return value;
    }
    std::optional<std::string_view> take(uint64_t n) {
        if (n > remaining()) {
            return std::nullopt;
        }
        auto run = bytes_.substr(pos_, static_cast<size_t>(n));
        pos_ += static_cast<size_t>(n);
        return run;
    }

private:
    std::string_view bytes_;
    size_t pos_ = 0;
};

// ---------------------------------------------------------------------------
// The archive read as the archiver writes it. Any departure from the expected
// shape makes the read fail (absent optional), never guess.

class ArchiveReader {
public:
    explicit ArchiveReader(std::string_view bytes) : in_(bytes) {}

    // The text byte run of the root attributed string, or absent when the
    // archive is not in that shape or ends too early.
    std::optional<std::string_view> textRun() {
        if (!readHeader()) {
            return std::nullopt;
        }
        auto rootType = sharedString();
        if (!rootType || *rootType != "@") {
            return std::nullopt;
        }
        if (!newObject("NSAttributedString")) {
            return std::nullopt;
        }
        auto memberType = sharedString();
        if (!memberType || *memberType != "@") {
            return std::nullopt;
        }
        if (!newObject("NSString")) {
            return std::nullopt;
        }
        auto runType = sharedString();
        if (!runType || *runType != "+") {
            return std::nullopt;
        }
        auto length = unsignedInteger();
        if (!length) {
            return std::nullopt;
        }
        return in_.take(*length);
    }

private:
    bool readHeader() {
        auto version = unsignedInteger();
        if (!version || *version != 4) {
            return false;
        }
        auto signatureLength = unsignedInteger();
        if (!signatureLength) {
            return false;
        }
        auto signature = in_.take(*signatureLength);
        if (!signature || *signature != kSignature) {
            return false;
        }
        return signedInteger().has_value(); // the system version
    }

    // An unsigned integer: a plain byte below the tags, or a 16/32-bit form.
    std::optional<uint64_t> unsignedInteger() {
        auto head = in_.next();
        if (!head) {
            return std::nullopt;
        }
        if (*head == kInt16) {
            return in_.littleEndian(2);
        }
        if (*head == kInt32) {
            return in_.littleEndian(4);
        }
        if (*head >= 0x80) {
            return std::nullopt;
        }
        return *head;
    }

    std::optional<int64_t> signedInteger() {
        auto head = in_.next();
        if (!head) {
            return std::nullopt;
        }
        return signedFrom(*head);
    }

    std::optional<int64_t> signedFrom(uint8_t head) {
        if (head == kInt16) {
            auto v = in_.littleEndian(2);
            if (!v) {
                return std::nullopt;
            }
            return static_cast<int16_t>(*v);
        }
        if (head == kInt32) {
            auto v = in_.littleEndian(4);
            if (!v) {
                return std::nullopt;
            }
            return static_cast<int32_t>(*v);
        }
        if (head > kInt16 && head < kFirstReference) {
            return std::nullopt; // a tag, not a number
        }
        return static_cast<int8_t>(head);
    }

    // The index named by a reference whose head byte was `head`, when it lies
    // inside a table of `size` entries.
    std::optional<size_t> reference(uint8_t head, size_t size) {
        auto r = signedFrom(head);
        if (!r) {
            return std::nullopt;
        }
        int64_t index = *r + kReferenceBias;
        if (index < 0 || static_cast<uint64_t>(index) >= size) {
            return std::nullopt;
        }
        return static_cast<size_t>(index);
    }

    // A shared string that must be present (not NIL).
    std::optional<std::string_view> sharedString() {
        auto head = in_.next();
        if (!head || *head == kNil) {
            return std::nullopt;
        }
        if (*head == kNew) {
            auto length = unsignedInteger();
            if (!length) {
                return std::nullopt;
            }
            auto bytes = in_.take(*length);
            if (!bytes || !sharedStrings_.push(*bytes)) {
                return std::nullopt;
            }
            return bytes;
        }
        auto index = reference(*head, sharedStrings_.size());
        if (!index) {
            return std::nullopt;
        }
        return sharedStrings_[*index];
    }

    // A newly defined object whose class chain contains `requiredClass`. Its
    // members are left to the caller.
    bool newObject(std::string_view requiredClass) {
        auto head = in_.next();
        if (!head || *head != kNew || !objects_.push({})) {
            return false;
        }
        auto cls = classChain();
        for (size_t steps = 0; cls && steps < kTableCapacity; ++steps) {
            const Entry& entry = objects_[*cls];
            if (entry.name == requiredClass) {
                return true;
            }
            cls = entry.superclass;
        }
        return false;
    }

    // A class and its superclasses up to NIL or a reference to a class
    // defined earlier. Returns the entry of the nearest class, absent when
    // the chain is NIL at once or cannot be read (then newObject fails).
    std::optional<size_t> classChain() {
        std::optional<size_t> first;
        std::optional<size_t> previous;
        auto link = [&](size_t index) {
            if (previous) {
                objects_[*previous].superclass = index;
            } else {
                first = index;
            }
        };
        for (;;) {
            auto head = in_.next();
            if (!head || *head == kNil) {
                return head ? first : std::nullopt;
            }
            if (*head == kNew) {
                auto name = sharedString();
                if (!name || !signedInteger() || !objects_.push({*name, std::nullopt})) {
                    return std::nullopt;
                }
                const size_t index = objects_.size() - 1;
                link(index);
                previous = index;
                continue;
            }
            auto index = reference(*head, objects_.size());
            if (!index) {
                return std::nullopt;
            }
            link(*index);
            return first;
        }
    }

    // A table of fixed capacity: the root and string objects of a message
    // body need a handful of entries, and an archive needing more before
    // its text is not one this reader takes.
    template <typename T> class Table {
    public:
        bool push(T item) {
            if (size_ == kTableCapacity) {
                return false;
            }
            items_[size_++] = std::move(item);
            return true;
        }
        size_t size() const { return size_; }
        T& operator[](size_t i) { return items_[i]; }

    private:
        std::array<T, kTableCapacity> items_{};
        size_t size_ = 0;
    };

    // An entry of the objects table: a class (its name and superclass) or an
    // object (no name).
    struct Entry {
        std::string_view name;
        std::optional<size_t> superclass;
    };

    Cursor in_;
    Table<std::string_view> sharedStrings_;
    Table<Entry> objects_; // objects and classes share one numbering
};

// ---------------------------------------------------------------------------
// The lenient scan used for bodies the archive reader cannot read. It walks
// the bytes with a few rules and collects every length-prefixed string; an
// `OutOfBounds` marks a read that would pass the end.

struct OutOfBounds {};

constexpr std::array<std::string_view, 7> kFrameworkMarkers = {
    "__k", "Attribute", "NSFont", "NSParagraphStyle", "NSColor", "NSURL", "NSAttachment",
};

class LenientScan {
public:
    explicit LenientScan(std::string_view bytes) : bytes_(bytes) {}

    std::optional<std::string> run() {
        try {
            readHeader();
            while (idx_ < bytes_.size()) {
                while (idx_ < bytes_.size() && byteAt(idx_) == kEnd) {
                    ++idx_;
                }
                if (idx_ >= bytes_.size()) {
                    break;
                }
                parseElement();
            }
        } catch (const OutOfBounds&) {
            return std::nullopt;
        }
        std::string joined;
        bool first = true;
        for (const auto& s : strings_) {
            if (!isUserContent(s)) {
                continue;
            }
            if (!first) {
                joined += '\n';
            }
            joined += s;
            first = false;
        }
        if (joined.empty()) {
            return std::nullopt;
        }
        return joined;
    }

private:
    uint8_t byteAt(size_t i) const { return static_cast<uint8_t>(bytes_[i]); }
    bool atEnd() const { return idx_ >= bytes_.size(); }
    size_t remaining() const { return atEnd() ? 0 : bytes_.size() - idx_; }

    uint64_t readLittleEndian(size_t width) {
        if (remaining() < width) {
            throw OutOfBounds{};
        }
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) {
            value |= static_cast<uint64_t>(byteAt(idx_ + i)) << (8 * i);
        }
        idx_ += width;
        return value;
    }

    uint64_t readUnsignedInt() {
        if (atEnd()) {
            throw OutOfBounds{};
        }
        uint8_t b = byteAt(idx_++);
        if (b == kInt16) {
            return readLittleEndian(2);
        }
        if (b == kInt32) {
            return readLittleEndian(4);
        }
        return b;
    }

    int64_t readSignedInt() {
        if (atEnd()) {
            throw OutOfBounds{};
        }
        uint8_t b = byteAt(idx_++);
        if (b == kInt16) {
            return static_cast<int16_t>(readLittleEndian(2));
        }
        if (b == kInt32) {
            return static_cast<int32_t>(readLittleEndian(4));
        }
        return static_cast<int8_t>(b);
    }

    void readReal(size_t width) {
        if (atEnd()) {
            throw OutOfBounds{};
        }
        if (byteAt(idx_) == kReal) {
            ++idx_;
            readLittleEndian(width);
        } else {
            readSignedInt();
        }
    }

    // The next `n` bytes as text; ill-formed UTF-8 gives the empty string.
    std::string readExactAsString(uint64_t n) {
        if (n > remaining()) {
            throw OutOfBounds{};
        }
        std::string_view run = bytes_.substr(idx_, static_cast<size_t>(n));
        idx_ += static_cast<size_t>(n);
        if (!utf8::isValid(run)) {
            return {};
        }
        return std::string(run);
    }

    // Runs `read` and drops an OutOfBounds it raises: the element being read
    // ends there and the scan goes on.
    template <typename Read> void swallowing(Read read) {
        try {
            read();
        } catch (const OutOfBounds&) {
        }
    }

    void collectRun() {
        swallowing([&] {
            uint64_t n = readUnsignedInt();
            strings_.push_back(readExactAsString(n));
        });
    }

    void readHeader() {
        uint64_t version = readUnsignedInt();
        if (version != 4) {
            return;
        }
        uint64_t n = readUnsignedInt();
        if (readExactAsString(n) == kSignature) {
            readSignedInt();
        }
    }

    void parseElement() {
        if (atEnd()) {
            throw OutOfBounds{};
        }
        uint8_t b = byteAt(idx_);
        if (b == kNew) {
            ++idx_;
            parseType();
        } else if (b == kNil || b >= kFirstReference) {
            ++idx_;
        } else if (b >= 0x20 && b <= 0x7E) {
            swallowing([&] {
                uint64_t n = readUnsignedInt();
                std::string s = readExactAsString(n);
                if (!s.empty()) {
                    strings_.push_back(std::move(s));
                }
            });
        } else {
            ++idx_;
        }
    }

    void parseType() {
        if (atEnd()) {
            return;
        }
        uint8_t b = byteAt(idx_);
        if (b == kNew) {
            ++idx_;
            uint64_t n = readUnsignedInt();
            if (n <= 0x91) {
                // May move past the end, which ends the scan.
                idx_ = n > remaining() ? bytes_.size() : idx_ + static_cast<size_t>(n);
            }
            return;
        }
        ++idx_;
        switch (b) {
        case 'C':
        case 'I':
        case 'L':
        case 'Q':
        case 'S':
            swallowing([&] { readUnsignedInt(); });
            break;
        case 'c':
        case 'i':
        case 'l':
        case 'q':
        case 's':
            swallowing([&] { readSignedInt(); });
            break;
        case 'f':
            swallowing([&] { readReal(4); });
            break;
        case 'd':
            swallowing([&] { readReal(8); });
            break;
        case '@':
            parseObject();
            break;
        case '*':
            parseElement();
            break;
        case '+':
            collectRun();
            break;
        default:
            break;
        }
    }

    void parseObject() {
        if (atEnd()) {
            return;
        }
        uint8_t b = byteAt(idx_);
        if (b == kNil) {
            ++idx_;
            return;
        }
        if (b != kNew) {
            if (b >= kFirstReference) {
                ++idx_;
            }
            return;
        }
        for (;;) {
            uint8_t c = byteAt(idx_);
            if (c == kNew) {
                ++idx_;
                if (atEnd()) {
                    return;
                }
                continue;
            }
            if (c == kNil) {
                ++idx_;
                return;
            }
            ++idx_;
            if (c >= kFirstReference) {
                return;
            }
            uint64_t length = c;
            bool isName = true;
            if (c == kInt32 || c == kInt16) {
                length = readLittleEndian(c == kInt32 ? 4 : 2);
                isName = length < kFirstReference;
            }
            if (isName) {
                std::string name = readExactAsString(length);
                readUnsignedInt(); // class version
                if (name == "NSString" || name == "NSMutableString") {
                    collectRun();
                }
            }
            if (atEnd()) {
                return;
            }
        }
    }

    static bool isUserContent(const std::string& s) {
        for (auto marker : kFrameworkMarkers) {
            if (s.find(marker) != std::string::npos) {
                return false;
            }
        }
        return utf8::hasContent(s);
    }

    std::string_view bytes_;
    size_t idx_ = 0;
    std::vector<std::string> strings_;
};

// ---------------------------------------------------------------------------
// A string-valued attribute of the attribute runs, found by its key without
// reading the runs before it. A dictionary entry is written as its key, an
// NSString object whose `+` run is the key's text, closed by END, then its
// value: a group `@` and a new NSString object whose `+` run is the value.
// Classes and type strings defined earlier are written as references, which
// are taken as written; a class defined here must be NSString or
// NSMutableString.

class StringAttribute {
public:
    StringAttribute(std::string_view data, std::string_view key) : data_(data), key_(key) {}

    std::optional<std::string> value() {
        if (key_.empty() || key_.size() >= kInt16) {
            return std::nullopt;
        }
        std::string needle(1, static_cast<char>(key_.size()));
        needle += key_;
        for (size_t at = data_.find(needle); at != std::string_view::npos;
             at = data_.find(needle, at + 1)) {
            Cursor in(data_.substr(at + needle.size()));
            if (auto run = valueAfterKey(in)) {
                std::string text = utf8::sanitize(*run);
                if (utf8::hasContent(text)) {
                    return text;
                }
            }
        }
        return std::nullopt;
    }

private:
    static std::optional<std::string_view> valueAfterKey(Cursor& in) {
        if (in.next() != kEnd || !typeIs(in, "@") || in.next() != kNew || !stringClass(in) ||
            !typeIs(in, "+")) {
            return std::nullopt;
        }
        auto length = unsignedInteger(in);
        return length ? in.take(*length) : std::nullopt;
    }

    // A type string: `expected` defined here, or a reference to one.
    static bool typeIs(Cursor& in, std::string_view expected) {
        auto head = in.next();
        if (!head) {
            return false;
        }
        if (*head != kNew) {
            return *head >= kFirstReference;
        }
        auto length = unsignedInteger(in);
        return length && in.take(*length) == expected;
    }

    // The value's class: a reference, or NSString / NSMutableString defined
    // here with its superclasses.
    static bool stringClass(Cursor& in) {
        auto head = in.next();
        if (!head || *head != kNew) {
            return head && *head >= kFirstReference;
        }
        bool first = true;
        for (;;) {
            auto nameHead = in.next();
            std::optional<std::string_view> name;
            if (nameHead == kNew) {
                auto length = unsignedInteger(in);
                name = length ? in.take(*length) : std::nullopt;
                if (!name) {
                    return false;
                }
            } else if (!nameHead || *nameHead < kFirstReference) {
                return false;
            }
            if (first && name && *name != "NSString" && *name != "NSMutableString") {
                return false;
            }
            first = false;
            if (!in.next()) { // the class version
                return false;
            }
            auto next = in.next();
            if (!next) {
                return false;
            }
            if (*next == kNil || *next >= kFirstReference) {
                return true;
            }
            if (*next != kNew) {
                return false;
            }
        }
    }

    static std::optional<uint64_t> unsignedInteger(Cursor& in) {
        auto head = in.next();
        if (!head) {
            return std::nullopt;
        }
        if (*head == kInt16) {
            return in.littleEndian(2);
        }
        if (*head == kInt32) {
            return in.littleEndian(4);
        }
        return *head < 0x80 ? std::optional<uint64_t>(*head) : std::nullopt;
    }

    std::string_view data_;
    std::string_view key_;
};

} // namespace

std::optional<std::string> TypedStreamDecoder::decodeToString(std::string_view data) noexcept {
    try {
        if (auto run = ArchiveReader(data).textRun()) {
            std::string text = utf8::sanitize(*run);
            if (!utf8::hasContent(text)) {
                return std::nullopt;
            }
            return text;
        }
        return LenientScan(data).run();
    } catch (...) {
        // Only allocation can fail here; a body that cannot be held is no text.
        return std::nullopt;
    }
}

std::optional<std::string>
TypedStreamDecoder::decodeToString(std::span<const uint8_t> data) noexcept {
    return decodeToString(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

std::optional<std::string> TypedStreamDecoder::audioTranscription(std::string_view data) noexcept {
    try {
        return StringAttribute(data, kAudioTranscriptionKey).value();
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace orlune::core

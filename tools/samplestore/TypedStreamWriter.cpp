#include "tools/samplestore/TypedStreamWriter.hpp"

#include <cstdint>
#include <map>
#include <utility>

namespace orlune::samplestore {

namespace {

constexpr char kNew = static_cast<char>(0x84);
constexpr char kNil = static_cast<char>(0x85);
constexpr char kEnd = static_cast<char>(0x86);
// Table entry i is referred to by the integer i - 110 (the byte 0x92 for the
// first entry).
constexpr int64_t kReferenceBias = 110;

struct ClassInfo {
    std::string_view name;
    int64_t version;
};

constexpr ClassInfo kNSObject{"NSObject", 0};
constexpr ClassInfo kNSAttributedString{"NSAttributedString", 0};
constexpr ClassInfo kNSMutableAttributedString{"NSMutableAttributedString", 0};
constexpr ClassInfo kNSString{"NSString", 1};
constexpr ClassInfo kNSMutableString{"NSMutableString", 1};
constexpr ClassInfo kNSDictionary{"NSDictionary", 0};
constexpr ClassInfo kNSNumber{"NSNumber", 0};
constexpr ClassInfo kNSValue{"NSValue", 0};
constexpr ClassInfo kNSURL{"NSURL", 0};

// One archive being written: the output and its two reference tables.
class Archive {
public:
    Archive() {
        integer(4);
        integer(11);
        out_ += "streamtyped";
        integer(1000);
    }

    std::string take() { return std::move(out_); }

    void integer(int64_t value) { out_ += TypedStreamWriter::encodeInteger(value); }
    void bytes(std::string_view run) {
        integer(static_cast<int64_t>(run.size()));
        out_ += run;
    }
    void end() { out_ += kEnd; }

    // A type encoding or class name: defined the first time, referred to after.
    void sharedString(std::string_view s) {
        auto found = shared_.find(std::string(s));
        if (found != shared_.end()) {
            reference(found->second);
            return;
        }
        out_ += kNew;
        bytes(s);
        shared_.emplace(std::string(s), static_cast<int64_t>(shared_.size()));
    }
    void group(std::string_view typeEncoding) { sharedString(typeEncoding); }

    // Starts a new object of the class `chain` (nearest class first); its
    // members follow, then end().
    int64_t beginObject(std::initializer_list<ClassInfo> chain) {
        out_ += kNew;
        const int64_t number = objectCount_++;
        for (const auto& info : chain) {
            auto found = classes_.find(std::string(info.name));
            if (found != classes_.end()) {
                reference(found->second);
                return number;
            }
            out_ += kNew;
            sharedString(info.name);
            integer(info.version);
            classes_.emplace(std::string(info.name), objectCount_++);
        }
        out_ += kNil;
        return number;
    }

    void referenceObject(int64_t number) { reference(number); }

    // A C string value (type `*`).
    void cString(std::string_view s) {
        out_ += kNew;
        sharedString(s);
    }

private:
    void reference(int64_t index) { integer(index - kReferenceBias); }

    std::string out_;
    std::map<std::string, int64_t> shared_;
    std::map<std::string, int64_t> classes_;
    int64_t objectCount_ = 0;
};

class BodyWriter {
public:
    std::string write(std::string_view text, const AttributedBodyOptions& options) {
        archive_.group("@");
        if (options.mutableClasses) {
            archive_.beginObject({kNSMutableAttributedString, kNSAttributedString, kNSObject});
        } else {
            archive_.beginObject({kNSAttributedString, kNSObject});
        }
        archive_.group("@");
        if (options.mutableClasses) {
            archive_.beginObject({kNSMutableString, kNSString, kNSObject});
        } else {
            archive_.beginObject({kNSString, kNSObject});
        }
        archive_.group("+");
        archive_.bytes(text);
        archive_.end();

        std::vector<AttributeRun> runs = options.runs;
        if (runs.empty()) {
            runs.push_back({TypedStreamWriter::utf16Length(text), {}});
        }
        std::vector<TextAttributes> dictionaries;
        for (const auto& run : runs) {
            size_t index = 0;
            while (index < dictionaries.size() && !(dictionaries[index] == run.attributes)) {
                ++index;
            }
            const bool isNew = index == dictionaries.size();
            if (isNew) {
                dictionaries.push_back(run.attributes);
            }
            archive_.group("iI");
            archive_.integer(static_cast<int64_t>(index + 1));
            archive_.integer(static_cast<int64_t>(run.utf16Length));
            if (isNew) {
                archive_.group("@");
                dictionary(run.attributes);
            }
        }
        archive_.end();
        return archive_.take();
    }

private:
    void dictionary(const TextAttributes& attributes) {
        archive_.beginObject({kNSDictionary, kNSObject});
        int64_t count = 1 + (attributes.link ? 1 : 0) + (attributes.fileTransferGuid ? 1 : 0) +
                        (attributes.audioTranscription ? 1 : 0) + (attributes.mention ? 1 : 0) +
                        (attributes.bold ? 1 : 0);
        archive_.group("i");
        archive_.integer(count);
        entryKey("__kIMMessagePartAttributeName");
        number(attributes.messagePart);
        if (attributes.fileTransferGuid) {
            entryKey("__kIMFileTransferGUIDAttributeName");
            archive_.group("@");
            string(*attributes.fileTransferGuid);
        }
        if (attributes.audioTranscription) {
            entryKey("IMAudioTranscription");
            archive_.group("@");
            string(*attributes.audioTranscription);
        }
        if (attributes.link) {
            entryKey("__kIMLinkAttributeName");
            archive_.group("@");
            archive_.beginObject({kNSURL, kNSObject});
            archive_.group("c");
            archive_.integer(0); // no base URL
            archive_.group("@");
            string(*attributes.link);
            archive_.end();
        }
        if (attributes.mention) {
            entryKey("__kIMMentionConfirmedMention");
            archive_.group("@");
            string(*attributes.mention);
        }
        if (attributes.bold) {
            entryKey("__kIMTextBoldAttributeName");
            number(1);
        }
        archive_.end();
    }

    // A dictionary key: the same key string is one object, referred to after
    // its first use.
    void entryKey(std::string_view key) {
        archive_.group("@");
        auto found = keys_.find(std::string(key));
        if (found != keys_.end()) {
            archive_.referenceObject(found->second);
            return;
        }
        keys_.emplace(std::string(key), string(key));
    }

    int64_t string(std::string_view s) {
        const int64_t number = archive_.beginObject({kNSString, kNSObject});
        archive_.group("+");
        archive_.bytes(s);
        archive_.end();
        return number;
    }

    void number(int64_t value) {
        archive_.group("@");
        archive_.beginObject({kNSNumber, kNSValue, kNSObject});
        const bool small = value >= INT32_MIN && value <= INT32_MAX;
        archive_.group("*");
        archive_.cString(small ? "i" : "q");
        archive_.group(small ? "i" : "q");
        archive_.integer(value);
        archive_.end();
    }

    Archive archive_;
    std::map<std::string, int64_t> keys_;
};

} // namespace

std::string TypedStreamWriter::attributedBody(std::string_view text,
                                              const AttributedBodyOptions& options) {
    return BodyWriter().write(text, options);
}

uint64_t TypedStreamWriter::utf16Length(std::string_view text) {
    uint64_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) {
            units += (c >= 0xF0) ? 2 : 1; // four-byte sequences are surrogate pairs
        }
    }
    return units;
}

std::string TypedStreamWriter::encodeInteger(int64_t value) {
    std::string out;
    auto littleEndian = [&out](uint64_t v, int width) {
        for (int i = 0; i < width; ++i) {
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    };
    if (value >= -kReferenceBias && value <= 127) {
        out += static_cast<char>(static_cast<uint8_t>(value));
    } else if (value >= INT16_MIN && value <= UINT16_MAX) {
        out += static_cast<char>(0x81);
        littleEndian(static_cast<uint64_t>(value), 2);
    } else {
        out += static_cast<char>(0x82);
        littleEndian(static_cast<uint64_t>(value), 4);
    }
    return out;
}

} // namespace orlune::samplestore

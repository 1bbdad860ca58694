#include "TerminalOutput.hpp"

#include <iostream>
#include <unistd.h>

namespace orlune::cli {

namespace {

void appendEscape(unsigned char code, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[code >> 4];
    out += kHex[code & 0xF];
}

} // namespace

ControlEscapingBuffer::~ControlEscapingBuffer() {
    std::string out;
    if (heldC2_) {
        out += '\xC2';
    }
    if (heldCarriageReturn_) {
        appendEscape('\r', out);
    }
    heldC2_ = heldCarriageReturn_ = false;
    emit(out);
    target_->pubsync();
}

void ControlEscapingBuffer::put(unsigned char byte, std::string& out) {
    if (heldCarriageReturn_) {
        heldCarriageReturn_ = false;
        if (byte == '\n') {
            out += "\r\n";
            return;
        }
        appendEscape('\r', out);
    }
    if (heldC2_) {
        heldC2_ = false;
        if (byte >= 0x80 && byte <= 0x9F) {
            appendEscape(byte, out); // U+0080-U+009F
            return;
        }
        out += '\xC2';
        if (byte >= 0xA0 && byte <= 0xBF) {
            out += static_cast<char>(byte);
            return;
        }
    }
    if (continuations_ > 0) {
        if (byte >= 0x80 && byte <= 0xBF) {
            out += static_cast<char>(byte);
            --continuations_;
            return;
        }
        continuations_ = 0;
    }
    if (byte == '\n' || byte == '\t') {
        out += static_cast<char>(byte);
    } else if (byte == '\r') {
        heldCarriageReturn_ = true;
    } else if (byte < 0x20 || byte == 0x7F) {
        appendEscape(byte, out);
    } else if (byte < 0x80) {
        out += static_cast<char>(byte);
    } else if (byte == 0xC2) {
        heldC2_ = true;
    } else if (byte <= 0x9F) {
        out += "\xEF\xBF\xBD"; // a stray byte that 8-bit terminals read as C1
    } else {
        out += static_cast<char>(byte);
        continuations_ = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    }
}

void ControlEscapingBuffer::emit(const std::string& out) {
    if (!out.empty()) {
        target_->sputn(out.data(), static_cast<std::streamsize>(out.size()));
    }
}

ControlEscapingBuffer::int_type ControlEscapingBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    std::string out;
    put(static_cast<unsigned char>(traits_type::to_char_type(c)), out);
    emit(out);
    return c;
}

std::streamsize ControlEscapingBuffer::xsputn(const char* text, std::streamsize count) {
    std::string out;
    out.reserve(static_cast<size_t>(count));
    for (std::streamsize i = 0; i < count; ++i) {
        put(static_cast<unsigned char>(text[i]), out);
    }
    emit(out);
    return count;
}

int ControlEscapingBuffer::sync() {
    return target_->pubsync();
}

TerminalSafeOutput::TerminalSafeOutput()
    : coutTarget_(std::cout.rdbuf()), cerrTarget_(std::cerr.rdbuf()), coutBuffer_(coutTarget_),
      cerrBuffer_(cerrTarget_) {
    std::cout.rdbuf(&coutBuffer_);
    std::cerr.rdbuf(&cerrBuffer_);
}

TerminalSafeOutput::~TerminalSafeOutput() {
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(coutTarget_);
    std::cerr.rdbuf(cerrTarget_);
}

void writeControlToStandardError(std::string_view text) {
    std::cerr.flush();
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
}

} // namespace orlune::cli

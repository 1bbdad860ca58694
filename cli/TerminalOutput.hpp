#pragma once
// What the command-line tool prints is made safe for a terminal in one
// place: messages, contact names, file names and the helper's answers come
// from other people, and a control character among them could move the
// cursor, clear the screen, retitle the window or write the clipboard.
//
// C0 controls other than line feed and tab (a carriage return is kept only
// before a line feed), DEL and the C1 controls U+0080-U+009F come out as the
// visible text "\u001b"; a stray byte 0x80-0x9F that continues no UTF-8
// character comes out as U+FFFD. These escapes mean the same inside a JSON
// string, so the --json output keeps its meaning.

#include <streambuf>
#include <string>
#include <string_view>

namespace orlune::cli {

// A stream buffer that escapes as above and passes the rest to `target`.
class ControlEscapingBuffer : public std::streambuf {
public:
    explicit ControlEscapingBuffer(std::streambuf* target) : target_(target) {}
    ~ControlEscapingBuffer() override;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    void put(unsigned char byte, std::string& out);
    void emit(const std::string& out);

    std::streambuf* target_;
    bool heldC2_ = false; // a lead byte 0xC2 whose next byte decides
    bool heldCarriageReturn_ = false;
    int continuations_ = 0; // bytes still to come of a UTF-8 character
};

// Puts the escaping between std::cout / std::cerr and the terminal while it
// lives; restores both streams (writing out anything held) when it ends.
class TerminalSafeOutput {
public:
    TerminalSafeOutput();
    ~TerminalSafeOutput();
    TerminalSafeOutput(const TerminalSafeOutput&) = delete;
    TerminalSafeOutput& operator=(const TerminalSafeOutput&) = delete;

private:
    std::streambuf* coutTarget_;
    std::streambuf* cerrTarget_;
    ControlEscapingBuffer coutBuffer_;
    ControlEscapingBuffer cerrBuffer_;
};

// Writes `text` to standard error as it is, after what std::cerr holds: only
// for the tool's own cursor movements (sync's progress line, redrawn after a
// carriage return), never for text from anyone else.
void writeControlToStandardError(std::string_view text);

} // namespace orlune::cli

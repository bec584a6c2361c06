#pragma once
// Readers of instruments that answer a request (or their own print key) with
// one line of text holding one number: dial gauges, length probes, display
// units. The rows of the device-type table describe how the types differ
// (terminator, length limits, byte filtering, error marker, conversion); one
// algorithm reads them all. The
// infrared thermometer, which answers with two raw bytes, has its own reader
// here too.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "backends/serial/readers/reader_support.h"
#include "backends/serial/serial_line.h"
#include "devices/reader.h"

namespace karvelo::serial {

// The receive buffer of one line. Byte 0 is always a blank and received bytes
// follow from position 1, so the count of stored bytes is also the position of
// the last one. The longest line that fits is 98 bytes, leaving room for the
// terminating zero.
class LineBuffer {
  public:
    static constexpr int kSize = 100;
    static constexpr int kMaxStored = kSize - 2;

    LineBuffer() { Clear(); }

    // Empty line: a blank at position 0, zeros after it.
    void Clear() {
        bytes_.fill('\0');
        bytes_[0] = ' ';
        n_ = 0;
    }
    // Stores a byte at the next position; false (nothing stored) when full.
    bool Append(char c) {
        if (n_ >= kMaxStored) return false;
        bytes_[static_cast<std::size_t>(++n_)] = c;
        return true;
    }
    int count() const { return n_; }
    char last() const { return bytes_[static_cast<std::size_t>(n_)]; }
    // Position 0..kSize-1.
    char& at(int pos) { return bytes_[static_cast<std::size_t>(pos)]; }
    char at(int pos) const { return bytes_[static_cast<std::size_t>(pos)]; }
    // Blanks positions first..lastPos, clamped to the stored line.
    void Blank(int first, int lastPos);
    // Puts the zero after the last stored byte.
    void Terminate() { bytes_[static_cast<std::size_t>(n_ + 1)] = '\0'; }
    // Positions 0..count(): the leading blank and every stored byte.
    std::string_view text() const {
        return std::string_view(bytes_.data(), static_cast<std::size_t>(n_) + 1);
    }
    std::span<char> buffer() { return bytes_; }

  private:
    std::array<char, kSize> bytes_;
    int n_ = 0;
};

// What ReceiveLine returns when a complete, plausible line is in the buffer.
inline constexpr ReaderResult kLineReceived = kValueStored;

// Receives the reply line of slot s as the variant frames it: when only
// polling, one probe read first (nothing waiting: kNoAnswer with the slot
// untouched); then bytes until the terminator, with the length limits and the
// error-marker test. kLineReceived with the line in `line`, or the reader's
// failure code with the slot's results cleared (or kept, see the variant).
ReaderResult ReceiveLine(const ReadContext& context, int slot, bool requested,
                         const LineVariant& variant, LineBuffer& line);

// Reads slot s as a one-number line framed as its type's row says, and stores
// the scaled value.
ReaderResult ReadNumberLine(const ReadContext& context, int slot, bool requested);

// The infrared thermometer: two bytes, a signed 16-bit count high byte first,
// in tenths of a degree above -100 degrees.
ReaderResult ReadThermometer(const ReadContext& context, int slot, bool requested);

// The polling probe every serial reader starts with when it was not
// requested: has the instrument begun to send by itself?
struct ProbeOutcome {
    enum Kind : std::uint8_t {
        NotProbed,  // after a request, or the line was disturbed: no probe
        Silent,     // nothing waiting: the reader ends with kNoAnswer, slot untouched
        Byte,       // the first byte of the line
    } kind;
    std::uint8_t byte;
};
ProbeOutcome ProbeLine(SerialLine& port, bool requested);

}  // namespace karvelo::serial

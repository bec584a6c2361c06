#include "backends/serial/readers/line_reader.h"

#include <algorithm>
#include <optional>

#include "backends/serial/readers/reader_support.h"
#include "platform/numbers.h"

namespace karvelo::serial {
namespace {

using readers::ClearResults;
using readers::StoreValue;

constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;

// Positions 1..10 of a Keyence reply are its header.
constexpr int kHeaderEnd = 10;

// The byte as the variant stores it at the next position; nullopt when the
// variant drops it.
std::optional<char> Filtered(const LineVariant& v, int nextPos, char c) {
    switch (v.filter) {
        case ByteFilter::None:
            return c;
        case ByteFilter::PlusAsBlank:
            return c == '+' ? ' ' : c;
        case ByteFilter::DropMarkAndComma:
            if (c == 'M' || c == ',') return std::nullopt;
            return c;
        case ByteFilter::BlankHeader:
            return (nextPos <= kHeaderEnd || c == '+') ? ' ' : c;
        case ByteFilter::DropXonXoff:
            if (c == kXon || c == kXoff) return std::nullopt;
            return c;
    }
    return c;
}

// Stores one received byte through the variant's filter; false when the line
// would grow past the variant's maximum.
bool Store(const LineVariant& v, LineBuffer& line, std::uint8_t byte) {
    const std::optional<char> c = Filtered(v, line.count() + 1, static_cast<char>(byte));
    if (!c) return true;
    if (line.count() >= std::min(v.maxLength, LineBuffer::kMaxStored)) return false;
    return line.Append(*c);
}

ReaderResult Fail(RunState& run, int s, const LineVariant& v, ReaderResult code) {
    const bool keep = v.keepResultsOnReject && (code == kMalformed || code == kErrorMarker);
    if (!keep) ClearResults(run, s);
    return code;
}

bool ContainsAnyOf(std::string_view text, std::string_view bytes) {
    return !bytes.empty() && text.find_first_of(bytes) != std::string_view::npos;
}

// Keeps only the nine characters before the last two ahead of the terminator.
void KeepFixedPosition(LineBuffer& line) {
    const int n = line.count();
    line.Blank(n - 2, n - 1);
    line.Blank(0, n - 12);
}

double ConvertSeparateSign(LineBuffer& line) {
    bool negative = false;
    const std::string_view text = line.text();
    if (const auto minus = text.find('-'); minus != std::string_view::npos) {
        line.at(static_cast<int>(minus)) = ' ';
        negative = true;
    }
    if (const auto plus = text.find('+'); plus != std::string_view::npos) {
        line.at(static_cast<int>(plus)) = ' ';
        negative = false;
    }
    const double magnitude = platform::ParseDoubleNarrow(line.text());
    return negative ? -magnitude : magnitude;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Takes digits from the front of `text`; how many.
std::size_t TakeDigits(std::string_view& text) {
    std::size_t n = 0;
    while (n < text.size() && IsDigit(text[n])) ++n;
    text.remove_prefix(n);
    return n;
}

// Blanks and line ends around a number (a polled line may begin with the end
// of the one before).
void TrimBlanks(std::string_view& text) {
    const auto blank = [](char c) { return c == ' ' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
}

// Whether a line has a reading's form: blanks, one number that fills the
// rest ([+-]digits[.digits][e[+-]digits]) and the line's end. Where the
// type's sign stands apart from the number, one sign may stand at either end.
// Noise on the line rarely frames such a line; a control or 8-bit byte, a
// second number or a stray letter never pass.
bool HasReadingForm(std::string_view text, const LineVariant& v) {
    if (!text.empty() && text.back() == v.terminator) text.remove_suffix(1);
    TrimBlanks(text);
    if (v.conversion == Conversion::SeparateSign && !text.empty()) {
        const auto isSign = [](char c) { return c == '+' || c == '-'; };
        if (isSign(text.back())) {
            text.remove_suffix(1);
        } else if (isSign(text.front())) {
            text.remove_prefix(1);
        }
        TrimBlanks(text);
    }
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
    std::size_t digits = TakeDigits(text);
    if (!text.empty() && text.front() == '.') {
        text.remove_prefix(1);
        digits += TakeDigits(text);
    }
    if (digits == 0) return false;
    if (!text.empty() && (text.front() == 'e' || text.front() == 'E')) {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
        if (TakeDigits(text) == 0) return false;
    }
    return text.empty();
}

}  // namespace

void LineBuffer::Blank(int first, int lastPos) {
    first = std::max(first, 0);
    lastPos = std::min(lastPos, n_);
    for (int i = first; i <= lastPos; ++i) bytes_[static_cast<std::size_t>(i)] = ' ';
}

ProbeOutcome ProbeLine(SerialLine& port, bool requested) {
    // A disturbed line may still carry a reply, so the reader goes on to read it.
    if (requested || port.LineError()) return {ProbeOutcome::NotProbed, 0};
    const std::optional<std::uint8_t> b = port.ReadByte();
    if (!b) return {ProbeOutcome::Silent, 0};
    return {ProbeOutcome::Byte, *b};
}

ReaderResult ReceiveLine(const ReadContext& ctx, int s, bool requested, const LineVariant& v,
                         LineBuffer& line) {
    RunState& run = ctx.run;
    SerialLine* port = ctx.PortOf(s);
    if (port == nullptr) return kNotOpen;
    line.Clear();

    const ProbeOutcome probe = ProbeLine(*port, requested);
    if (probe.kind == ProbeOutcome::Silent) return kNoAnswer;
    // The probed byte is the first of the line and goes through the same
    // filter: a Millimar's leading 'M' or a Keyence header byte would
    // otherwise end up in the number.
    if (probe.kind == ProbeOutcome::Byte) Store(v, line, probe.byte);

    // The probed byte never ends the line; a dropped byte does not either,
    // because the test looks at the last stored byte.
    do {
        const std::optional<std::uint8_t> b = port->ReadByte();
        if (!b) return Fail(run, s, v, kNoAnswer);
        if (!Store(v, line, *b)) return Fail(run, s, v, kNoAnswer);
    } while (line.last() != v.terminator);

    if (v.conversion == Conversion::FixedPosition) KeepFixedPosition(line);
    if (line.count() < v.minLength) return Fail(run, s, v, kMalformed);
    line.Terminate();
    if (ContainsAnyOf(line.text(), v.errorMarkers)) return Fail(run, s, v, kErrorMarker);
    return kLineReceived;
}

ReaderResult ReadNumberLine(const ReadContext& ctx, int s, bool requested) {
    RunState& run = ctx.run;
    const LineVariant& v = ctx.type.serial.frame;
    LineBuffer line;
    const ReaderResult r = ReceiveLine(ctx, s, requested, v, line);
    if (r != kLineReceived) return r;

    // Noise on the line can frame a plausible line; without a single digit it
    // is no reading, whatever the text-to-number rules would make of it.
    const std::string_view text = line.text();
    if (std::none_of(text.begin(), text.end(), IsDigit)) return Fail(run, s, v, kMalformed);
    // A line the instrument sent by itself (its print key) completes a
    // record, so it must be a reading, not noise that happens to hold a digit.
    if (!requested && !HasReadingForm(text, v)) return Fail(run, s, v, kMalformed);
    const double raw = v.conversion == Conversion::SeparateSign
                           ? ConvertSeparateSign(line)
                           : platform::ParseDoubleNarrow(line.text());
    const std::optional<double> value = readers::Scaled(run, s, raw);
    if (!value) return Fail(run, s, v, kMalformed);
    StoreValue(run, s, *value);
    return kValueStored;
}

ReaderResult ReadThermometer(const ReadContext& ctx, int s, bool requested) {
    RunState& run = ctx.run;
    SerialLine* port = ctx.PortOf(s);
    if (port == nullptr) return kNotOpen;

    std::optional<std::uint8_t> high;
    const ProbeOutcome probe = ProbeLine(*port, requested);
    if (probe.kind == ProbeOutcome::Silent) return kNoAnswer;
    if (probe.kind == ProbeOutcome::Byte) high = probe.byte;

    ClearResults(run, s);
    // While polling on a disturbed line the high byte was never read; the pair
    // cannot be told apart any more.
    if (requested) high = port->ReadByte();
    if (!high) return kMalformed;
    const std::optional<std::uint8_t> low = port->ReadByte();
    if (!low) return kMalformed;

    const auto count = static_cast<std::int16_t>((*high << 8) | *low);
    // The instrument's offset is taken off in 16 bits, as it counts.
    const auto tenths = static_cast<std::int16_t>(count - 1000);
    const std::optional<double> value = readers::Scaled(run, s, tenths / 10.0);
    if (!value) return kMalformed;
    StoreValue(run, s, *value);
    return kValueStored;
}

}  // namespace karvelo::serial

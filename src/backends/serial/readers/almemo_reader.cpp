#include "backends/serial/readers/almemo_reader.h"

#include <cstdint>
#include <optional>
#include <string_view>

#include "backends/serial/readers/reader_support.h"
#include "platform/numbers.h"

namespace karvelo::serial {
namespace {

using readers::ClearResults;
using readers::IsOpenSibling;
using readers::IsSlotEntry;
using readers::StoreValue;

constexpr int kMaxPoints = 10;
constexpr int kValueWidth = 7;
constexpr int kUnitWidth = 2;
// An instrument that keeps sending (cyclic output switched on, a stuck line)
// must not hold the acquisition thread: a whole list is a few hundred bytes.
constexpr int kMaxBytesPerRead = 4096;

bool IsDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

// The port's bytes with a budget; a spent budget reads like a silent line.
class ByteSource {
  public:
    explicit ByteSource(SerialLine& port) : port_(port) {}
    std::optional<std::uint8_t> Next() {
        if (budget_ <= 0) return std::nullopt;
        --budget_;
        return port_.ReadByte();
    }

  private:
    SerialLine& port_;
    int budget_ = kMaxBytesPerRead;
};

// A malformed list shows as a communication error, like a missing port.
constexpr ReaderResult kListMalformed = kNotOpen;

ReaderResult Fail(RunState& run, int s, ReaderResult code) {
    ClearResults(run, s);
    return code;
}

enum class Echo : std::uint8_t { Found, Missing, Cut };

// Reads bytes until "s" CR LF, the echo of the request.
Echo FindEcho(ByteSource& in) {
    std::optional<std::uint8_t> b = in.Next();
    for (;;) {
        if (!b) return Echo::Missing;
        if (*b != 's') {
            b = in.Next();
            continue;
        }
        const std::optional<std::uint8_t> cr = in.Next();
        if (!cr) return Echo::Cut;
        if (*cr != '\r') {
            b = cr;  // may itself start the echo
            continue;
        }
        const std::optional<std::uint8_t> lf = in.Next();
        if (!lf) return Echo::Cut;
        if (*lf == '\n') return Echo::Found;
        b = lf;
    }
}

// After the echo (and any repeated echo): the time stamp hh:mm:ss.
bool ReadTimeStamp(ByteSource& in) {
    std::optional<std::uint8_t> b = in.Next();
    while (b && *b == 's') {
        if (!in.Next() || !in.Next()) return false;
        b = in.Next();
    }
    if (!b || !IsDigit(*b)) return false;
    constexpr std::string_view kRest = "d:dd:dd";
    for (const char expected : kRest) {
        const std::optional<std::uint8_t> c = in.Next();
        if (!c) return false;
        if (expected == 'd' ? !IsDigit(*c) : *c != expected) return false;
    }
    return true;
}

// The point number of a line: the last two digits before the ':'.
struct PointNumber {
    int value = 0;
    int digits = 0;
    void Add(std::uint8_t c) {
        value = (value % 10) * 10 + (c - '0');
        ++digits;
    }
};

// Collects digits up to the next ':'; false when the line breaks off.
bool CollectPointNumber(ByteSource& in, PointNumber& number) {
    for (;;) {
        const std::optional<std::uint8_t> c = in.Next();
        if (!c) return false;
        if (*c == ':') return true;
        if (IsDigit(*c)) number.Add(*c);
    }
}

struct PointLine {
    std::optional<int> point;  // none when the line carried no number
    double value = 0.0;
};

// One point line; nullopt when it broke off before its end, so that nothing
// of it is used.
std::optional<PointLine> ReadPointLine(ByteSource& in) {
    PointNumber number;
    if (!CollectPointNumber(in, number)) return std::nullopt;
    const std::optional<std::uint8_t> next = in.Next();
    if (!next) return std::nullopt;
    if (IsDigit(*next)) {
        // A second "nn:" in front of the value: that one is the point number.
        number = PointNumber{};
        if (!CollectPointNumber(in, number)) return std::nullopt;
    }

    char field[kValueWidth];
    for (char& f : field) {
        const std::optional<std::uint8_t> c = in.Next();
        if (!c) return std::nullopt;
        f = static_cast<char>(*c);
    }
    for (int i = 0; i < kUnitWidth; ++i) {
        if (!in.Next()) return std::nullopt;
    }
    for (;;) {
        const std::optional<std::uint8_t> c = in.Next();
        if (!c) return std::nullopt;
        if (*c == '\n') break;
    }

    PointLine line;
    if (number.digits > 0) line.point = number.value;
    line.value = platform::ParseDoubleNarrow(std::string_view(field, kValueWidth));
    return line;
}

void FillPoint(RunState& run, int s, int point, double raw) {
    for (int d = 0; d <= kMaxSlots; ++d) {
        if (!IsOpenSibling(run, d, s) || run.Channel[d].load() != point) continue;
        // "1e999  " fits the field too; such a point is left as it was.
        if (const std::optional<double> value = readers::Scaled(run, d, raw))
            StoreValue(run, d, *value);
    }
}

}  // namespace

ReaderResult ReadAlmemoList(const ReadContext& ctx, int s, bool /*requested*/) {
    RunState& run = ctx.run;
    if (!IsSlotEntry(s)) return kNotOpen;
    if (run.SlotState[s].load() == SlotStage::Read)
        return kValueStored;  // filled with an earlier list
    SerialLine* port = ctx.PortOf(s);
    if (port == nullptr) return kNotOpen;

    ByteSource in(*port);
    switch (FindEcho(in)) {
        case Echo::Found:
            break;
        case Echo::Missing:
            return Fail(run, s, kNoAnswer);
        case Echo::Cut:
            return Fail(run, s, kListMalformed);
    }
    if (!ReadTimeStamp(in)) return Fail(run, s, kListMalformed);
    // The byte after the time stamp ends its line; a list cut here has no points.
    if (!in.Next()) return kValueStored;

    for (int k = 0; k < kMaxPoints; ++k) {
        const std::optional<PointLine> line = ReadPointLine(in);
        if (!line) break;  // the points read so far stay filled
        if (line->point) FillPoint(run, s, *line->point, line->value);
    }
    return kValueStored;
}

}  // namespace karvelo::serial

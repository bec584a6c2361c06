#include "backends/serial/readers/shared_readers.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include "backends/serial/readers/line_reader.h"
#include "backends/serial/readers/number_list.h"
#include "backends/serial/readers/reader_support.h"
#include "platform/numbers.h"
#include "platform/wait.h"

namespace karvelo::serial {
namespace {

using readers::ClearResults;
using readers::IsOpenSibling;
using readers::IsSlotEntry;
using readers::StoreValue;

constexpr char kCr = '\r';

// --- IBRit-md1 -------------------------------------------------------------

// Failed reads in a row after which the display counts as silent.
constexpr int kIbritMaxFailedReads = 12;
constexpr int kIbritRetryWaitMs = 10;
constexpr int kIbritShortLineWaitMs = 500;
// Lines of other display channels skipped before giving up, so that a display
// that keeps sending other channels cannot hold the acquisition thread.
constexpr int kIbritMaxSkippedLines = 32;
// A usable reading has at least this many bytes (terminator included).
constexpr int kIbritMinValueLine = 10;

// One line up to CR. The display pauses inside its answers, so a missing byte
// is retried; false when it stays silent or the line does not fit.
bool ReadIbritLine(SerialLine& port, LineBuffer& line) {
    line.Clear();
    int failures = 0;
    for (;;) {
        const std::optional<std::uint8_t> b = port.ReadByte();
        if (!b) {
            if (++failures >= kIbritMaxFailedReads) return false;
            platform::PumpWait(kIbritRetryWaitMs);
            continue;
        }
        failures = 0;
        if (!line.Append(static_cast<char>(*b))) return false;
        if (*b == kCr) return true;
    }
}

bool IsDisplayChannel(char c) {
    return c >= '1' && c <= '5';
}

// The reading of a display line goes to one slot; an error or a cut reading
// keeps the slot's value and shows the error instead.
void ApplyIbritReading(RunState& run, int d, std::optional<double> raw) {
    const std::optional<double> value = raw ? readers::Scaled(run, d, *raw) : std::nullopt;
    if (value) {
        run.Value[d] = *value;
        run.ValueError[d] = false;
    } else {
        run.ValueError[d] = true;
    }
    run.ValueReady[d] = true;
    run.SlotState[d] = SlotStage::Read;
}

// --- Number lists ----------------------------------------------------------

constexpr int kPuMinLength = 5;

int ListIndexOf(const RunState& run, int d) {
    return std::clamp(run.Channel[d].load(), 1, kListValues) - 1;
}

// Gives every sibling of slot s that is still open in this cycle (s included)
// the value its channel names, scaled by its factor alone. Channels beyond the
// values received are left for their own read. False when slot s got no value
// that way: it then fails as malformed.
bool FillByChannel(RunState& run, int s, const NumberList& values, int count) {
    for (int d = 0; d <= kMaxSlots; ++d) {
        if (!IsOpenSibling(run, d, s)) continue;
        const int index = ListIndexOf(run, d);
        if (index >= count) continue;
        const std::optional<double> value =
            readers::Scaled(run, d, values[static_cast<std::size_t>(index)], /*withOffset*/ false);
        if (value) StoreValue(run, d, *value);
    }
    if (run.SlotState[s].load() == SlotStage::Read) return true;
    ClearResults(run, s);
    return false;
}

// The send flag a PU instrument puts in the last field of its list.
ReaderResult PuSendFlagResult(const NumberList& values, int count) {
    if (count <= 1) return kValueStored;
    const double flag = std::trunc(values[static_cast<std::size_t>(count - 1)]);
    if (flag == 1.0) return kStoredOrSendFlag1;
    if (flag == 2.0) return kSendFlag2;
    return kValueStored;
}

}  // namespace

ReaderResult ReadIbritDisplay(const ReadContext& ctx, int s, bool requested) {
    RunState& run = ctx.run;
    if (!IsSlotEntry(s)) return kNotOpen;
    if (run.SlotState[s].load() == SlotStage::Read) return kValueStored;  // filled by a sibling
    SerialLine* port = ctx.PortOf(s);
    if (port == nullptr) return kNotOpen;

    // A probed byte only tells that the display has begun to send.
    if (ProbeLine(*port, requested).kind == ProbeOutcome::Silent) return kNoAnswer;

    LineBuffer line;
    for (int skipped = 0;; ++skipped) {
        if (skipped > kIbritMaxSkippedLines || !ReadIbritLine(*port, line)) {
            // Done for this cycle: a silent display costs its retries once.
            ClearResults(run, s);
            run.SlotState[s] = SlotStage::Read;
            return kNoAnswer;
        }
        if (line.count() < 3) {
            platform::PumpWait(kIbritShortLineWaitMs);
            ClearResults(run, s);
            return kMalformed;
        }
        // The second byte names the display channel; other lines are not answers.
        if (IsDisplayChannel(line.at(2))) break;
    }

    // Drop the three-byte prefix (with the channel digit) in front of the reading.
    line.Blank(0, 3);
    line.Terminate();
    const std::string_view text = line.text();
    std::optional<double> raw;
    if (line.count() >= kIbritMinValueLine && text.find_first_of("Ee") == std::string_view::npos) {
        raw = platform::ParseDoubleNarrow(text);
    }

    ApplyIbritReading(run, s, raw);
    const auto serialNo = run.SerialNo[s].Get();
    const int channel = run.Channel[s].load();
    for (int d = s + 1; d <= kMaxSlots; ++d) {
        if (IsOpenSibling(run, d, s) && run.Channel[d].load() == channel &&
            run.SerialNo[d].Get() == serialNo) {
            ApplyIbritReading(run, d, raw);
        }
    }
    return kValueStored;
}

ReaderResult ReadSd1List(const ReadContext& ctx, int s, bool requested) {
    RunState& run = ctx.run;
    LineBuffer line;
    const ReaderResult r = ReceiveLine(ctx, s, requested, ctx.type.serial.frame, line);
    if (r != kLineReceived) return r;
    NumberList values;
    const int count = SplitNumberList(line.buffer(), values);
    return FillByChannel(run, s, values, count) ? kValueStored : kMalformed;
}

ReaderResult ReadPuList(const ReadContext& ctx, int s, bool requested) {
    RunState& run = ctx.run;
    LineBuffer line;
    const ReaderResult r = ReceiveLine(ctx, s, requested, ctx.type.serial.frame, line);
    if (r != kLineReceived) return r;

    // "$PRI," in front of the list goes; the checksum after '*' is cut off so
    // that its hexadecimal digits are neither numbers nor an error marker.
    const int n = line.count();
    for (int i = 0; i < n; ++i) {
        char& c = line.at(i);
        if (c == '$' || c == 'P' || c == 'R') {
            c = ' ';
        } else if (c == 'I') {
            c = ' ';
            line.at(i + 1) = ' ';
        }
    }
    for (int i = 0; i < n; ++i) {
        if (line.at(i) == '*') line.at(i) = '\0';
    }
    if (n < kPuMinLength) {
        ClearResults(run, s);
        return kMalformed;
    }
    line.Terminate();
    const std::string_view text = line.text();
    if (text.substr(0, text.find('\0')).find('E') != std::string_view::npos) {
        ClearResults(run, s);
        return kErrorMarker;
    }

    NumberList values;
    const int count = SplitNumberList(line.buffer(), values);
    if (!FillByChannel(run, s, values, count)) return kMalformed;
    return PuSendFlagResult(values, count);
}

}  // namespace karvelo::serial

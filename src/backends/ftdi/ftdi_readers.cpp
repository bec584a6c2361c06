#include "backends/ftdi/ftdi_readers.h"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "backends/ftdi/adapter_io.h"
#include "devices/device_set.h"
#include "platform/numbers.h"
#include "platform/wait.h"

namespace karvelo::ftdi {
namespace {

using devices::kMalformed;
using devices::kNoAnswer;
using devices::kNotOpen;
using devices::kSendFlag2;
using devices::kStoredOrSendFlag1;
using devices::kValueStored;
using devices::ReaderResult;

constexpr int kFailedReadWaitMs = 500;
constexpr int kFailedDiscardWaitMs = 100;
// A reply line holds at most this many characters.
constexpr std::size_t kMaxLine = 255;
// Bytes thrown away while looking for the start of a reply: an adapter that
// keeps sending something else cannot hold the acquisition for ever.
constexpr int kMaxSkipped = 1024;
// The highest PU channel; 51 to 53 ("max", "min", "max-min") follow fields 1 to 3.
constexpr int kPuFields = 5;
constexpr int kExtremaBase = 50;
constexpr int kExtremaFields = 3;

void ClearSlot(RunState& run, int s) {
    run.ValueReady[s] = false;
    run.ValueError[s] = false;
    run.Value[s] = 0.0;
}

// The common start of the readers: nullopt to go on reading, else the result.
std::optional<ReaderResult> Start(const ReadContext& c, bool requested, FT_HANDLE h) {
    if (h == nullptr) return kNotOpen;
    if (!requested && WaitingBytes(c.api, h) == 0) return kNoAnswer;
    return std::nullopt;
}

enum class Line { Read, TimedOut, Failed, TooLong };

// Reads up to (not including) the first byte of `ends`.
Line ReadLine(D2xx& api, FT_HANDLE h, std::string_view ends, std::string& line) {
    line.clear();
    for (;;) {
        char c = 0;
        const ByteRead r = ReadByte(api, h, c);
        if (r == ByteRead::Failed) return Line::Failed;
        if (r == ByteRead::TimedOut) return Line::TimedOut;
        if (ends.find(c) != std::string_view::npos) return Line::Read;
        if (line.size() == kMaxLine) return Line::TooLong;
        line += c;
    }
}

// Throws bytes away up to and including `start`; false when a read failed.
// Nothing more coming ends the skipping, as does a long run without `start`.
bool SkipTo(D2xx& api, FT_HANDLE h, char start) {
    for (int n = 0; n < kMaxSkipped; ++n) {
        char c = 0;
        const ByteRead r = ReadByte(api, h, c);
        if (r == ByteRead::Failed) return false;
        if (r == ByteRead::TimedOut || c == start) return true;
    }
    return true;
}

// Reads the reply line after its start byte and drops the rest of the input
// (checksum, line ends). nullopt: the line is in `line`.
std::optional<ReaderResult> TakeReply(RunState& run, D2xx& api, FT_HANDLE h, int s, char start,
                                      std::string& line) {
    if (!SkipTo(api, h, start)) {
        platform::PumpWait(kFailedReadWaitMs);
        ClearSlot(run, s);
        return kNoAnswer;
    }
    switch (ReadLine(api, h, "*\n\r", line)) {
        case Line::Read:
            break;
        case Line::TooLong:
            DiscardInput(api, h);
            ClearSlot(run, s);
            return kMalformed;
        case Line::Failed:
        case Line::TimedOut:
            ClearSlot(run, s);
            platform::PumpWait(kFailedReadWaitMs);
            return kNoAnswer;
    }
    if (!DiscardInput(api, h)) {
        ClearSlot(run, s);
        platform::PumpWait(kFailedDiscardWaitMs);
        return kNoAnswer;
    }
    return std::nullopt;
}

void BlankFirst(std::string& line, std::string_view marker) {
    const std::size_t at = line.find(marker);
    if (at != std::string::npos) line.replace(at, marker.size(), marker.size(), ' ');
}

struct Field {
    double number = 0.0;
    bool error = false;
};

// A value field: an "E" or "e" in it is the instrument's error mark.
Field ReadField(std::string_view text) {
    if (text.find_first_of("Ee") != std::string_view::npos) return {0.0, true};
    return {platform::ParseDoubleNarrow(text), false};
}

// What a reply gave the slot being read.
enum class Own { Missing, Value, Error };

// Stores a field in slot j with the slot's own scale. A reading the scale
// takes beyond the range of a double counts as the instrument's error mark.
// A sibling shows its word here, since no dispatch runs for it; the slot
// being read gets its word from the dispatch.
bool Deliver(const ReadContext& c, int j, int s, const Field& f) {
    RunState& run = c.run;
    double value = f.number * run.Factor[j].load() + run.Offset[j].load();
    bool error = f.error;
    if (!std::isfinite(value)) {
        value = run.Offset[j].load();
        error = true;
    }
    run.Value[j] = value;
    run.ValueError[j] = error;
    run.ValueReady[j] = true;
    run.SlotState[j] = SlotStage::Read;
    if (j != s) {
        const std::string_view word =
            error ? devices::StatusWordFor(c.type, devices::kErrorMarker) : std::string_view();
        run.StatusText[j] = std::wstring(word.begin(), word.end());
    }
    return error;
}

// Fills field k into every slot on the adapter of slot s that shows channel
// k (or, for `withExtrema`, the max/min channel of that field); tells what
// slot s itself got.
Own DeliverField(const ReadContext& c, int s, int k, const Field& f, bool withExtrema, Own own) {
    for (int j = 1; j <= kMaxSlots; ++j) {
        if (!AdapterSiblings(c.run, j, s)) continue;
        const int ch = c.run.Channel[j];
        if (ch == k || (withExtrema && ch == kExtremaBase + k)) {
            const bool error = Deliver(c, j, s, f);
            if (j == s) own = error ? Own::Error : Own::Value;
        }
    }
    return own;
}

// What the slot being read shows when its own field was not a value. A slot
// whose channel the reply does not carry is set up wrongly: it must not show
// an old value as if it had been measured now. It is done for this cycle all
// the same, so that it is not read again in vain. An error field is the
// instrument's error mark; the slot keeps Value = Offset, as its siblings do,
// but shows the word, so that no record takes the offset for a reading.
std::optional<ReaderResult> NotAValue(RunState& run, int s, Own own) {
    if (own == Own::Value) return std::nullopt;
    run.SlotState[s] = SlotStage::Read;
    return own == Own::Error ? devices::kErrorMarker : kMalformed;
}

ReaderResult SendKeyResult(double flag) {
    if (flag == 1.0) return kStoredOrSendFlag1;
    if (flag == 2.0) return kSendFlag2;
    return kValueStored;
}

}  // namespace

bool AdapterSiblings(const RunState& run, int j, int s) {
    return run.DeviceType[j].load() == run.DeviceType[s].load() &&
           run.Port[j].load() == run.Port[s].load() &&
           run.SerialNo[j].Get() == run.SerialNo[s].Get();
}

ReaderResult Read16ExuLine(const ReadContext& c, int s, bool requested) {
    RunState& run = c.run;
    const FT_HANDLE h = c.adapters.HandleOf(s);
    if (auto early = Start(c, requested, h)) return *early;

    std::string line;
    switch (ReadLine(c.api, h, "\n\r", line)) {
        case Line::Read:
            break;
        case Line::TooLong:
            DiscardInput(c.api, h);
            ClearSlot(run, s);
            return kMalformed;
        case Line::Failed:
        case Line::TimedOut:
            platform::PumpWait(kFailedReadWaitMs);
            ClearSlot(run, s);
            return kNoAnswer;
    }
    if (!DiscardInput(c.api, h)) {
        ClearSlot(run, s);
        platform::PumpWait(kFailedDiscardWaitMs);
        return kNoAnswer;
    }
    const double value =
        platform::ParseDoubleNarrow(line) * run.Factor[s].load() + run.Offset[s].load();
    if (!std::isfinite(value)) {
        ClearSlot(run, s);
        return kMalformed;
    }
    // The instrument has no error mark; ValueError keeps what it was.
    run.Value[s] = value;
    run.ValueReady[s] = true;
    run.SlotState[s] = SlotStage::Read;
    return kValueStored;
}

ReaderResult ReadPuReply(const ReadContext& c, int s, bool requested) {
    RunState& run = c.run;
    // A sibling's reply already brought this slot's value in this cycle.
    if (run.SlotState[s] == SlotStage::Read) return kValueStored;
    const FT_HANDLE h = c.adapters.HandleOf(s);
    if (auto early = Start(c, requested, h)) return *early;

    std::string line;
    if (auto failed = TakeReply(run, c.api, h, s, 'I', line)) return *failed;
    // Some interfaces name the probes' sum or difference before the values.
    BlankFirst(line, "A+B:");
    BlankFirst(line, "A-B:");
    BlankFirst(line, "A:");
    BlankFirst(line, "B:");

    std::size_t comma = line.find(',');
    if (comma == std::string::npos) {
        ClearSlot(run, s);
        return kNoAnswer;
    }
    Own own = Own::Missing;
    Field last;
    // Fields 1 to 5 are the channels; a sixth field is the send flag. The last
    // field of a shorter reply is the send flag too.
    for (int k = 1; k <= kPuFields + 1; ++k) {
        const std::size_t end = line.find(',', comma + 1);
        const std::string_view text = std::string_view(line).substr(
            comma + 1, end == std::string::npos ? end : end - comma - 1);
        last = ReadField(text);
        if (k <= kPuFields) own = DeliverField(c, s, k, last, k <= kExtremaFields, own);
        if (end == std::string::npos) break;
        comma = end;
    }
    if (auto word = NotAValue(run, s, own)) return *word;
    return SendKeyResult(last.number);
}

ReaderResult ReadMfpReply(const ReadContext& c, int s, bool requested) {
    RunState& run = c.run;
    if (run.SlotState[s] == SlotStage::Read) return kValueStored;
    const FT_HANDLE h = c.adapters.HandleOf(s);
    if (auto early = Start(c, requested, h)) return *early;

    std::string line;
    if (auto failed = TakeReply(run, c.api, h, s, '$', line)) return *failed;
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos) {
        ClearSlot(run, s);
        return kNoAnswer;
    }
    const std::size_t next = line.find(',', comma + 1);
    const std::string_view value = std::string_view(line).substr(
        comma + 1, next == std::string::npos ? next : next - comma - 1);
    const Own own = DeliverField(c, s, 1, ReadField(value), false, Own::Missing);
    // The send flag follows the value. It is looked for after the value only,
    // so that a reading such as 1.25 is never taken for a pressed send key.
    const std::string_view flags =
        next == std::string::npos ? std::string_view() : std::string_view(line).substr(next);
    if (auto word = NotAValue(run, s, own)) return *word;
    if (flags.find(",1") != std::string_view::npos) return kStoredOrSendFlag1;
    if (flags.find(",2") != std::string_view::npos) return kSendFlag2;
    return kValueStored;
}

}  // namespace karvelo::ftdi

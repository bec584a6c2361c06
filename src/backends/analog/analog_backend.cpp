#include "backends/analog/analog_backend.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "devices/catalogue.h"
#include "platform/numbers.h"

namespace karvelo::analog {
namespace {

using devices::DeviceTypeOf;
using devices::Transport;

// Characters of `sn` read as the board number.
constexpr std::size_t kBoardChars = 15;

bool IsAnalogSlot(const RunState& run, int s) {
    return DeviceTypeOf(run.DeviceType[s]).transport == Transport::AnalogInput;
}

}  // namespace

int BoardOf(std::wstring_view serialNo) {
    return std::max(platform::ParseInt(serialNo.substr(0, kBoardChars)), 0);
}

int ChannelOf(int channel) {
    return std::max<int>(static_cast<std::int16_t>(channel), 0);
}

AnalogBackend::AnalogBackend(RunState& run, AnalogLoader load)
    : run_(run), load_(std::move(load)) {}

void AnalogBackend::OpenAll(WindowPort&) {
    if (loadTried_) return;
    const int last = std::clamp(run_.DeviceCount.load(), 0, kMaxSlots);
    bool needed = false;
    for (int s = 1; s <= last; ++s) needed = needed || IsAnalogSlot(run_, s);
    if (!needed) return;
    // One attempt for the life of the station, as for every vendor library.
    loadTried_ = true;
    library_ = load_ ? load_() : nullptr;
}

// The modules stay as they are; the library stays loaded.
void AnalogBackend::CloseAll() {}

devices::RequestOutcome AnalogBackend::Request(int, const devices::DeviceType&) {
    return devices::RequestOutcome::Sent;
}

devices::ReaderResult AnalogBackend::Read(int s, bool requested, const devices::DeviceType& type) {
    const AnalogRow& row = type.analog;
    // The modules are read only right after a request.
    if (!requested) {
        run_.ValueReady[s] = false;
        run_.ValueError[s] = false;
        run_.Value[s] = 0.0;
        return devices::kNoAnswer;
    }
    if (!library_ || row.sampleRuns <= 0) return devices::kNotOpen;
    Input input{0, 0, row.rangeCode};
    if (row.inputFromSlot) {
        input.board = BoardOf(run_.SerialNo[s].str());
        input.channel = ChannelOf(run_.Channel[s]);
    }
    double sum = 0.0;
    for (int run = 0; run < row.sampleRuns; ++run) {
        const std::optional<double> m = SampleInput(*library_, input);
        // The slot keeps its previous result.
        if (!m) return devices::kNoAnswer;
        sum += *m;
    }
    const double r = sum / row.sampleRuns;
    const double number = (r - row.zero) / row.divisor * row.multiplier;
    run_.Value[s] = number * run_.Factor[s] + run_.Offset[s];
    run_.SlotState[s] = SlotStage::Read;
    run_.ValueReady[s] = true;
    return devices::kValueStored;
}

}  // namespace karvelo::analog

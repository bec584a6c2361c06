#include "backends/ik220/card_backend.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "devices/catalogue.h"
#include "platform/numbers.h"

namespace karvelo::ik220 {
namespace {

using devices::DeviceTypeOf;
using devices::Transport;

bool IsCardSlot(const RunState& run, int s) {
    return DeviceTypeOf(run.DeviceType[s]).transport == Transport::CounterCard;
}

// "%s / %s / %s C:%d": type, port, serial number and channel, as the window
// shows a slot's row.
std::wstring SummaryOf(const RunState& run, int s) {
    std::wstring summary = run.TypeText[s].str();
    summary += L" / ";
    summary += run.PortText[s].str();
    summary += L" / ";
    summary += run.SerialNo[s].str();
    summary += L" C:";
    summary += platform::FormatInt(run.Channel[s]);
    return summary;
}

}  // namespace

std::optional<std::uint32_t> AxisIdOf(std::wstring_view serialNo) {
    const double number = platform::ParseDouble(serialNo);
    // Beyond 64 bits (or infinite) the truncation has no integer to give.
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    if (!std::isfinite(number) || number >= kLimit || number < -kLimit) return std::nullopt;
    const auto whole = static_cast<std::int64_t>(number);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
}

CardBackend::CardBackend(RunState& run, CardLoader load) : run_(run), load_(std::move(load)) {}

CardLibrary* CardBackend::Library() {
    // One attempt: a missing library stays missing until the station starts
    // again, and a loaded one is never unloaded.
    if (!loadTried_) {
        loadTried_ = true;
        library_ = load_ ? load_() : nullptr;
    }
    return library_.get();
}

bool CardBackend::FindAxes(std::uint32_t (&table)[kAxisTableEntries]) {
    std::fill(std::begin(table), std::end(table), 0u);
    CardLibrary* lib = Library();
    return lib != nullptr && lib->Find(table) != 0;
}

void CardBackend::OpenAll(WindowPort&) {
    const int last = std::clamp(run_.DeviceCount.load(), 0, kMaxSlots);
    bool needed = false;
    for (int s = 1; s <= last; ++s) needed = needed || IsCardSlot(run_, s);
    if (!needed) return;

    std::uint32_t table[kAxisTableEntries];
    const bool found = FindAxes(table);
    cardFound_ = found;
    // Without a card no slot is bound: its configured channel would only name
    // an axis it never asked for.
    for (int j = 1; j <= kMaxSlots; ++j) {
        if (!IsCardSlot(run_, j)) continue;
        run_.Channel[j] = -1;
        if (found) Bind(j, table);
    }
    for (int j = 1; j <= kMaxSlots; ++j) run_.DeviceSummary[j] = SummaryOf(run_, j);
}

void CardBackend::Bind(int j, const std::uint32_t (&table)[kAxisTableEntries]) {
    const std::optional<std::uint32_t> id = AxisIdOf(run_.SerialNo[j].str());
    if (!id) return;
    for (int i = 0; i < kCardAxes; ++i) {
        if (table[i] == 0 || table[i] != *id) continue;
        const auto axis = static_cast<std::uint16_t>(i);
        run_.Channel[j] = i;
        library_->Init(axis);
        switch (static_cast<EncoderInterface>(run_.Parameter[j].load())) {
            case EncoderInterface::OneVss:
                library_->WritePar(axis, 1, 0);
                library_->WritePar(axis, 2, 1);
                break;
            case EncoderInterface::ElevenMicroAmp:
                library_->WritePar(axis, 1, 0);
                library_->WritePar(axis, 2, 0);
                break;
            case EncoderInterface::EnDat:
                library_->WritePar(axis, 1, 1);
                break;
            case EncoderInterface::Ssi:
                library_->WritePar(axis, 1, 2);
                break;
        }
    }
}

// The card is never closed: the next open finds and sets up its axes again.
void CardBackend::CloseAll() {}

devices::RequestOutcome CardBackend::Request(int s, const devices::DeviceType&) {
    // A slot without a card axis is the card's own status check failing.
    return run_.Channel[s] < 0 ? devices::RequestOutcome::DeviceMissing
                               : devices::RequestOutcome::Sent;
}

void CardBackend::ClearSlot(int s) {
    run_.ValueReady[s] = false;
    run_.ValueError[s] = false;
    run_.Value[s] = 0.0;
}

devices::ReaderResult CardBackend::Read(int s, bool requested, const devices::DeviceType&) {
    // The card is read only right after a request.
    if (!requested) {
        ClearSlot(s);
        return devices::kNoAnswer;
    }
    // Found once means loaded for good: the library is never replaced.
    if (!cardFound_) return devices::kNotOpen;
    const int channel = run_.Channel[s];
    if (channel < 0 || channel >= kCardAxes) return devices::kMalformed;
    const auto axis = static_cast<std::uint16_t>(channel);

    double value = 0.0;
    int ok = 0;
    switch (static_cast<EncoderInterface>(run_.Parameter[s].load())) {
        case EncoderInterface::OneVss:
        case EncoderInterface::ElevenMicroAmp:
            ok = library_->Read48(axis, 0, &value);
            break;
        case EncoderInterface::EnDat:
        case EncoderInterface::Ssi: {
            std::uint32_t status = 0;
            std::uint32_t alarm = 0;
            ok = library_->ReadEn(axis, &status, &value, &alarm);
            break;
        }
        default:
            return devices::kMalformed;
    }
    if (ok == 0) {
        ClearSlot(s);
        return devices::kErrorMarker;
    }
    run_.Value[s] = value * run_.Factor[s] + run_.Offset[s];
    run_.SlotState[s] = SlotStage::Read;
    run_.ValueReady[s] = true;
    return devices::kValueStored;
}

std::vector<std::wstring> CardBackend::ListDevices(const devices::DeviceType& type) {
    std::vector<std::wstring> ids;
    if (type.transport != Transport::CounterCard) return ids;
    std::uint32_t table[kAxisTableEntries];
    if (!FindAxes(table)) return ids;
    for (int i = 0; i < kCardAxes; ++i) {
        if (table[i] != 0) ids.push_back(platform::FormatInt(table[i]));
    }
    return ids;
}

}  // namespace karvelo::ik220

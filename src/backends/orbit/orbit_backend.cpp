#include "backends/orbit/orbit_backend.h"

#include <cstdint>
#include <string>

#include "devices/catalogue.h"
#include "platform/numbers.h"

namespace karvelo::orbit {
namespace {

using devices::DeviceTypeOf;
using devices::Transport;

constexpr std::wstring_view kCaption = L"KARVELO";
constexpr std::wstring_view kNoLibrary = L"Load Orbit DLL";
constexpr std::wstring_view kNoNetwork = L"Orbit not exist!";

// The two mode settings every probe gets at the open, in this order.
struct ModeSetting {
    std::int32_t code;
    std::int32_t value;
};
constexpr ModeSetting kProbeModes[] = {{50, 64}, {51, 18}};

// A reading of 26214.4 counts is one unit.
constexpr double kCountsPerUnit = 26214.4;
constexpr std::int32_t kReadOk = 0;
// The probe's two out-of-range answers.
constexpr std::int32_t kOutOfRangeLow = 8466;
constexpr std::int32_t kOutOfRangeHigh = 8467;

bool IsOrbit(const RunState& run, int s) {
    return DeviceTypeOf(run.DeviceType[s]).transport == Transport::Orbit;
}

// The network a slot names: `sn` as a number, 0 when it holds none.
std::int32_t NetworkOf(const RunState& run, int s) {
    return platform::ParseInt(run.SerialNo[s].str());
}

void ClearSlot(RunState& run, int s) {
    run.ValueReady[s] = false;
    run.ValueError[s] = false;
    run.Value[s] = 0.0;
}

}  // namespace

OrbitBackend::OrbitBackend(RunState& run, OrbitLoader load) : run_(run), load_(std::move(load)) {}

void OrbitBackend::OpenAll(WindowPort& window) {
    bool needed = false;
    for (int s = 1; s <= run_.DeviceCount && s <= kMaxSlots; ++s)
        needed = needed || IsOrbit(run_, s);
    if (!needed) return;

    ready_ = false;
    std::unique_ptr<OrbitLibrary> loaded = load_ ? load_() : nullptr;
    if (!loaded) {
        window.MessageBox(kCaption, kNoLibrary, MessageIcon::Error);
        return;
    }
    if (const std::wstring problem = loaded->Problem(); !problem.empty()) {
        window.MessageBox(kCaption, std::wstring(kNoLibrary) + L": " + problem, MessageIcon::Error);
        return;
    }
    // The acquisition is paused: no read goes through the library replaced here.
    library_ = std::move(loaded);

    std::int32_t count = 0;
    if (library_->ConnectToOrbitNetworks(&count) != 0 || count < 1) {
        window.MessageBox(kCaption, kNoNetwork, MessageIcon::Error);
        return;
    }
    for (std::int32_t n = 0; n < count; ++n) library_->OrbitRst(n);
    // Every Orbit slot of the table, also those beyond the slots in use.
    for (int s = 1; s <= kMaxSlots; ++s) {
        if (!IsOrbit(run_, s)) continue;
        const std::int32_t network = NetworkOf(run_, s);
        for (ModeSetting m : kProbeModes) {
            library_->OrbitSetmode(network, run_.Channel[s], &m.code, &m.value);
        }
    }
    ready_ = true;
}

devices::RequestOutcome OrbitBackend::Request(int, const devices::DeviceType&) {
    // The probe is read without a trigger.
    return devices::RequestOutcome::Sent;
}

devices::ReaderResult OrbitBackend::Read(int s, bool requested, const devices::DeviceType&) {
    if (!requested) {
        ClearSlot(run_, s);
        return devices::kNoAnswer;
    }
    if (!ready_) {
        ClearSlot(run_, s);
        return devices::kErrorMarker;
    }
    std::int32_t reading = 0;
    const std::int32_t status = library_->OrbitRead2(NetworkOf(run_, s), run_.Channel[s], &reading);
    if (status == kReadOk) {
        run_.Value[s] = reading / kCountsPerUnit * run_.Factor[s] + run_.Offset[s];
        run_.SlotState[s] = SlotStage::Read;
        run_.ValueReady[s] = true;
        return devices::kValueStored;
    }
    ClearSlot(run_, s);
    return status == kOutOfRangeLow || status == kOutOfRangeHigh ? devices::kOutOfRange
                                                                 : devices::kErrorMarker;
}

}  // namespace karvelo::orbit

#pragma once
// Small helpers the serial readers share: slot bounds, the slot's result
// fields and the test for slots that share one instrument.

#include <cmath>
#include <optional>

#include "app/run_state.h"
#include "devices/device_handles.h"
#include "devices/serial_line.h"

namespace karvelo::devices::readers {

// Entries 0..10 of the per-slot arrays; anything else is never indexed.
inline bool IsSlotEntry(int s) {
    return s >= 0 && s <= kMaxSlots;
}

// The slot's open port, or null (also for an index outside the arrays).
inline SerialLine* PortOf(int s) {
    return IsSlotEntry(s) ? g_devices.SlotPort[s] : nullptr;
}

// A failed read leaves nothing to show.
inline void ClearResults(int s) {
    g_run.ValueReady[s] = false;
    g_run.ValueError[s] = false;
    g_run.Value[s] = 0.0;
}

// A converted reading scaled with the slot's own factor (and offset); nullopt
// when that is no finite number: an exponent such as 1e999 in the reply, or a
// reading the slot's scale takes beyond the range of a double.
inline std::optional<double> Scaled(int s, double raw, bool withOffset = true) {
    const double value = raw * g_run.Factor[s].load() + (withOffset ? g_run.Offset[s].load() : 0.0);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

// A scaled value for the slot, done for this cycle.
inline void StoreValue(int s, double value) {
    g_run.Value[s] = value;
    g_run.ValueError[s] = false;
    g_run.ValueReady[s] = true;
    g_run.SlotState[s] = 2;
}

// Slot d is served by the same instrument as slot s (same type on the same
// COM port) and has not been read in this cycle yet.
inline bool IsOpenSibling(int d, int s) {
    return g_run.DeviceType[d].load() == g_run.DeviceType[s].load() &&
           g_run.Port[d].load() == g_run.Port[s].load() && g_run.SlotState[d].load() != 2;
}

}  // namespace karvelo::devices::readers

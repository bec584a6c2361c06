#pragma once
// The open ports of the slots: created by the serial back-end's open, released
// by its close. Only the user-interface thread changes the table, and only
// while the acquisition thread is paused; the acquisition thread uses it.

#include <memory>

#include "backends/serial/serial_line.h"
#include "state/run_state.h"

namespace karvelo::serial {

struct PortTable {
    // The port of each serial slot 1..10, or null. Slots that share one
    // instrument point to the same object.
    SerialLine* SlotPort[kSlotEntries] = {};
    // Owners of the ports above: each opened port is owned by exactly one entry
    // (the slot that opened it), so a shared port is closed and destroyed once.
    std::unique_ptr<SerialLine> OwnedPort[kSlotEntries];

    // The port of slot s, or null (also for an index outside the table).
    SerialLine* PortOf(int s) const { return s >= 0 && s <= kMaxSlots ? SlotPort[s] : nullptr; }
};

}  // namespace karvelo::serial

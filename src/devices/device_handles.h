#pragma once
// The per-slot device handles created by the open of all devices and released
// by their close. Only the user-interface thread changes them, and only while
// the acquisition thread is paused; the acquisition thread uses them.

#include <memory>

#include "app/run_state.h"
#include "devices/serial_line.h"

namespace karvelo::devices {

struct DeviceHandles {
    // The port of each serial slot 1..10, or null. Slots that share one
    // instrument point to the same object.
    SerialLine* SlotPort[kSlotEntries] = {};
    // Owners of the ports above: each opened port is owned by exactly one entry
    // (the slot that opened it), so a shared port is closed and destroyed once.
    std::unique_ptr<SerialLine> OwnedPort[kSlotEntries];
};

extern DeviceHandles g_devices;

}  // namespace karvelo::devices

#pragma once
// The wiring check a technician runs before a shift: open the devices of the
// active configuration, request and read one slot once, report what came back.

#include <string>

#include "devices/device_set.h"
#include "state/window_port.h"

namespace karvelo::app {

struct ProbeOutcome {
    int result = 0;      // the read dispatch's result for the slot
    std::string report;  // "Slot<s>.<Field>=value" lines
};

// Loads nothing: the configuration must be loaded. Opens all devices, requests
// slot s with its closing wait, reads it as right after a request, formats the
// record text of every slot the read filled, closes all devices.
ProbeOutcome ProbeSlot(int slot, WindowPort& window, devices::DeviceSet& devices);

}  // namespace karvelo::app

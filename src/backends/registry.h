#pragma once
// The one list of the station's back-ends, one per transport, in the order in
// which they open their devices: serial ports first, then the FTDI adapters,
// the counter card, the Orbit network, the Marposs box, the measuring bus and
// the analog inputs.

#include <memory>
#include <vector>

#include "backends/serial/serial_backend.h"
#include "devices/backend.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::backends {

// The back-ends of the station. Serial ports come from `openPort` (the real
// ones from serial::TtyPortFactory). `window` must outlive the back-ends (the
// Marposs read goes through its timer 8).
std::vector<std::unique_ptr<devices::Backend>> StationBackends(RunState& run, WindowPort& window,
                                                               serial::PortFactory openPort);

}  // namespace karvelo::backends

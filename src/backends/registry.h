#pragma once
// The one list of the station's back-ends, one per transport, in the order in
// which they open their devices: serial ports first, then the FTDI adapters,
// the counter card, the Orbit network, the Marposs box, the measuring bus and
// the analog inputs.

#include <memory>
#include <vector>

#include "backends/analog/analog_library.h"
#include "backends/ftdi/d2xx_library.h"
#include "backends/ibrit/bus_library.h"
#include "backends/ik220/card_library.h"
#include "backends/marposs/marposs_library.h"
#include "backends/orbit/orbit_library.h"
#include "backends/serial/serial_backend.h"
#include "devices/backend.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::backends {

// Where the back-ends get their devices: the real ones for the station, fakes
// or simulators in tests.
struct DeviceSources {
    serial::PortFactory openPort;  // serial ports (the real ones: serial::TtyPortFactory)
    ftdi::D2xxLoader loadD2xx;     // the D2XX library (the real one: ftdi::LoadD2xx)
    // The vendor libraries; an empty loader or a null library: none installed.
    ik220::CardLoader loadCard;
    orbit::OrbitLoader loadOrbit;
    marposs::MarpossLoader loadMarposs;
    ibrit::BusLoader loadBus;
    analog::AnalogLoader loadAnalog;
};

// The station's own sources for the configuration in `run`.
DeviceSources StationSources(const RunState& run);

// The back-ends of the station. `window` must outlive the back-ends (the
// Marposs read goes through its timer 8).
std::vector<std::unique_ptr<devices::Backend>> StationBackends(RunState& run, WindowPort& window,
                                                               DeviceSources sources);

}  // namespace karvelo::backends

#pragma once
// The station's device set: every back-end of backends/registry.cpp, and the
// text slots' file sources.

#include <memory>

#include "devices/device_set.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::app {

// `window` must outlive the set.
std::unique_ptr<devices::DeviceSet> MakeStationDevices(RunState& run, WindowPort& window);

}  // namespace karvelo::app

#include "app/station_devices.h"

#include "backends/registry.h"
#include "export/text_sources.h"

namespace karvelo::app {

std::unique_ptr<devices::DeviceSet> MakeStationDevices(RunState& run, WindowPort& window) {
    return std::make_unique<devices::DeviceSet>(
        run, backends::StationBackends(run, window, backends::StationSources(run)),
        [&window](int slot) { return exports::ReadSlotText(slot, window); });
}

}  // namespace karvelo::app

#include "backends/registry.h"

#include "backends/analog/analog_backend.h"
#include "backends/ftdi/ftdi_backend.h"
#include "backends/ibrit/bus_backend.h"
#include "backends/ik220/card_backend.h"
#include "backends/marposs/marposs_backend.h"
#include "backends/orbit/orbit_backend.h"
#include "state/marposs_handover.h"

namespace karvelo::backends {

DeviceSources StationSources(const RunState& run) {
    DeviceSources sources;
    sources.openPort = serial::TtyPortFactory(run);
    sources.loadD2xx = [] { return ftdi::LoadD2xx(); };
    sources.loadCard = [] { return ik220::LoadCardLibrary(); };
    sources.loadOrbit = [] { return orbit::LoadOrbitLibrary(); };
    sources.loadMarposs = [] { return marposs::LoadMarpossLibrary(); };
    sources.loadBus = [] { return ibrit::LoadBusDriver(); };
    sources.loadAnalog = [] { return analog::LoadAnalogLibrary(); };
    return sources;
}

std::vector<std::unique_ptr<devices::Backend>> StationBackends(RunState& run, WindowPort& window,
                                                               DeviceSources sources) {
    std::vector<std::unique_ptr<devices::Backend>> list;
    list.push_back(std::make_unique<serial::SerialBackend>(run, std::move(sources.openPort)));
    list.push_back(std::make_unique<ftdi::FtdiBackend>(run, std::move(sources.loadD2xx)));
    list.push_back(std::make_unique<ik220::CardBackend>(run, std::move(sources.loadCard)));
    list.push_back(std::make_unique<orbit::OrbitBackend>(run, std::move(sources.loadOrbit)));
    list.push_back(std::make_unique<marposs::MarpossBackend>(run, g_marposs, window,
                                                             std::move(sources.loadMarposs)));
    list.push_back(std::make_unique<ibrit::BusBackend>(run, std::move(sources.loadBus)));
    list.push_back(std::make_unique<analog::AnalogBackend>(run, std::move(sources.loadAnalog)));
    return list;
}

}  // namespace karvelo::backends

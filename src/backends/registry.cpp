#include "backends/registry.h"

#include "backends/ftdi/ftdi_backend.h"
#include "backends/marposs/marposs_backend.h"
#include "backends/not_built_backend.h"
#include "state/marposs_handover.h"

namespace karvelo::backends {

using devices::Transport;

DeviceSources StationSources(const RunState& run) {
    return {serial::TtyPortFactory(run), [] { return ftdi::LoadD2xx(); }};
}

std::vector<std::unique_ptr<devices::Backend>> StationBackends(RunState& run, WindowPort& window,
                                                               DeviceSources sources) {
    std::vector<std::unique_ptr<devices::Backend>> list;
    list.push_back(std::make_unique<serial::SerialBackend>(run, std::move(sources.openPort)));
    list.push_back(std::make_unique<ftdi::FtdiBackend>(run, std::move(sources.loadD2xx)));
    list.push_back(std::make_unique<NotBuiltBackend>(run, Transport::CounterCard));
    list.push_back(std::make_unique<NotBuiltBackend>(run, Transport::Orbit));
    list.push_back(std::make_unique<MarpossBackend>(g_marposs, window));
    list.push_back(std::make_unique<NotBuiltBackend>(run, Transport::IbritBus));
    list.push_back(std::make_unique<NotBuiltBackend>(run, Transport::AnalogInput));
    return list;
}

}  // namespace karvelo::backends

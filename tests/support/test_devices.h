#pragma once
// The station's device set with every back-end of the registry, except that
// serial ports come from the test (scripted ports handed to slots directly, or
// a factory that stands in for opening them) and FTDI adapters from a fake
// D2XX library (none by default).

#include <memory>
#include <utility>

#include "backends/registry.h"
#include "backends/serial/serial_backend.h"
#include "devices/device_set.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::testing {

// A factory that never opens a port.
inline serial::PortFactory NoPorts() {
    return [](const serial::LineProfile&, int) { return std::unique_ptr<serial::SerialLine>(); };
}

// A D2XX library without adapters.
inline ftdi::D2xxLoader NoAdapters() {
    return [] { return ftdi::NoAdapters(); };
}

class TestDevices {
  public:
    TestDevices(RunState& run, WindowPort& window, serial::PortFactory openPort = NoPorts(),
                devices::DeviceSet::TextSlotReader textReader = {},
                ftdi::D2xxLoader loadD2xx = NoAdapters())
        : set(run,
              backends::StationBackends(run, window,
                                        Sources(std::move(openPort), std::move(loadD2xx))),
              std::move(textReader)) {}

    // Serial ports and FTDI adapters as given, no vendor library installed.
    static backends::DeviceSources Sources(serial::PortFactory openPort,
                                           ftdi::D2xxLoader loadD2xx = NoAdapters()) {
        backends::DeviceSources sources;
        sources.openPort = std::move(openPort);
        sources.loadD2xx = std::move(loadD2xx);
        return sources;
    }

    serial::PortTable& ports() {
        return static_cast<serial::SerialBackend&>(*set.BackendFor(devices::Transport::SerialCom))
            .ports();
    }

    devices::DeviceSet set;
};

}  // namespace karvelo::testing

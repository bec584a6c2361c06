#pragma once
// Solartron Orbit probes: a slot names the network in `sn` and the probe in
// `ch`.

#include <memory>

#include "backends/orbit/orbit_library.h"
#include "devices/backend.h"
#include "state/run_state.h"

namespace karvelo::orbit {

class OrbitBackend : public devices::Backend {
  public:
    OrbitBackend(RunState& run, OrbitLoader load);

    devices::Transport transport() const override { return devices::Transport::Orbit; }
    void OpenAll(WindowPort& window) override;
    void CloseAll() override;
    devices::RequestOutcome Request(int slot, const devices::DeviceType& type) override;
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;

  private:
    RunState& run_;
    OrbitLoader load_;
    std::unique_ptr<OrbitLibrary> library_;
};

}  // namespace karvelo::orbit

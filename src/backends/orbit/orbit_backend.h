#pragma once
// Solartron Orbit probes: a slot names the network in `sn` and the probe in
// `ch`. The open loads the library, connects the networks, resets each and
// puts every Orbit slot's probe into the station's reading mode; a probe is
// read only right after a request.

#include <atomic>
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
    // The networks stay connected and the probes keep their mode.
    void CloseAll() override {}
    devices::RequestOutcome Request(int slot, const devices::DeviceType& type) override;
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;

    bool ready() const { return ready_; }

  private:
    RunState& run_;
    OrbitLoader load_;
    // Kept for the life of the back-end once loaded: the networks stay
    // connected through it.
    std::unique_ptr<OrbitLibrary> library_;
    // Set by the open (user-interface thread), read by the acquisition thread.
    std::atomic<bool> ready_{false};
};

}  // namespace karvelo::orbit

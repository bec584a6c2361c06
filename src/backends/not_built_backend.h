#pragma once
// The stand-in for a transport whose back-end this build does not have yet
// (the counter card, the measuring bus, analog inputs, the
// Orbit network): it opens nothing and its slots report their missing-device
// words, as an instrument that is not plugged in would. Its real back-end
// replaces it in backends/registry.cpp.

#include "devices/backend.h"
#include "state/run_state.h"

namespace karvelo::backends {

class NotBuiltBackend : public devices::Backend {
  public:
    NotBuiltBackend(RunState& run, devices::Transport transport)
        : run_(run), transport_(transport) {}

    devices::Transport transport() const override { return transport_; }
    void OpenAll(WindowPort&) override {}
    void CloseAll() override {}
    devices::RequestOutcome Request(int slot, const devices::DeviceType& type) override;
    devices::ReaderResult Read(int, bool, const devices::DeviceType&) override {
        return devices::kNotOpen;
    }

  private:
    RunState& run_;
    devices::Transport transport_;
};

}  // namespace karvelo::backends

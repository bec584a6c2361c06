#pragma once
// The IBRit measuring bus: a slot reads channel `ch` of bus 1 to 8 (its row's
// bus number) after the request has latched the bus.

#include <memory>

#include "backends/ibrit/bus_library.h"
#include "devices/backend.h"
#include "state/run_state.h"

namespace karvelo::ibrit {

class BusBackend : public devices::Backend {
  public:
    BusBackend(RunState& run, BusLoader load);

    devices::Transport transport() const override { return devices::Transport::IbritBus; }
    void OpenAll(WindowPort& window) override;
    void CloseAll() override;
    devices::RequestOutcome Request(int slot, const devices::DeviceType& type) override;
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;

  private:
    RunState& run_;
    BusLoader load_;
    std::unique_ptr<BusDriver> library_;
};

}  // namespace karvelo::ibrit

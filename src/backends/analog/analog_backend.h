#pragma once
// Measurement Computing analog input modules: a reading takes several
// conversions and drops the one farthest from the others.

#include <memory>

#include "backends/analog/analog_library.h"
#include "devices/backend.h"
#include "state/run_state.h"

namespace karvelo::analog {

class AnalogBackend : public devices::Backend {
  public:
    AnalogBackend(RunState& run, AnalogLoader load);

    devices::Transport transport() const override { return devices::Transport::AnalogInput; }
    void OpenAll(WindowPort& window) override;
    void CloseAll() override;
    devices::RequestOutcome Request(int slot, const devices::DeviceType& type) override;
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;

  private:
    RunState& run_;
    AnalogLoader load_;
    std::unique_ptr<AnalogLibrary> library_;
};

}  // namespace karvelo::analog

#pragma once
// Measurement Computing analog input modules: a reading takes several
// conversions and drops the one farthest from the others. The modules are
// never opened or closed; the library is loaded at the first open that has an
// analog slot and stays.

#include <memory>
#include <string_view>

#include "backends/analog/analog_library.h"
#include "backends/analog/sampling.h"
#include "devices/backend.h"
#include "state/run_state.h"

namespace karvelo::analog {

// The board a slot's `sn` names: the first 15 characters read as a whole
// number; no number or a negative one gives board 0.
int BoardOf(std::wstring_view serialNo);
// The input a slot's `ch` names, as a 16-bit signed number; negative gives 0.
int ChannelOf(int channel);

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
    // Set while the acquisition is paused, before any analog slot is read.
    std::unique_ptr<AnalogLibrary> library_;
    bool loadTried_ = false;
};

}  // namespace karvelo::analog

#pragma once
// The IBRit measuring bus: a slot reads channel `ch` of bus 1 to 8 (its row's
// bus number) after the request has latched the bus. One driver serves every
// bus; it is loaded and initialised when some slot uses the bus, with the bus
// configuration the driver keeps in "ibr.ddk" in the configuration folder.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "backends/ibrit/bus_library.h"
#include "devices/backend.h"
#include "state/run_state.h"

namespace karvelo::ibrit {

// "No new value" answers served as "stored", over all bus slots together,
// before a slot still showing a value is cleared.
inline constexpr std::int32_t kMaxStoredAnswers = 30;

class BusBackend : public devices::Backend {
  public:
    // `folder` holds the driver's "ibr.ddk"; empty: the configuration folder.
    BusBackend(RunState& run, BusLoader load, std::string folder = {});
    ~BusBackend() override;

    devices::Transport transport() const override { return devices::Transport::IbritBus; }
    void OpenAll(WindowPort& window) override;
    void CloseAll() override;
    devices::RequestOutcome Request(int slot, const devices::DeviceType& type) override;
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;

    // Runs the driver's own setup dialog over `parentWindow` (the device
    // dialog's "IBRIT>>" button). The driver is not initialised again here:
    // the next OpenAll does that. False when there is no driver to ask.
    bool Setup(std::uintptr_t parentWindow);
    void ShowSetup(std::uintptr_t parentWindow) override { Setup(parentWindow); }

    bool ready() const { return busReady_; }
    std::int32_t staleCount() const { return busStaleCount_; }

  private:
    BusDriver* Driver();
    std::string ConfigurationPath() const;
    void ClearSlot(int s);

    RunState& run_;
    BusLoader load_;
    std::string folder_;
    std::unique_ptr<BusDriver> driver_;
    // Written by open and close on the user-interface thread, read by the
    // acquisition thread.
    std::atomic<bool> busReady_{false};
    std::atomic<std::int32_t> busStaleCount_{0};
};

}  // namespace karvelo::ibrit

#pragma once
// The Marposs EasyBox. Its library may only be called on the user-interface
// thread, so a read hands the slot to the window's timer 8 and waits for the
// answer (state/marposs_handover.h), keeping its own events flowing. The open
// initialises the library on the user-interface thread and, when it reports
// ready, lends it to the hand-over until the close.

#include <memory>

#include "backends/marposs/marposs_library.h"
#include "devices/backend.h"
#include "state/marposs_handover.h"
#include "state/run_state.h"

namespace karvelo::marposs {

class MarpossBackend : public devices::Backend {
  public:
    // `window` carries the read to its timer 8 and must outlive the back-end.
    MarpossBackend(RunState& run, MarpossHandover& handover, WindowPort& window, MarpossLoader load)
        : run_(run), handover_(handover), window_(window), load_(std::move(load)) {}
    ~MarpossBackend() override;
    MarpossBackend(const MarpossBackend&) = delete;
    MarpossBackend& operator=(const MarpossBackend&) = delete;

    devices::Transport transport() const override { return devices::Transport::Marposs; }
    void OpenAll(WindowPort& window) override;
    void CloseAll() override;
    devices::RequestOutcome Request(int, const devices::DeviceType&) override {
        return devices::RequestOutcome::Sent;
    }
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;

  private:
    RunState& run_;
    MarpossHandover& handover_;
    WindowPort& window_;
    MarpossLoader load_;
    // Loaded at the first open that needs it and kept: the wrapper is meant
    // to stay in the process once it is there.
    std::unique_ptr<MarpossLibrary> library_;
};

}  // namespace karvelo::marposs

#pragma once
// The Marposs EasyBox. Its library may only be called on the user-interface
// thread, so a read hands the slot to the window's timer 8 and waits for the
// answer (state/marposs_handover.h), keeping its own events flowing.

#include "devices/backend.h"
#include "state/marposs_handover.h"

namespace karvelo::backends {

class MarpossBackend : public devices::Backend {
  public:
    // `window` carries the read to its timer 8 and must outlive the back-end.
    MarpossBackend(MarpossHandover& handover, WindowPort& window)
        : handover_(handover), window_(window) {}

    devices::Transport transport() const override { return devices::Transport::Marposs; }
    void OpenAll(WindowPort&) override {}
    void CloseAll() override {}
    devices::RequestOutcome Request(int, const devices::DeviceType&) override {
        return devices::RequestOutcome::Sent;
    }
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;

  private:
    MarpossHandover& handover_;
    WindowPort& window_;
};

}  // namespace karvelo::backends

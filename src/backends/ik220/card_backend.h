#pragma once
// The Heidenhain IK220 counter card: a slot binds to the card axis whose
// identification number its `sn` holds. The card needs no request; it is read
// right after the request pass.

#include <memory>

#include "backends/ik220/card_library.h"
#include "devices/backend.h"
#include "state/run_state.h"

namespace karvelo::ik220 {

class CardBackend : public devices::Backend {
  public:
    CardBackend(RunState& run, CardLoader load);

    devices::Transport transport() const override { return devices::Transport::CounterCard; }
    void OpenAll(WindowPort& window) override;
    void CloseAll() override;
    devices::RequestOutcome Request(int slot, const devices::DeviceType& type) override;
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;

  private:
    RunState& run_;
    CardLoader load_;
    std::unique_ptr<CardLibrary> library_;
};

}  // namespace karvelo::ik220

#pragma once
// The Heidenhain IK220 counter card: a slot binds to the card axis whose
// identification number its `sn` holds, and `parameter` chooses the axis's
// encoder interface. The card needs no request; it is read right after the
// request pass. The library, once loaded, stays for the life of the station:
// the card is never closed.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backends/ik220/card_library.h"
#include "devices/backend.h"
#include "state/run_state.h"

namespace karvelo::ik220 {

// Axes of one card the station binds slots to.
inline constexpr int kCardAxes = 8;

// The encoder interface of an axis (key `parameter`).
enum class EncoderInterface : std::int32_t {
    OneVss = 0,          // "1Vss"
    ElevenMicroAmp = 1,  // "11µA"
    EnDat = 2,           // "EnDat"
    Ssi = 3,             // "SSI"
};

// The identification number a slot's `sn` names: the text read as a number,
// truncated, its low 32 bits ("12345.9" names 12345). None when the text is no
// finite number within 64 bits.
std::optional<std::uint32_t> AxisIdOf(std::wstring_view serialNo);

class CardBackend : public devices::Backend {
  public:
    CardBackend(RunState& run, CardLoader load);

    devices::Transport transport() const override { return devices::Transport::CounterCard; }
    void OpenAll(WindowPort& window) override;
    void CloseAll() override;
    devices::RequestOutcome Request(int slot, const devices::DeviceType& type) override;
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;
    // The identification numbers of the card's axes, in axis order, as decimal
    // text; empty when there is no card.
    std::vector<std::wstring> ListDevices(const devices::DeviceType& type) override;

  private:
    CardLibrary* Library();
    // Fills `table` from the card; false when there is none.
    bool FindAxes(std::uint32_t (&table)[kAxisTableEntries]);
    void Bind(int s, const std::uint32_t (&table)[kAxisTableEntries]);
    void ClearSlot(int s);

    RunState& run_;
    CardLoader load_;
    std::unique_ptr<CardLibrary> library_;
    bool loadTried_ = false;
    // Set by the open on the user-interface thread, read by the acquisition
    // thread.
    std::atomic<bool> cardFound_{false};
};

}  // namespace karvelo::ik220

#pragma once
// The FTDI back-end: instruments behind FTDI USB adapters (MAHR 16EXu, the PU
// interfaces, MFP Control). A slot finds its adapter by the description the
// adapter reports and, when the slot names one, by serial number; slots of
// one type with the same serial-number text share the adapter, and one reply
// fills them all. The D2XX library is loaded the first time a slot needs it.

#include <memory>
#include <string>
#include <vector>

#include "backends/ftdi/adapter_table.h"
#include "backends/ftdi/d2xx.h"
#include "backends/ftdi/d2xx_library.h"
#include "devices/backend.h"
#include "state/run_state.h"

namespace karvelo::ftdi {

class FtdiBackend : public devices::Backend {
  public:
    FtdiBackend(RunState& run, D2xxLoader load);
    ~FtdiBackend() override;

    devices::Transport transport() const override { return devices::Transport::FtdiUsb; }
    void OpenAll(WindowPort& window) override;
    void CloseAll() override;
    devices::RequestOutcome Request(int slot, const devices::DeviceType& type) override;
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;
    // The serial numbers of the adapters a slot of `type` could use, in
    // device-index order (related models included).
    std::vector<std::wstring> ListDevices(const devices::DeviceType& type) override;

    const AdapterTable& adapters() const { return adapters_; }

  private:
    D2xx& Api();
    void OpenSlot(int s, const devices::DeviceType& type);
    void ShowProblems(WindowPort& window);

    RunState& run_;
    D2xxLoader load_;
    std::unique_ptr<D2xx> api_;
    AdapterTable adapters_;
};

}  // namespace karvelo::ftdi

#pragma once
// The serial back-end: instruments on COM ports. One port per COM number and
// type, shared by the slots of that type; two types on one COM number are
// refused with a message. Requests and readers are the rows' own.

#include <functional>
#include <memory>

#include "backends/serial/line_settings.h"
#include "backends/serial/port_table.h"
#include "backends/serial/serial_line.h"
#include "devices/backend.h"
#include "state/run_state.h"

namespace karvelo::serial {

// Creates and opens a port with a line profile; null when it cannot be opened.
using PortFactory =
    std::function<std::unique_ptr<SerialLine>(const LineProfile& profile, int comNumber)>;

// The real ports: COM n is the device that ComDevicePath maps it to with the
// [PORTS] section of the main configuration file named in `run`.
PortFactory TtyPortFactory(const RunState& run);

class SerialBackend : public devices::Backend {
  public:
    SerialBackend(RunState& run, PortFactory openPort);

    devices::Transport transport() const override { return devices::Transport::SerialCom; }
    void OpenAll(WindowPort& window) override;
    void CloseAll() override;
    devices::RequestOutcome Request(int slot, const devices::DeviceType& type) override;
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;

    // The open ports, for the readers (and tests that hand them ports).
    PortTable& ports() { return ports_; }

  private:
    RunState& run_;
    PortFactory openPort_;
    PortTable ports_;
};

}  // namespace karvelo::serial

#pragma once
// The serial back-end: instruments on COM ports. One port per COM number and
// type, shared by the slots of that type; two types on one COM number are
// refused with a message. Requests and readers are the rows' own.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "backends/serial/line_settings.h"
#include "backends/serial/port_table.h"
#include "backends/serial/serial_line.h"
#include "devices/backend.h"
#include "state/run_state.h"

namespace karvelo::serial {

// Creates and opens a port with a line profile; null when it cannot be opened.
using PortFactory =
    std::function<std::unique_ptr<SerialLine>(const LineProfile& profile, int comNumber)>;

// Where the back-end says, in one line, that a port's problem began, changed
// or ended.
using ProblemReport = std::function<void(const std::string& line)>;
// Writes the line to standard error with the program's name in front.
void ReportOnStandardError(const std::string& line);

// The time that spaces the reopen attempts of a port.
using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

// The real ports: COM n is the device that ComDevicePath maps it to with the
// [PORTS] section of the main configuration file named in `run`. A port that
// cannot be opened is returned all the same, with its problem, so that it can
// be reopened once the device is there.
PortFactory TtyPortFactory(const RunState& run);

// A port that cannot be used (not there, not permitted, busy, unplugged) is
// tried again at most once a second, on the acquisition thread that requests
// and reads it; meanwhile its slots show their missing-device word. Its
// problem is kept in PortProblem of each of its slots and reported when it
// changes.
class SerialBackend : public devices::Backend {
  public:
    SerialBackend(RunState& run, PortFactory openPort, ProblemReport report = ReportOnStandardError,
                  SteadyNow now = std::chrono::steady_clock::now);

    devices::Transport transport() const override { return devices::Transport::SerialCom; }
    void OpenAll(WindowPort& window) override;
    void CloseAll() override;
    devices::RequestOutcome Request(int slot, const devices::DeviceType& type) override;
    devices::ReaderResult Read(int slot, bool requested, const devices::DeviceType& type) override;

    // The open ports, for the readers (and tests that hand them ports).
    PortTable& ports() { return ports_; }

  private:
    // The port of slot s when it can be used now, after a reopen attempt if
    // one is due; null otherwise.
    SerialLine* UsablePort(int s, const devices::DeviceType& type);
    // Publishes the problem of the port that slot `owner` opened to every slot
    // that uses it, and reports a change.
    void Publish(int owner);
    int OwnerOf(const SerialLine* port) const;

    RunState& run_;
    PortFactory openPort_;
    ProblemReport report_;
    SteadyNow now_;
    PortTable ports_;
    // Per owning slot: the last open attempt and the problem last published.
    std::chrono::steady_clock::time_point lastAttempt_[kSlotEntries] = {};
    PortProblem published_[kSlotEntries] = {};
};

}  // namespace karvelo::serial

#pragma once
// What requests and readers need of an open serial port. zento_com implements
// it on a tty; unit tests use a scripted port.

#include <cstdint>
#include <optional>
#include <span>

#include "backends/serial/port_problem.h"

namespace karvelo::serial {

class SerialLine {
  public:
    virtual ~SerialLine() = default;

    // One synchronous write; true when every byte was written within the write
    // time-out (1000 ms). Callers ignore failures: the read that follows times out.
    virtual bool Write(std::span<const std::uint8_t> bytes) = 0;

    // Fetches and clears the driver's error state; true when the line is
    // disturbed (a frame, parity, overrun or break error; a receive-queue
    // overflow alone does not count).
    virtual bool LineError() = 0;

    // The single-byte read every reader uses: the line-error check above, then
    // one byte within the 200 ms read time-out. nullopt when the line was
    // disturbed or no byte arrived.
    virtual std::optional<std::uint8_t> ReadByte() = 0;

    // Discards everything queued in both directions.
    virtual void Purge() = 0;

    // Line control, one driver call each. Calls the device does not support are
    // ignored.
    virtual void SetRts(bool on) = 0;
    virtual void SetDtr(bool on) = 0;
    virtual void SetBreak(bool on) = 0;

    // Why the port cannot be used now; None while it can. A port that hangs up
    // while in use reports HungUp from then on and does nothing more.
    virtual PortProblem Problem() const { return PortProblem::None; }
    // Opens the port again after a problem, with the settings of its first
    // open; true when it is usable now.
    virtual bool Reopen() { return Problem() == PortProblem::None; }
};

}  // namespace karvelo::serial

#pragma once
// What requests and readers need of an open serial port. zento_com implements
// it on a tty; unit tests use a scripted port.

#include <cstdint>
#include <optional>
#include <span>

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
};

}  // namespace karvelo::serial

#pragma once
// zento_com: the station's serial port, a tty configured with the line profile
// of an instrument type. Opened by COM number (mapped to a device path by
// ComDevicePath), exclusively; all reads and writes are synchronous and come
// from one thread at a time.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "devices/serial_line.h"

namespace karvelo::devices {

// One line profile: the settings of a type's port and the line actions
// performed after they are applied (or, for ALMEMO, DTR before).
enum class Parity : std::uint8_t { None, Even, Odd };
enum class LineAction : std::uint8_t { None, SetRts, ClearRts, SetDtr, ClearDtr };

struct LineProfile {
    int number;
    int baud;
    int dataBits;
    Parity parity;
    int stopBits;
    LineAction before[2];  // performed before the settings are applied
    LineAction after[2];   // performed after, in order
};

// The profile of that number, or nullptr when the table has none.
const LineProfile* FindLineProfile(int profile);

// The device path of COM n (1..98): key "COM<n>" of section PORTS in the main
// configuration file, else COM1..32 = /dev/ttyS0..31, COM33..64 =
// /dev/ttyUSB0..31, COM65..98 = /dev/ttyACM0..33. Empty for other numbers.
std::string ComDevicePath(int comNumber);

class zento_com : public SerialLine {
public:
    zento_com() = default;
    ~zento_com() override;
    zento_com(const zento_com&) = delete;
    zento_com& operator=(const zento_com&) = delete;

    // Opens COM comNumber with the line profile; false (and closed) when the
    // number is 0, the device is missing or busy, or the profile is unknown.
    bool open(int profile, int comNumber);
    // Applies a line profile to the open port; false for an unknown profile
    // (the port's settings stay as they were).
    bool configure(int profile);
    // Back to closed; harmless when already closed.
    void close();
    bool isOpen() const { return fd_ >= 0; }

    bool Write(std::span<const std::uint8_t> bytes) override;
    bool LineError() override;
    std::optional<std::uint8_t> ReadByte() override;
    void Purge() override;
    void SetRts(bool on) override;
    void SetDtr(bool on) override;
    void SetBreak(bool on) override;

private:
    int fd_ = -1;
    // Error counters at the last check (frame, parity, overrun, break), to
    // tell new line errors from old ones.
    std::uint32_t frameErrors_ = 0;
    std::uint32_t parityErrors_ = 0;
    std::uint32_t overrunErrors_ = 0;
    std::uint32_t breaks_ = 0;
};

}  // namespace karvelo::devices

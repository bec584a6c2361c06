#pragma once
// zento_com: the station's serial port, a tty configured with the line profile
// of an instrument type. Opened by device path (a COM number maps to one by
// ComDevicePath), exclusively; all reads and writes are synchronous and come
// from one thread at a time.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "backends/serial/line_settings.h"
#include "backends/serial/serial_line.h"

namespace karvelo::serial {

// The device path of COM n (1..98): key "COM<n>" of section PORTS in the main
// configuration file, else COM1..32 = /dev/ttyS0..31, COM33..64 =
// /dev/ttyUSB0..31, COM65..98 = /dev/ttyACM0..33. Empty for other numbers.
std::string ComDevicePath(int comNumber, const std::wstring& mainConfigFile);

class zento_com : public SerialLine {
  public:
    zento_com() = default;
    ~zento_com() override;
    zento_com(const zento_com&) = delete;
    zento_com& operator=(const zento_com&) = delete;

    // Opens the device with the line profile; false (and closed, with the
    // reason in Problem()) when the path is empty, the device is missing, not
    // permitted or busy, or the profile is not valid. Both are kept for Reopen.
    bool open(const LineProfile& profile, const std::string& path);
    // Applies a line profile to the open port; false for a profile that is not
    // valid (the port's settings stay as they were).
    bool configure(const LineProfile& profile);
    // Back to closed; harmless when already closed.
    void close();
    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    bool Write(std::span<const std::uint8_t> bytes) override;
    bool LineError() override;
    std::optional<std::uint8_t> ReadByte() override;
    void Purge() override;
    void SetRts(bool on) override;
    void SetDtr(bool on) override;
    void SetBreak(bool on) override;
    PortProblem Problem() const override { return problem_; }
    bool Reopen() override;

  private:
    // The line is dead: closes the port and remembers why.
    void HangUp();
    // Waits until the driver has sent what was written, within the deadline.
    bool Drain(std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    // Bytes taken from the driver in one read and not handed out yet: a reply
    // that has arrived costs one system call, not three per byte.
    std::array<std::uint8_t, 256> in_{};
    std::size_t inNext_ = 0;
    std::size_t inEnd_ = 0;
    LineProfile profile_;
    std::string path_;
    PortProblem problem_ = PortProblem::NoDevicePath;
    // Error counters at the last check (frame, parity, overrun, break), to
    // tell new line errors from old ones.
    std::uint32_t frameErrors_ = 0;
    std::uint32_t parityErrors_ = 0;
    std::uint32_t overrunErrors_ = 0;
    std::uint32_t breaks_ = 0;
};

}  // namespace karvelo::serial

#pragma once
// The COM probe of the device configuration: which of COM 1..98 can be opened
// (and closed again) right now, and which device each one is, so that an
// operator can tell the cables apart.
//
// The ports are probed on a worker thread and the results collected by the
// window as they come: one open is non-blocking, but a device that hangs in
// its driver must not freeze the window.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace karvelo::serial {

// What the system knows about the device behind a COM number.
struct ComPortDescription {
    std::string path;  // the device path COM n maps to
    // For a USB serial adapter, from its USB device in sysfs; else empty.
    std::string maker;
    std::string model;
    std::string serial;
};

// Describes the tty at `path` (symbolic links followed) from
// <sysRoot>/class/tty/<name>/device and its USB device above it.
ComPortDescription DescribeComPort(const std::string& path, const std::string& sysRoot = "/sys");

// One line for a tool tip: the path, then maker, model and serial number
// where known.
std::wstring ComPortTip(const ComPortDescription& description);

// Opens COM n with the line settings of the first serial type and closes it
// again at once, as the station's own port does; false when it cannot.
bool ComPortAvailable(int comNumber, const std::wstring& mainConfigFile);

class ComProbe {
  public:
    struct Entry {
        int com = 0;
        bool available = false;
        ComPortDescription description;
    };

    // Starts probing COM 1..98, in order, with the PORTS section of
    // `mainConfigFile`.
    explicit ComProbe(std::wstring mainConfigFile);
    // Stops after the port in hand.
    ~ComProbe();
    ComProbe(const ComProbe&) = delete;
    ComProbe& operator=(const ComProbe&) = delete;

    // The entries probed since the last call, in COM order.
    std::vector<Entry> Take();
    // Every port has been probed (and reported by Take, or waiting for it).
    bool finished() const;

  private:
    void Run(const std::wstring& mainConfigFile);

    mutable std::mutex mutex_;
    std::vector<Entry> ready_;
    bool finished_ = false;
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

}  // namespace karvelo::serial

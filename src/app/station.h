#pragma once
// The station: the device set, the acquisition and key threads, the record
// channel with the file writer, the journal's catch-up, forwarding and
// retention, with their start, pause and end. The window is a view that
// sends it commands; the station talks back through the WindowPort.

#include <memory>

#include "devices/device_set.h"
#include "export/file_writer.h"
#include "export/record_channel.h"
#include "platform/keystate.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::app {

class Station {
  public:
    // `window` must outlive the station.
    Station(RunState& run, WindowPort& window);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Catches up on the records of an earlier run, starts forwarding and
    // retention, opens the devices and starts the acquisition and the key
    // poll. The acquisition starts paused; Go lets it run.
    void Start(platform::KeyState& keys);

    // Lets the acquisition run (after the start or a command's pause).
    void Go();

    // The file writer has written every record handed to it.
    bool FilesWritten();

    devices::DeviceSet& devices() { return *devices_; }
    exports::RecordChannel& records() { return records_; }

  private:
    RunState& run_;
    WindowPort& window_;
    std::unique_ptr<devices::DeviceSet> devices_;
    exports::RecordChannel records_;
    std::unique_ptr<exports::FileWriter> files_;
};

}  // namespace karvelo::app

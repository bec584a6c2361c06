#pragma once
// The thread that writes the files lane of the record channel: CSV lines are
// synced to disk here, off the window's thread, so that a slow disk never
// stalls the window and a message box never delays a CSV record. What the
// operator is told goes to the window, whose calls carry it to its thread.

#include <thread>

#include "export/record_channel.h"
#include "state/window_port.h"

namespace karvelo::exports {

class FileWriter {
  public:
    // `channel` and `window` must outlive the writer.
    FileWriter(RecordChannel& channel, WindowPort& window);
    // Closes the channel and waits for the record being written.
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

  private:
    RecordChannel& channel_;
    WindowPort& window_;
    std::thread thread_;
};

}  // namespace karvelo::exports

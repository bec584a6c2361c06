#include "export/file_writer.h"

#include "export/export_record.h"

namespace karvelo::exports {

FileWriter::FileWriter(RecordChannel& channel, WindowPort& window)
    : channel_(channel), window_(window) {
    thread_ = std::thread([this] {
        for (;;) {
            std::deque<HandedRecord> records = channel_.WaitAndTake(RecordLane::Files);
            if (records.empty()) return;
            WriteFileRecords(std::move(records), channel_, window_);
        }
    });
}

FileWriter::~FileWriter() {
    channel_.Close();
    thread_.join();
}

}  // namespace karvelo::exports

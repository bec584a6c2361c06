#include "app/station.h"

#include <chrono>

#include "app/acquisition_thread.h"
#include "app/forwarding.h"
#include "app/key_poll_thread.h"
#include "app/retention.h"
#include "app/station_devices.h"
#include "export/csv_export.h"
#include "export/export_record.h"

namespace karvelo::app {

Station::Station(RunState& run, WindowPort& window)
    : run_(run), window_(window), devices_(MakeStationDevices(run, window)) {}

Station::~Station() = default;

void Station::Start(platform::KeyState& keys) {
    run_.AcquisitionPaused = true;
    // Records left waiting by an earlier run get their chance, and the
    // operator sees at once what still waits.
    exports::ReportPendingRecords(window_);
    // Records the journal has and their files do not (the station stopped
    // between the two) are written now, each exactly once.
    exports::CatchUpRecords(records_, window_);
    // The journal's records the plant server has not taken go now too.
    UpdateForwarding(window_);
    // Old records every target is done with go, now and once a day.
    StartJournalRetention();
    devices_->OpenAll(window_);
    files_ = std::make_unique<exports::FileWriter>(records_, window_);
    StartKeyPollThread(keys);
    StartAcquisitionThread(window_, *devices_, records_);
}

void Station::Go() {
    run_.AcquisitionPaused = false;
}

bool Station::FilesWritten() {
    return records_.WaitIdle(exports::RecordLane::Files, std::chrono::milliseconds(0));
}

}  // namespace karvelo::app

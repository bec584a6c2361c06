#include "backends/ibrit/bus_backend.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "devices/catalogue.h"
#include "platform/program_path.h"
#include "platform/shared_library.h"

namespace karvelo::ibrit {
namespace {

using devices::DeviceType;
using devices::DeviceTypeOf;
using devices::ReaderResult;
using devices::RequestOutcome;
using devices::Transport;

constexpr std::int32_t kDriverMode = 1;
// The driver takes its configuration path in a buffer of this size.
constexpr std::size_t kMaxPathChars = 1023;
constexpr std::size_t kSetupBufferBytes = 20;

bool UsesBus(const RunState& run, int s) {
    return DeviceTypeOf(run.DeviceType[s]).transport == Transport::IbritBus;
}

}  // namespace

BusBackend::BusBackend(RunState& run, BusLoader load, std::string folder)
    : run_(run), load_(std::move(load)), folder_(std::move(folder)) {}

BusBackend::~BusBackend() {
    if (busReady_) CloseAll();
}

BusDriver* BusBackend::Driver() {
    // Looked for again after a miss, so that a driver installed meanwhile is
    // found at the next open.
    if (!driver_ && load_) driver_ = load_();
    return driver_.get();
}

std::string BusBackend::ConfigurationPath() const {
    if (!folder_.empty()) return folder_ + "/ibr.ddk";
    // The driver's file lives with the station's configuration.
    std::string config = platform::FsPath(run_.ConfigDir.str());
    if (config.empty()) return platform::ProgramFolder() + "/ibr.ddk";
    if (config.back() != '/') config += '/';
    return config + "ibr.ddk";
}

void BusBackend::OpenAll(WindowPort& window) {
    const int last = std::clamp(run_.DeviceCount.load(), 0, kMaxSlots);
    bool needed = false;
    for (int s = 1; s <= last; ++s) needed = needed || UsesBus(run_, s);
    if (!needed) return;

    busStaleCount_ = 0;
    if (busReady_) return;  // initialised by an earlier open, not closed since
    const std::string path = ConfigurationPath();
    // A path the driver's buffer cannot hold is not cut short into another
    // file's name: the driver gets none and uses its own default.
    const char* pathArg = path.size() <= kMaxPathChars ? path.c_str() : nullptr;
    BusDriver* driver = Driver();
    // Without a usable library the bus fails as a driver that cannot start.
    const bool started = driver != nullptr && driver->Init(kDriverMode, pathArg, 0, 0) <= 0;
    if (!started) {
        window.MessageBox(L"ERROR", L"Init: IBRIT IMB-BUS!", MessageIcon::None);
        if (driver) driver->DeInit();
    }
    busReady_ = started;
}

void BusBackend::CloseAll() {
    // The driver is told even when its start failed; a library never loaded
    // has nothing to be told.
    if (driver_) driver_->DeInit();
    busReady_ = false;
}

bool BusBackend::Setup(std::uintptr_t parentWindow) {
    BusDriver* driver = Driver();
    if (!driver) return false;
    const std::string path = ConfigurationPath();
    std::array<char, kSetupBufferBytes> buffer{};
    driver->Setup(kDriverMode, path.size() <= kMaxPathChars ? path.c_str() : nullptr, parentWindow,
                  buffer.data());
    return true;
}

RequestOutcome BusBackend::Request(int, const DeviceType& type) {
    // A bus that did not start is not latched; its read says "usb error".
    if (busReady_ && driver_) driver_->Latch(type.bus.number);
    return RequestOutcome::Sent;
}

void BusBackend::ClearSlot(int s) {
    run_.ValueReady[s] = false;
    run_.ValueError[s] = false;
    run_.Value[s] = 0.0;
}

ReaderResult BusBackend::Read(int s, bool requested, const DeviceType& type) {
    // The channel is a 16-bit number to the driver; none or a negative one
    // means the first.
    auto channel = static_cast<std::int16_t>(run_.Channel[s].load());
    if (channel <= 0) channel = 1;
    if (!busReady_ || !driver_) {
        ClearSlot(s);
        return devices::kNotOpen;
    }

    std::int32_t channelArg = channel;
    double raw = 0.0;
    const std::int16_t code = driver_->Collect(type.bus.number, &channelArg, &raw);
    if (code == kCollectValue) {
        // A value that is no number is a driver fault, not a measurement.
        if (!std::isfinite(raw)) {
            ClearSlot(s);
            return devices::kDeviceFault;
        }
        run_.Value[s] = raw * run_.Factor[s] + run_.Offset[s];
        run_.SlotState[s] = SlotStage::Read;
        run_.ValueReady[s] = true;
        busStaleCount_ = 0;
        return devices::kValueStored;
    }
    const bool nothingNew = code == kCollectNothingNew || (code == kCollectNotLatched && requested);
    if (!nothingNew) {
        ClearSlot(s);
        return devices::kDeviceFault;
    }
    // Only a slot showing a value keeps it as "stored"; one showing an error
    // word holds no value to keep.
    const bool showsValue = run_.ValueReady[s] && !run_.ValueError[s];
    if (!showsValue) {
        ClearSlot(s);
        busStaleCount_ = 0;
        return devices::kDeviceFault;
    }
    if (busStaleCount_ < kMaxStoredAnswers) {
        ++busStaleCount_;
        return devices::kStoredOrSendFlag1;
    }
    ClearSlot(s);
    return devices::kDeviceFault;
}

}  // namespace karvelo::ibrit

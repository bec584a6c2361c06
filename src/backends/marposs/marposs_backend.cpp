#include "backends/marposs/marposs_backend.h"

#include "platform/wait.h"
#include "state/control_ids.h"

namespace karvelo::marposs {
namespace {

constexpr int kTimerPeriodMs = 10;
constexpr int kWaitMs = 100;
constexpr int kWaits = 1000;  // about 100 s

}  // namespace

devices::ReaderResult MarpossBackend::Read(int s, bool requested, const devices::DeviceType&) {
    handover_.Result = 0;
    handover_.Slot = s;
    handover_.Requested = requested ? 1 : 0;
    window_.StartTimer(kMarpossTimer, kTimerPeriodMs);
    for (int i = 0; i < kWaits && handover_.Result == 0; ++i) platform::PumpWait(kWaitMs);
    return static_cast<devices::ReaderResult>(handover_.Result.load());
}

}  // namespace karvelo::marposs

#include "backends/marposs/marposs_backend.h"

#include "devices/catalogue.h"
#include "platform/wait.h"
#include "state/control_ids.h"

namespace karvelo::marposs {
namespace {

constexpr int kTimerPeriodMs = 10;
constexpr int kWaitMs = 100;
constexpr int kWaits = 1000;  // about 100 s
// Init's argument and its answer for a box that is ready.
constexpr int kInitMode = 1;
constexpr int kInitReady = 1;

bool AnyMarpossSlot(const RunState& run) {
    for (int s = 1; s <= run.DeviceCount && s <= kMaxSlots; ++s) {
        if (devices::DeviceTypeOf(run.DeviceType[s]).transport == devices::Transport::Marposs) {
            return true;
        }
    }
    return false;
}

}  // namespace

MarpossBackend::~MarpossBackend() {
    CloseAll();
}

void MarpossBackend::OpenAll(WindowPort&) {
    CloseAll();
    if (!AnyMarpossSlot(run_)) return;
    handover_.Library = nullptr;
    if (!library_ && load_) library_ = load_();
    // No library: not ready, every read answers "error".
    if (!library_) return;
    if (library_->Init(kInitMode) == kInitReady) handover_.Library = library_.get();
}

void MarpossBackend::CloseAll() {
    // Only our own library is taken back: another station's set may have lent
    // its own since.
    MarpossValueRead* ours = library_.get();
    handover_.Library.compare_exchange_strong(ours, nullptr);
}

devices::ReaderResult MarpossBackend::Read(int s, bool requested, const devices::DeviceType&) {
    handover_.Result = 0;
    handover_.Slot = s;
    handover_.Requested = requested ? 1 : 0;
    window_.StartTimer(kMarpossTimer, kTimerPeriodMs);
    for (int i = 0; i < kWaits && handover_.Result == 0; ++i) platform::PumpWait(kWaitMs);
    return static_cast<devices::ReaderResult>(handover_.Result.load());
}

}  // namespace karvelo::marposs

#include "app/key_poll_thread.h"

#include <cstdint>
#include <thread>

#include "platform/keystate.h"
#include "platform/wait.h"
#include "state/run_state.h"

namespace karvelo::app {
namespace {

constexpr int kNoSendKey = 0;
constexpr int kFirstSendKey = 1;  // F1
constexpr int kLastSendKey = 14;  // Enter
constexpr int kIdlePollMs = 250;  // while no send key is chosen

}  // namespace

KeyPollThread::KeyPollThread(platform::KeyState& keys) : keys_(keys) {}

void KeyPollThread::Start() {
    // Without a desktop no key can ever trigger: no thread to wake 20 times
    // a second for nothing.
    if (!keys_.CanReport()) return;
    std::thread([this] {
        for (;;) {
            Poll();
            // With no send key chosen, a choice is picked up a little later;
            // presses made meanwhile are kept by the key state anyway.
            const bool watching = g_run.SendKey != kNoSendKey;
            platform::SleepMs(watching ? kPollMs : kIdlePollMs);
        }
    }).detach();
}

KeyPollThread& StartKeyPollThread(platform::KeyState& keys) {
    // Never deleted: the detached thread uses it until the process ends.
    auto* thread = new KeyPollThread(keys);
    thread->Start();
    return *thread;
}

void KeyPollThread::Poll() {
    const TriggerStage trigger = g_run.KeyTrigger;
    if (trigger == TriggerStage::Pending) {
        Count();
        return;
    }
    const int key = g_run.SendKey;
    if (key == kNoSendKey) {
        keys_.IsDownOrWasPressed(kNoSendKey);  // forgets presses: none may count later
        g_run.KeyTrigger = TriggerStage::Idle;
        held_ = 0;
        return;
    }
    if (key < kFirstSendKey || key > kLastSendKey) {
        // Not a key this station can watch.
        keys_.IsDownOrWasPressed(kNoSendKey);
        if (trigger != TriggerStage::Idle) Count();
        return;
    }
    if (!keys_.IsDownOrWasPressed(key)) {
        g_run.KeyTrigger = TriggerStage::Idle;
        held_ = 0;
        return;
    }
    // A trigger already taken stays taken while the key is held.
    TriggerStage idle = TriggerStage::Idle;
    g_run.KeyTrigger.compare_exchange_strong(idle, TriggerStage::Pending);
    Count();
}

void KeyPollThread::Count() {
    if (held_ >= kHeldLimit) {
        g_run.KeyTrigger = TriggerStage::Idle;
        held_ = 0;
    } else {
        ++held_;
    }
}

}  // namespace karvelo::app

#include "app/key_poll_thread.h"

#include <cstdint>
#include <thread>

#include "platform/keystate.h"
#include "platform/wait.h"
#include "state/run_state.h"

namespace karvelo::app {
namespace {

constexpr int kNoSendKey = 0;
constexpr int kFirstSendKey = 1;   // F1
constexpr int kLastSendKey = 14;   // Enter
constexpr int kIdleWaitMs = 1000;  // longest wait for a key event while idle

}  // namespace

KeyPollThread::KeyPollThread(platform::KeyState& keys) : keys_(keys) {}

void KeyPollThread::Start() {
    // Without a desktop no key can ever trigger: no thread to wake 20 times
    // a second for nothing.
    if (!keys_.CanReport()) return;
    std::thread([this] {
        for (;;) {
            Poll();
            // Every 50 ms while a trigger is pending or a key is held (they
            // are counted); otherwise until a key event arrives. A send key
            // chosen meanwhile is picked up within a second at the latest.
            if (g_run.KeyTrigger == TriggerStage::Idle && held_ == 0) {
                keys_.WaitForKeyEvents(kIdleWaitMs);
            } else {
                platform::SleepMs(kPollMs);
            }
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

#pragma once
// The key-poll thread: watches the configured send key, whichever window has
// the focus, and turns a press into KeyTrigger 1 for the acquisition thread.
// It looks every 50 ms while a trigger is pending or the key is held, and
// otherwise wakes when a key event arrives. A key that stays down repeats its trigger about
// every 2.6 seconds; a press that the acquisition thread does not take within that time (it is
// paused) is dropped.
//
// Flag writers: this thread writes KeyTrigger 1 and 0; the acquisition thread
// writes 2 when it takes the trigger.

namespace karvelo::platform {
class KeyState;
}

namespace karvelo::app {

class KeyPollThread {
  public:
    static constexpr int kPollMs = 50;
    // Polls counted while the trigger is pending or taken before it is let go.
    static constexpr int kHeldLimit = 51;

    // `keys` must outlive the thread.
    explicit KeyPollThread(platform::KeyState& keys);
    KeyPollThread(const KeyPollThread&) = delete;
    KeyPollThread& operator=(const KeyPollThread&) = delete;

    // One poll (without the 50 ms sleep).
    void Poll();

    // Polls every 50 ms on a new thread for the rest of the process; the
    // thread is never joined, so this object must never be destroyed once
    // started.
    void Start();

    // Polls counted since the trigger last went to 0 (poll thread only).
    int held() const { return held_; }

  private:
    void Count();

    platform::KeyState& keys_;
    int held_ = 0;  // only the polling thread uses it
};

// Creates the station's key-poll thread and starts it; the object lives until
// the process ends.
KeyPollThread& StartKeyPollThread(platform::KeyState& keys);

}  // namespace karvelo::app

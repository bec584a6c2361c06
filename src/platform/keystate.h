#pragma once
// The system-wide state of the send key, whichever window has the focus.

#include <memory>

namespace karvelo::platform {

class KeyState {
  public:
    virtual ~KeyState() = default;
    // True when the send key (1..12 F1..F12, 13 space bar, 14 Enter) is down
    // now or was pressed since the previous query. A press counts only for
    // the key of the query that follows it; a query for no key (0) forgets
    // the presses since the previous one.
    virtual bool IsDownOrWasPressed(int sendKey) = 0;
    // False when no key can ever be reported (no desktop): nothing to poll.
    virtual bool CanReport() const { return true; }
    // Waits until a key event may have arrived, at most `ms`; sources that
    // cannot tell just sleep. Used while no key is down and nothing is
    // pending, so that an idle station does not wake 20 times a second.
    virtual void WaitForKeyEvents(int ms);
};

// A key state that never reports a key (no display).
class NoKeyState : public KeyState {
  public:
    bool IsDownOrWasPressed(int) override { return false; }
    bool CanReport() const override { return false; }
};

// The key state of the desktop: X11 (key map plus raw key events, so that a
// press between two queries is not lost). Without an X display the send key
// simply never triggers.
std::unique_ptr<KeyState> CreateSystemKeyState();

}  // namespace karvelo::platform

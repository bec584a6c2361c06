#pragma once
// The station's side of forwarding (export/forwarder.h): one forwarder for
// the record journal, started once a plant server is configured (key url of
// section DATABASE), pointed at another server when the key changes, and told
// of every record journaled. What waits and why goes to the window's status
// band and, when it changes, to standard error.

#include "state/window_port.h"

namespace karvelo::app {

// Starts or retargets the forwarder for the current configuration and wakes
// it. Without a url nothing starts, and a running forwarder stops sending.
// Returns at once; any thread.
void UpdateForwarding(WindowPort& window);

}  // namespace karvelo::app

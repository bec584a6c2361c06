#pragma once
// Opening and closing every configured device. Both run on the user-interface
// thread while the acquisition thread is paused or not yet started.

#include <memory>

#include "devices/serial_line.h"

namespace karvelo::app {
class WindowPort;
}

namespace karvelo::devices {

// Opens what the slots 1..DeviceCount need, serial ports first, then the other
// transports. Set-up conflicts are shown in message boxes.
void OpenAllDevices(app::WindowPort& window);

// The serial branch: one port per COM number and type, shared by slots of the
// same type; two types on one COM number are refused with a message.
void OpenSerialDevices(app::WindowPort& window);

// Releases what can be released; a shared port is closed once.
void CloseAllDevices();

// Creates and opens a port with a line profile; null when it cannot be opened.
using PortOpener = std::unique_ptr<SerialLine> (*)(int profile, int comNumber);

// Replaces the port opener (tests use scripted ports); nullptr restores the
// real serial ports.
void SetPortOpener(PortOpener opener);

}  // namespace karvelo::devices

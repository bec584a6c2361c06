#pragma once
// A back-end: everything the station does over one transport (serial COM
// ports, FTDI USB adapters, the counter card, the measuring bus, analog
// inputs, the Orbit network, the Marposs box). The device set routes each slot
// to the back-end of its type's transport; a back-end never needs to know
// which other transports exist.
//
// A back-end is built with what it needs (the run-time record, its library or
// port factory, the window for hand-overs) and reaches for no global. Open and
// close run on the user-interface thread while the acquisition is paused;
// request and read run on the acquisition thread.

#include <cstdint>
#include <string>
#include <vector>

#include "devices/device_type.h"
#include "devices/reader.h"
#include "state/window_port.h"

namespace karvelo::devices {

enum class RequestOutcome : std::uint8_t {
    Sent,           // the instrument was triggered (or needs no trigger)
    DeviceMissing,  // no open device: the slot shows its missing-device word
    Refused,        // the device took too little of the request: "device error", flags kept
};

class Backend {
  public:
    virtual ~Backend() = default;

    virtual Transport transport() const = 0;

    // Opens what slots 1..DeviceCount of this transport need. Set-up conflicts
    // are shown in message boxes.
    virtual void OpenAll(WindowPort& window) = 0;
    // Releases everything OpenAll took; harmless when nothing is open.
    virtual void CloseAll() = 0;

    // Triggers the instrument of slot s as its type's request recipe says.
    virtual RequestOutcome Request(int slot, const DeviceType& type) = 0;
    // Reads slot s under the reader contract (devices/reader.h).
    virtual ReaderResult Read(int slot, bool requested, const DeviceType& type) = 0;

    // The devices this transport can offer the device configuration dialog
    // for a slot of `type` (adapter serial numbers, card axes); empty when it
    // has no list to offer.
    virtual std::vector<std::wstring> ListDevices(const DeviceType&) { return {}; }
    // Shows the transport's own set-up dialog over the given window, where it
    // has one.
    virtual void ShowSetup(std::uintptr_t parentWindow) { (void)parentWindow; }
};

}  // namespace karvelo::devices

#pragma once
// One row of the device-type table: everything the station knows about an
// instrument type code (key `typ` of a slot). Generic code asks the row what to
// do; no code outside the table compares a type number. A back-end whose types
// differ in how they are opened or read has its own part of the row (`serial`,
// `ftdi`, `bus`, `analog`).

#include <array>
#include <cstdint>
#include <string_view>

#include "backends/analog/analog_row.h"
#include "backends/ftdi/ftdi_row.h"
#include "backends/ibrit/bus_row.h"
#include "backends/serial/line_settings.h"
#include "devices/dialog_form.h"

namespace karvelo::devices {

// How the station reaches an instrument; each transport is one back-end.
enum class Transport : std::uint8_t {
    None,         // no instrument: free codes and codes outside the table
    Text,         // code 0, a text slot
    SerialCom,    // a COM port with the type's line profile
    FtdiUsb,      // an FTDI USB adapter selected by serial number
    CounterCard,  // Heidenhain IK220
    Orbit,        // Solartron Orbit network
    Marposs,      // Marposs EasyBox
    IbritBus,     // IBRit measuring bus 1 to 8
    AnalogInput,  // Measurement Computing module
};

// Capabilities, as bits of DeviceType::caps.
enum Capability : std::uint8_t {
    kHoldsComPort = 1 << 0,   // takes part in the COM-port open (sharing, conflicts)
    kSharedRequest = 1 << 1,  // later slots of the same instrument are read after one request
    kFanOutReader = 1 << 2,   // one reply fills several slots
    kSendKeyResult = 1 << 3,  // the reader can report the instrument's send key
    kStoredResult = 1 << 4,   // the reader can report "stored"
    kRequestOnlyAfterTrigger = 1 << 5,  // read only right after a request, never polled
};

// What a measurement request does.
enum class RequestAction : std::uint8_t {
    Nothing,       // read without a trigger
    Write,         // purge, then write the bytes
    DtrPulse,      // purge, DTR off for 120 ms, DTR on
    Break,         // purge, break for 100 ms
    IbritChannel,  // purge, "DAS<channel>\r" for channels 1..5
    Pu26Channel,   // purge, "?\r", "1\r" or "2\r" by channel
    FtdiDevice,    // FTDI instruments: the request of the row's `ftdi` part
    CounterCard,   // status check only
    BusLatch,      // latch of the measuring bus
    WaitOnly,      // analog inputs: only the wait
};

struct RequestRecipe {
    RequestAction action = RequestAction::Nothing;
    std::string_view bytes;  // Write: sent as they are
    int closingWaitMs = 0;   // waited after the request, keeping the window alive
};

// How the read dispatch shows a reader's result codes. words[i] is the word of
// code -i (words[0], the missing-device word, for code 0); null: the code
// changes no status.
struct StatusRule {
    std::array<const char*, 6> words;
    bool sendFlags;     // codes 2 and 3 are the instrument's send request
    bool storedWord;    // code 2 means "stored"
    bool silentMisses;  // codes -1 and -2 change nothing, whether requested or not
};

struct DeviceType {
    int code = -1;
    std::string_view name;  // display name, exactly as listed and stored in `typ_txt`
    Transport transport = Transport::None;
    std::uint8_t caps = 0;  // Capability bits
    RequestRecipe request;
    int settleMs = 0;  // pause between two cycles while a slot of this type reads "autom."
    const StatusRule* status = nullptr;  // null: nothing to show (text, free and unknown codes)
    DialogForm form;                     // what the device configuration dialog shows for the type

    // Each back-end whose types differ in more than the fields above keeps its
    // own part of the row; the other back-ends leave it empty.
    serial::SerialRow serial;
    ftdi::FtdiRow ftdi;
    ibrit::BusRow bus;
    analog::AnalogRow analog;

    bool Has(Capability c) const { return (caps & c) != 0; }
    // The status word shown when the slot's device is not open ("com error",
    // "usb error", "pci error"); empty for text slots, free and unknown codes.
    std::string_view MissingWord() const {
        return status && status->words[0] ? std::string_view(status->words[0]) : std::string_view();
    }
};

}  // namespace karvelo::devices

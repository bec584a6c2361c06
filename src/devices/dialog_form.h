#pragma once
// A device type's part of the row for the device configuration dialog: which
// controls the type shows and how its port and serial lists are filled.

#include <cstdint>

namespace karvelo::devices {

// How the port list is filled for a type.
enum class PortFill : std::uint8_t {
    Empty,     // no entry, nothing selected
    ComProbe,  // "-" and one entry per COM 1..98
    Usb,       // the single entry "USB", selected
    Pci,       // the single entry "PCI", selected
};

// How the serial field is filled for a type.
enum class SerialFill : std::uint8_t {
    Cleared,     // hidden and empty
    FtdiList,    // the matching FTDI adapters' serial numbers
    CardList,    // the counter card's axis numbers
    FreeText,    // the remembered text, to edit freely
    KeptHidden,  // hidden, but the remembered text stays in it
};

// The controls a type can show, as bits of DialogForm::shown.
enum FormControl : std::uint16_t {
    kFormPort = 1 << 0,
    kFormSerial = 1 << 1,
    kFormChannel = 1 << 2,
    kFormParameter = 1 << 3,
    kFormRequest = 1 << 4,
    kFormBusSetup = 1 << 5,
    kFormTextSource = 1 << 6,
    kFormValue = 1 << 7,  // decimals, factor and offset
};

struct DialogForm {
    std::uint16_t shown = 0;  // FormControl bits; 0: the type shows nothing
    PortFill ports = PortFill::Empty;
    SerialFill serial = SerialFill::Cleared;
    bool channelForced = false;  // the channel list selects "1" whatever `ch` held
};

}  // namespace karvelo::devices

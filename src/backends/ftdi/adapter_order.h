#pragma once
// Which D2XX index is which adapter. FTDI's library numbers the adapters in USB
// bus order and gives every interface of a multi-interface chip (FT2232, FT4232)
// its own index, with " A", " B", ... after the description. The built-in
// implementation numbers them the same way, so that a configuration written
// with FTDI's library finds the same adapters. Pure functions, no USB.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace karvelo::ftdi {

// Where a chip sits on the USB tree, as libusb reports it.
struct UsbPlace {
    int bus = 0;
    std::vector<int> ports;  // libusb_get_port_numbers: root port first
    int address = 0;
    int interfaces = 1;  // bNumInterfaces; below 1 counts as 1
};

// One D2XX index: the chip (position in the list given to OrderAdapters) and
// its interface, 0 for A.
struct AdapterIndex {
    std::size_t device = 0;
    int interface = 0;
    bool operator==(const AdapterIndex&) const = default;
};

// Every interface of every chip, by bus number, then port path, then device
// address, then interface.
std::vector<AdapterIndex> OrderAdapters(const std::vector<UsbPlace>& devices);

// The strings FT_GetDeviceInfo gives for interface `interface` of a chip with
// `interfaces` interfaces: the description with " A", " B", ... and the serial
// number with "A", "B", ... appended on a multi-interface chip, unchanged on a
// single one. Cut to `maxChars`, keeping the interface letter.
std::string InterfaceDescription(std::string_view product, int interface, int interfaces,
                                 std::size_t maxChars);
std::string InterfaceSerial(std::string_view serial, int interface, int interfaces,
                            std::size_t maxChars);

// "USB adapter 0403:6001 on bus 1 port 1.4 (/dev/bus/usb/001/005)": the names
// an operator finds the adapter by in lsusb and in a udev rule.
std::wstring AdapterName(std::uint16_t vendor, std::uint16_t product, const UsbPlace& place);

}  // namespace karvelo::ftdi

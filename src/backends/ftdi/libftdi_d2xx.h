#pragma once
// The built-in D2XX over libftdi1 and libusb-1.0, used when FTDI's own library
// is not installed. Open only looks at an adapter; the kernel's serial driver
// keeps it (and its /dev/ttyUSBn) until the first call that configures the line
// or moves data, which detaches the driver and claims the interface. Close
// releases the interface, and libusb binds the serial driver again.

#include <memory>

#include "backends/ftdi/d2xx.h"

namespace karvelo::ftdi {

std::unique_ptr<D2xx> MakeLibFtdiD2xx();

}  // namespace karvelo::ftdi

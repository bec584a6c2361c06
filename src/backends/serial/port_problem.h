#pragma once
// Why a serial port cannot be used, as a closed set and in the operator's words.

#include <cstdint>
#include <string_view>

namespace karvelo::serial {

// Why a port cannot be used (PortProblemText says it in words).
enum class PortProblem : std::uint8_t {
    None,              // open and usable
    NoDevicePath,      // the COM number maps to no device
    NoSuchDevice,      // the device does not exist (not plugged in)
    PermissionDenied,  // the user may not open it
    Busy,              // another program holds it
    HungUp,            // it went away while open (unplugged)
    Refused,           // it would not take the line settings or the open failed otherwise
};

// The reason in words for the operator ("permission denied: ..."); empty for None.
std::string_view PortProblemText(PortProblem problem);

// The problem that an open() failing with this errno means.
PortProblem PortProblemOfOpenError(int error);

}  // namespace karvelo::serial

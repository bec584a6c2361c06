#include "backends/serial/port_problem.h"

#include <cerrno>

namespace karvelo::serial {

std::string_view PortProblemText(PortProblem problem) {
    switch (problem) {
        case PortProblem::None:
            return {};
        case PortProblem::NoDevicePath:
            return "no device is configured for this COM number";
        case PortProblem::NoSuchDevice:
            return "no such device (not plugged in?)";
        case PortProblem::PermissionDenied:
            return "permission denied: the user needs to be in the dialout group";
        case PortProblem::Busy:
            return "busy: held by another program";
        case PortProblem::HungUp:
            return "the device has gone (unplugged or hung up)";
        case PortProblem::Refused:
            return "the device refused to open or to take the line settings";
    }
    return {};
}

PortProblem PortProblemOfOpenError(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return PortProblem::NoSuchDevice;
        case EACCES:
        case EPERM:
            return PortProblem::PermissionDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return PortProblem::Busy;
        default:
            return PortProblem::Refused;
    }
}

}  // namespace karvelo::serial

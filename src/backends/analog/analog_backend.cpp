#include "backends/analog/analog_backend.h"

namespace karvelo::analog {

AnalogBackend::AnalogBackend(RunState& run, AnalogLoader load)
    : run_(run), load_(std::move(load)) {}

void AnalogBackend::OpenAll(WindowPort&) {}

void AnalogBackend::CloseAll() {}

devices::RequestOutcome AnalogBackend::Request(int, const devices::DeviceType&) {
    return devices::RequestOutcome::Sent;
}

devices::ReaderResult AnalogBackend::Read(int, bool, const devices::DeviceType&) {
    return devices::kNotOpen;
}

}  // namespace karvelo::analog

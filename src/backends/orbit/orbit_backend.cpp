#include "backends/orbit/orbit_backend.h"

namespace karvelo::orbit {

OrbitBackend::OrbitBackend(RunState& run, OrbitLoader load) : run_(run), load_(std::move(load)) {}

void OrbitBackend::OpenAll(WindowPort&) {}

void OrbitBackend::CloseAll() {}

devices::RequestOutcome OrbitBackend::Request(int, const devices::DeviceType&) {
    return devices::RequestOutcome::Sent;
}

devices::ReaderResult OrbitBackend::Read(int, bool, const devices::DeviceType&) {
    return devices::kNotOpen;
}

}  // namespace karvelo::orbit

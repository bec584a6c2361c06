#include "backends/ibrit/bus_backend.h"

namespace karvelo::ibrit {

BusBackend::BusBackend(RunState& run, BusLoader load) : run_(run), load_(std::move(load)) {}

void BusBackend::OpenAll(WindowPort&) {}

void BusBackend::CloseAll() {}

devices::RequestOutcome BusBackend::Request(int, const devices::DeviceType&) {
    return devices::RequestOutcome::Sent;
}

devices::ReaderResult BusBackend::Read(int, bool, const devices::DeviceType&) {
    return devices::kNotOpen;
}

}  // namespace karvelo::ibrit

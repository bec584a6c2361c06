#include "backends/ik220/card_backend.h"

namespace karvelo::ik220 {

CardBackend::CardBackend(RunState& run, CardLoader load) : run_(run), load_(std::move(load)) {}

void CardBackend::OpenAll(WindowPort&) {}

void CardBackend::CloseAll() {}

devices::RequestOutcome CardBackend::Request(int s, const devices::DeviceType&) {
    // A slot without a card axis is the card's own status check failing.
    return run_.Channel[s] < 0 ? devices::RequestOutcome::DeviceMissing
                               : devices::RequestOutcome::Sent;
}

devices::ReaderResult CardBackend::Read(int, bool, const devices::DeviceType&) {
    return devices::kNotOpen;
}

}  // namespace karvelo::ik220

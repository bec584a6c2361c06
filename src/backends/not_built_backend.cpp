#include "backends/not_built_backend.h"

namespace karvelo::backends {

using devices::RequestAction;
using devices::RequestOutcome;

RequestOutcome NotBuiltBackend::Request(int s, const devices::DeviceType& type) {
    switch (type.request.action) {
        case RequestAction::CounterCard:
            // A slot without a card axis is the card's own status check failing.
            return run_.Channel[s] < 0 ? RequestOutcome::DeviceMissing : RequestOutcome::Sent;
        default:
            return RequestOutcome::Sent;
    }
}

}  // namespace karvelo::backends

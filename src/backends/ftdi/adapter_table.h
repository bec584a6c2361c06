#pragma once
// The adapter each slot holds. Slots that share an adapter (several probes on
// one PU interface) hold the same handle; null means none.

#include <array>

#include "backends/ftdi/d2xx_api.h"
#include "state/run_state.h"

namespace karvelo::ftdi {

struct AdapterTable {
    std::array<FT_HANDLE, kSlotEntries> FtdiHandle{};
    // The adapter's firmware wants framed commands.
    std::array<bool, kSlotEntries> FtdiFramed{};

    FT_HANDLE HandleOf(int s) const {
        return s >= 1 && s <= kMaxSlots ? FtdiHandle[static_cast<std::size_t>(s)] : nullptr;
    }
    bool FramedOf(int s) const {
        return s >= 1 && s <= kMaxSlots && FtdiFramed[static_cast<std::size_t>(s)];
    }
};

}  // namespace karvelo::ftdi

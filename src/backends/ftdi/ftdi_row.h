#pragma once
// The FTDI back-end's part of a device-type row: which adapters a slot of the
// type takes (by the description the adapter reports), how the adapter's line
// is set, how the instrument is triggered and which reader takes its reply
// apart.

#include <array>
#include <cstdint>
#include <string_view>

#include "backends/ftdi/d2xx_api.h"
#include "devices/reader.h"

namespace karvelo::ftdi {

struct ReadContext;

// An FTDI reader: the contract of devices/reader.h, with what it works on
// handed in.
using FtdiReaderFn = devices::ReaderResult (*)(const ReadContext& context, int slot,
                                               bool requested);

enum class FtdiRequest : std::uint8_t {
    None,
    DtrPulse,     // discard the input; DTR set for 120 ms
    PrintValues,  // "PRI" (or "PRI,5" for max/min channels), plain or framed
    MfpValue,     // the framed "i0"
};

struct AdapterLine {
    ULONG baud = 0;
    UCHAR wordLength = FT_BITS_8;
    UCHAR stopBits = FT_STOP_BITS_1;
    UCHAR parity = FT_PARITY_NONE;
    // Ask the firmware whether it wants framed commands before taking it.
    bool versionProbe = false;
};

struct FtdiRow {
    // The open step takes an adapter whose description contains one of these.
    std::array<std::string_view, 2> accepted;
    // The device dialog lists these too (related models), though the open
    // step never takes them for this type.
    std::array<std::string_view, 4> alsoListed;
    AdapterLine line;
    FtdiRequest request = FtdiRequest::None;
    FtdiReaderFn reader = nullptr;

    bool Accepts(std::string_view description) const { return Contains(accepted, description); }
    bool Lists(std::string_view description) const {
        return Accepts(description) || Contains(alsoListed, description);
    }

  private:
    template <std::size_t N>
    static bool Contains(const std::array<std::string_view, N>& texts,
                         std::string_view description) {
        for (std::string_view t : texts) {
            if (!t.empty() && description.find(t) != std::string_view::npos) return true;
        }
        return false;
    }
};

}  // namespace karvelo::ftdi

#pragma once
// The readers of the FTDI instruments. One PU reply carries up to five
// channels: the slot that reads it fills every slot on the same adapter, so
// the others need neither a request nor a read of their own in that cycle.

#include "backends/ftdi/adapter_table.h"
#include "backends/ftdi/d2xx.h"
#include "devices/device_type.h"
#include "devices/reader.h"
#include "state/run_state.h"

namespace karvelo::ftdi {

struct ReadContext {
    RunState& run;                    // the slots' settings and results
    D2xx& api;                        // the adapters' library
    const AdapterTable& adapters;     // the adapter each slot holds
    const devices::DeviceType& type;  // the row of the type being read
};

// Slot j is served by the adapter of slot s: same type, same (unused) COM
// number and the same serial-number text, exactly.
bool AdapterSiblings(const RunState& run, int j, int s);

// "MAHR 16EXu": one reading per line, sent after the DTR pulse.
devices::ReaderResult Read16ExuLine(const ReadContext& context, int slot, bool requested);
// The PU family: "PRI" and five fields; the last field read is the send flag.
devices::ReaderResult ReadPuReply(const ReadContext& context, int slot, bool requested);
// "MFP Control": "i0" and one value, then the send flag.
devices::ReaderResult ReadMfpReply(const ReadContext& context, int slot, bool requested);

}  // namespace karvelo::ftdi

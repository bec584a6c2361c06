#include "app/probe.h"

#include "app/slot_format.h"
#include "app/state_report.h"
#include "devices/catalogue.h"
#include "platform/text_encoding.h"
#include "state/run_state.h"

namespace karvelo::app {

ProbeOutcome ProbeSlot(int s, WindowPort& window, devices::DeviceSet& devices) {
    devices.OpenAll(window);
    for (int d = 0; d <= kMaxSlots; ++d) g_run.SlotState[d] = SlotStage::Idle;

    ProbeOutcome out;
    if (devices::IsInstrumentCode(g_run.DeviceType[s])) {
        devices.Request(s);
        g_run.SlotState[s] = SlotStage::Requested;
    }
    out.result = devices::ResultNumber(devices.Read(s, true));

    out.report = "Slot" + std::to_string(s) + ".Result=" + std::to_string(out.result) + "\n";
    // Why the slot's port could not be used, where that was the trouble.
    out.report += "Slot" + std::to_string(s) +
                  ".PortProblem=" + platform::WideToUtf8(g_run.PortProblem[s].str()) + "\n";
    FormatSlotValue(s);
    out.report += SlotResultReport(s);
    // A reader may fill the other slots served by the same reply.
    for (int d = 1; d <= kMaxSlots; ++d) {
        if (d == s || g_run.SlotState[d] != SlotStage::Read) continue;
        FormatSlotValue(d);
        out.report += SlotResultReport(d);
    }
    devices.CloseAll();
    return out;
}

}  // namespace karvelo::app
